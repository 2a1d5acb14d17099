// Encoder lookups and capability lists against FFmpeg's registries and the
// ffmpeg tool's listings.
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "encode_host.h"

using namespace flatav_test;

namespace {

// The codec each fixed id names, by FFmpeg's name for the id; which ids
// FFmpeg can encode (it decodes Monkey's Audio but has no encoder for it).
TEST(Lookup, FixedIdsAndEncoders)
{
    int32_t (*const ids[])() = {
        ff_get_encoder_01, ff_get_encoder_02, ff_get_encoder_03, ff_get_encoder_05, ff_get_encoder_06,
        ff_get_encoder_07, ff_get_encoder_08, ff_get_encoder_09, ff_get_encoder_10, ff_get_encoder_11,
        ff_get_encoder_12, ff_get_encoder_13, ff_get_encoder_14, ff_get_encoder_15, ff_get_encoder_16,
        ff_get_encoder_17, ff_get_encoder_18, ff_get_encoder_19};
    std::istringstream names("alac ac3 flac pcm_s16le mp3 opus wavpack mp2 vorbis flv1 aac tta dts "
                             "truehd wmav1 wmav2 pcm_mulaw pcm_alaw");
    std::string name;
    for (int32_t (*id)() : ids)
        EXPECT_EQ(avcodec_get_name((AVCodecID)id()), (names >> name, name));
    const int32_t supported[][3] = {{AV_CODEC_ID_APE, 0, 0}, {0, ff_get_encoder_03(), 1},
                                    {AV_CODEC_ID_APE, ff_get_encoder_12(), 1}, {0x7fff0000, 0, 0}};
    for (const auto &s : supported)
        EXPECT_EQ(ff_format_supported(s[0], s[1]), s[2]) << s[0] << " " << s[1];
}

// The chooser's rules on encoders whose lists (as `ffmpeg -h encoder=NAME`
// prints them) are FLAC: s16 s32; MP3 through libmp3lame: s32p fltp s16p;
// ALAC: s32p s16p.
TEST(Lookup, SampleFormatFromTheEncodersList)
{
    const struct {
        int32_t (*codec)();
        int bits;
        int host, expected;
    } cases[] = {
        {ff_get_encoder_03, 24, AV_SAMPLE_FMT_S32, AV_SAMPLE_FMT_S32},   // the host's own
        {ff_get_encoder_03, 16, AV_SAMPLE_FMT_DBL, AV_SAMPLE_FMT_S16},   // by bit depth
        {ff_get_encoder_03, 24, AV_SAMPLE_FMT_DBL, AV_SAMPLE_FMT_S32},   // none: the last
        {ff_get_encoder_06, 16, AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_FLTP},  // float prefers FLTP
        {ff_get_encoder_01, 16, AV_SAMPLE_FMT_U8, AV_SAMPLE_FMT_S16P},   // by bit depth
        {ff_get_encoder_01, 32, AV_SAMPLE_FMT_U8, AV_SAMPLE_FMT_S32P},   // the first of 32
        {ff_get_encoder_06, 0, AV_SAMPLE_FMT_U8, AV_SAMPLE_FMT_S32P},    // no depth: the first
    };
    for (const auto &c : cases)
        EXPECT_EQ(ff_get_encoder_sample_format(c.codec(), c.bits, c.host), c.expected)
            << avcodec_get_name((AVCodecID)c.codec()) << " " << c.host << " " << c.bits;
}

// The video codecs ff_gvc lists ("E:", "D:" or both, "|", name, ","), as
// the tool's -encoders and -decoders list them; no terminator written.
TEST(Lookup, VideoCodecsAsTheToolListsThem)
{
    const int32_t length = ff_gvc(nullptr);
    ASSERT_GT(length, 0);
    std::string text(length + 16, '#');
    EXPECT_EQ(ff_gvc(text.data()), length);
    EXPECT_EQ(text.substr(length), std::string(16, '#'));
    std::set<std::string> listed[2], tool[2];  // encoders, decoders
    std::istringstream entries(text.substr(0, length));
    for (std::string entry, marks; std::getline(entries, entry, ',');) {
        marks = entry.substr(0, entry.find('|'));
        ASSERT_TRUE(marks == "E:" || marks == "D:" || marks == "E:D:") << entry;
        for (int i : {0, 1})
            if (marks.find(i ? "D:" : "E:") != std::string::npos)
                listed[i].insert(entry.substr(marks.size() + 1));
    }
    for (int i : {0, 1}) {
        int status = 0;
        std::istringstream lines(run_text(i ? "ffmpeg -hide_banner -decoders" : "ffmpeg -hide_banner -encoders",
                                          &status));
        // " V....D name  description"; the legend's lines have '=' in them.
        for (std::string line, flags, name; std::getline(lines, line);)
            if (std::istringstream(line) >> flags >> name && flags.size() == 6 && flags[0] == 'V' &&
                name.find('=') == std::string::npos)
                tool[i].insert(name);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(listed[i], tool[i]);
    }
}

}  // namespace
