// Conversions through the resampler against a direct libswresample run with
// the same options and blocks, and against the ffmpeg tool's aresample.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include "ffmpeg_raw.h"
#include "flatav.h"
#include "media.h"

namespace {

using flatav_test::media_path;

struct Side {
    AVSampleFormat format;
    int rate;
    uint64_t mask;
    int channels;
};

struct ResampleCase {
    const char *name;
    const char *input;
    Side in, out;
    int dither_method;
    std::vector<double> matrix;  // empty: libswresample's own
    int stride;
};

constexpr uint64_t kStereo = AV_CH_LAYOUT_STEREO;
constexpr uint64_t kMono = AV_CH_LAYOUT_MONO;
constexpr uint64_t k51 = AV_CH_LAYOUT_5POINT1;

// Left takes front left, centre, LFE and back left; right the mirror.
const std::vector<double> kDownmix = {0.5, 0.0, 0.3, 0.1, 0.2, 0.0,
                                      0.0, 0.5, 0.3, 0.1, 0.0, 0.2};

const ResampleCase kCases[] = {
    {"up_44k_48k", "res_44k_s16.raw", {AV_SAMPLE_FMT_S16, 44100, kStereo, 2},
     {AV_SAMPLE_FMT_S16, 48000, kStereo, 2}, 0, {}, 0},
    {"down_48k_44k", "res_48k_s16.raw", {AV_SAMPLE_FMT_S16, 48000, kStereo, 2},
     {AV_SAMPLE_FMT_S16, 44100, kStereo, 2}, 0, {}, 0},
    {"down_96k_44k", "res_96k_s16.raw", {AV_SAMPLE_FMT_S16, 96000, kStereo, 2},
     {AV_SAMPLE_FMT_S16, 44100, kStereo, 2}, 0, {}, 0},
    {"s16_to_flt", "res_44k_s16.raw", {AV_SAMPLE_FMT_S16, 44100, kStereo, 2},
     {AV_SAMPLE_FMT_FLT, 44100, kStereo, 2}, 0, {}, 0},
    {"flt_to_s16_dither", "res_44k_flt.raw", {AV_SAMPLE_FMT_FLT, 44100, kStereo, 2},
     {AV_SAMPLE_FMT_S16, 44100, kStereo, 2}, SWR_DITHER_TRIANGULAR, {}, 0},
    {"stereo_to_mono", "res_44k_s16.raw", {AV_SAMPLE_FMT_S16, 44100, kStereo, 2},
     {AV_SAMPLE_FMT_S16, 44100, kMono, 1}, 0, {}, 0},
    {"surround_to_stereo", "res_48k_51_flt.raw", {AV_SAMPLE_FMT_FLT, 48000, k51, 6},
     {AV_SAMPLE_FMT_FLT, 48000, kStereo, 2}, 0, {}, 0},
    {"surround_to_stereo_matrix", "res_48k_51_flt.raw",
     {AV_SAMPLE_FMT_FLT, 48000, k51, 6}, {AV_SAMPLE_FMT_FLT, 48000, kStereo, 2}, 0,
     kDownmix, 6},
    {"surround_48k_to_stereo_44k_s16", "res_48k_51_flt.raw",
     {AV_SAMPLE_FMT_FLT, 48000, k51, 6}, {AV_SAMPLE_FMT_S16, 44100, kStereo, 2}, 0,
     {}, 0},
    // One channel: a planar block is a packed one.
    {"planar_mono_44k_48k", "res_44k_mono_flt.raw", {AV_SAMPLE_FMT_FLTP, 44100, kMono, 1},
     {AV_SAMPLE_FMT_S16P, 48000, kMono, 1}, 0, {}, 0},
};

void PrintTo(const ResampleCase &c, std::ostream *os) { *os << c.name; }

// Input block sizes in sample frames: one size throughout, or a varying
// sequence (0 as size).
struct BlockPlan {
    const char *name;
    int frames;
};
void PrintTo(const BlockPlan &p, std::ostream *os) { *os << p.name; }

const BlockPlan kPlans[] = {{"blocks_1000", 1000}, {"blocks_1024", 1024},
                            {"blocks_4410", 4410}, {"blocks_varying", 0}};

int frame_bytes(const Side &side)
{
    return av_get_bytes_per_sample(side.format) * side.channels;
}

// The block sizes that cover `total` frames under a plan; the varying plan
// walks through sizes from 1 to a few thousand frames.
std::vector<int> block_sizes(const BlockPlan &plan, int total)
{
    static const int kVarying[] = {1, 2, 3, 7, 31, 64, 127, 255, 441, 480, 1000,
                                   1023, 1025, 2047, 3001, 4096, 5};
    std::vector<int> sizes;
    for (size_t i = 0; total > 0; i++) {
        int n = plan.frames ? plan.frames : kVarying[i % std::size(kVarying)];
        n = std::min(n, total);
        sizes.push_back(n);
        total -= n;
    }
    return sizes;
}

struct Output {
    std::vector<std::vector<uint8_t>> blocks;  // one per input block
    std::vector<uint8_t> all;                  // blocks and drain together
};

// libswresample driven directly with the same options, the output room
// taken from its own upper bound.
Output direct_run(const ResampleCase &c, const std::vector<uint8_t> &input,
                  const std::vector<int> &sizes)
{
    Output result;
    SwrContext *swr = swr_alloc();
    AVChannelLayout in_layout{}, out_layout{};
    av_channel_layout_from_mask(&in_layout, c.in.mask);
    av_channel_layout_from_mask(&out_layout, c.out.mask);
    av_opt_set_chlayout(swr, "in_chlayout", &in_layout, 0);
    av_opt_set_int(swr, "in_sample_rate", c.in.rate, 0);
    av_opt_set_sample_fmt(swr, "in_sample_fmt", c.in.format, 0);
    av_opt_set_chlayout(swr, "out_chlayout", &out_layout, 0);
    av_opt_set_int(swr, "out_sample_rate", c.out.rate, 0);
    av_opt_set_sample_fmt(swr, "out_sample_fmt", c.out.format, 0);
    if (c.dither_method)
        av_opt_set_int(swr, "dither_method", c.dither_method, 0);
    if (!c.matrix.empty()) {
        EXPECT_EQ(swr_set_matrix(swr, c.matrix.data(), c.stride), 0);
    }
    EXPECT_EQ(swr_init(swr), 0);

    const int in_frame = frame_bytes(c.in), out_frame = frame_bytes(c.out);
    const uint8_t *in = input.data();
    for (int frames : sizes) {
        const int room = swr_get_out_samples(swr, frames);
        std::vector<uint8_t> block(static_cast<size_t>(room) * out_frame);
        uint8_t *out = block.data();
        const int n = swr_convert(swr, &out, room, &in, frames);
        EXPECT_GE(n, 0);
        block.resize(static_cast<size_t>(std::max(n, 0)) * out_frame);
        result.all.insert(result.all.end(), block.begin(), block.end());
        result.blocks.push_back(std::move(block));
        in += static_cast<size_t>(frames) * in_frame;
    }
    std::vector<uint8_t> tail(65536 * static_cast<size_t>(out_frame));
    uint8_t *out = tail.data();
    int n;
    while ((n = swr_convert(swr, &out, 65536, nullptr, 0)) > 0)
        result.all.insert(result.all.end(), tail.begin(), tail.begin() + n * out_frame);
    swr_free(&swr);
    av_channel_layout_uninit(&in_layout);
    av_channel_layout_uninit(&out_layout);
    return result;
}

void fill_record(ResampleRec &rec, const ResampleCase &c)
{
    rec.in_sample_fmt = c.in.format;
    rec.in_sample_rate = c.in.rate;
    rec.in_channels = c.in.channels;
    rec.in_channel_layout = c.in.mask;
    rec.out_sample_fmt = c.out.format;
    rec.out_sample_rate = c.out.rate;
    rec.out_channels = c.out.channels;
    rec.out_channel_layout = c.out.mask;
    rec.dither_method = c.dither_method;
}

// The host's loop: size the buffer kept in the record, convert with the
// computed capacity, then drain with a capacity of its own.
Output flatav_run(const ResampleCase &c, const std::vector<uint8_t> &input,
                  const std::vector<int> &sizes)
{
    Output result;
    ResampleRec rec{};
    fill_record(rec, c);
    const int32_t init =
        ff_init_resample(&rec, c.matrix.empty() ? nullptr : c.matrix.data(), c.stride);
    EXPECT_EQ(init, 0);
    if (init != 0)
        return result;
    EXPECT_EQ(rec.in_bytes_per_sample, av_get_bytes_per_sample(c.in.format));
    EXPECT_EQ(rec.out_bytes_per_sample, av_get_bytes_per_sample(c.out.format));

    const int in_frame = frame_bytes(c.in), out_frame = frame_bytes(c.out);
    const uint8_t *in = input.data();
    for (int frames : sizes) {
        const int32_t in_bytes = frames * in_frame;
        const int32_t need = ff_buffer_size(&rec, in_bytes);
        EXPECT_EQ(ff_res_get_buffer(&rec, need), 0);
        int32_t capacity = 0;
        const int32_t got = ff_resample(&rec, in, in_bytes, rec.buffer, &capacity, 0);
        EXPECT_EQ(capacity * out_frame, need);
        EXPECT_LE(got, need);
        std::vector<uint8_t> block(rec.buffer, rec.buffer + std::max(got, 0));
        result.all.insert(result.all.end(), block.begin(), block.end());
        result.blocks.push_back(std::move(block));
        in += in_bytes;
    }
    constexpr int32_t kDrainCapacity = 333;
    EXPECT_EQ(ff_res_get_buffer(&rec, kDrainCapacity * out_frame), 0);
    int32_t got;
    do {
        int32_t capacity = kDrainCapacity;
        got = ff_resample(&rec, nullptr, 0, rec.buffer, &capacity, 1);
        EXPECT_EQ(capacity, kDrainCapacity);
        result.all.insert(result.all.end(), rec.buffer, rec.buffer + std::max(got, 0));
    } while (got > 0);
    rec.free_buffer = 1;
    ff_cleanup_resample(&rec);
    EXPECT_EQ(rec.swr, nullptr);
    EXPECT_EQ(rec.buffer, nullptr);
    return result;
}

class ResampleTest
    : public testing::TestWithParam<std::tuple<ResampleCase, BlockPlan>> {};

// Every block gives what libswresample gives with unlimited room, so the
// computed size is always enough; the drain gives the same tail.
TEST_P(ResampleTest, MatchesLibswresampleBlockByBlock)
{
    const ResampleCase &c = std::get<0>(GetParam());
    const BlockPlan &plan = std::get<1>(GetParam());
    SCOPED_TRACE(std::string(c.name) + " " + plan.name);
    const std::vector<uint8_t> input = flatav_test::read_file(media_path(c.input));
    ASSERT_FALSE(input.empty());
    const int total_frames = static_cast<int>(input.size()) / frame_bytes(c.in);
    const std::vector<int> sizes = block_sizes(plan, total_frames);

    const Output direct = direct_run(c, input, sizes);
    const Output flatav = flatav_run(c, input, sizes);
    ASSERT_EQ(flatav.blocks.size(), direct.blocks.size());
    for (size_t i = 0; i < sizes.size(); i++)
        ASSERT_EQ(flatav.blocks[i], direct.blocks[i]) << "block " << i;
    EXPECT_EQ(flatav.all, direct.all);

    // As many output samples as the rate ratio asks.
    const double expected = static_cast<double>(total_frames) * c.out.rate / c.in.rate;
    const double produced = static_cast<double>(flatav.all.size()) / frame_bytes(c.out);
    EXPECT_NEAR(produced, expected, 1.0);
}

INSTANTIATE_TEST_SUITE_P(Conversions, ResampleTest,
                         testing::Combine(testing::ValuesIn(kCases),
                                          testing::ValuesIn(kPlans)),
                         [](const auto &info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::get<1>(info.param).name;
                         });

// The same conversions through the ffmpeg tool: its raw demuxer hands
// aresample blocks of 1024 frames, and so does the host here.
struct ToolCase {
    const char *name;
    const char *aresample;  // the same options in aresample's words
    const char *in_raw, *out_raw, *in_layout;
};

const ToolCase kToolCases[] = {
    {"up_44k_48k", "osr=48000", "s16le", "s16le", "stereo"},
    {"down_48k_44k", "osr=44100", "s16le", "s16le", "stereo"},
    {"down_96k_44k", "osr=44100", "s16le", "s16le", "stereo"},
    {"s16_to_flt", "osf=flt", "s16le", "f32le", "stereo"},
    {"flt_to_s16_dither", "osf=s16:dither_method=triangular", "f32le", "s16le", "stereo"},
    {"stereo_to_mono", "ochl=mono", "s16le", "s16le", "stereo"},
    {"surround_to_stereo", "ochl=stereo", "f32le", "f32le", "5.1"},
    {"surround_48k_to_stereo_44k_s16", "osr=44100:osf=s16:ochl=stereo", "f32le",
     "s16le", "5.1"},
    {"planar_mono_44k_48k", "osr=48000:osf=s16p", "f32le", "s16le", "mono"},
};

void PrintTo(const ToolCase &t, std::ostream *os) { *os << t.name; }

class ResampleToolTest : public testing::TestWithParam<ToolCase> {};

TEST_P(ResampleToolTest, MatchesAresample)
{
    const ToolCase &t = GetParam();
    SCOPED_TRACE(t.name);
    const ResampleCase *c = nullptr;
    for (const ResampleCase &candidate : kCases)
        if (std::strcmp(candidate.name, t.name) == 0)
            c = &candidate;
    ASSERT_NE(c, nullptr);
    const std::string path = media_path(c->input);
    const std::vector<uint8_t> input = flatav_test::read_file(path);
    const std::vector<int> sizes =
        block_sizes(kPlans[1], static_cast<int>(input.size()) / frame_bytes(c->in));

    const std::vector<uint8_t> tool = flatav_test::ffmpeg_raw(
        path, {t.in_raw, c->in.rate, t.in_layout},
        std::string("aresample=") + t.aresample, t.out_raw);
    ASSERT_FALSE(tool.empty());
    EXPECT_TRUE(flatav_run(*c, input, sizes).all == tool);
}

INSTANTIATE_TEST_SUITE_P(Tool, ResampleToolTest, testing::ValuesIn(kToolCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
