// Opening an output: which container and which encoder a record chooses,
// what an open reports when it fails, and that a failed open leaves nothing
// to release.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include "encode_host.h"
#include "media.h"

using namespace flatav_test;

namespace {

struct OpenCase {
    const char *label;
    const char *file_name;
    const char *codec_name;
    int32_t codec_id;
    Pcm pcm;
    int sample_rate;
    bool seekable;
    const char *muxer;    // expected on success
    const char *encoder;  // expected on success
    const char *failure;  // expected text of a failed open
    std::vector<std::string> errors;
};

void PrintTo(const OpenCase &c, std::ostream *os) { *os << c.label; }

class Open : public testing::TestWithParam<OpenCase> {};

TEST_P(Open, ChoosesContainerAndEncoderOrFailsCleanly)
{
    const OpenCase &c = GetParam();
    Output output(c.file_name, c.codec_name, c.codec_id, c.seekable);
    const char *result = output.open(Signal(c.pcm, c.sample_rate, 0));
    EXPECT_EQ(output.recorder.errors, c.errors);
    EncodeRec &rec = output.rec;
    if (c.failure) {
        ASSERT_NE(result, nullptr);
        EXPECT_STREQ(result, c.failure);
        // What the open created is released; clean-up has nothing to do.
        EXPECT_EQ(rec.opened, 0);
        EXPECT_EQ(rec.av_format_context, nullptr);
        EXPECT_EQ(rec.av_codec_context, nullptr);
        EXPECT_EQ(rec.io_buffer, nullptr);
        EXPECT_EQ(rec.audio_st, nullptr);
        return;
    }
    ASSERT_EQ(result, nullptr);
    EXPECT_EQ(rec.opened, 1);
    ASSERT_NE(rec.output_format, nullptr);
    EXPECT_STREQ(rec.output_format->name, c.muxer);
    ASSERT_NE(rec.av_codec_context, nullptr);
    EXPECT_TRUE(avcodec_is_open(rec.av_codec_context));
    EXPECT_STREQ(rec.av_codec_context->codec->name, c.encoder);
    ASSERT_NE(rec.audio_st, nullptr);
    EXPECT_EQ(rec.av_format_context->nb_streams, 1u);
    EXPECT_EQ(rec.audio_st->codecpar->codec_id, rec.av_codec_context->codec_id);
}

const OpenCase kOpen[] = {
    // A name of both a container and an encoder chooses both, whatever the
    // file's extension.
    {"name_of_both", "out.mka", "flac", 0, Pcm::s16, 44100, true, "flac", "flac", nullptr, {}},
    // A container's name: the encoder follows the id.
    {"container_name", "out.flac", "wav", AV_CODEC_ID_PCM_S16LE, Pcm::s16, 44100, true,
     "wav", "pcm_s16le", nullptr, {}},
    // No name: the extension chooses the container, the id the encoder.
    {"id_only", "out.ogg", nullptr, AV_CODEC_ID_VORBIS, Pcm::fltp, 44100, true, "ogg",
     "libvorbis", nullptr, {}},
    // An encoder's name: the extension chooses the container.
    {"encoder_name", "out.mp3", "libmp3lame", 0, Pcm::s16p, 44100, true, "mp3",
     "libmp3lame", nullptr, {}},
    // An encoder other than FFmpeg's default for its id opens.
    {"non_default_encoder", "out.mp2", "mp2fixed", AV_CODEC_ID_MP2, Pcm::s16, 44100, true,
     "mp2", "mp2fixed", nullptr, {}},
    // An experimental encoder opens (and is not the default for its id).
    {"experimental_encoder", "out.opus", "opus", 0, Pcm::fltp, 48000, true, "opus", "opus",
     nullptr, {}},
    {"neither_name_nor_id", "out.flac", nullptr, 0, Pcm::s16, 44100, true, nullptr, nullptr,
     "audio_st = NULL", {"avcodec_find_encoder_by_name failed", "find_encoder failed"}},
    {"unknown_name_no_id", "out.flac", "no-such-encoder", 0, Pcm::s16, 44100, true, nullptr,
     nullptr, "audio_st = NULL",
     {"avcodec_find_encoder_by_name failed", "find_encoder failed"}},
    {"unknown_id", "out.flac", nullptr, 0x7fff0000, Pcm::s16, 44100, true, nullptr, nullptr,
     "audio_st = NULL", {"avcodec_find_encoder failed", "find_encoder failed"}},
    {"container_without_audio", "out.srt", nullptr, AV_CODEC_ID_FLAC, Pcm::s16, 44100, true,
     nullptr, nullptr, "audio_st = NULL", {}},
    {"unknown_container", "out.no-such-extension", nullptr, AV_CODEC_ID_FLAC, Pcm::s16,
     44100, true, nullptr, nullptr, "av_guess_format failed", {}},
    {"format_the_encoder_lacks", "out.flac", "flac", 0, Pcm::fltp, 44100, true, nullptr,
     nullptr, "could not open codec", {"could not open codec"}},
    {"rate_the_encoder_lacks", "out.opus", "libopus", 0, Pcm::s16, 44100, true, nullptr,
     nullptr, "could not open codec", {"could not open codec"}},
    // MP4 goes back to its header at the end and refuses an output that
    // cannot seek.
    {"mp4_without_seek", "out.m4a", "aac", 0, Pcm::fltp, 44100, false, nullptr, nullptr,
     "avformat_write_header failed -22", {}},
};

INSTANTIATE_TEST_SUITE_P(Records, Open, testing::ValuesIn(kOpen),
                         [](const testing::TestParamInfo<OpenCase> &info) {
                             return std::string(info.param.label);
                         });

TEST(OpenEncoder, GlobalHeaderContainersGetExtradata)
{
    for (const char *file : {"out.m4a", "out.mka"}) {
        SCOPED_TRACE(file);
        Output output(file, "aac", 0);
        ASSERT_EQ(output.open(Signal(Pcm::fltp, 44100, 0)), nullptr);
        EXPECT_TRUE(output.rec.av_codec_context->flags & AV_CODEC_FLAG_GLOBAL_HEADER);
        EXPECT_GT(output.rec.audio_st->codecpar->extradata_size, 0);
        EXPECT_NE(std::find(output.recorder.messages.begin(), output.recorder.messages.end(),
                            "add_audio_stream AV_CODEC_FLAG_GLOBAL_HEADER"),
                  output.recorder.messages.end());
    }
    Output adts("out.aac", "aac", 0);
    ASSERT_EQ(adts.open(Signal(Pcm::fltp, 44100, 0)), nullptr);
    EXPECT_FALSE(adts.rec.av_codec_context->flags & AV_CODEC_FLAG_GLOBAL_HEADER);
    EXPECT_NE(std::find(adts.recorder.messages.begin(), adts.recorder.messages.end(),
                        "add_audio_stream NOT CODEC_FLAG_GLOBAL_HEADER"),
              adts.recorder.messages.end());
}

TEST(OpenEncoder, BlockSizesFollowTheEncoder)
{
    struct Sizes {
        const char *file, *codec;
        Pcm pcm;
        int frame, buffer, sample_size, planar;
    };
    const Sizes cases[] = {
        // FLAC's compression level 0 (the zero-filled record's) has 1152.
        {"out.flac", "flac", Pcm::s16, 1152, 1152 * 2 * 2, 2, 0},
        {"out.m4a", "alac", Pcm::s32p_24bit, 4096, 4096 * 4 * 2, 4, 1},
        {"out.mp3", "libmp3lame", Pcm::fltp, 1152, 1152 * 4 * 2, 4, 1},
        // Encoders that take any length give 0: the host chooses.
        {"out.wav", "pcm_s16le", Pcm::s16, 0, 0, 2, 0},
        {"out.wav", "pcm_s24le", Pcm::s32_24bit, 0, 0, 4, 0},
    };
    for (const Sizes &c : cases) {
        SCOPED_TRACE(c.codec);
        Output output(c.file, c.codec, 0);
        ASSERT_EQ(output.open(Signal(c.pcm, 44100, 0)), nullptr);
        EXPECT_EQ(output.rec.audio_input_frame_size, c.frame);
        EXPECT_EQ(output.rec.audio_input_buffer_size, c.buffer);
        EXPECT_EQ(output.rec.sample_size, c.sample_size);
        EXPECT_EQ(output.rec.planar, c.planar);
    }
}

TEST(OpenEncoder, WithoutEncoderDeclaresMp3)
{
    Output output("out.mp3", nullptr, 0);
    output.rec.encode = 0;
    output.rec.planar = 7;  // left as it is
    ASSERT_EQ(output.open(Signal(Pcm::s16p, 44100, 0), 1), nullptr);
    EncodeRec &rec = output.rec;
    EXPECT_EQ(rec.audio_input_frame_size, 576);
    EXPECT_EQ(rec.audio_input_buffer_size, 2304);
    EXPECT_EQ(rec.sample_size, 2);
    EXPECT_EQ(rec.planar, 7);
    EXPECT_EQ(rec.sample_fmt, AV_SAMPLE_FMT_S16P);
    EXPECT_FALSE(avcodec_is_open(rec.av_codec_context));
    const AVCodecParameters *par = rec.audio_st->codecpar;
    EXPECT_EQ(par->codec_id, AV_CODEC_ID_MP3);
    EXPECT_EQ(par->frame_size, 576);
    EXPECT_EQ(par->ch_layout.nb_channels, 2);
    EXPECT_EQ(par->sample_rate, 44100);

    // Nothing can encode into it; the drain fails without writing a trailer.
    std::vector<uint8_t> block(2304);
    uint8_t *planes[2] = {block.data(), block.data() + 1152};
    EXPECT_EQ(ff_encode_audio2(&rec, block.data(), planes, 2304), AVERROR(EINVAL));
    EXPECT_TRUE(output.recorder.has_error_containing("[1] avcodec_encode_audio2 failed"));
    EXPECT_EQ(ff_encode_audio2(&rec, nullptr, nullptr, 0), -1);
    EXPECT_TRUE(output.recorder.has_error_containing(
        "avcodec_encode_audio2 failed while getting delayed frames"));
}

TEST(OpenEncoder, ChannelMaskGoesToTheEncoderAndMustMatchTheCount)
{
    Output downmix("out.flac", "flac", 0);
    downmix.rec.channel_layout = AV_CH_LAYOUT_STEREO_DOWNMIX;
    ASSERT_EQ(downmix.open(Signal(Pcm::s16, 44100, 0)), nullptr);
    EXPECT_EQ(downmix.rec.av_codec_context->ch_layout.u.mask,
              (uint64_t)AV_CH_LAYOUT_STEREO_DOWNMIX);

    Output surround("out.flac", "flac", 0);
    surround.rec.channel_layout = AV_CH_LAYOUT_5POINT1;
    EXPECT_STREQ(surround.open(Signal(Pcm::s16, 44100, 0)), "could not open codec");
}

TEST(OpenEncoder, TracesReachTheHostOnlyWhenEnabled)
{
    Output on("out.flac", "flac", 0);
    ASSERT_EQ(on.open(Signal(Pcm::s16, 44100, 0)), nullptr);
    const std::vector<std::string> &lines = on.recorder.messages;
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "ff_open_encoder begin");
    EXPECT_EQ(lines.back(), "ff_open_encoder end");
    for (const char *expected :
         {"ff_open_encoder found fmt flac",
          "find_encoder begin, avrec->codec_name=flac, avrec->codec_id=0",
          "sampleSize=2, c->frame_size=1152, avrec->audio_input_frame_size=1152, "
          "audio_input_buffer_size=4608"})
        EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << expected;
    // The header has reached the host's write function.
    ASSERT_GE(on.out.bytes.size(), 4u);
    EXPECT_EQ(std::string(on.out.bytes.begin(), on.out.bytes.begin() + 4), "fLaC");

    Output off("out.flac", "flac", 0);
    off.recorder.callbacks.message_enabled = 0;
    ASSERT_EQ(off.open(Signal(Pcm::s16, 44100, 0)), nullptr);
    EXPECT_TRUE(off.recorder.messages.empty());
}

TEST(OpenEncoder, ZeroFilledAndNullRecordsDoNotCrash)
{
    EncodeRec rec{};
    EXPECT_STREQ(ff_open_encoder(&rec), "av_guess_format failed");
    EXPECT_EQ(rec.opened, 0);
    EXPECT_EQ(ff_encode_audio2(&rec, nullptr, nullptr, 0), -1);
    EXPECT_LT(ff_buff_size(&rec, 400), 0);
    ff_cleanup_encoder(&rec);

    EXPECT_NE(ff_open_encoder(nullptr), nullptr);
    EXPECT_EQ(ff_encode_audio2(nullptr, nullptr, nullptr, 0), -1);
    EXPECT_LT(ff_buff_size(nullptr, 400), 0);
    ff_cleanup_encoder(nullptr);

    // A record with a name but no write function: the bytes go nowhere.
    EncodeRec quiet{};
    quiet.codec_name = "flac";
    quiet.encode = 1;
    quiet.sample_fmt = quiet.requested_sample_fmt = AV_SAMPLE_FMT_S16;
    quiet.channels = 2;
    quiet.sample_rate = 44100;
    EXPECT_EQ(ff_open_encoder(&quiet), nullptr);
    EXPECT_EQ(ff_encode_audio2(&quiet, nullptr, nullptr, 0), 0);
    ff_cleanup_encoder(&quiet);
}

}  // namespace
