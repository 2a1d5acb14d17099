// Encoding calls and the drain: whole sample frames, planes, the channel
// layout, timestamps in the stream's time base, and what calls outside the
// normal order do.
#include <sstream>
#include <string>

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

// A stereo 16-bit WAV output, which takes blocks of any length.
struct WavOutput : Output {
    WavOutput() : Output("out.wav", nullptr, AV_CODEC_ID_PCM_S16LE)
    {
        EXPECT_EQ(open(Signal(AV_SAMPLE_FMT_S16, 44100, 0)), nullptr);
    }
};

TEST(EncodeCall, WholeSampleFramesOnly)
{
    WavOutput output;
    std::vector<uint8_t> block(4 * 100 + 3);
    EXPECT_EQ(ff_encode_audio2(&output.rec, block.data(), nullptr, 403), 400);
    EXPECT_EQ(output.rec.next_pts, 100);
    EXPECT_EQ(ff_encode_audio2(&output.rec, block.data(), nullptr, 3), FLATAV_ENCODE_FAILED);
    EXPECT_TRUE(output.recorder.has_error_containing(
        "avcodec_fill_audio_frame failed with code -22, for nb_samples=0, buf_size=3"));
}

// A channel mask reaches the encoder, which refuses one that does not fit the
// count; the first call replaces it with the count's default layout.
TEST(EncodeCall, ChannelMaskIsCheckedThenReplacedByTheDefault)
{
    Output surround("out.flac", "flac", 0);
    surround.rec.channel_layout = AV_CH_LAYOUT_5POINT1;
    EXPECT_STREQ(surround.open(Signal(AV_SAMPLE_FMT_S16, 44100, 0)), "could not open codec");

    Output output("out.wav", "pcm_s16le", 0);
    output.rec.channel_layout = AV_CH_LAYOUT_STEREO_DOWNMIX;
    ASSERT_EQ(output.open(Signal(AV_SAMPLE_FMT_S16, 44100, 0)), nullptr);
    const AVChannelLayout &layout = output.rec.av_codec_context->ch_layout;
    EXPECT_EQ(layout.u.mask, (uint64_t)AV_CH_LAYOUT_STEREO_DOWNMIX);
    std::vector<uint8_t> block(400);
    EXPECT_EQ(ff_encode_audio2(&output.rec, block.data(), nullptr, 400), 400);
    EXPECT_EQ(layout.u.mask, (uint64_t)AV_CH_LAYOUT_STEREO);
}

TEST(EncodeCall, PlanarInputNeedsItsPlanes)
{
    Output output("out.m4a", "aac", 0);
    ASSERT_EQ(output.open(Signal(AV_SAMPLE_FMT_FLTP, 44100, 0)), nullptr);
    std::vector<uint8_t> plane(1024 * 4);
    uint8_t *missing[2] = {plane.data(), nullptr};
    EXPECT_EQ(ff_encode_audio2(&output.rec, plane.data(), nullptr, 8192), AVERROR(EINVAL));
    EXPECT_EQ(ff_encode_audio2(&output.rec, plane.data(), missing, 8192), AVERROR(EINVAL));
    EXPECT_TRUE(output.recorder.has_error_containing("[1] avcodec_encode_audio2 failed"));
    // Planes given, buf's bytes are not read.
    uint8_t *planes[2] = {plane.data(), plane.data()};
    uint8_t unread = 0;
    EXPECT_EQ(ff_encode_audio2(&output.rec, &unread, planes, 8192), 0);
}

TEST(EncodeCall, AfterTheDrainTheEncoderIsAtItsEnd)
{
    const Signal signal(AV_SAMPLE_FMT_S16, 44100, 1152 * 4);
    Output output("out.mp2", "mp2", 0);
    ASSERT_EQ(output.open(signal), nullptr);
    ASSERT_TRUE(output.encode(signal));
    const size_t size = output.out.bytes.size();
    const int32_t bytes = output.rec.audio_input_buffer_size;

    EXPECT_EQ(ff_encode_audio2(&output.rec, signal.data.data(), nullptr, bytes), AVERROR_EOF);
    EXPECT_TRUE(output.recorder.has_error_containing(
        "[1] avcodec_encode_audio2 failed : End of file, buf_size=4608 -541478725"));
    // A second drain writes no second trailer.
    EXPECT_EQ(ff_encode_audio2(&output.rec, nullptr, nullptr, 0), FLATAV_ENCODE_FAILED);
    EXPECT_EQ(output.out.bytes.size(), size);

    ff_cleanup_encoder(&output.rec);
    EXPECT_EQ(output.rec.av_format_context, nullptr);
    EXPECT_EQ(output.rec.av_codec_context, nullptr);
    EXPECT_EQ(output.rec.frame, nullptr);
    // Cleaned up once more by the Output: nothing is left to release.
}

TEST(EncodeCall, HostWriteFailureIsReported)
{
    const Signal signal(AV_SAMPLE_FMT_S16, 44100, 44100);
    Output output("out.mp2", "mp2", 0);
    output.out.fail_after = 10000;
    ASSERT_EQ(output.open(signal), nullptr);
    EXPECT_FALSE(output.encode(signal));
    EXPECT_EQ(output.results.back(), FLATAV_ENCODE_FAILED);
    EXPECT_TRUE(output.recorder.has_error_containing("av_write_frame failed -5"));
}

// Containers whose time base is not the sample rate's (MPEG-TS counts in
// 1/90000 s, Matroska in ms): every packet, of the encode calls and of the
// drain, is converted into it.
TEST(Encode, PacketsAreInTheStreamTimeBase)
{
    const int64_t samples = 1152 * 20;
    const Signal signal(AV_SAMPLE_FMT_FLTP, 44100, samples);
    for (const char *name : {"out.ts", "out.mka"}) {
        SCOPED_TRACE(name);
        Output output(name, "aac", 0);
        ASSERT_EQ(output.open(signal), nullptr);
        ASSERT_TRUE(output.encode(signal));
        EXPECT_EQ(output.results.back(), 0) << "the drain wrote the trailer";
        const AVRational tb = output.rec.audio_st->time_base;
        ASSERT_NE(tb.den, 44100);

        int status = 0;
        const std::vector<uint8_t> out = run_capture(
            "ffprobe -v error -select_streams a:0 -show_entries packet=pts -of csv=p=0 " +
                shell_quote(output.saved()),
            &status);
        ASSERT_EQ(status, 0);
        std::vector<int64_t> pts;
        std::istringstream lines(std::string(out.begin(), out.end()));
        for (std::string line; std::getline(lines, line);)
            if (!line.empty())
                pts.push_back(std::atoll(line.c_str()));
        // AAC gives a packet per 1024 samples, one of them the priming frame.
        ASSERT_EQ(pts.size(), (size_t)((samples + 1023) / 1024 + 1));
        const double step = 1024.0 * tb.den / (44100.0 * tb.num);
        for (size_t i = 1; i < pts.size(); i++)
            EXPECT_NEAR(pts[i] - pts[i - 1], step, 1) << "packet " << i;
        EXPECT_NEAR(ffprobe_duration(output.saved()), (double)samples / 44100,
                    2 * 1024.0 / 44100);
    }
}

TEST(BuffSize, WholeSampleFramesRoundedUpToThirtyTwo)
{
    WavOutput s16;
    EXPECT_EQ(ff_buff_size(&s16.rec, 400), 512);  // 100 frames -> 128
    EXPECT_EQ(ff_buff_size(&s16.rec, 128 * 4), 512);
    EXPECT_EQ(ff_buff_size(&s16.rec, 129 * 4), 160 * 4);
    EXPECT_EQ(ff_buff_size(&s16.rec, 3), AVERROR(EINVAL));  // no whole frame

    Output s32("out.wav", "pcm_s24le", 0);
    ASSERT_EQ(s32.open(Signal(AV_SAMPLE_FMT_S32, 48000, 0), 1), nullptr);
    EXPECT_EQ(ff_buff_size(&s32.rec, 400), 128 * 4);  // mono 32-bit: 100 -> 128
}

}  // namespace
