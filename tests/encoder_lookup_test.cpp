// Encoder lookups and capability lists against FFmpeg's registries and the
// ffmpeg tool's listings.
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "console.h"
#include "encode_host.h"

using namespace flatav_test;

namespace {

std::string tool_listing(const std::string &args)
{
    int status = 0;
    std::string text = run_text("ffmpeg -hide_banner " + args, &status);
    EXPECT_EQ(status, 0) << args;
    return text;
}

// The codec each fixed id names, by FFmpeg's name for the id; which ids
// FFmpeg can encode.
TEST(Lookup, FixedIdsAndEncoders)
{
    const std::pair<int32_t (*)(), const char *> ids[] = {
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
    for (const auto &[fn, name] : ids)
        EXPECT_STREQ(avcodec_get_name((AVCodecID)fn()), name);
    // FFmpeg decodes Monkey's Audio but has no encoder for it.
    EXPECT_EQ(ff_format_supported(AV_CODEC_ID_APE, 0), 0);
    EXPECT_EQ(ff_format_supported(0, ff_get_encoder_03()), 1);
    EXPECT_EQ(ff_format_supported(AV_CODEC_ID_APE, ff_get_encoder_12()), 1);
    EXPECT_EQ(ff_format_supported(0x7fff0000, 0), 0);
}

// The chooser's rules on encoders whose lists (as the tool prints them) are
// FLAC: s16 s32; MP3 through libmp3lame: s32p fltp s16p; ALAC: s32p s16p.
TEST(Lookup, SampleFormatFromTheEncodersList)
{
    for (const auto &[id, list] : {std::pair<int32_t (*)(), std::string>{ff_get_encoder_03, "s16 s32"},
                                   {ff_get_encoder_06, "s32p fltp s16p"},
                                   {ff_get_encoder_01, "s32p s16p"}}) {
        const std::string name = avcodec_find_encoder((AVCodecID)id())->name;
        EXPECT_NE(tool_listing("-h encoder=" + name).find("Supported sample formats: " + list + "\n"),
                  std::string::npos)
            << name;
    }
    struct Case {
        int32_t (*codec)();
        int bits;
        AVSampleFormat host, expected;
    };
    const Case cases[] = {
        {ff_get_encoder_03, 24, AV_SAMPLE_FMT_S32, AV_SAMPLE_FMT_S32},   // the host's own
        {ff_get_encoder_03, 16, AV_SAMPLE_FMT_DBL, AV_SAMPLE_FMT_S16},   // by bit depth
        {ff_get_encoder_03, 24, AV_SAMPLE_FMT_DBL, AV_SAMPLE_FMT_S32},   // none: the last
        {ff_get_encoder_06, 16, AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_FLTP},  // float prefers FLTP
        {ff_get_encoder_01, 16, AV_SAMPLE_FMT_U8, AV_SAMPLE_FMT_S16P},   // by bit depth
        {ff_get_encoder_01, 32, AV_SAMPLE_FMT_U8, AV_SAMPLE_FMT_S32P},   // the first of 32
        {ff_get_encoder_06, 0, AV_SAMPLE_FMT_U8, AV_SAMPLE_FMT_S32P},    // no depth: the first
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(avcodec_get_name((AVCodecID)c.codec())) + " " +
                     av_get_sample_fmt_name(c.host) + " " + std::to_string(c.bits));
        EXPECT_EQ(ff_get_encoder_sample_format(c.codec(), c.bits, c.host), c.expected);
    }
    // An encoder without formats (a video encoder).
    EXPECT_EQ(ff_get_encoder_sample_format(ff_get_encoder_11(), 16, AV_SAMPLE_FMT_S16),
              FLATAV_SAMPLE_FMT_NONE);
}

// The video codecs ff_gvc lists, as the tool's -encoders and -decoders list
// them ("E:", "D:" or both, "|", name, ",").
TEST(Lookup, VideoCodecsAsTheToolListsThem)
{
    const int32_t length = ff_gvc(nullptr);
    ASSERT_GT(length, 0);
    std::string text(length + 16, '#');
    EXPECT_EQ(ff_gvc(text.data()), length);
    EXPECT_EQ(text.substr(length), std::string(16, '#')) << "writes no terminator";
    text.resize(length);

    std::set<std::string> listed[2], tool[2];  // encoders, decoders
    std::istringstream entries(text);
    for (std::string entry; std::getline(entries, entry, ',');) {
        const std::string marks = entry.substr(0, entry.find('|'));
        ASSERT_TRUE(marks == "E:" || marks == "D:" || marks == "E:D:") << entry;
        for (int i : {0, 1})
            if (marks.find(i ? "D:" : "E:") != std::string::npos)
                listed[i].insert(entry.substr(marks.size() + 1));
    }
    for (int i : {0, 1}) {
        std::istringstream lines(tool_listing(i ? "-decoders" : "-encoders"));
        std::string flags, name;
        // " V....D name  description"; the legend's lines have '=' in them.
        for (std::string line; std::getline(lines, line);)
            if (std::istringstream(line) >> flags >> name && flags.size() == 6 &&
                flags[0] == 'V' && name.find('=') == std::string::npos)
                tool[i].insert(name);
        EXPECT_EQ(listed[i], tool[i]);
    }
}

// A block per muxer of FFmpeg's registry: FLAC's with its MIME type,
// extension and codec; nothing while quiet.
TEST(Lookup, DumpfListsEveryMuxer)
{
    const std::string out = stdout_of(ff_dumpf);
    size_t muxers = 0, blocks = 0;
    for (void *iter = nullptr; av_muxer_iterate(&iter);)
        muxers++;
    for (size_t at = 0; (at = out.find("] =====================\n", at)) != std::string::npos; at++)
        blocks++;
    EXPECT_EQ(blocks, muxers);
    const size_t flac = out.find("!!! long_name=raw FLAC\n");
    ASSERT_NE(flac, std::string::npos);
    const std::string block = out.substr(flac, 200);
    for (const std::string &line : {std::string("!!! mime_type=audio/x-flac\n"), std::string("!!! extensions=flac\n"),
                                   "!!! audio_codec=" + std::to_string(AV_CODEC_ID_FLAC) + "\n"})
        EXPECT_NE(block.find(line), std::string::npos) << line;
    testing::internal::CaptureStdout();
    ff_dumpf();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace
