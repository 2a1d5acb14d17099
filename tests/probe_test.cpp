// Probing a block of bytes, a file or URL, a host byte source; and whether
// an opened source holds DTS.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include "console.h"
#include "flatav.h"
#include "media.h"
#include "test_host.h"

using namespace flatav_test;

namespace {

// Probe input as FFmpeg wants it: the bytes followed by zeroed padding.
struct ProbeInput {
    explicit ProbeInput(std::vector<uint8_t> bytes, const char *name = "")
        : buffer(std::move(bytes))
    {
        const int size = (int)buffer.size();
        buffer.resize(buffer.size() + AVPROBE_PADDING_SIZE, 0);
        data.filename = name;
        data.buf = buffer.data();
        data.buf_size = size;
    }
    std::vector<uint8_t> buffer;
    AVProbeData data{};
};

TEST(Probe, HeaderBytesNameTheFormatAndKeepCopiesOfItsNames)
{
    std::vector<uint8_t> head = read_file(media_path("stereo_s16.wav"));
    head.resize(64);
    ProbeInput input(head);
    DecodeRec rec{};
    const AVInputFormat *format = ff_probe(&rec, &input.data);
    ASSERT_NE(format, nullptr);
    EXPECT_STREQ(format->name, "wav");
    ASSERT_NE(rec.format_name, nullptr);
    EXPECT_STREQ(rec.format_name, "wav");
    EXPECT_NE(rec.format_name, format->name) << "a copy, not FFmpeg's text";
    EXPECT_STREQ(rec.format_long_name, format->long_name);

    // A probe that finds nothing clears (and releases) both names.
    std::vector<uint8_t> garbage(512);
    for (size_t i = 0; i < garbage.size(); i++)
        garbage[i] = (uint8_t)(i * 37 + 11);
    ProbeInput nothing(garbage);
    EXPECT_EQ(ff_probe(&rec, &nothing.data), nullptr);
    EXPECT_EQ(rec.format_name, nullptr);
    EXPECT_EQ(rec.format_long_name, nullptr);

    // Names of a second probe replace the first's; clean-up releases them.
    ASSERT_NE(ff_probe(&rec, &input.data), nullptr);
    ASSERT_NE(ff_probe(&rec, &input.data), nullptr);
    ff_cleanup_decoder(&rec);
    EXPECT_EQ(rec.format_name, nullptr);
    EXPECT_EQ(rec.format_long_name, nullptr);
    EXPECT_EQ(ff_probe(&rec, nullptr), nullptr);
    EXPECT_EQ(ff_probe(nullptr, &input.data), nullptr);
}

TEST(Probe, OpeningKeepsTheNamesAnEarlierProbeFound)
{
    std::vector<uint8_t> head = read_file(media_path("stereo_s16.wav"));
    head.resize(64);
    ProbeInput input(head);
    OpenedSource src(media_path("flac16.flac"));
    ASSERT_NE(ff_probe(&src.rec, &input.data), nullptr);
    ASSERT_EQ(src.open(), nullptr);
    EXPECT_STREQ(src.rec.format_name, "wav") << "the host's probe, not the opened format";
}

TEST(Probe2, FileInUrlMode)
{
    for (const char *name : {"sweep.mp3", "sweep.flac", "aac_dts.mkv", "sweep.ts"}) {
        SCOPED_TRACE(name);
        const std::string path = media_path(name);
        DecodeRec rec{};
        rec.is_url = 1;
        rec.file_name = path.c_str();
        const DecodeRec before = rec;
        const AVInputFormat *format = ff_probe2(&rec);
        ASSERT_NE(format, nullptr);
        int status = 0;
        std::vector<uint8_t> probed = run_capture(
            "ffprobe -v error -show_entries format=format_name -of default=nw=1:nk=1 " + shell_quote(path),
            &status);
        std::string expected(probed.begin(), probed.end());
        expected.erase(expected.find_last_not_of("\n") + 1);
        EXPECT_EQ(std::string(format->name), expected);
        EXPECT_EQ(std::memcmp(&rec, &before, sizeof rec), 0) << "no field changes";
    }
}

TEST(Probe2, MissingFilePrintsToStandardError)
{
    const std::string path = media_path("missing.mp3");
    DecodeRec rec{};
    rec.is_url = 1;
    rec.file_name = path.c_str();
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(ff_probe2(&rec), nullptr); }),
              "avformat_open_input failed (error 'No such file or directory')\n");
}

TEST(Probe2, HostSourceThroughCustomIo)
{
    MemorySource memory(read_file(media_path("sweep.ogg")));
    DecodeRec rec{};
    rec.file_name = "sweep.ogg";
    memory.attach(rec);
    const AVInputFormat *format = ff_probe2(&rec);
    ASSERT_NE(format, nullptr);
    EXPECT_STREQ(format->name, "ogg");
    EXPECT_GT(memory.reads, 0);
}

TEST(Probe2, SilentReadCallbackGivesNullWithFfmpegsText)
{
    MemorySource empty({});
    DecodeRec rec{};
    rec.file_name = "nothing";
    empty.attach(rec);
    const AVInputFormat *format = nullptr;
    const std::string trace = stdout_of([&] { format = ff_probe2(&rec); });
    EXPECT_EQ(format, nullptr);
    // The trace names the probe's result code, then FFmpeg's text for it.
    const size_t at = trace.find("ret=");
    ASSERT_NE(at, std::string::npos) << trace;
    const int code = std::atoi(trace.c_str() + at + 4);
    EXPECT_LT(code, 0);
    char text[AV_ERROR_MAX_STRING_SIZE];
    av_strerror(code, text, sizeof text);
    EXPECT_NE(trace.find(std::string("ff_probe2(): ") + text), std::string::npos) << trace;
}

TEST(IsDca, DtsStreamBehindAac)
{
    OpenedSource src(media_path("aac_dts.mkv"));
    ASSERT_EQ(src.open(), nullptr);
    ASSERT_EQ(src.rec.nb_streams, 2);
    EXPECT_EQ(src.rec.audio_info[0].codec_id, AV_CODEC_ID_AAC);
    EXPECT_EQ(ff_is_dca(&src.rec), 1);

    OpenedSource aac_only(media_path("sweep.m4a"));
    ASSERT_EQ(aac_only.open(), nullptr);
    EXPECT_EQ(ff_is_dca(&aac_only.rec), 0);

    DecodeRec zeroed{};
    EXPECT_EQ(ff_is_dca(&zeroed), 0);
    EXPECT_EQ(ff_is_dca(nullptr), 0);
}

}  // namespace
