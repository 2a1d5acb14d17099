// The flatav tool's transcoder, encoder list and info command, run as a host
// would run them, checked with the ffmpeg tools.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "encode_host.h"
#include "media.h"

using namespace flatav_test;

namespace {

std::string q(const std::string &word) { return shell_quote(word); }

const std::string kTool = q(FLATAV_TOOL_PATH);

// The tool's standard output and error together.
std::string run_tool(const std::string &args, int *status)
{
    return run_text(kTool + " " + args + " 2>&1", status);
}

// Three minutes of FLAC to FLAC on standard output, which cannot seek, with
// standard error a pipe: no progress bar, and every sample arrives.
TEST(ToolTranscode, LongFileToStandardOutputWithoutATerminal)
{
    const std::string in = media_path("enc_long.flac");
    ScratchFile out("long.flac");
    int status = 0;
    const std::string text = run_text(
        kTool + " transcode " + q(in) + " - --codec flac 2>&1 >" + q(out.path), &status);
    EXPECT_EQ(status, 0) << text;
    EXPECT_EQ(text.find("transcoding ["), std::string::npos) << "no bar without a terminal";
    EXPECT_NE(text.find("7938000 samples per channel (180.000 s)"), std::string::npos) << text;
    EXPECT_TRUE(ffmpeg_pcm(out.path, 0, "s16le") == ffmpeg_pcm(in, 0, "s16le"));
}

// The same file to MP3 on a terminal (script gives the tool one): the bar
// runs to 100 % and the MP3 lasts as long as the input, within a frame.
TEST(ToolTranscode, LongFileOnATerminalShowsProgress)
{
    ScratchFile out("long.mp3");
    int status = 0;
    const std::string command =
        kTool + " transcode " + q(media_path("enc_long.flac")) + " " + q(out.path);
    const std::string text = run_text("script -qec " + q(command) + " /dev/null", &status);
    EXPECT_EQ(status, 0) << text;
    EXPECT_NE(text.find("\rtranscoding ["), std::string::npos) << text;
    EXPECT_NE(text.find("] 100.0%"), std::string::npos);
    const double start = std::atof(ffprobe_stream_field(out.path, "start_time").c_str());
    EXPECT_NEAR(ffprobe_duration(out.path) - start, 180.0, 1152.0 / 44100);
}

TEST(ToolTranscode, CodecAndBitrateOptions)
{
    const std::string in = media_path("stereo_s24.wav");
    ScratchFile out("out.mka"), mp3("rate.mp3");
    int status = 0;
    // A name of a container and an encoder: FLAC, whatever the extension.
    const std::string text =
        run_tool("transcode " + q(in) + " " + q(out.path) + " --codec flac", &status);
    EXPECT_EQ(status, 0) << text;
    EXPECT_EQ(ffprobe_stream_field(out.path, "codec_name"), "flac");
    EXPECT_TRUE(ffmpeg_pcm(out.path, 0, "s32le") == ffmpeg_pcm(in, 0, "s32le"))
        << "24-bit samples keep every bit";

    run_tool("transcode " + q(in) + " " + q(mp3.path) + " --bitrate 64000", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ffprobe_stream_field(mp3.path, "bit_rate"), "64000");
}

TEST(ToolTranscode, BadInputFailsWithAMessage)
{
    ScratchFile out("out.opus");
    const std::string wav = q(media_path("stereo_s16.wav")) + " ";
    const struct {
        std::string args, message;
        int status;
    } cases[] = {
        {"", "usage: flatav transcode", 2},
        {"/no/such/file.wav " + q(out.path), "cannot open /no/such/file.wav", 1},
        {wav + q(out.path + ".xyz"), "choose one with --codec", 1},
        {wav + q(out.path) + " --bitrate fast", "--bitrate wants bits per second", 2},
        // No such encoder, and no codec for the extension either.
        {wav + q(out.path + ".mka") + " --codec no-such-encoder", "find_encoder failed", 1},
        // Opus takes no 44.1 kHz.
        {wav + q(out.path), "could not open codec", 1},
        {q(media_path("chapters.txt")) + " " + q(out.path), "has no decodable audio stream", 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args);
        int status = 0;
        const std::string text = run_tool("transcode " + c.args, &status);
        EXPECT_EQ(status, c.status) << text;
        EXPECT_NE(text.find(c.message), std::string::npos) << text;
        // No half-written output is left.
        EXPECT_NE(access(out.path.c_str(), F_OK), 0);
        EXPECT_NE(access((out.path + ".mka").c_str(), F_OK), 0);
    }
}

TEST(ToolEncoders, ListsEveryFixedIdWithItsFormats)
{
    int status = 0;
    const std::string text = run_tool("encoders", &status);
    EXPECT_EQ(status, 0);
    for (const char *line : {"01  86032   alac          yes     s16p    s32p",
                             "03  86028   flac          yes     s16     s32",
                             "06  86017   mp3           yes     s16p    s32p",
                             "12  86018   aac           yes     fltp    fltp",
                             "19  65543   pcm_alaw      yes     s16     s16"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 19);
}

TEST(ToolInfo, TagsAndChapters)
{
    int status = 0;
    const std::string text = run_tool("info " + q(media_path("tags_chapters.mka")), &status);
    EXPECT_EQ(status, 0);
    for (const char *line : {"tag     container: title = Fixture Album",
                             "chapter 1 [0.500 s - 0.750 s]: title = First",
                             "chapter 2 [0.750 s - 2.000 s]: title = Second",
                             "tag     stream #0: language = eng",
                             "#0 audio flac, 44100 Hz, 2 ch"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
}

}  // namespace
