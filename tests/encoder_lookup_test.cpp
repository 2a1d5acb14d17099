// Encoder lookups and capability lists against FFmpeg's registries and the
// ffmpeg tool's listings.
#include <set>
#include <sstream>
#include <string>
#include <utility>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "encode_host.h"

using namespace flatav_test;

namespace {

// What fn writes to the console while it is on (the tests run it quiet).
std::string console_of(void (*fn)())
{
    LogSettings on{0, 1}, off{1, 1};
    ff_init(&on);
    testing::internal::CaptureStdout();
    fn();
    const std::string out = testing::internal::GetCapturedStdout();
    ff_init(&off);
    return out;
}

// The codec each fixed id names, by FFmpeg's name for the id.
TEST(Lookup, FixedIdsNameTheirCodecs)
{
    const std::pair<int32_t (*)(), const char *> table[] = {
        {ff_get_encoder_01, "alac"},      {ff_get_encoder_02, "ac3"},
        {ff_get_encoder_03, "flac"},      {ff_get_encoder_05, "pcm_s16le"},
        {ff_get_encoder_06, "mp3"},       {ff_get_encoder_07, "opus"},
        {ff_get_encoder_08, "wavpack"},   {ff_get_encoder_09, "mp2"},
        {ff_get_encoder_10, "vorbis"},    {ff_get_encoder_11, "flv1"},
        {ff_get_encoder_12, "aac"},       {ff_get_encoder_13, "tta"},
        {ff_get_encoder_14, "dts"},       {ff_get_encoder_15, "truehd"},
        {ff_get_encoder_16, "wmav1"},     {ff_get_encoder_17, "wmav2"},
        {ff_get_encoder_18, "pcm_mulaw"}, {ff_get_encoder_19, "pcm_alaw"},
    };
    for (const auto &[fn, name] : table)
        EXPECT_STREQ(avcodec_get_name((AVCodecID)fn()), name);
}

TEST(Lookup, GetEncoderIsAlwaysNull)
{
    for (const char *name : {"flac", "libmp3lame", (const char *)nullptr})
        EXPECT_EQ(ff_get_encoder(name), nullptr);
}

TEST(Lookup, FormatSupportedWhenEitherIdHasAnEncoder)
{
    EXPECT_EQ(ff_format_supported(0, 0), 0);
    EXPECT_EQ(ff_format_supported(0, ff_get_encoder_03()), 1);
    EXPECT_EQ(ff_format_supported(ff_get_encoder_03(), 0), 1);
    EXPECT_EQ(ff_format_supported(-5, 0x7fff0000), 0);
    // FFmpeg decodes Monkey's Audio but has no encoder for it.
    EXPECT_EQ(ff_format_supported(AV_CODEC_ID_APE, 0), 0);
    EXPECT_EQ(ff_format_supported(AV_CODEC_ID_APE, ff_get_encoder_12()), 1);
}

// The four examples of the chooser, on encoders whose lists are those of
// the examples: FLAC (S16, S32), MP3 through libmp3lame (S32P, FLTP, S16P),
// ALAC (S32P, S16P) and AAC (FLTP).
TEST(SampleFormat, ChoosesFromTheEncodersList)
{
    struct Case {
        int32_t (*codec)();
        int bits;
        AVSampleFormat host, expected;
    };
    const Case cases[] = {
        {ff_get_encoder_03, 24, AV_SAMPLE_FMT_S32, AV_SAMPLE_FMT_S32},   // direct match
        {ff_get_encoder_03, 24, AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16},   // direct match
        {ff_get_encoder_03, 32, AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_S32},   // by bit depth
        {ff_get_encoder_03, 16, AV_SAMPLE_FMT_DBL, AV_SAMPLE_FMT_S16},   // by bit depth
        {ff_get_encoder_03, 24, AV_SAMPLE_FMT_DBL, AV_SAMPLE_FMT_S32},   // none: the last
        {ff_get_encoder_06, 16, AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_FLTP},  // float prefers FLTP
        {ff_get_encoder_01, 24, AV_SAMPLE_FMT_U8, AV_SAMPLE_FMT_S16P},   // none: the last
        {ff_get_encoder_12, 16, AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_FLTP},
        // No bit depth asked for: the encoder's first choice.
        {ff_get_encoder_06, 0, AV_SAMPLE_FMT_U8, AV_SAMPLE_FMT_S32P},
        {ff_get_encoder_03, 0, AV_SAMPLE_FMT_DBL, AV_SAMPLE_FMT_S16},
    };
    // The lists the examples assume are those of this FFmpeg's encoders.
    const std::pair<int32_t (*)(), std::string> lists[] = {{ff_get_encoder_03, "s16 s32"},
                                                           {ff_get_encoder_06, "s32p fltp s16p"},
                                                           {ff_get_encoder_01, "s32p s16p"},
                                                           {ff_get_encoder_12, "fltp"}};
    for (const auto &[id, list] : lists) {
        const std::string name = avcodec_find_encoder((AVCodecID)id())->name;
        int status = 0;
        EXPECT_NE(run_text("ffmpeg -hide_banner -h encoder=" + name, &status)
                      .find("Supported sample formats: " + list + "\n"),
                  std::string::npos)
            << name;
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(avcodec_get_name((AVCodecID)c.codec())) + " " +
                     av_get_sample_fmt_name(c.host) + " " + std::to_string(c.bits));
        EXPECT_EQ(ff_get_encoder_sample_format(c.codec(), c.bits, c.host), c.expected);
    }
    // No encoder, and an encoder without formats (a video encoder).
    EXPECT_EQ(ff_get_encoder_sample_format(0x7fff0000, 16, AV_SAMPLE_FMT_S16),
              FLATAV_SAMPLE_FMT_NONE);
    EXPECT_EQ(ff_get_encoder_sample_format(0, 16, AV_SAMPLE_FMT_S16), FLATAV_SAMPLE_FMT_NONE);
    EXPECT_EQ(ff_get_encoder_sample_format(ff_get_encoder_11(), 16, AV_SAMPLE_FMT_S16),
              FLATAV_SAMPLE_FMT_NONE);
}

TEST(SampleFormat, BitDepthSearchWritesEachEntryToTheConsole)
{
    const std::string out = console_of(
        [] { ff_get_encoder_sample_format(ff_get_encoder_01(), 24, AV_SAMPLE_FMT_U8); });
    EXPECT_NE(out.find("helper_get_encoder_sample_format(): start"), std::string::npos);
    EXPECT_NE(out.find(" .... best_bits_per_sample=24, [0]=7"), std::string::npos);
    EXPECT_NE(out.find(" .... best_bits_per_sample=24, [1]=6"), std::string::npos);
}

std::set<std::string> tool_video_codecs(const char *listing)
{
    int status = 0;
    std::istringstream lines(run_text(std::string("ffmpeg -hide_banner ") + listing, &status));
    EXPECT_EQ(status, 0);
    std::set<std::string> names;
    std::string flags, name;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        // " V....D name  description"; the legend's lines have '=' in them.
        if (words >> flags >> name && flags.size() == 6 && flags[0] == 'V' &&
            name.find('=') == std::string::npos)
            names.insert(name);
    }
    return names;
}

TEST(Gvc, ListsVideoCodecsAsTheFfmpegToolDoes)
{
    const int32_t length = ff_gvc(nullptr);
    ASSERT_GT(length, 0);
    std::string text(length + 16, '#');
    EXPECT_EQ(ff_gvc(text.data()), length);
    EXPECT_EQ(text.substr(length), std::string(16, '#')) << "writes no terminator";
    text.resize(length);

    std::set<std::string> encoders, decoders;
    std::istringstream entries(text);
    for (std::string entry; std::getline(entries, entry, ',');) {
        const size_t bar = entry.find('|');
        ASSERT_NE(bar, std::string::npos) << entry;
        const std::string marks = entry.substr(0, bar), name = entry.substr(bar + 1);
        ASSERT_TRUE(marks == "E:" || marks == "D:" || marks == "E:D:") << entry;
        if (marks.find("E:") != std::string::npos)
            encoders.insert(name);
        if (marks.find("D:") != std::string::npos)
            decoders.insert(name);
    }
    EXPECT_EQ(encoders, tool_video_codecs("-encoders"));
    EXPECT_EQ(decoders, tool_video_codecs("-decoders"));
    EXPECT_FALSE(encoders.count("flac") || decoders.count("flac")) << "audio is left out";
}

TEST(Dumpf, SevenLinesPerMuxer)
{
    const std::string out = console_of(ff_dumpf);

    size_t muxers = 0;
    void *iter = nullptr;
    while (av_muxer_iterate(&iter))
        muxers++;
    size_t separators = 0;
    for (size_t at = 0; (at = out.find("] =====================\n", at)) != std::string::npos; at++)
        separators++;
    EXPECT_EQ(separators, muxers);
    const size_t flac = out.find("!!! long_name=raw FLAC\n");
    ASSERT_NE(flac, std::string::npos);
    const std::string block = out.substr(flac, 400);
    EXPECT_NE(block.find("!!! mime_type=audio/x-flac\n"), std::string::npos);
    EXPECT_NE(block.find("!!! extensions=flac\n"), std::string::npos);
    EXPECT_NE(block.find("!!! audio_codec=" + std::to_string(AV_CODEC_ID_FLAC) + "\n"),
              std::string::npos);

    // Quiet: nothing at all.
    testing::internal::CaptureStdout();
    ff_dumpf();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace
