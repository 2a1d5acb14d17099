// The filter record: set-up failures with their lines and codes, teardown,
// timestamps, the push rules, clean-up and bad input.
#include <dlfcn.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

#include "console.h"
#include "convert_host.h"
#include "flatav.h"

using flatav_test::clean_printed;
using flatav_test::PcmSink;
using flatav_test::stdout_of;

// The two frame allocations at the end of set-up cannot be made to fail
// from outside, so calls from this program (the library's objects included)
// go through here: while g_frame_alloc_calls_left is not negative, it counts
// down, and the call that finds it at 0 fails.
namespace {
int g_frame_alloc_calls_left = -1;
}

extern "C" AVFrame *av_frame_alloc(void)
{
    using Fn = AVFrame *(*)(void);
    static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "av_frame_alloc"));
    if (g_frame_alloc_calls_left >= 0 && g_frame_alloc_calls_left-- == 0)
        return nullptr;
    return real();
}

namespace {

const std::string kTeardown = "clean_filter_avrec(): [3]\nclean_filter_avrec(): [4]\n";

FilterRec s16_stereo() { return flatav_test::stereo_filter(AV_SAMPLE_FMT_S16); }

bool torn_down(const FilterRec &rec) { return !rec.graph && !rec.in_frame && !rec.out_frame; }

// Pushes the first `bytes` of block for each size (each wants more input),
// then drains.
void push_and_drain(FilterRec &rec, const std::vector<uint8_t> &block,
                    std::vector<int32_t> sizes, PcmSink *sink)
{
    const PcmWriteFn write = sink ? PcmSink::write : nullptr;
    for (int32_t bytes : sizes)
        EXPECT_EQ(run_af(&rec, block.data(), bytes, sink, write), FLATAV_ERROR_EAGAIN);
    EXPECT_EQ(run_af(&rec, nullptr, 0, sink, write), FLATAV_ERROR_EOF);
}

// One set-up that fails: the line it prints and the code it returns. The
// line ends in that code, except for an unknown filter (no number) and a
// filter that refuses its arguments: set-up then answers ENOMEM, and the
// line has FFmpeg's own answer.
struct SetupFailure {
    const char *name, *filter, *args;
    void (*spoil)(FilterRec &);
    const char *line;  // after "setup_af(): ", without its number
    int code;
    bool line_last;  // printed after the teardown's checkpoints
};

void PrintTo(const SetupFailure &c, std::ostream *os) { *os << c.name; }

const SetupFailure kSetupFailures[] = {
    {"unknown_filter", "no_such_filter", nullptr, nullptr,
     "avfilter_get_by_name no_such_filter failed", AVERROR_FILTER_NOT_FOUND, false},
    {"rejected_arguments", "volume", "no_such_option=1", nullptr,
     "avfilter_init_str volume", AVERROR(ENOMEM), false},
    {"rejected_value", "highpass", "f=-5", nullptr, "avfilter_init_str highpass",
     AVERROR(ENOMEM), false},
    {"unknown_sample_format", "volume", "0.5", [](FilterRec &r) { r.sample_fmt = 99; },
     "avfilter_graph_create_filter failed", AVERROR(EINVAL), false},
    {"zero_channel_layout", "volume", "0.5", [](FilterRec &r) { r.channel_layout = 0; },
     "avfilter_graph_create_filter failed", AVERROR(EINVAL), false},
    // The source's time base 1/0 is out of range.
    {"zero_sample_rate", "volume", "0.5", [](FilterRec &r) { r.sample_rate = 0; },
     "avfilter_graph_create_filter failed", AVERROR(ERANGE), false},
    // Refused before it is made: amovie would open the file it names.
    {"source_filter_has_no_input", "amovie", "filename=no_such_file.flac", nullptr,
     "amovie takes no input", AVERROR(EINVAL), false},
    {"video_filter", "hflip", nullptr, nullptr, "Error connecting filters", AVERROR(EINVAL),
     true},
    {"unconnected_second_input", "amix", nullptr, nullptr, "avfilter_graph_config failed",
     AVERROR(EINVAL), false},
};

class FilterSetupFailure : public testing::TestWithParam<SetupFailure> {};

TEST_P(FilterSetupFailure, PrintsItsLineTearsDownAndReturnsItsCode)
{
    const SetupFailure &c = GetParam();
    SCOPED_TRACE(c.name);
    int number = c.code;
    if (c.code == AVERROR(ENOMEM)) {
        AVFilterGraph *graph = avfilter_graph_alloc();
        number = avfilter_init_str(
            avfilter_graph_alloc_filter(graph, avfilter_get_by_name(c.filter), "probe"), c.args);
        avfilter_graph_free(&graph);
    }
    const std::string line =
        "setup_af(): " + std::string(c.line) +
        (c.code == AVERROR_FILTER_NOT_FOUND ? "" : " : " + std::to_string(number)) + "\n";
    FilterRec rec = s16_stereo();
    if (c.spoil)
        c.spoil(rec);
    int32_t r = 0;
    const std::string printed = stdout_of([&] { r = setup_af(c.filter, c.args, &rec); });
    EXPECT_EQ(printed, c.line_last ? kTeardown + line : line + kTeardown);
    EXPECT_EQ(r, c.code);
    EXPECT_TRUE(torn_down(rec));
    // Nothing is left for clean_af to do, and nothing is printed.
    EXPECT_EQ(clean_printed(rec), "");
}

INSTANTIATE_TEST_SUITE_P(Setup, FilterSetupFailure, testing::ValuesIn(kSetupFailures),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(FilterSetup, FrameAllocationFailureTearsDown)
{
    for (int failing : {0, 1}) {
        SCOPED_TRACE(failing == 0 ? "input frame" : "output frame");
        FilterRec rec = s16_stereo();
        int32_t r = 0;
        const std::string printed = stdout_of([&] {
            g_frame_alloc_calls_left = failing;
            r = setup_af("volume", "0.5", &rec);
            g_frame_alloc_calls_left = -1;
        });
        EXPECT_EQ(printed, "setup_af(): av_frame_alloc failed\n" + kTeardown);
        EXPECT_EQ(r, AVERROR(ENOMEM));
        EXPECT_TRUE(torn_down(rec));
    }
}

TEST(FilterSetup, SourceAndFormatTextsDescribeTheRecord)
{
    FilterRec rec = flatav_test::stereo_filter(AV_SAMPLE_FMT_FLTP);
    rec.channel_layout = AV_CH_LAYOUT_5POINT1;
    rec.channels = 6;
    rec.sample_rate = 48000;
    ASSERT_EQ(setup_af("anull", nullptr, &rec), 0);
    // The instances carry their names; the copies point to the same objects.
    EXPECT_STREQ(rec.src->name, "src");
    EXPECT_STREQ(rec.user_filter->name, "anull");
    EXPECT_STREQ(rec.aformat_out->name, "aformat");
    EXPECT_STREQ(rec.sink->name, "sink");
    EXPECT_EQ(rec.run_graph, rec.graph);
    EXPECT_EQ(rec.run_src, rec.src);
    EXPECT_EQ(rec.run_sink, rec.sink);
    // The sink's input carries the record's format, rate and layout.
    const AVFilterLink *link = rec.sink->inputs[0];
    EXPECT_EQ(link->format, AV_SAMPLE_FMT_FLTP);
    EXPECT_EQ(link->sample_rate, 48000);
    EXPECT_EQ(link->ch_layout.u.mask, AV_CH_LAYOUT_5POINT1);
    EXPECT_EQ(rec.src->outputs[0]->format, AV_SAMPLE_FMT_FLTP);
    EXPECT_EQ(rec.src->outputs[0]->time_base.den, 48000);
    clean_printed(rec);
}

// The timestamps count the samples pushed before each block as long as the
// blocks have one length; ashowinfo logs what reaches it.
std::vector<std::string> g_log;

void keep_log_line(int32_t, const char *line) { g_log.emplace_back(line); }

TEST(FilterRun, TimestampsCountSamplesOfEqualBlocks)
{
    FilterRec rec = s16_stereo();
    ASSERT_EQ(setup_af("ashowinfo", nullptr, &rec), 0);
    g_log.clear();
    av_log_set_level(AV_LOG_INFO);
    ff_set_log_callback(keep_log_line);
    PcmSink sink;
    push_and_drain(rec, std::vector<uint8_t>(300 * 4), {100 * 4, 100 * 4, 100 * 4, 300 * 4},
                   &sink);
    LogSettings quiet{1, 1};
    ff_init(&quiet);
    EXPECT_EQ(rec.frames_in, 5);
    EXPECT_EQ(rec.frames_out, 4);

    std::vector<std::string> pts;
    const std::regex pts_field(R"(\bpts:(-?\d+)\b)");
    std::smatch m;
    for (const std::string &line : g_log)
        if (std::regex_search(line, m, pts_field))
            pts.push_back(m[1]);
    // The last block is three times as long: its pts is 300 × 3.
    EXPECT_EQ(pts, (std::vector<std::string>{"0", "100", "200", "900"}));
    clean_printed(rec);
}

TEST(FilterRun, NullWriteFunctionDropsTheFrames)
{
    FilterRec rec = s16_stereo();
    ASSERT_EQ(setup_af("volume", "2", &rec), 0);
    push_and_drain(rec, std::vector<uint8_t>(4096, 1), {4096}, nullptr);
    EXPECT_EQ(rec.frames_out, 1);
    clean_printed(rec);
}

// More planes than an AVFrame has data pointers take the frame's extended
// plane list.
TEST(FilterRun, PlanarFramesGoOutOnePlaneAtATime)
{
    for (int channels : {2, 12}) {
        SCOPED_TRACE(std::to_string(channels) + " channels");
        FilterRec rec = flatav_test::stereo_filter(AV_SAMPLE_FMT_S16P);
        rec.channels = channels;
        rec.channel_layout = (uint64_t{1} << channels) - 1;
        ASSERT_EQ(setup_af("anull", nullptr, &rec), 0);
        // Plane c holds the value c + 1 in every byte.
        constexpr int kFrames = 256;
        std::vector<uint8_t> block;
        for (int c = 0; c < channels; c++)
            block.insert(block.end(), kFrames * 2, static_cast<uint8_t>(c + 1));
        PcmSink sink;
        push_and_drain(rec, block, {static_cast<int32_t>(block.size())}, &sink);
        EXPECT_EQ(rec.frames_out, 1);
        ASSERT_EQ(sink.writes.size(), static_cast<size_t>(channels));
        for (int c = 0; c < channels; c++)
            EXPECT_TRUE(sink.writes[c] == std::vector<uint8_t>(kFrames * 2, c + 1)) << c;
        clean_printed(rec);
    }
}

// Pushes that the graph refuses tear the record down; clean_af afterwards
// finds nothing to do.
struct PushFailure {
    const char *name;
    void (*spoil)(FilterRec &);  // after set-up
    int32_t bytes;
    bool null_data;
    bool fill_line;  // the fill failure's own line comes first
};

void PrintTo(const PushFailure &c, std::ostream *os) { *os << c.name; }

const PushFailure kPushFailures[] = {
    {"less_than_one_sample_frame", nullptr, 3, false, true},
    {"negative_size", nullptr, -400, false, true},
    {"null_data", nullptr, 400, true, true},
    {"zero_channels", [](FilterRec &r) { r.channels = 0; }, 400, false, true},
    {"unknown_sample_format", [](FilterRec &r) { r.sample_fmt = 99; }, 400, false, true},
    {"channels_disagree_with_layout", [](FilterRec &r) { r.channels = 1; }, 400, false, false},
    {"format_changed_after_set_up", [](FilterRec &r) { r.sample_fmt = AV_SAMPLE_FMT_S32; },
     400, false, false},
    {"block_after_the_drain", [](FilterRec &r) { run_af(&r, nullptr, 0, nullptr, nullptr); },
     400, false, false},
};

class FilterPushFailure : public testing::TestWithParam<PushFailure> {};

TEST_P(FilterPushFailure, TearsTheRecordDown)
{
    const PushFailure &c = GetParam();
    SCOPED_TRACE(c.name);
    FilterRec rec = s16_stereo();
    ASSERT_EQ(setup_af("anull", nullptr, &rec), 0);
    if (c.spoil)
        c.spoil(rec);
    PcmSink sink;
    std::vector<uint8_t> block(4096, 9);
    int32_t r = 0;
    const std::string printed = stdout_of([&] {
        r = run_af(&rec, c.null_data ? nullptr : block.data(), c.bytes, &sink, PcmSink::write);
    });
    const std::string fill = "run_af(): avcodec_fill_audio_frame failed: " + std::to_string(r);
    EXPECT_EQ(printed, (c.fill_line ? fill + "\n" : "") + kTeardown);
    EXPECT_LT(r, 0);
    EXPECT_NE(r, FLATAV_ERROR_EAGAIN);
    EXPECT_TRUE(torn_down(rec));
    EXPECT_TRUE(sink.writes.empty());

    // A torn-down record refuses further pushes without touching anything.
    EXPECT_EQ(run_af(&rec, block.data(), 400, &sink, PcmSink::write), AVERROR(EINVAL));
    EXPECT_EQ(clean_printed(rec) + clean_printed(rec), "");
}

INSTANTIATE_TEST_SUITE_P(Push, FilterPushFailure, testing::ValuesIn(kPushFailures),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(FilterCleanup, NullAndUnbuiltRecordsAndTwice)
{
    clean_af(nullptr);
    FilterRec *none = nullptr;
    clean_af(&none);
    EXPECT_EQ(none, nullptr);

    FilterRec zero{};
    EXPECT_EQ(clean_printed(zero), "");
    EXPECT_EQ(run_af(&zero, nullptr, 0, nullptr, nullptr), AVERROR(EINVAL));

    FilterRec rec = s16_stereo();
    EXPECT_EQ(stdout_of([&] {
                  EXPECT_EQ(setup_af(nullptr, nullptr, &rec), AVERROR(EINVAL));
                  EXPECT_EQ(setup_af("volume", nullptr, nullptr), AVERROR(EINVAL));
              }),
              "");
    EXPECT_TRUE(torn_down(rec));

    ASSERT_EQ(setup_af("anull", nullptr, &rec), 0);
    EXPECT_EQ(clean_printed(rec) + clean_printed(rec), kTeardown);
    EXPECT_TRUE(torn_down(rec));
    // The instance fields keep their (now stale) values.
    EXPECT_NE(rec.src, nullptr);
    EXPECT_NE(rec.run_sink, nullptr);
}

// The same output from a new record, after a teardown, and over a graph that
// is still built. The partial sample frame at the end of the block is
// ignored.
TEST(FilterCleanup, SetUpAgainAfterTeardown)
{
    std::vector<uint8_t> pcm(2048 * 4 + 3);
    for (size_t i = 0; i < pcm.size(); i++)
        pcm[i] = static_cast<uint8_t>(i * 13);
    FilterRec rec = s16_stereo();
    std::vector<uint8_t> out[3];
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(stdout_of([&] { EXPECT_EQ(setup_af("volume", "0.25", &rec), 0); }),
                  i == 2 ? kTeardown : "");
        PcmSink sink;
        push_and_drain(rec, pcm, {static_cast<int32_t>(pcm.size())}, &sink);
        out[i] = sink.packed();
        // The counters are the host's to reset.
        EXPECT_EQ(rec.frames_in, 2);
        rec.frames_in = rec.frames_out = 0;
        if (i == 0) {
            EXPECT_EQ(clean_printed(rec), kTeardown);
        }
    }
    EXPECT_EQ(clean_printed(rec), kTeardown);
    ASSERT_EQ(out[0].size(), 2048u * 4);
    EXPECT_TRUE(out[0] == out[1]);
    EXPECT_TRUE(out[0] == out[2]);
    EXPECT_FALSE(std::equal(out[0].begin(), out[0].end(), pcm.begin()));  // the volume acts
}

}  // namespace
