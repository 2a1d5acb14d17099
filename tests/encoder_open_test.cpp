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
}

#include "encode_host.h"

using namespace flatav_test;

namespace {

constexpr AVSampleFormat S16 = AV_SAMPLE_FMT_S16, S16P = AV_SAMPLE_FMT_S16P,
                         FLTP = AV_SAMPLE_FMT_FLTP;

bool has_line(const std::vector<std::string> &lines, const std::string &line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

struct OpenCase {
    const char *name, *file_name, *codec_name;
    int32_t codec_id;
    AVSampleFormat format;
    int sample_rate;
    const char *muxer, *encoder;     // chosen
    int frame, sample_size, planar;  // block sizes and layout the host is told
    bool global_header;              // the container keeps the codec's header
};

void PrintTo(const OpenCase &c, std::ostream *os) { *os << c.name; }

class Open : public testing::TestWithParam<OpenCase> {};

TEST_P(Open, ChoosesContainerAndEncoder)
{
    const OpenCase &c = GetParam();
    Output output(c.file_name, c.codec_name, c.codec_id);
    ASSERT_EQ(output.open(Signal(c.format, c.sample_rate, 0)), nullptr);
    EXPECT_TRUE(output.recorder.errors.empty());
    const EncodeRec &rec = output.rec;
    EXPECT_EQ(rec.opened, 1);
    ASSERT_NE(rec.output_format, nullptr);
    ASSERT_NE(rec.av_codec_context, nullptr);
    EXPECT_STREQ(rec.output_format->name, c.muxer);
    EXPECT_TRUE(avcodec_is_open(rec.av_codec_context));
    EXPECT_STREQ(rec.av_codec_context->codec->name, c.encoder);
    ASSERT_NE(rec.audio_st, nullptr);
    EXPECT_EQ(rec.av_format_context->nb_streams, 1u);
    EXPECT_EQ(rec.audio_st->codecpar->codec_id, rec.av_codec_context->codec_id);
    // Encoders that take any length give 0: the host chooses.
    EXPECT_EQ(rec.audio_input_frame_size, c.frame);
    EXPECT_EQ(rec.audio_input_buffer_size, c.frame * c.sample_size * 2);
    EXPECT_EQ(rec.sample_size, c.sample_size);
    EXPECT_EQ(rec.planar, c.planar);
    EXPECT_EQ((rec.av_codec_context->flags & AV_CODEC_FLAG_GLOBAL_HEADER) != 0, c.global_header);
    EXPECT_TRUE(has_line(output.recorder.messages,
                         c.global_header ? "add_audio_stream AV_CODEC_FLAG_GLOBAL_HEADER"
                                         : "add_audio_stream NOT CODEC_FLAG_GLOBAL_HEADER"));
    if (c.global_header) {
        EXPECT_GT(rec.audio_st->codecpar->extradata_size, 0);
    }
}

const OpenCase kOpen[] = {
    // A name of both a container and an encoder chooses both, whatever the
    // file's extension. FLAC's compression level 0 (the zero-filled
    // record's) has 1152 samples a frame.
    {"name_of_both", "out.mka", "flac", 0, S16, 44100, "flac", "flac", 1152, 2, 0, false},
    // A container's name: the encoder follows the id.
    {"container_name", "out.flac", "wav", AV_CODEC_ID_PCM_S16LE, S16, 44100, "wav",
     "pcm_s16le", 0, 2, 0, false},
    // No name: the extension chooses the container, the id the encoder.
    {"id_only", "out.ogg", nullptr, AV_CODEC_ID_VORBIS, FLTP, 44100, "ogg", "libvorbis", 64, 4,
     1, false},
    {"id_only_24bit", "out.wav", nullptr, AV_CODEC_ID_PCM_S24LE, AV_SAMPLE_FMT_S32, 44100,
     "wav", "pcm_s24le", 0, 4, 0, false},
    // An encoder's name: the extension chooses the container. MP4 and
    // Matroska keep the codec's header (AAC's too) in their own.
    {"encoder_name", "out.mp3", "libmp3lame", 0, FLTP, 44100, "mp3", "libmp3lame", 1152, 4, 1,
     false},
    {"alac_mp4", "out.m4a", "alac", 0, AV_SAMPLE_FMT_S32P, 44100, "ipod", "alac", 4096, 4, 1,
     true},
    {"aac_mp4", "out.m4a", "aac", 0, FLTP, 44100, "ipod", "aac", 1024, 4, 1, true},
    {"aac_matroska", "out.mka", "aac", 0, FLTP, 44100, "matroska", "aac", 1024, 4, 1, true},
    {"aac_adts", "out.aac", "aac", 0, FLTP, 44100, "adts", "aac", 1024, 4, 1, false},
    // An encoder other than FFmpeg's default for its id opens.
    {"non_default_encoder", "out.mp2", "mp2fixed", AV_CODEC_ID_MP2, S16, 44100, "mp2",
     "mp2fixed", 1152, 2, 0, false},
    // An experimental encoder opens (and is not the default for its id).
    {"experimental_encoder", "out.opus", "opus", 0, FLTP, 48000, "opus", "opus", 120, 4, 1,
     false},
};

INSTANTIATE_TEST_SUITE_P(Records, Open, testing::ValuesIn(kOpen), CaseName());

struct RefusedCase {
    const char *name, *file_name, *codec_name;
    int32_t codec_id;
    AVSampleFormat format;
    int sample_rate;
    const char *failure;              // the open's text
    std::vector<std::string> errors;  // the error callback's
    bool seekable = true;
};

void PrintTo(const RefusedCase &c, std::ostream *os) { *os << c.name; }

class Refused : public testing::TestWithParam<RefusedCase> {};

TEST_P(Refused, SaysWhyAndLeavesNothingToRelease)
{
    const RefusedCase &c = GetParam();
    Output output(c.file_name, c.codec_name, c.codec_id, c.seekable);
    EXPECT_STREQ(output.open(Signal(c.format, c.sample_rate, 0)), c.failure);
    EXPECT_EQ(output.recorder.errors, c.errors);
    // What the open created is released; clean-up has nothing to do.
    const EncodeRec &rec = output.rec;
    EXPECT_EQ(rec.opened, 0);
    EXPECT_EQ(rec.av_format_context, nullptr);
    EXPECT_EQ(rec.av_codec_context, nullptr);
    EXPECT_EQ(rec.io_buffer, nullptr);
    EXPECT_EQ(rec.audio_st, nullptr);
}

const std::vector<std::string> kNotFound = {"avcodec_find_encoder_by_name failed",
                                            "find_encoder failed"};
const RefusedCase kRefused[] = {
    {"neither_name_nor_id", "out.flac", nullptr, 0, S16, 44100, "audio_st = NULL", kNotFound},
    {"unknown_name_no_id", "out.flac", "no-such-encoder", 0, S16, 44100, "audio_st = NULL",
     kNotFound},
    {"unknown_id", "out.flac", nullptr, 0x7fff0000, S16, 44100, "audio_st = NULL",
     {"avcodec_find_encoder failed", "find_encoder failed"}},
    {"container_without_audio", "out.srt", nullptr, AV_CODEC_ID_FLAC, S16, 44100,
     "audio_st = NULL", {}},
    {"unknown_container", "out.no-such-extension", nullptr, AV_CODEC_ID_FLAC, S16, 44100,
     "av_guess_format failed", {}},
    {"format_the_encoder_lacks", "out.flac", "flac", 0, FLTP, 44100, "could not open codec",
     {"could not open codec"}},
    {"rate_the_encoder_lacks", "out.opus", "libopus", 0, S16, 44100, "could not open codec",
     {"could not open codec"}},
    // MP4 goes back to its header at the end and refuses an output that
    // cannot seek.
    {"mp4_without_seek", "out.m4a", "aac", 0, FLTP, 44100, "avformat_write_header failed -22",
     {}, false},
};

INSTANTIATE_TEST_SUITE_P(Records, Refused, testing::ValuesIn(kRefused), CaseName());

TEST(OpenEncoder, WithoutEncoderDeclaresMp3)
{
    Output output("out.mp3", nullptr, 0);
    output.rec.encode = 0;
    output.rec.planar = 7;  // left as it is
    ASSERT_EQ(output.open(Signal(S16P, 44100, 0), 1), nullptr);
    EncodeRec &rec = output.rec;
    EXPECT_EQ(rec.audio_input_frame_size, 576);
    EXPECT_EQ(rec.audio_input_buffer_size, 2304);
    EXPECT_EQ(rec.sample_size, 2);
    EXPECT_EQ(rec.planar, 7);
    EXPECT_EQ(rec.sample_fmt, S16P);
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
    EXPECT_EQ(ff_encode_audio2(&rec, nullptr, nullptr, 0), FLATAV_ENCODE_FAILED);
    EXPECT_TRUE(output.recorder.has_error_containing(
        "avcodec_encode_audio2 failed while getting delayed frames"));
}

TEST(OpenEncoder, TracesReachTheHostOnlyWhenEnabled)
{
    Output on("out.flac", "flac", 0);
    ASSERT_EQ(on.open(Signal(S16, 44100, 0)), nullptr);
    const std::vector<std::string> &lines = on.recorder.messages;
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "ff_open_encoder begin");
    EXPECT_EQ(lines.back(), "ff_open_encoder end");
    for (const char *expected :
         {"ff_open_encoder found fmt flac",
          "find_encoder begin, avrec->codec_name=flac, avrec->codec_id=0",
          "sampleSize=2, c->frame_size=1152, avrec->audio_input_frame_size=1152, "
          "audio_input_buffer_size=4608"})
        EXPECT_TRUE(has_line(lines, expected)) << expected;
    // The header has reached the host's write function.
    ASSERT_GE(on.out.bytes.size(), 4u);
    EXPECT_EQ(std::string(on.out.bytes.begin(), on.out.bytes.begin() + 4), "fLaC");

    Output off("out.flac", "flac", 0);
    off.recorder.callbacks.message_enabled = 0;
    ASSERT_EQ(off.open(Signal(S16, 44100, 0)), nullptr);
    EXPECT_TRUE(off.recorder.messages.empty());
}

TEST(OpenEncoder, ZeroFilledAndNullRecordsDoNotCrash)
{
    EncodeRec rec{};
    EXPECT_STREQ(ff_open_encoder(&rec), "av_guess_format failed");
    EXPECT_EQ(rec.opened, 0);
    EXPECT_EQ(ff_encode_audio2(&rec, nullptr, nullptr, 0), FLATAV_ENCODE_FAILED);
    EXPECT_LT(ff_buff_size(&rec, 400), 0);
    ff_cleanup_encoder(&rec);

    EXPECT_NE(ff_open_encoder(nullptr), nullptr);
    EXPECT_EQ(ff_encode_audio2(nullptr, nullptr, nullptr, 0), FLATAV_ENCODE_FAILED);
    EXPECT_LT(ff_buff_size(nullptr, 400), 0);
    ff_cleanup_encoder(nullptr);

    // A record with a name but no write function: the bytes go nowhere.
    EncodeRec quiet{};
    quiet.codec_name = "flac";
    quiet.encode = 1;
    quiet.sample_fmt = quiet.requested_sample_fmt = S16;
    quiet.channels = 2;
    quiet.sample_rate = 44100;
    EXPECT_EQ(ff_open_encoder(&quiet), nullptr);
    EXPECT_EQ(ff_encode_audio2(&quiet, nullptr, nullptr, 0), 0);
    ff_cleanup_encoder(&quiet);
}

}  // namespace
