// The resampler and the filter graph against the ffmpeg tool doing the same
// conversion (aresample, or pan for a remix matrix) or running the same
// filter (-af), byte for byte, in several block sizes.
#include <algorithm>
#include <cstring>
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

#include "console.h"
#include "convert_host.h"
#include "media.h"

using namespace flatav_test;

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
    const char *input;   // raw packed file
    Side in, out;
    const char *filter;  // the same conversion for the tool
    void (*options)(ResampleRec &) = nullptr;
    std::vector<double> matrix = {};  // out.channels() rows of in.channels()
};

void PrintTo(const ResampleCase &c, std::ostream *os) { *os << c.name; }

constexpr uint64_t kStereo = AV_CH_LAYOUT_STEREO, kMono = AV_CH_LAYOUT_MONO,
                   k51 = AV_CH_LAYOUT_5POINT1;
constexpr AVSampleFormat kS16 = AV_SAMPLE_FMT_S16, kFlt = AV_SAMPLE_FMT_FLT;

const ResampleCase kResample[] = {
    {"up_44k_48k", "res_44k_s16.raw", {kS16, 44100, kStereo}, {kS16, 48000, kStereo},
     "aresample=osr=48000"},
    {"down_48k_44k", "res_48k_s16.raw", {kS16, 48000, kStereo}, {kS16, 44100, kStereo},
     "aresample=osr=44100"},
    {"down_96k_44k", "res_96k_s16.raw", {kS16, 96000, kStereo}, {kS16, 44100, kStereo},
     "aresample=osr=44100"},
    {"s16_to_flt", "res_44k_s16.raw", {kS16, 44100, kStereo}, {kFlt, 44100, kStereo},
     "aresample=osf=flt"},
    {"flt_to_s16_dither", "res_44k_flt.raw", {kFlt, 44100, kStereo}, {kS16, 44100, kStereo},
     "aresample=osf=s16:dither_method=rectangular",
     [](ResampleRec &r) { r.dither_method = SWR_DITHER_RECTANGULAR; }},
    // One byte a sample frame: the buffer for one frame is one byte.
    {"mono_flt_to_u8", "res_44k_mono_flt.raw", {kFlt, 44100, kMono},
     {AV_SAMPLE_FMT_U8, 44100, kMono}, "aresample=osf=u8"},
    {"stereo_to_mono", "res_44k_s16.raw", {kS16, 44100, kStereo}, {kS16, 44100, kMono},
     "aresample=ochl=mono"},
    // A mask other than the default layout of its channel count (2.1).
    {"surround_to_3_0", "res_48k_51_flt.raw", {kFlt, 48000, k51},
     {kFlt, 48000, AV_CH_LAYOUT_SURROUND}, "aresample=ochl=3.0"},
    {"surround_to_stereo", "res_48k_51_flt.raw", {kFlt, 48000, k51}, {kFlt, 48000, kStereo},
     "aresample=ochl=stereo"},
    // Left takes front left, centre, LFE and back left; right the mirror.
    {"surround_to_stereo_matrix", "res_48k_51_flt.raw", {kFlt, 48000, k51},
     {kFlt, 48000, kStereo},
     "pan=stereo|c0=0.5*c0+0.3*c2+0.1*c3+0.2*c4|c1=0.5*c1+0.3*c2+0.1*c3+0.2*c5", nullptr,
     {0.5, 0.0, 0.3, 0.1, 0.2, 0.0, 0.0, 0.5, 0.3, 0.1, 0.0, 0.2}},
    {"surround_48k_to_stereo_44k_s16", "res_48k_51_flt.raw", {kFlt, 48000, k51},
     {kS16, 44100, kStereo}, "aresample=osr=44100:osf=s16:ochl=stereo"},
    // One channel: a planar block is a packed one.
    {"planar_mono_44k_48k", "res_44k_mono_flt.raw", {AV_SAMPLE_FMT_FLTP, 44100, kMono},
     {AV_SAMPLE_FMT_S16P, 48000, kMono}, "aresample=osr=48000:osf=s16p"},
    // Engine and precision by name; channel counts that agree with the record.
    {"soxr_44k_48k", "res_44k_s16.raw", {kS16, 44100, kStereo}, {kS16, 48000, kStereo},
     "aresample=osr=48000:resampler=soxr:precision=28",
     [](ResampleRec &r) {
         std::strcpy(r.resampler_name, "soxr");
         r.precision = 28;
         r.user_in_ch_count = r.user_out_ch_count = 2;
     }},
};

// Input block sizes in sample frames: one size throughout, or (0) a varying
// sequence from 1 to a few thousand frames.
std::vector<int> block_sizes(int plan, int total)
{
    static const int kVarying[] = {1, 2, 3, 7, 31, 64, 127, 255, 441, 480, 1000,
                                   1023, 1025, 2047, 3001, 4096, 5};
    std::vector<int> sizes;
    for (size_t i = 0; total > 0; total -= sizes.back(), i++)
        sizes.push_back(std::min(plan ? plan : kVarying[i % std::size(kVarying)], total));
    return sizes;
}

class Resample : public testing::TestWithParam<std::tuple<ResampleCase, int>> {};

// The host's loop: the buffer kept in the record sized for each block, the
// computed capacity, the drain with a capacity of the host's own. The
// output is the tool's, and in every block what libswresample, driven
// directly with the same settings and as much room as it asks, gives. In
// blocks of 4410 frames the buffer is the host's, from ff_alloc.
TEST_P(Resample, AsTheToolConverts)
{
    const auto &[c, plan] = GetParam();
    const std::string path = media_path(c.input);
    const std::vector<uint8_t> input = read_file(path);
    ASSERT_FALSE(input.empty());
    const int out_frame = c.out.frame_bytes();

    ResampleRec rec{};
    rec.in_sample_fmt = c.in.format;
    rec.in_sample_rate = c.in.rate;
    rec.in_channels = c.in.channels();
    rec.in_channel_layout = c.in.mask;
    rec.out_sample_fmt = c.out.format;
    rec.out_sample_rate = c.out.rate;
    rec.out_channels = c.out.channels();
    rec.out_channel_layout = c.out.mask;
    if (c.options)
        c.options(rec);
    const bool host_buffer = plan == 4410;
    if (host_buffer) {
        rec.buffer = static_cast<uint8_t *>(ff_alloc(32 + 64));
        rec.buffer_size = 32;
    }
    rec.free_buffer = !host_buffer;
    std::unique_ptr<ResampleRec, void (*)(ResampleRec *)> owner(&rec, ff_cleanup_resample);
    const double *matrix = c.matrix.empty() ? nullptr : c.matrix.data();
    ASSERT_EQ(ff_init_resample(&rec, matrix, c.in.channels()), 0);
    // The record's options reach the converter (the count options exist
    // before FFmpeg 7 only). libsoxr's output varies from run to run by a
    // bit or two, in the tool too: only its size is compared.
    const bool soxr = std::strcmp(rec.resampler_name, "soxr") == 0;
    int64_t engine = -1, count = -1;
    double precision = 0;
    av_opt_get_int(rec.swr, "resampler", 0, &engine);
    av_opt_get_double(rec.swr, "precision", 0, &precision);
    EXPECT_EQ(engine, soxr ? SWR_ENGINE_SOXR : SWR_ENGINE_SWR);
    EXPECT_EQ(precision, rec.precision != 0 ? rec.precision : 20);
    if (av_opt_get_int(rec.swr, "in_channel_count", 0, &count) >= 0) {
        EXPECT_EQ(count, rec.user_in_ch_count);
    }

    SwrContext *swr = nullptr;
    AVChannelLayout in_layout{}, out_layout{};
    av_channel_layout_from_mask(&in_layout, c.in.mask);
    av_channel_layout_from_mask(&out_layout, c.out.mask);
    ASSERT_EQ(swr_alloc_set_opts2(&swr, &out_layout, c.out.format, c.out.rate, &in_layout,
                                  c.in.format, c.in.rate, 0, nullptr), 0);
    std::unique_ptr<SwrContext, void (*)(SwrContext *)> swr_owner(
        swr, [](SwrContext *s) { swr_free(&s); });
    av_opt_set(swr, "resampler", soxr ? "soxr" : "swr", 0);
    av_opt_set_double(swr, "precision", precision, 0);
    av_opt_set_int(swr, "dither_method", rec.dither_method, 0);
    if (matrix) {
        ASSERT_EQ(swr_set_matrix(swr, matrix, c.in.channels()), 0);
    }
    ASSERT_EQ(swr_init(swr), 0);

    std::vector<uint8_t> ours;
    const uint8_t *in = input.data();
    for (int frames : block_sizes(plan, (int)input.size() / c.in.frame_bytes())) {
        const int32_t in_bytes = frames * c.in.frame_bytes();
        const int32_t need = ff_buffer_size(&rec, in_bytes);
        ASSERT_EQ(ff_res_get_buffer(&rec, need), 0);
        int32_t capacity = 0;
        const int32_t got = ff_resample(&rec, in, in_bytes, rec.buffer, &capacity, 0);
        EXPECT_EQ(capacity * out_frame, need);

        const int room = swr_get_out_samples(swr, frames);
        std::vector<uint8_t> block((size_t)room * out_frame);
        uint8_t *dst = block.data();
        const int n = swr_convert(swr, &dst, room, &in, frames);
        ASSERT_TRUE(n >= 0 && got == n * out_frame &&
                    (soxr || std::equal(rec.buffer, rec.buffer + got, block.begin())))
            << ours.size() << ": " << got << " bytes, directly " << n * out_frame;
        ours.insert(ours.end(), rec.buffer, rec.buffer + got);
        in += in_bytes;
    }
    constexpr int32_t kDrainCapacity = 333;
    ASSERT_EQ(ff_res_get_buffer(&rec, kDrainCapacity * out_frame), 0);
    for (int32_t got = 1, capacity; got > 0;) {
        capacity = kDrainCapacity;
        got = ff_resample(&rec, nullptr, 0, rec.buffer, &capacity, 1);
        EXPECT_EQ(capacity, kDrainCapacity);
        ours.insert(ours.end(), rec.buffer, rec.buffer + std::max(got, 0));
    }
    const std::vector<uint8_t> tool =
        ffmpeg_raw(path, c.in.format, c.in.rate, c.in.mask, c.filter, c.out.format);
    ASSERT_FALSE(tool.empty());
    EXPECT_EQ(ours.size(), tool.size());
    EXPECT_TRUE(soxr || ours == tool);
    if (host_buffer) {
        ff_cleanup_resample(&rec);
        ASSERT_NE(rec.buffer, nullptr) << "the host's buffer stays the host's";
        ff_free(rec.buffer);
        rec.buffer = nullptr;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Resample,
                         testing::Combine(testing::ValuesIn(kResample),
                                          testing::Values(1024, 4410, 0)),
                         [](const auto &info) {
                             const int plan = std::get<1>(info.param);
                             return std::string(std::get<0>(info.param).name) + "_blocks_" +
                                    (plan ? std::to_string(plan) : "varying");
                         });

struct FilterCase {
    const char *name, *args;
    bool odd_blocks;  // output independent of odd frame lengths
    uint64_t layout = AV_CH_LAYOUT_STEREO;
    const char *input = nullptr;  // default: filter_<raw format>.raw, stereo
};

void PrintTo(const FilterCase &c, std::ostream *os) { *os << c.name; }

// Pushes the whole input in blocks of block_frames (one plane after the
// other for planar formats), drains, tears down, and gives the output
// interleaved.
std::vector<uint8_t> run_graph(const FilterCase &f, AVSampleFormat format,
                               const std::vector<uint8_t> &packed, int block_frames)
{
    FilterRec rec = stereo_filter(format);
    rec.channel_layout = f.layout;
    rec.channels = av_popcount64(f.layout);
    int32_t setup = 0;
    EXPECT_EQ(stdout_of([&] { setup = setup_af(f.name, f.args, &rec); }), "");
    EXPECT_EQ(setup, 0);
    if (setup != 0)
        return {};

    PcmSink sink;
    const int bytes = av_get_bytes_per_sample(format), channels = rec.channels;
    const bool planar = av_sample_fmt_is_planar(format);
    const int total = (int)packed.size() / (bytes * channels);
    int blocks = 0;
    for (int first = 0; first < total; first += block_frames, blocks++) {
        const int frames = std::min(block_frames, total - first);
        const uint8_t *start = packed.data() + (size_t)first * bytes * channels;
        std::vector<uint8_t> block(start, start + (size_t)frames * bytes * channels);
        for (int s = 0; planar && s < frames * channels; s++)
            std::copy_n(start + s * bytes, bytes,
                        block.begin() + ((s % channels) * frames + s / channels) * bytes);
        EXPECT_EQ(run_af(&rec, block.data(), (int32_t)block.size(), &sink, PcmSink::write),
                  FLATAV_ERROR_EAGAIN);
    }
    EXPECT_EQ(run_af(&rec, nullptr, 0, &sink, PcmSink::write), FLATAV_ERROR_EOF);
    EXPECT_EQ(rec.frames_in, blocks + 1);
    // One write per plane of every frame for planar formats, one per frame
    // for packed ones.
    EXPECT_EQ(sink.writes.size(), (size_t)rec.frames_out * (planar ? channels : 1));
    FilterRec *handle = &rec;
    stdout_of([&] { clean_af(&handle); });
    EXPECT_TRUE(!rec.graph && !rec.in_frame && !rec.out_frame) << "torn down";
    return planar ? sink.packed(channels, bytes) : sink.packed();
}

class Filter : public testing::TestWithParam<std::tuple<FilterCase, AVSampleFormat>> {};

// The tool runs the same graph: the filter gets the record's format (a
// planar format is forced in front of it, since raw input is packed), and
// the library's format stage comes behind it. Its raw demuxer reads 1024
// frames per packet; other block sizes give the same output, so the frame
// boundaries do not matter, with one exception: the biquad filters
// (highpass) compute the last sample of an odd-length frame with their terms
// in another order, so float and 32-bit output then differs in the last
// bits. For highpass the blocks stay even.
TEST_P(Filter, AsTheToolFilters)
{
    const auto &[f, format] = GetParam();
    const std::string name = av_get_sample_fmt_name(format);
    const std::string path =
        media_path(f.input ? f.input : std::string("filter_") + raw_format(format) + ".raw");
    const std::vector<uint8_t> input = read_file(path);
    ASSERT_FALSE(input.empty());
    char layout[32];
    std::snprintf(layout, sizeof layout, "0x%llx", (unsigned long long)f.layout);
    const std::string chain =
        (av_sample_fmt_is_planar(format) ? "aformat=sample_fmts=" + name + "," : "") + f.name +
        (f.args ? std::string("=") + f.args : "") + ",aformat=sample_fmts=" + name +
        ":sample_rates=44100:channel_layouts=" + layout;
    const std::vector<uint8_t> tool = ffmpeg_raw(path, format, 44100, f.layout, chain, format);
    ASSERT_FALSE(tool.empty());
    for (int frames : {1024, f.odd_blocks ? 441 : 440, 4410}) {
        SCOPED_TRACE("blocks of " + std::to_string(frames));
        const std::vector<uint8_t> ours = run_graph(f, format, input, frames);
        EXPECT_EQ(ours.size(), tool.size());
        EXPECT_TRUE(ours == tool);
    }
}

std::string filter_name(const testing::TestParamInfo<std::tuple<FilterCase, AVSampleFormat>> &info)
{
    return std::string(std::get<0>(info.param).name) + "_" +
           av_get_sample_fmt_name(std::get<1>(info.param)) + "_" +
           std::to_string(av_popcount64(std::get<0>(info.param).layout));
}

const FilterCase kFilters[] = {
    {"volume", "0.5", true},
    {"highpass", "f=200", false},
    {"atempo", "1.25", true},
    {"aecho", "0.8:0.88:60|130:0.4|0.25", true},
    {"loudnorm", nullptr, true},
    // Silence up to 1 s by each sample's time: the timestamps count the
    // samples pushed before each block (the last, shorter block comes after
    // that point).
    {"aeval", "val(0)*gte(t\\,1)|val(1)*gte(t\\,1)", true},
};

INSTANTIATE_TEST_SUITE_P(Table, Filter,
                         testing::Combine(testing::ValuesIn(kFilters),
                                          testing::Values(AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_FLTP,
                                                          AV_SAMPLE_FMT_S32)),
                         filter_name);

// More planes than an AVFrame has data pointers.
INSTANTIATE_TEST_SUITE_P(
    Planes, Filter,
    testing::Values(std::make_tuple(FilterCase{"volume", "0.5", true, 0xfff, "filter_12ch_s16.raw"},
                                    AV_SAMPLE_FMT_S16P)),
    filter_name);

}  // namespace
