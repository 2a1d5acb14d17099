// Conversions through the resampler against a direct libswresample run with
// the same options and blocks, and against the ffmpeg tool's aresample.
#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/common.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include "convert_host.h"
#include "flatav.h"
#include "media.h"

namespace {

struct Side {
    AVSampleFormat format;
    int rate;
    uint64_t mask;

    int channels() const { return av_popcount64(mask); }
    int frame_bytes() const { return av_get_bytes_per_sample(format) * channels(); }
};

struct ResampleCase {
    const char *name;
    const char *input;  // raw packed file
    Side in, out;
    int dither_method;
    std::vector<double> matrix;  // empty: libswresample's own
    const char *aresample;       // the same options in aresample's words, if any
};

void PrintTo(const ResampleCase &c, std::ostream *os) { *os << c.name; }

constexpr uint64_t kStereo = AV_CH_LAYOUT_STEREO;
constexpr uint64_t kMono = AV_CH_LAYOUT_MONO;
constexpr uint64_t k51 = AV_CH_LAYOUT_5POINT1;
constexpr AVSampleFormat kS16 = AV_SAMPLE_FMT_S16, kFlt = AV_SAMPLE_FMT_FLT;

// Left takes front left, centre, LFE and back left; right the mirror. The
// tool has no way to take a matrix.
const std::vector<double> kDownmix = {0.5, 0.0, 0.3, 0.1, 0.2, 0.0,
                                      0.0, 0.5, 0.3, 0.1, 0.0, 0.2};

const ResampleCase kCases[] = {
    {"up_44k_48k", "res_44k_s16.raw", {kS16, 44100, kStereo}, {kS16, 48000, kStereo}, 0, {},
     "osr=48000"},
    {"down_48k_44k", "res_48k_s16.raw", {kS16, 48000, kStereo}, {kS16, 44100, kStereo}, 0,
     {}, "osr=44100"},
    {"down_96k_44k", "res_96k_s16.raw", {kS16, 96000, kStereo}, {kS16, 44100, kStereo}, 0,
     {}, "osr=44100"},
    {"s16_to_flt", "res_44k_s16.raw", {kS16, 44100, kStereo}, {kFlt, 44100, kStereo}, 0, {},
     "osf=flt"},
    {"flt_to_s16_dither", "res_44k_flt.raw", {kFlt, 44100, kStereo}, {kS16, 44100, kStereo},
     SWR_DITHER_TRIANGULAR, {}, "osf=s16:dither_method=triangular"},
    {"stereo_to_mono", "res_44k_s16.raw", {kS16, 44100, kStereo}, {kS16, 44100, kMono}, 0,
     {}, "ochl=mono"},
    {"surround_to_stereo", "res_48k_51_flt.raw", {kFlt, 48000, k51}, {kFlt, 48000, kStereo},
     0, {}, "ochl=stereo"},
    {"surround_to_stereo_matrix", "res_48k_51_flt.raw", {kFlt, 48000, k51},
     {kFlt, 48000, kStereo}, 0, kDownmix, nullptr},
    {"surround_48k_to_stereo_44k_s16", "res_48k_51_flt.raw", {kFlt, 48000, k51},
     {kS16, 44100, kStereo}, 0, {}, "osr=44100:osf=s16:ochl=stereo"},
    // One channel: a planar block is a packed one.
    {"planar_mono_44k_48k", "res_44k_mono_flt.raw", {AV_SAMPLE_FMT_FLTP, 44100, kMono},
     {AV_SAMPLE_FMT_S16P, 48000, kMono}, 0, {}, "osr=48000:osf=s16p"},
};

// The ffmpeg tool's raw demuxer hands aresample blocks of this many frames.
constexpr int kToolFrames = 1024;

// Input block sizes in sample frames: one size throughout, or (plan 0) a
// varying sequence from 1 to a few thousand frames.
std::vector<int> block_sizes(int plan, int total)
{
    static const int kVarying[] = {1, 2, 3, 7, 31, 64, 127, 255, 441, 480, 1000,
                                   1023, 1025, 2047, 3001, 4096, 5};
    std::vector<int> sizes;
    for (size_t i = 0; total > 0; total -= sizes.back(), i++)
        sizes.push_back(std::min(plan ? plan : kVarying[i % std::size(kVarying)], total));
    return sizes;
}

class ResampleTest : public testing::TestWithParam<std::tuple<ResampleCase, int>> {};

// Every block gives what libswresample, driven directly with the same
// options, gives with the room its own upper bound asks for, so the computed
// size is always enough; the drain gives the same tail. In the tool's blocks
// the output is also aresample's.
TEST_P(ResampleTest, MatchesLibswresampleAndAresample)
{
    const ResampleCase &c = std::get<0>(GetParam());
    const int plan = std::get<1>(GetParam());
    SCOPED_TRACE(std::string(c.name) + " blocks " + std::to_string(plan));
    const std::string path = flatav_test::media_path(c.input);
    const std::vector<uint8_t> input = flatav_test::read_file(path);
    ASSERT_FALSE(input.empty());
    const int total_frames = static_cast<int>(input.size()) / c.in.frame_bytes();
    const int out_frame = c.out.frame_bytes();

    SwrContext *swr = nullptr;
    AVChannelLayout in_layout{}, out_layout{};
    av_channel_layout_from_mask(&in_layout, c.in.mask);
    av_channel_layout_from_mask(&out_layout, c.out.mask);
    ASSERT_EQ(swr_alloc_set_opts2(&swr, &out_layout, c.out.format, c.out.rate, &in_layout,
                                  c.in.format, c.in.rate, 0, nullptr),
              0);
    std::unique_ptr<SwrContext, void (*)(SwrContext *)> swr_owner(
        swr, [](SwrContext *s) { swr_free(&s); });
    av_opt_set_int(swr, "dither_method", c.dither_method, 0);
    const double *matrix = c.matrix.empty() ? nullptr : c.matrix.data();
    if (matrix) {
        ASSERT_EQ(swr_set_matrix(swr, matrix, c.in.channels()), 0);
    }
    ASSERT_EQ(swr_init(swr), 0);

    ResampleRec rec{};
    rec.in_sample_fmt = c.in.format;
    rec.in_sample_rate = c.in.rate;
    rec.in_channels = c.in.channels();
    rec.in_channel_layout = c.in.mask;
    rec.out_sample_fmt = c.out.format;
    rec.out_sample_rate = c.out.rate;
    rec.out_channels = c.out.channels();
    rec.out_channel_layout = c.out.mask;
    rec.dither_method = c.dither_method;
    rec.free_buffer = 1;
    std::unique_ptr<ResampleRec, void (*)(ResampleRec *)> rec_owner(&rec, ff_cleanup_resample);
    ASSERT_EQ(ff_init_resample(&rec, matrix, c.in.channels()), 0);
    EXPECT_EQ(rec.in_bytes_per_sample, av_get_bytes_per_sample(c.in.format));
    EXPECT_EQ(rec.out_bytes_per_sample, av_get_bytes_per_sample(c.out.format));

    // The host's loop: size the buffer kept in the record and convert with
    // the computed capacity.
    std::vector<uint8_t> ours, direct;
    const std::vector<int> sizes = block_sizes(plan, total_frames);
    const uint8_t *in = input.data();
    for (size_t i = 0; i < sizes.size(); i++) {
        const int32_t in_bytes = sizes[i] * c.in.frame_bytes();
        const int32_t need = ff_buffer_size(&rec, in_bytes);
        ASSERT_EQ(ff_res_get_buffer(&rec, need), 0);
        int32_t capacity = 0;
        const int32_t got = ff_resample(&rec, in, in_bytes, rec.buffer, &capacity, 0);
        EXPECT_EQ(capacity * out_frame, need);

        const int room = swr_get_out_samples(swr, sizes[i]);
        std::vector<uint8_t> block(static_cast<size_t>(room) * out_frame);
        uint8_t *dst = block.data();
        const int n = swr_convert(swr, &dst, room, &in, sizes[i]);
        ASSERT_TRUE(n >= 0 && got == n * out_frame &&
                    std::equal(rec.buffer, rec.buffer + got, block.begin()))
            << "block " << i << ": " << got << " bytes, directly " << n * out_frame;
        ours.insert(ours.end(), rec.buffer, rec.buffer + got);
        in += in_bytes;
    }
    const size_t before_drain = ours.size();
    // The drain, with a capacity of the host's own.
    constexpr int32_t kDrainCapacity = 333;
    ASSERT_EQ(ff_res_get_buffer(&rec, kDrainCapacity * out_frame), 0);
    for (int32_t got = 1, capacity; got > 0;) {
        capacity = kDrainCapacity;
        got = ff_resample(&rec, nullptr, 0, rec.buffer, &capacity, 1);
        EXPECT_EQ(capacity, kDrainCapacity);
        ours.insert(ours.end(), rec.buffer, rec.buffer + std::max(got, 0));
    }
    std::vector<uint8_t> tail(65536 * static_cast<size_t>(out_frame));
    uint8_t *dst = tail.data();
    for (int n; (n = swr_convert(swr, &dst, 65536, nullptr, 0)) > 0;)
        direct.insert(direct.end(), tail.begin(), tail.begin() + n * out_frame);
    EXPECT_TRUE(std::equal(ours.begin() + before_drain, ours.end(), direct.begin(), direct.end()))
        << "drain: " << ours.size() - before_drain << " bytes, directly " << direct.size();

    // As many output samples as the rate ratio asks.
    EXPECT_NEAR(static_cast<double>(ours.size()) / out_frame,
                static_cast<double>(total_frames) * c.out.rate / c.in.rate, 1.0);

    if (plan == kToolFrames && c.aresample) {
        const std::vector<uint8_t> tool =
            flatav_test::ffmpeg_raw(path, c.in.format, c.in.rate, c.in.mask,
                                    std::string("aresample=") + c.aresample, c.out.format);
        ASSERT_FALSE(tool.empty());
        EXPECT_EQ(ours.size(), tool.size());
        EXPECT_TRUE(ours == tool);
    }
}

INSTANTIATE_TEST_SUITE_P(Conversions, ResampleTest,
                         testing::Combine(testing::ValuesIn(kCases),
                                          testing::Values(1000, kToolFrames, 4410, 0)),
                         [](const auto &info) {
                             const int plan = std::get<1>(info.param);
                             return std::string(std::get<0>(info.param).name) + "_blocks_" +
                                    (plan ? std::to_string(plan) : "varying");
                         });

}  // namespace
