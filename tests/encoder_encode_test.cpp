// Encoding calls and the drain: one packet per call, the encoder's delay,
// the drain's delayed packets and trailer, and what calls outside the normal
// order do.
#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

#include "encode_host.h"
#include "media.h"

using namespace flatav_test;

namespace {

struct PacketCase {
    const char *encoder;
    Pcm pcm;
    bool first_call_keeps_frame;  // the encoder has a delay before its first packet
};

void PrintTo(const PacketCase &c, std::ostream *os) { *os << c.encoder; }

std::vector<std::string> packet_lines(const std::string &framecrc)
{
    std::vector<std::string> lines;
    std::istringstream in(framecrc);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty() && line[0] != '#')
            lines.push_back(line);
    return lines;
}

// The size field of a framecrc packet line "index, dts, pts, duration, size, crc".
int packet_size(const std::string &line)
{
    std::istringstream in(line);
    std::string field;
    for (int i = 0; i < 5; i++)
        std::getline(in, field, ',');
    return std::atoi(field.c_str());
}

class Packets : public testing::TestWithParam<PacketCase> {};

// The framecrc muxer lists every packet with its timestamps, size and CRC;
// its stream time base is the encoder's, as in the ffmpeg tool.
TEST_P(Packets, EveryPacketAsTheFfmpegToolMakesIt)
{
    const PacketCase &c = GetParam();
    const Signal signal(c.pcm, 44100, 44100 * 2 + 321);
    Output output("out.txt", "framecrc", 0);
    output.codec_name = "framecrc";
    output.rec.codec_id = avcodec_find_encoder_by_name(c.encoder)->id;
    output.rec.bit_rate = 128000;
    ASSERT_EQ(output.open(signal), nullptr);
    ASSERT_STREQ(output.rec.av_codec_context->codec->name, c.encoder);
    ASSERT_TRUE(output.encode(signal)) << testing::PrintToString(output.recorder.errors);
    const std::vector<std::string> ours =
        packet_lines(std::string(output.out.bytes.begin(), output.out.bytes.end()));

    ScratchFile raw("input.raw");
    raw.write(signal.interleaved());
    int status = 0;
    const std::vector<uint8_t> tool = run_capture(
        "ffmpeg -nostdin -v error -f " + std::string(signal.raw_format()) +
            " -ar 44100 -ac 2 -i " + shell_quote(raw.path) + " -c:a " + c.encoder +
            " -b:a 128k -compression_level 0 -sample_fmt " +
            av_get_sample_fmt_name((AVSampleFormat)signal.sample_fmt()) + " -f framecrc -",
        &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(ours, packet_lines(std::string(tool.begin(), tool.end())));

    // Each call wrote at most one packet and returned its size, in order;
    // an encoder with a delay keeps its first frames (result 0).
    EXPECT_EQ(output.results.front() == 0, c.first_call_keeps_frame);
    size_t packet = 0;
    for (size_t i = 0; i + 1 < output.results.size(); i++) {
        if (output.results[i] == 0)
            continue;
        ASSERT_LT(packet, ours.size());
        EXPECT_EQ(output.results[i], packet_size(ours[packet++])) << "call " << i;
    }
    // An encoder with a delay leaves packets to the drain.
    if (c.first_call_keeps_frame) {
        EXPECT_LT(packet, ours.size());
    }
}

const PacketCase kPacketCases[] = {
    {"mp2", Pcm::s16, false},
    {"aac", Pcm::fltp, true},
    {"libmp3lame", Pcm::s16p, true},
    {"flac", Pcm::s16, false},
    {"libvorbis", Pcm::fltp, true},
};

INSTANTIATE_TEST_SUITE_P(Encoders, Packets, testing::ValuesIn(kPacketCases),
                         [](const testing::TestParamInfo<PacketCase> &info) {
                             return std::string(info.param.encoder);
                         });

// A stereo 16-bit WAV output, which takes blocks of any length.
struct WavOutput : Output {
    WavOutput() : Output("out.wav", nullptr, AV_CODEC_ID_PCM_S16LE)
    {
        EXPECT_EQ(open(Signal(Pcm::s16, 44100, 0)), nullptr);
    }
};

TEST(EncodeCall, WholeSampleFramesOnly)
{
    WavOutput output;
    std::vector<uint8_t> block(4 * 100 + 3);
    EXPECT_EQ(ff_encode_audio2(&output.rec, block.data(), nullptr, 403), 400);
    EXPECT_EQ(output.rec.next_pts, 100);
    EXPECT_EQ(ff_encode_audio2(&output.rec, block.data(), nullptr, 3), -1);
    EXPECT_TRUE(output.recorder.has_error_containing(
        "avcodec_fill_audio_frame failed with code -22, for nb_samples=0, buf_size=3"));
}

TEST(EncodeCall, BlockOfBufferSizeIsOneFrame)
{
    const Signal signal(Pcm::s16, 44100, 1152 * 3);
    Output output("out.mp2", "mp2", 0);
    ASSERT_EQ(output.open(signal), nullptr);
    const int32_t bytes = output.rec.audio_input_buffer_size;
    EXPECT_GT(ff_encode_audio2(&output.rec, signal.bytes().data(), nullptr, bytes), 0);
    EXPECT_EQ(output.rec.next_pts, output.rec.audio_input_frame_size);
    EXPECT_EQ(output.rec.frame->nb_samples, output.rec.audio_input_frame_size);
}

TEST(EncodeCall, DefaultLayoutReplacesTheMaskOnTheFirstCall)
{
    Output output("out.wav", "pcm_s16le", 0);
    output.rec.channel_layout = AV_CH_LAYOUT_STEREO_DOWNMIX;
    ASSERT_EQ(output.open(Signal(Pcm::s16, 44100, 0)), nullptr);
    const AVChannelLayout &layout = output.rec.av_codec_context->ch_layout;
    EXPECT_EQ(layout.u.mask, (uint64_t)AV_CH_LAYOUT_STEREO_DOWNMIX);
    std::vector<uint8_t> block(400);
    EXPECT_EQ(ff_encode_audio2(&output.rec, block.data(), nullptr, 400), 400);
    EXPECT_EQ(layout.u.mask, (uint64_t)AV_CH_LAYOUT_STEREO);
}

TEST(EncodeCall, PlanarInputNeedsItsPlanes)
{
    Output output("out.m4a", "aac", 0);
    ASSERT_EQ(output.open(Signal(Pcm::fltp, 44100, 0)), nullptr);
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
    const Signal signal(Pcm::s16, 44100, 1152 * 4);
    Output output("out.mp2", "mp2", 0);
    ASSERT_EQ(output.open(signal), nullptr);
    ASSERT_TRUE(output.encode(signal));
    const size_t size = output.out.bytes.size();
    const int32_t bytes = output.rec.audio_input_buffer_size;

    EXPECT_EQ(ff_encode_audio2(&output.rec, signal.bytes().data(), nullptr, bytes),
              AVERROR_EOF);
    EXPECT_TRUE(output.recorder.has_error_containing(
        "[1] avcodec_encode_audio2 failed : End of file, buf_size=4608 -541478725"));
    // A second drain writes no second trailer.
    EXPECT_EQ(ff_encode_audio2(&output.rec, nullptr, nullptr, 0), -1);
    EXPECT_EQ(output.out.bytes.size(), size);

    ff_cleanup_encoder(&output.rec);
    EXPECT_EQ(output.rec.av_format_context, nullptr);
    EXPECT_EQ(output.rec.av_codec_context, nullptr);
    EXPECT_EQ(output.rec.frame, nullptr);
    // Cleaned up once more by the Output: nothing is left to release.
}

TEST(EncodeCall, HostWriteFailureIsReported)
{
    const Signal signal(Pcm::s16, 44100, 44100);
    Output output("out.mp2", "mp2", 0);
    output.out.fail_after = 10000;
    ASSERT_EQ(output.open(signal), nullptr);
    EXPECT_FALSE(output.encode(signal));
    EXPECT_EQ(output.results.back(), -1);
    EXPECT_TRUE(output.recorder.has_error_containing("av_write_frame failed -5"));
}

// Drained packets are rescaled from the encoder's time base to the
// stream's; packets of encode calls keep the encoder's. MPEG-TS counts in
// 1/90000 s, so the drained packets stand at their true time while the
// others count 44100ths as 90000ths.
TEST(Encode, PacketsAreInTheStreamTimeBase)
{
    // Containers whose time base is not the sample rate's: every packet, of
    // the encode calls and of the drain, is converted into it.
    const int64_t samples = 1152 * 20;
    const Signal signal(Pcm::fltp, 44100, samples);
    for (const char *name : {"out.ts", "out.mka"}) {
        SCOPED_TRACE(name);
        Output output(name, "aac", 0);
        ASSERT_EQ(output.open(signal), nullptr);
        ASSERT_TRUE(output.encode(signal));
        EXPECT_EQ(output.results.back(), 0) << "the drain wrote the trailer";
        const AVRational tb = output.rec.audio_st->time_base;
        ASSERT_NE(tb.den, 44100);

        int status = 0;
        std::vector<uint8_t> out = run_capture(
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
    ASSERT_EQ(s32.open(Signal(Pcm::s32_24bit, 48000, 0), 1), nullptr);
    EXPECT_EQ(ff_buff_size(&s32.rec, 400), 128 * 4);  // mono 32-bit: 100 -> 128
}

}  // namespace
