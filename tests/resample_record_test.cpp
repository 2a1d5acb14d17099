// The resampler record: set-up rules, the matrix, the sample count rule, the
// buffer kept in the record, clean-up, the allocator pair, and bad input.
#include <dlfcn.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "flatav.h"
#include "test_host.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// libswresample accepts every matrix given to a fresh context, so a refusal
// is staged here: while g_refuse_matrix is non-zero, calls from this program
// (the library's objects included) get it as their result.
namespace {
int g_refuse_matrix = 0;
}

extern "C" int swr_set_matrix(struct SwrContext *s, const double *matrix, int stride)
{
    using Fn = int (*)(struct SwrContext *, const double *, int);
    static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "swr_set_matrix"));
    return g_refuse_matrix ? g_refuse_matrix : real(s, matrix, stride);
}

namespace {

const double kIdentity[] = {1, 0, 0, 1};
constexpr uint64_t kStereo = AV_CH_LAYOUT_STEREO;

// Stereo s16 at 32 kHz to stereo s16 at out_rate (by default 3/2 times the
// input rate), cleaned up with its buffer at the end of the test.
struct Rec : ResampleRec {
    explicit Rec(int out_rate = 48000) : ResampleRec{}
    {
        in_sample_fmt = out_sample_fmt = AV_SAMPLE_FMT_S16;
        in_sample_rate = 32000;
        out_sample_rate = out_rate;
        in_channels = out_channels = 2;
        in_channel_layout = out_channel_layout = kStereo;
    }
    ~Rec()
    {
        free_buffer = 1;
        ff_cleanup_resample(this);
    }
};

// Which record fields reach libswresample, read back from its context. The
// input is stereo throughout.
struct OptionCase {
    const char *name;
    void (*fill)(ResampleRec &);
    int64_t engine;    // "resampler"
    double precision;  // "precision"
    int64_t dither;    // "dither_method"
    uint64_t out_mask;
    int64_t counts;    // "in_channel_count" and "out_channel_count"
};

void PrintTo(const OptionCase &c, std::ostream *os) { *os << c.name; }

const OptionCase kOptionCases[] = {
    {"unset_fields_keep_defaults", [](ResampleRec &) {}, SWR_ENGINE_SWR, 20, 0, kStereo, 0},
    // User channel counts that agree with the record do not stop the set-up.
    {"engine_precision_dither_user_counts",
     [](ResampleRec &r) {
         std::strcpy(r.resampler_name, "soxr");
         r.precision = 28.0;
         r.dither_method = SWR_DITHER_TRIANGULAR;
         r.user_in_ch_count = r.user_out_ch_count = 2;
     },
     SWR_ENGINE_SOXR, 28, SWR_DITHER_TRIANGULAR, kStereo, 2},
    // A name that fills its field is read no further.
    {"unterminated_name_zero_masks",
     [](ResampleRec &r) {
         std::memset(r.resampler_name, 'x', sizeof r.resampler_name);
         r.in_channel_layout = r.out_channel_layout = 0;
         r.out_channels = 1;
     },
     SWR_ENGINE_SWR, 20, 0, AV_CH_LAYOUT_MONO, 0},
};

class ResampleOptions : public testing::TestWithParam<OptionCase> {};

TEST_P(ResampleOptions, ReachTheConverter)
{
    const OptionCase &c = GetParam();
    SCOPED_TRACE(c.name);
    Rec rec;
    c.fill(rec);
    ASSERT_EQ(ff_init_resample(&rec, nullptr, 0), 0);
    int64_t engine = -1, dither = -1;
    double precision = 0;
    AVChannelLayout in{}, out{};
    // A value that cannot be read back keeps its start value, which no case
    // expects.
    av_opt_get_int(rec.swr, "resampler", 0, &engine);
    av_opt_get_double(rec.swr, "precision", 0, &precision);
    av_opt_get_int(rec.swr, "dither_method", 0, &dither);
    av_opt_get_chlayout(rec.swr, "in_chlayout", 0, &in);
    av_opt_get_chlayout(rec.swr, "out_chlayout", 0, &out);
    EXPECT_EQ(engine, c.engine);
    EXPECT_EQ(precision, c.precision);
    EXPECT_EQ(dither, c.dither);
    // Layouts in FFmpeg's native order (any other order has no mask).
    EXPECT_EQ(in.u.mask, kStereo);
    EXPECT_EQ(out.u.mask, c.out_mask);
    // The count options exist before FFmpeg 7 only.
    int64_t in_count = -1, out_count = -1;
    if (av_opt_get_int(rec.swr, "in_channel_count", 0, &in_count) >= 0) {
        av_opt_get_int(rec.swr, "out_channel_count", 0, &out_count);
        EXPECT_EQ(in_count, c.counts);
        EXPECT_EQ(out_count, c.counts);
    }
    av_channel_layout_uninit(&in);
    av_channel_layout_uninit(&out);
}

INSTANTIATE_TEST_SUITE_P(Fields, ResampleOptions, testing::ValuesIn(kOptionCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(ResampleInit, FailedSetUpFreesTheContextAndMayBeRetried)
{
    Rec rec(0);
    EXPECT_LT(ff_init_resample(&rec, nullptr, 0), 0);
    EXPECT_EQ(rec.swr, nullptr);
    EXPECT_EQ(rec.in_bytes_per_sample, 0);
    rec.out_sample_rate = 48000;
    EXPECT_EQ(ff_init_resample(&rec, nullptr, 0), 0);
    EXPECT_NE(rec.swr, nullptr);

    Rec starved;
    av_max_alloc(16);
    const int32_t r = ff_init_resample(&starved, nullptr, 0);
    av_max_alloc(INT_MAX);
    EXPECT_EQ(r, AVERROR(ENOMEM));
    EXPECT_EQ(starved.swr, nullptr);
}

TEST(ResampleInit, TracesTheSampleFormats)
{
    LogSettings loud{0, 1}, quiet{1, 1};
    Rec rec;
    rec.out_sample_fmt = AV_SAMPLE_FMT_FLT;
    ff_init(&loud);
    CaptureStdout();
    const int32_t r = ff_init_resample(&rec, nullptr, 0);
    int32_t capacity = 64;
    uint8_t out[64 * 8];
    ff_resample(&rec, nullptr, 0, out, &capacity, 1);
    const std::string text = GetCapturedStdout();
    ff_init(&quiet);
    EXPECT_EQ(r, 0);
    EXPECT_NE(text.find("] ff_init_resample(): input_sample_format=s16, "
                        "output_sample_format=flt\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("] ff_resample():converted_out_samples=0\n"), std::string::npos)
        << text;
}

// A live record is left alone by set-up, and takes no matrix any more.
TEST(ResampleMatrix, LiveRecordTakesNoMatrixAndNoSecondSetUp)
{
    Rec rec;
    EXPECT_EQ(ff_set_matrix(&rec, kIdentity, 2), AVERROR(EINVAL));  // no context
    ASSERT_EQ(ff_init_resample(&rec, nullptr, 0), 0);
    ASSERT_NE(rec.swr, nullptr);
    rec.out_sample_rate = 0;  // would fail a real set-up
    const ResampleRec before = rec;
    EXPECT_EQ(ff_init_resample(&rec, nullptr, 0), 0);
    EXPECT_EQ(ff_set_matrix(&rec, kIdentity, 2), AVERROR(EINVAL));
    EXPECT_EQ(std::memcmp(&rec, &before, sizeof before), 0);
    EXPECT_EQ(ff_set_matrix(&rec, nullptr, 2), AVERROR(EINVAL));
    EXPECT_EQ(ff_set_matrix(nullptr, kIdentity, 2), AVERROR(EINVAL));
}

// A refused matrix leaves an allocated, uninitialised context: set-up then
// returns 0 without doing anything, conversions give nothing, and a clean-up
// lets the record start again.
TEST(ResampleMatrix, RefusedMatrixNeedsACleanUp)
{
    flatav_test::Recorder recorder;
    Rec rec, no_matrix, zero_stride;
    rec.callbacks = &recorder.callbacks;
    g_refuse_matrix = AVERROR(EINVAL);
    const int32_t r = ff_init_resample(&rec, kIdentity, 2);
    // A null matrix or a zero stride skips the matrix.
    EXPECT_EQ(ff_init_resample(&no_matrix, nullptr, 2), 0);
    EXPECT_EQ(ff_init_resample(&zero_stride, kIdentity, 0), 0);
    g_refuse_matrix = 0;
    EXPECT_EQ(r, AVERROR(EINVAL));
    ASSERT_EQ(recorder.errors.size(), 1u);
    EXPECT_EQ(recorder.errors[0], "ff_init_resample swr_set_matrix failed -22");
    ASSERT_NE(rec.swr, nullptr);
    EXPECT_FALSE(swr_is_initialized(rec.swr));

    EXPECT_EQ(ff_init_resample(&rec, kIdentity, 2), 0);
    EXPECT_FALSE(swr_is_initialized(rec.swr));
    // A matrix still goes to the uninitialised context.
    EXPECT_EQ(ff_set_matrix(&rec, kIdentity, 2), 0);
    std::vector<uint8_t> in(400, 1), out(4096);
    int32_t capacity = 0;
    EXPECT_EQ(ff_buffer_size(&rec, 400), 0);
    EXPECT_EQ(ff_resample(&rec, in.data(), 400, out.data(), &capacity, 0), 0);
    capacity = 1000;
    EXPECT_EQ(ff_resample(&rec, in.data(), 400, out.data(), &capacity, 0), 0);
    EXPECT_EQ(capacity, 1000);

    ff_cleanup_resample(&rec);
    EXPECT_EQ(rec.swr, nullptr);
    EXPECT_EQ(ff_init_resample(&rec, kIdentity, 2), 0);
    EXPECT_TRUE(swr_is_initialized(rec.swr));
    EXPECT_EQ(recorder.errors.size(), 1u);
}

TEST(ResampleCount, RoundsUpTheRateRatio)
{
    Rec rec;
    ASSERT_EQ(ff_init_resample(&rec, nullptr, 0), 0);
    ASSERT_EQ(swr_get_delay(rec.swr, 32000), 0);
    // 101 frames at 3/2: 151.5, rounded up; trailing bytes of a partial frame
    // do not count.
    EXPECT_EQ(ff_buffer_size(&rec, 101 * 4), 152 * 4);
    EXPECT_EQ(ff_buffer_size(&rec, 101 * 4 + 3), 152 * 4);
    // Less than one frame: nothing, and libswresample is not asked.
    EXPECT_EQ(ff_buffer_size(&rec, 3), 0);
    std::vector<uint8_t> in(404, 0), out(1024);
    int32_t capacity = 0;
    EXPECT_EQ(ff_resample(&rec, in.data(), 3, out.data(), &capacity, 0), 0);
    EXPECT_EQ(capacity, 0);
    // A drain without capacity gives nothing either.
    EXPECT_EQ(ff_resample(&rec, nullptr, 0, out.data(), &capacity, 1), 0);
    EXPECT_EQ(capacity, 0);

    // Samples held back by the converter count in the next block's size.
    const int32_t got = ff_resample(&rec, in.data(), 404, out.data(), &capacity, 0);
    EXPECT_EQ(capacity, 152);
    EXPECT_LT(got, 152 * 4);
    const int64_t held = swr_get_delay(rec.swr, 32000);
    EXPECT_GT(held, 0);
    EXPECT_EQ(ff_buffer_size(&rec, 101 * 4),
              av_rescale_rnd(held + 101, 48000, 32000, AV_ROUND_UP) * 4);
}

// The buffer grows only, keeps its bytes, and goes with a clean-up that may
// free it (twice is harmless); a failed growth gives the old block up.
TEST(ResampleBuffer, GrowsOnlyAndGoesWithTheCleanUp)
{
    Rec rec;
    ASSERT_EQ(ff_init_resample(&rec, nullptr, 0), 0);
    EXPECT_EQ(ff_res_get_buffer(&rec, 1000), 0);
    ASSERT_NE(rec.buffer, nullptr);
    EXPECT_EQ(rec.buffer_size, 1000);
    // The whole usable size and the slack behind it are the record's.
    std::memset(rec.buffer, 0x5a, 1000 + 64);
    uint8_t *block = rec.buffer;
    for (int32_t size : {1000, 10, 0, -1})
        EXPECT_EQ(ff_res_get_buffer(&rec, size), 0);
    EXPECT_EQ(rec.buffer, block);
    EXPECT_EQ(rec.buffer_size, 1000);
    EXPECT_EQ(ff_res_get_buffer(&rec, 100000), 0);
    EXPECT_EQ(rec.buffer_size, 100000);
    EXPECT_EQ(rec.buffer[999], 0x5a);  // kept across the growth

    // More than FFmpeg's allocator hands out; the leak checker confirms that
    // the old block is released.
    EXPECT_EQ(ff_res_get_buffer(&rec, INT_MAX), FLATAV_RES_BUFFER_FAILED);
    EXPECT_EQ(rec.buffer, nullptr);
    EXPECT_EQ(rec.buffer_size, 0);
    EXPECT_EQ(ff_res_get_buffer(&rec, 256), 0);
    EXPECT_NE(rec.buffer, nullptr);

    rec.free_buffer = 1;
    ff_cleanup_resample(&rec);
    ff_cleanup_resample(&rec);
    ff_cleanup_resample(nullptr);
    EXPECT_EQ(rec.swr, nullptr);
    EXPECT_EQ(rec.buffer, nullptr);
    EXPECT_EQ(rec.buffer_size, 0);
    EXPECT_EQ(rec.free_buffer, 0);
}

TEST(ResampleBuffer, HostBlockFromFfAllocGrowsAndStaysTheHosts)
{
    EXPECT_EQ(ff_alloc(-1), nullptr);
    EXPECT_EQ(ff_alloc(INT_MIN), nullptr);
    ff_free(nullptr);
    ResampleRec rec{};
    rec.buffer = static_cast<uint8_t *>(ff_alloc(32 + 64));
    ASSERT_NE(rec.buffer, nullptr);
    std::memset(rec.buffer, 0, 32 + 64);
    rec.buffer_size = 32;
    EXPECT_EQ(ff_res_get_buffer(&rec, 4096), 0);
    EXPECT_EQ(rec.buffer_size, 4096);
    // free_buffer 0: clean-up leaves the block to the host.
    ff_cleanup_resample(&rec);
    ASSERT_NE(rec.buffer, nullptr);
    EXPECT_EQ(rec.buffer_size, 4096);
    ff_free(rec.buffer);
}

// Records the host should not pass: every call answers 0 (or an error code
// for set-up) and nothing divides by zero or touches freed memory.
struct BadRecord {
    const char *name;
    bool live;  // spoilt after set-up; before it, set-up fails
    void (*spoil)(ResampleRec &);
};

void PrintTo(const BadRecord &c, std::ostream *os) { *os << c.name; }

const BadRecord kBadRecords[] = {
    {"zero_filled", false, [](ResampleRec &r) { r = ResampleRec{}; }},
    {"unknown_input_format", false, [](ResampleRec &r) { r.in_sample_fmt = 77; }},
    {"unknown_output_format", false, [](ResampleRec &r) { r.out_sample_fmt = -5; }},
    {"negative_channels", false,
     [](ResampleRec &r) { r.in_channel_layout = 0; r.in_channels = -1; }},
    {"input_mask_names_more_channels", false,
     [](ResampleRec &r) { r.in_channel_layout = AV_CH_LAYOUT_5POINT1; }},
    {"output_mask_names_more_channels", false, [](ResampleRec &r) { r.out_channels = 1; }},
    {"zero_in_channels_with_a_mask", false, [](ResampleRec &r) { r.in_channels = 0; }},
    {"input_count_other_than_in_channels", false,
     [](ResampleRec &r) { r.user_in_ch_count = 6; }},
    {"output_count_other_than_out_channels", false,
     [](ResampleRec &r) { r.user_out_ch_count = 1; }},
    {"planar_stereo_input", false,
     [](ResampleRec &r) { r.in_sample_fmt = AV_SAMPLE_FMT_S16P; }},
    {"planar_stereo_output", false,
     [](ResampleRec &r) { r.out_sample_fmt = AV_SAMPLE_FMT_FLTP; }},
    {"zero_in_channels_on_live_record", true, [](ResampleRec &r) { r.in_channels = 0; }},
    {"negative_in_channels_on_live_record", true, [](ResampleRec &r) { r.in_channels = -1; }},
    {"no_bytes_per_sample_on_live_record", true,
     [](ResampleRec &r) { r.in_bytes_per_sample = 0; }},
    {"zero_rates_on_live_record", true,
     [](ResampleRec &r) { r.in_sample_rate = r.out_sample_rate = 0; }},
};

class ResampleBadRecord : public testing::TestWithParam<BadRecord> {};

TEST_P(ResampleBadRecord, AnswersZero)
{
    const BadRecord &c = GetParam();
    SCOPED_TRACE(c.name);
    Rec rec;
    if (c.live) {
        ASSERT_EQ(ff_init_resample(&rec, nullptr, 0), 0);
        c.spoil(rec);
    } else {
        c.spoil(rec);
        EXPECT_LT(ff_init_resample(&rec, nullptr, 0), 0);
        EXPECT_EQ(rec.swr, nullptr);
    }
    std::vector<uint8_t> in(4096, 7), out(65536);
    EXPECT_EQ(ff_buffer_size(&rec, 4096), 0);
    int32_t capacity = 0;
    EXPECT_EQ(ff_resample(&rec, in.data(), 4096, out.data(), &capacity, 0), 0);
    EXPECT_EQ(capacity, 0);
    EXPECT_EQ(ff_resample(&rec, nullptr, 0, out.data(), &capacity, 1), 0);
}

INSTANTIATE_TEST_SUITE_P(Input, ResampleBadRecord, testing::ValuesIn(kBadRecords),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(ResampleBadArguments, NullPointersAnswerZero)
{
    EXPECT_EQ(ff_init_resample(nullptr, nullptr, 0), AVERROR(EINVAL));
    EXPECT_EQ(ff_buffer_size(nullptr, 100), 0);
    EXPECT_EQ(ff_res_get_buffer(nullptr, 100), FLATAV_RES_BUFFER_FAILED);
    int32_t capacity = 0;
    EXPECT_EQ(ff_resample(nullptr, nullptr, 0, nullptr, &capacity, 0), 0);

    Rec rec;
    ASSERT_EQ(ff_init_resample(&rec, nullptr, 0), 0);
    std::vector<uint8_t> in(400, 3), out(4096);
    EXPECT_EQ(ff_resample(&rec, in.data(), 400, out.data(), nullptr, 0), 0);
    EXPECT_EQ(ff_resample(&rec, in.data(), 400, nullptr, &capacity, 0), 0);
    EXPECT_EQ(capacity, 150);
    capacity = -5;
    EXPECT_EQ(ff_resample(&rec, in.data(), 400, out.data(), &capacity, 0), 0);
    EXPECT_EQ(capacity, -5);
    // No input bytes to read: what the converter holds may still come out.
    capacity = 1024;
    EXPECT_GE(ff_resample(&rec, nullptr, 400, out.data(), &capacity, 0), 0);
}

}  // namespace
