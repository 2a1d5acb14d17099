// The flatav tool's copy, probe, decode and seeking transcode, run as a
// user would run them and checked with the ffmpeg tools.
#include <string>

#include <gtest/gtest.h>

#include "encode_host.h"
#include "media.h"

using namespace flatav_test;

namespace {

std::string run_tool(const std::string &args, int *status)
{
    const std::vector<uint8_t> out =
        run_capture(shell_quote(FLATAV_TOOL_PATH) + " " + args + " 2>&1", status);
    return std::string(out.begin(), out.end());
}

TEST(ToolCopy, OutputHoldsTheSourcePacketsAndPlays)
{
    for (const char *pair : {"sweep.mp3 copy.mp3", "sweep.m4a copy.m4a", "sweep.flac copy.mka"}) {
        SCOPED_TRACE(pair);
        const std::string source = std::string(pair).substr(0, std::string(pair).find(' '));
        ScratchFile out(std::string(pair).substr(source.size() + 1));
        int status = 0;
        const std::string text =
            run_tool("copy " + shell_quote(media_path(source)) + " " + shell_quote(out.path),
                     &status);
        ASSERT_EQ(status, 0) << text;
        EXPECT_EQ(packet_md5(out.path), packet_md5(media_path(source)));
        const char *format = source == "sweep.flac" ? "s16le" : "f32le";
        EXPECT_EQ(ffmpeg_pcm(out.path, 0, format), ffmpeg_pcm(media_path(source), 0, format));
    }
    int status = 0;
    ScratchFile out("copy.nosuchcontainer");
    run_tool("copy " + shell_quote(media_path("sweep.mp3")) + " " + shell_quote(out.path),
             &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(std::fopen(out.path.c_str(), "rb"), nullptr) << "no half-written output";
}

TEST(ToolProbe, NamesTheContainerBothWays)
{
    int status = 0;
    std::string text = run_tool("probe " + shell_quote(media_path("sweep.ts")), &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(text.find("first 4096 bytes: mpegts (MPEG-TS (MPEG-2 Transport Stream))"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("whole source: mpegts"), std::string::npos) << text;

    ScratchFile garbage("garbage.bin");
    garbage.write(std::vector<uint8_t>(3000, 0x5a));
    text = run_tool("probe " + shell_quote(garbage.path), &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(text.find("whole source: no format"), std::string::npos) << text;
}

TEST(ToolInfo, FormatSeekableAndDts)
{
    int status = 0;
    const std::string text = run_tool("info " + shell_quote(media_path("aac_dts.mkv")), &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(text.find("format: matroska,webm"), std::string::npos) << text;
    EXPECT_NE(text.find("seekable: yes"), std::string::npos) << text;
    EXPECT_NE(text.find("DTS audio: yes"), std::string::npos) << text;
}

TEST(ToolTranscode, StartsAtThePacketBeforeTheStart)
{
    // FLAC packets here are 4608 samples: a start of 1.5 s resumes at the
    // packet that begins at 14 * 4608 samples, and the rest is exact.
    ScratchFile out("late.flac");
    int status = 0;
    const std::string text = run_tool("transcode " + shell_quote(media_path("sweep.flac")) +
                                          " " + shell_quote(out.path) + " --start 1.5",
                                      &status);
    ASSERT_EQ(status, 0) << text;
    const std::vector<uint8_t> all = ffmpeg_pcm(media_path("sweep.flac"), 0, "s16le");
    const std::vector<uint8_t> late = ffmpeg_pcm(out.path, 0, "s16le");
    const size_t skipped = 14 * 4608 * 4;
    ASSERT_EQ(late.size() + skipped, all.size());
    EXPECT_TRUE(std::equal(late.begin(), late.end(), all.begin() + skipped));

    run_tool("transcode " + shell_quote(media_path("sweep.flac")) + " " +
                 shell_quote(out.path) + " --start soon",
             &status);
    EXPECT_EQ(status, 2);
}

TEST(ToolDecode, MeasuresTheFormatTheDecoderDelivers)
{
    // FFmpeg describes an MP2 stream as float but decodes it with its 16-bit
    // decoder: the tool goes by what arrives.
    ScratchFile ts("mp2.ts");
    int status = 0;
    run_capture("ffmpeg -nostdin -v error -y -i " + shell_quote(media_path("sweep.wav")) +
                    " -c:a mp2 -fflags +bitexact -f mpegts " + shell_quote(ts.path),
                &status);
    ASSERT_EQ(status, 0);
    ScratchFile raw("mp2.raw");
    const std::string text =
        run_tool("decode " + shell_quote(ts.path) + " " + shell_quote(raw.path), &status);
    EXPECT_EQ(status, 0) << text;
    EXPECT_NE(text.find(" as s16, "), std::string::npos) << text;
    EXPECT_EQ(read_file(raw.path), ffmpeg_pcm(ts.path, 0, "s16le"));
}

}  // namespace
