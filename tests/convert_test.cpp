// The resampler and the filter graph against the ffmpeg tool doing the same
// conversion (aresample, or pan for a remix matrix) or running the same
// filter (-af), byte for byte, in several block sizes.
#include <algorithm>
#include <cstring>
#include <memory>
#include <sstream>
#include <tuple>
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
#include "encode_host.h"
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
    const char *name, *input;  // raw packed file
    Side in, out;
    const char *tool;  // aresample's options beyond rate, format and layout; or a filter
    void (*options)(ResampleRec &) = nullptr;
    std::vector<double> matrix = {};  // out.channels() rows of in.channels()
};

constexpr uint64_t kStereo = AV_CH_LAYOUT_STEREO, kMono = AV_CH_LAYOUT_MONO,
                   k51 = AV_CH_LAYOUT_5POINT1;
constexpr Side kS16_44{AV_SAMPLE_FMT_S16, 44100, kStereo}, kS16_48{AV_SAMPLE_FMT_S16, 48000, kStereo},
    kFlt51{AV_SAMPLE_FMT_FLT, 48000, k51}, kMonoFlt{AV_SAMPLE_FMT_FLT, 44100, kMono};
const char *kS16In = "res_44k_s16.raw", *k51In = "res_48k_51_flt.raw";

const ResampleCase kResample[] = {
    {"up_44k_48k", kS16In, kS16_44, kS16_48, ""},
    {"down_48k_44k", "res_48k_s16.raw", kS16_48, kS16_44, ""},
    {"down_96k_44k", "res_96k_s16.raw", {AV_SAMPLE_FMT_S16, 96000, kStereo}, kS16_44, ""},
    {"s16_to_flt", kS16In, kS16_44, {AV_SAMPLE_FMT_FLT, 44100, kStereo}, ""},
    {"flt_to_s16_dither", "res_44k_flt.raw", {AV_SAMPLE_FMT_FLT, 44100, kStereo}, kS16_44,
     ":dither_method=rectangular", [](ResampleRec &r) { r.dither_method = SWR_DITHER_RECTANGULAR; }},
    // One byte a sample frame: the buffer for one frame is one byte.
    {"mono_flt_to_u8", "res_44k_mono_flt.raw", kMonoFlt, {AV_SAMPLE_FMT_U8, 44100, kMono}, ""},
    {"stereo_to_mono", kS16In, kS16_44, {AV_SAMPLE_FMT_S16, 44100, kMono}, ""},
    {"surround_to_stereo", k51In, kFlt51, {AV_SAMPLE_FMT_FLT, 48000, kStereo}, ""},
    // A mask other than the default layout of its channel count (2.1).
    {"surround_to_3_0", k51In, kFlt51, {AV_SAMPLE_FMT_FLT, 48000, AV_CH_LAYOUT_SURROUND}, ""},
    {"surround_48k_to_stereo_44k_s16", k51In, kFlt51, kS16_44, ""},
    // Left takes front left, centre, LFE and back left; right the mirror.
    {"surround_to_stereo_matrix", k51In, kFlt51, {AV_SAMPLE_FMT_FLT, 48000, kStereo},
     "pan=stereo|c0=0.5*c0+0.3*c2+0.1*c3+0.2*c4|c1=0.5*c1+0.3*c2+0.1*c3+0.2*c5", nullptr,
     {0.5, 0.0, 0.3, 0.1, 0.2, 0.0, 0.0, 0.5, 0.3, 0.1, 0.0, 0.2}},
    // One channel: a planar block is a packed one.
    {"planar_mono_44k_48k", "res_44k_mono_flt.raw", {AV_SAMPLE_FMT_FLTP, 44100, kMono},
     {AV_SAMPLE_FMT_S16P, 48000, kMono}, ""},
    // Engine and precision by name; channel counts that agree with the record.
    {"soxr_44k_48k", kS16In, kS16_44, kS16_48, ":resampler=soxr:precision=28", [](ResampleRec &r) {
         std::strcpy(r.resampler_name, "soxr");
         r.precision = 28;
         r.user_in_ch_count = r.user_out_ch_count = 2;
     }},
};

void PrintTo(const ResampleCase &c, std::ostream *os) { *os << c.name; }

class Resample : public testing::TestWithParam<std::tuple<ResampleCase, int>> {};

// The host's loop in blocks of one size (one frame, the tool's 1024, 4410):
// the buffer kept in the record sized for each block, the computed
// capacity, the drain with a capacity of the host's own. The output is the
// tool's, and in the tool's blocks every block gives what the tool's filter
// gives for it, which asks for all the room it may need.
TEST_P(Resample, AsTheToolConverts)
{
    const auto &[c, block] = GetParam();
    const std::string path = media_path(c.input);
    const std::vector<uint8_t> input = read_file(path);
    ASSERT_FALSE(input.empty());
    const int in_frame = c.in.frame_bytes(), out_frame = c.out.frame_bytes();
    ResampleRec rec{};
    std::tie(rec.in_sample_fmt, rec.in_sample_rate, rec.in_channels, rec.in_channel_layout) =
        std::make_tuple(c.in.format, c.in.rate, c.in.channels(), c.in.mask);
    std::tie(rec.out_sample_fmt, rec.out_sample_rate, rec.out_channels, rec.out_channel_layout) =
        std::make_tuple(c.out.format, c.out.rate, c.out.channels(), c.out.mask);
    rec.free_buffer = 1;
    if (c.options)
        c.options(rec);
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

    std::vector<uint8_t> ours;
    std::vector<int> block_bytes;
    for (size_t at = 0; at < input.size(); at += block * in_frame) {
        const int32_t in_bytes = (int32_t)std::min(input.size() - at, (size_t)block * in_frame);
        const int32_t need = ff_buffer_size(&rec, in_bytes);
        ASSERT_EQ(ff_res_get_buffer(&rec, need), 0);
        int32_t capacity = 0;
        const int32_t got = ff_resample(&rec, &input[at], in_bytes, rec.buffer, &capacity, 0);
        ASSERT_TRUE(capacity * out_frame == need && got >= 0 && got <= need) << at;
        block_bytes.push_back(got);
        ours.insert(ours.end(), rec.buffer, rec.buffer + got);
    }
    constexpr int32_t kDrainCapacity = 333;
    ASSERT_EQ(ff_res_get_buffer(&rec, kDrainCapacity * out_frame), 0);
    for (int32_t got = 1, capacity; got > 0;) {
        capacity = kDrainCapacity;
        got = ff_resample(&rec, nullptr, 0, rec.buffer, &capacity, 1);
        EXPECT_EQ(capacity, kDrainCapacity);
        ours.insert(ours.end(), rec.buffer, rec.buffer + std::max(got, 0));
    }
    char filter[256];
    std::snprintf(filter, sizeof filter, "aresample=osr=%d:osf=%s:ochl=0x%llx%s", c.out.rate,
                  av_get_sample_fmt_name(c.out.format), (unsigned long long)c.out.mask, c.tool);
    const std::string tool_filter = c.matrix.empty() ? filter : c.tool;
    const std::vector<uint8_t> tool = ffmpeg_raw(path, c.in.format, c.in.rate, c.in.mask, tool_filter, c.out.format);
    EXPECT_EQ(ours.size(), tool.size());
    EXPECT_TRUE(soxr || ours == tool);
    if (block == 1024 && !soxr) {
        // The tool's raw-PCM input comes in frames of 1024 samples on
        // FFmpeg 5.1 and of 4096 on 7.1: blocks of the host's size on both.
        const std::string kToolBlocks = "asetnsamples=n=1024:p=0,";
        int status = 0;
        std::istringstream frames(run_text("ffmpeg -nostdin -v error" + tool_raw_input(path, c.in.format, c.in.rate,
                                           c.in.mask) + " -af " + shell_quote(kToolBlocks + tool_filter) + " -c:a pcm_" +
                                           raw_format(c.out.format) + " -f framecrc -", &status));
        std::vector<int> tool_bytes;
        for (std::string line; std::getline(frames, line) && tool_bytes.size() < block_bytes.size();)
            if (int size; std::sscanf(line.c_str(), "%*d, %*d, %*d, %*d, %d", &size) == 1)
                tool_bytes.push_back(size);
        EXPECT_EQ(block_bytes, tool_bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Resample,
                         testing::Combine(testing::ValuesIn(kResample), testing::Values(1, 1024, 4410)),
                         [](const auto &info) {
                             return std::string(std::get<0>(info.param).name) + "_blocks_" +
                                    std::to_string(std::get<1>(info.param));
                         });

struct FilterCase {
    const char *name, *args;
    bool odd_blocks;  // output independent of odd frame lengths
    uint64_t layout = kStereo;
};

void PrintTo(const FilterCase &c, std::ostream *os) { *os << c.name; }

// Pushes the whole input in blocks of block_frames (one plane after the
// other for planar formats), drains, tears down, and gives the output
// interleaved. One write per plane of every frame for planar formats, one
// per frame for packed ones.
std::vector<uint8_t> run_graph(const FilterCase &f, AVSampleFormat format,
                               const std::vector<uint8_t> &packed, int block_frames)
{
    FilterRec rec = stereo_filter(format);
    rec.channel_layout = f.layout;
    rec.channels = av_popcount64(f.layout);
    int32_t setup = -1;
    EXPECT_EQ(stdout_of([&] { setup = setup_af(f.name, f.args, &rec); }), "");
    EXPECT_EQ(setup, 0);
    PcmSink sink;
    const int bytes = av_get_bytes_per_sample(format), channels = rec.channels;
    const bool planar = av_sample_fmt_is_planar(format);
    const int total = (int)packed.size() / (bytes * channels);
    for (int first = 0; first < total; first += block_frames) {
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
        media_path(std::string("filter_") + (f.layout == kStereo ? "" : "12ch_") + raw_format(format) + ".raw");
    const std::vector<uint8_t> input = read_file(path);
    char chain[256];
    std::snprintf(chain, sizeof chain,
                  "%s%s%s%s,aformat=sample_fmts=%s:sample_rates=44100:channel_layouts=0x%llx",
                  av_sample_fmt_is_planar(format) ? ("aformat=sample_fmts=" + name + ",").c_str() : "",
                  f.name, f.args ? "=" : "", f.args ? f.args : "", name.c_str(),
                  (unsigned long long)f.layout);
    const std::vector<uint8_t> tool = ffmpeg_raw(path, format, 44100, f.layout, chain, format);
    ASSERT_FALSE(input.empty() || tool.empty());
    for (int frames : {1024, f.odd_blocks ? 441 : 440, 4410}) {
        EXPECT_TRUE(run_graph(f, format, input, frames) == tool) << "blocks of " << frames;
    }
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
    // Twelve channels: more planes than an AVFrame has data pointers.
    {"anull", nullptr, true, 0xfff},
};

INSTANTIATE_TEST_SUITE_P(Table, Filter,
                         testing::Combine(testing::ValuesIn(kFilters),
                                          testing::Values(AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_FLTP,
                                                          AV_SAMPLE_FMT_S32)),
                         [](const auto &info) {
                             const FilterCase &f = std::get<0>(info.param);
                             return std::string(f.name) + "_" +
                                    av_get_sample_fmt_name(std::get<1>(info.param)) +
                                    (f.layout == kStereo ? "" : "_12ch");
                         });

}  // namespace
