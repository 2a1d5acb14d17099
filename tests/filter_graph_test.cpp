// Filters run through the graph against the ffmpeg tool's -af output for the
// same input, format and frame sizes.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

#include "console.h"
#include "convert_host.h"
#include "flatav.h"
#include "media.h"

namespace {

using flatav_test::PcmSink;

struct FilterCase {
    const char *name;
    const char *args;
    bool odd_blocks;  // output independent of odd frame lengths
};

void PrintTo(const FilterCase &c, std::ostream *os) { *os << c.name; }

const FilterCase kFilters[] = {
    {"volume", "0.5", true},
    {"highpass", "f=200", false},
    {"atempo", "1.25", true},
    {"aecho", "0.8:0.88:60|130:0.4|0.25", true},
    {"loudnorm", nullptr, true},
};

constexpr int kChannels = 2;

// Pushes the whole input in blocks of block_frames (one plane after the
// other for planar formats), drains, and gives the output interleaved.
std::vector<uint8_t> run_graph(const FilterCase &f, AVSampleFormat format,
                               const std::vector<uint8_t> &packed, int block_frames)
{
    FilterRec rec = flatav_test::stereo_filter(format);
    int32_t setup = 0;
    EXPECT_EQ(flatav_test::stdout_of([&] { setup = setup_af(f.name, f.args, &rec); }), "");
    EXPECT_EQ(setup, 0);
    if (setup != 0)
        return {};

    PcmSink sink;
    const int bytes = av_get_bytes_per_sample(format);
    const bool planar = av_sample_fmt_is_planar(format);
    const int total = static_cast<int>(packed.size()) / (bytes * kChannels);
    int blocks = 0;
    for (int first = 0; first < total; first += block_frames, blocks++) {
        const int frames = std::min(block_frames, total - first);
        const uint8_t *start = packed.data() + static_cast<size_t>(first) * bytes * kChannels;
        std::vector<uint8_t> block(start, start + static_cast<size_t>(frames) * bytes * kChannels);
        for (int s = 0; planar && s < frames * kChannels; s++)
            std::copy_n(start + s * bytes, bytes,
                        block.begin() + ((s % kChannels) * frames + s / kChannels) * bytes);
        EXPECT_EQ(run_af(&rec, block.data(), static_cast<int32_t>(block.size()), &sink,
                         PcmSink::write),
                  FLATAV_ERROR_EAGAIN);
    }
    EXPECT_EQ(run_af(&rec, nullptr, 0, &sink, PcmSink::write), FLATAV_ERROR_EOF);
    EXPECT_EQ(rec.frames_in, blocks + 1);
    // One write per plane of every frame for planar formats, one per frame
    // for packed ones.
    EXPECT_EQ(sink.writes.size(), static_cast<size_t>(rec.frames_out) * (planar ? kChannels : 1));
    EXPECT_EQ(flatav_test::clean_printed(rec),
              "clean_filter_avrec(): [3]\nclean_filter_avrec(): [4]\n");
    return planar ? sink.packed(kChannels, bytes) : sink.packed();
}

class FilterGraphTest : public testing::TestWithParam<std::tuple<FilterCase, AVSampleFormat>> {};

// The tool runs the same graph: the filter gets the record's format (a
// planar format is forced in front of it, since raw input is packed), and
// the library's format stage comes behind it. Its raw demuxer reads 1024
// frames per packet; other block sizes give the same output, so the frame
// boundaries do not matter, with one exception: the biquad filters
// (highpass) compute the last sample of an odd-length frame with their terms
// in another order, so float and 32-bit output then differs in the last
// bits. For highpass the blocks stay even.
TEST_P(FilterGraphTest, MatchesTheToolsAfInAnyBlockSize)
{
    const FilterCase &f = std::get<0>(GetParam());
    const AVSampleFormat format = std::get<1>(GetParam());
    const std::string name = av_get_sample_fmt_name(format);
    const std::string path =
        flatav_test::media_path(std::string("filter_") + flatav_test::raw_format(format) + ".raw");
    const std::vector<uint8_t> input = flatav_test::read_file(path);
    ASSERT_FALSE(input.empty());

    const std::string chain =
        (av_sample_fmt_is_planar(format) ? "aformat=sample_fmts=" + name + "," : "") + f.name +
        (f.args ? std::string("=") + f.args : "") + ",aformat=sample_fmts=" + name +
        ":sample_rates=44100:channel_layouts=0x3";
    const std::vector<uint8_t> tool =
        flatav_test::ffmpeg_raw(path, format, 44100, AV_CH_LAYOUT_STEREO, chain, format);
    ASSERT_FALSE(tool.empty());
    for (int frames : {1024, f.odd_blocks ? 441 : 440, 4410}) {
        SCOPED_TRACE(std::string(f.name) + " " + name + " blocks of " + std::to_string(frames));
        const std::vector<uint8_t> ours = run_graph(f, format, input, frames);
        EXPECT_EQ(ours.size(), tool.size());
        EXPECT_TRUE(ours == tool);
    }
}

INSTANTIATE_TEST_SUITE_P(Filters, FilterGraphTest,
                         testing::Combine(testing::ValuesIn(kFilters),
                                          testing::Values(AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_FLTP,
                                                          AV_SAMPLE_FMT_S32)),
                         [](const auto &info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    av_get_sample_fmt_name(std::get<1>(info.param));
                         });

}  // namespace
