// The filter record: set-up failures with their lines and codes, teardown,
// timestamps, the push rules, clean-up and bad input.
#include <dlfcn.h>

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

#include "flatav.h"
#include "pcm_sink.h"

using flatav_test::PcmSink;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

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

FilterRec s16_stereo()
{
    FilterRec rec{};
    rec.sample_fmt = AV_SAMPLE_FMT_S16;
    rec.channel_layout = AV_CH_LAYOUT_STEREO;
    rec.sample_rate = 44100;
    rec.channels = 2;
    return rec;
}

bool torn_down(const FilterRec &rec)
{
    return !rec.graph && !rec.in_frame && !rec.out_frame;
}

// What FFmpeg itself answers when the filter is initialised with args.
int init_code(const char *filter, const char *args)
{
    AVFilterGraph *graph = avfilter_graph_alloc();
    AVFilterContext *ctx =
        avfilter_graph_alloc_filter(graph, avfilter_get_by_name(filter), "probe");
    const int r = avfilter_init_str(ctx, args);
    avfilter_graph_free(&graph);
    return r;
}

// One set-up that fails: the lines it prints and the code it returns.
struct SetupFailure {
    const char *name;
    const char *filter;
    const char *args;
    void (*spoil)(FilterRec &);
    std::string (*lines)();  // the expected standard output
    int (*code)();
};

void PrintTo(const SetupFailure &c, std::ostream *os) { *os << c.name; }

const SetupFailure kSetupFailures[] = {
    {"unknown_filter", "no_such_filter", nullptr, nullptr,
     [] { return "setup_af(): avfilter_get_by_name no_such_filter failed\n" + kTeardown; },
     [] { return AVERROR_FILTER_NOT_FOUND; }},
    {"rejected_arguments", "volume", "no_such_option=1", nullptr,
     [] {
         return "setup_af(): avfilter_init_str volume : " +
                std::to_string(init_code("volume", "no_such_option=1")) + "\n" + kTeardown;
     },
     [] { return AVERROR(ENOMEM); }},
    {"rejected_value", "highpass", "f=-5", nullptr,
     [] {
         return "setup_af(): avfilter_init_str highpass : " +
                std::to_string(init_code("highpass", "f=-5")) + "\n" + kTeardown;
     },
     [] { return AVERROR(ENOMEM); }},
    {"unknown_sample_format", "volume", "0.5", [](FilterRec &r) { r.sample_fmt = 99; },
     [] {
         return "setup_af(): avfilter_graph_create_filter failed : " +
                std::to_string(AVERROR(EINVAL)) + "\n" + kTeardown;
     },
     [] { return AVERROR(EINVAL); }},
    {"zero_channel_layout", "volume", "0.5", [](FilterRec &r) { r.channel_layout = 0; },
     [] {
         return "setup_af(): avfilter_graph_create_filter failed : " +
                std::to_string(AVERROR(EINVAL)) + "\n" + kTeardown;
     },
     [] { return AVERROR(EINVAL); }},
    // The source's time base 1/0 is out of range.
    {"zero_sample_rate", "volume", "0.5", [](FilterRec &r) { r.sample_rate = 0; },
     [] {
         return "setup_af(): avfilter_graph_create_filter failed : " +
                std::to_string(AVERROR(ERANGE)) + "\n" + kTeardown;
     },
     [] { return AVERROR(ERANGE); }},
    {"source_filter_has_no_input", "anullsrc", nullptr, nullptr,
     [] {
         return kTeardown + "setup_af(): Error connecting filters : " +
                std::to_string(AVERROR(EINVAL)) + "\n";
     },
     [] { return AVERROR(EINVAL); }},
    {"video_filter", "hflip", nullptr, nullptr,
     [] {
         return kTeardown + "setup_af(): Error connecting filters : " +
                std::to_string(AVERROR(EINVAL)) + "\n";
     },
     [] { return AVERROR(EINVAL); }},
    {"unconnected_second_input", "amix", nullptr, nullptr,
     [] {
         return "setup_af(): avfilter_graph_config failed : " +
                std::to_string(AVERROR(EINVAL)) + "\n" + kTeardown;
     },
     [] { return AVERROR(EINVAL); }},
};

class FilterSetupFailure : public testing::TestWithParam<SetupFailure> {};

TEST_P(FilterSetupFailure, PrintsItsLineTearsDownAndReturnsItsCode)
{
    const SetupFailure &c = GetParam();
    SCOPED_TRACE(c.name);
    FilterRec rec = s16_stereo();
    if (c.spoil)
        c.spoil(rec);
    const std::string expected = c.lines();
    CaptureStdout();
    const int32_t r = setup_af(c.filter, c.args, &rec);
    const std::string printed = GetCapturedStdout();
    EXPECT_EQ(r, c.code());
    EXPECT_EQ(printed, expected);
    EXPECT_TRUE(torn_down(rec));

    // Nothing is left for clean_af to do, and nothing is printed.
    FilterRec *handle = &rec;
    CaptureStdout();
    clean_af(&handle);
    EXPECT_EQ(GetCapturedStdout(), "");
}

INSTANTIATE_TEST_SUITE_P(Setup, FilterSetupFailure, testing::ValuesIn(kSetupFailures),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(FilterSetup, FrameAllocationFailureTearsDown)
{
    for (int failing : {0, 1}) {
        SCOPED_TRACE(failing == 0 ? "input frame" : "output frame");
        FilterRec rec = s16_stereo();
        CaptureStdout();
        g_frame_alloc_calls_left = failing;
        const int32_t r = setup_af("volume", "0.5", &rec);
        g_frame_alloc_calls_left = -1;
        const std::string printed = GetCapturedStdout();
        EXPECT_EQ(r, AVERROR(ENOMEM));
        EXPECT_EQ(printed, "setup_af(): av_frame_alloc failed\n" + kTeardown);
        EXPECT_TRUE(torn_down(rec));
    }
}

TEST(FilterSetup, SourceAndFormatTextsDescribeTheRecord)
{
    FilterRec rec = s16_stereo();
    rec.channel_layout = AV_CH_LAYOUT_5POINT1;
    rec.channels = 6;
    rec.sample_rate = 48000;
    rec.sample_fmt = AV_SAMPLE_FMT_FLTP;
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
    FilterRec *handle = &rec;
    CaptureStdout();
    clean_af(&handle);
    GetCapturedStdout();
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
    std::vector<uint8_t> block(300 * 4, 0);
    PcmSink sink;
    for (int32_t bytes : {100 * 4, 100 * 4, 100 * 4, 300 * 4})
        EXPECT_EQ(run_af(&rec, block.data(), bytes, &sink, PcmSink::write), -11);
    EXPECT_EQ(run_af(&rec, nullptr, 0, &sink, PcmSink::write), FLATAV_ERROR_EOF);
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
    FilterRec *handle = &rec;
    CaptureStdout();
    clean_af(&handle);
    GetCapturedStdout();
}

TEST(FilterRun, PartialSampleFramesAreIgnored)
{
    FilterRec rec = s16_stereo();
    ASSERT_EQ(setup_af("anull", nullptr, &rec), 0);
    std::vector<uint8_t> block(100 * 4 + 3);
    for (size_t i = 0; i < block.size(); i++)
        block[i] = static_cast<uint8_t>(i * 7);
    PcmSink sink;
    EXPECT_EQ(run_af(&rec, block.data(), static_cast<int32_t>(block.size()), &sink,
                     PcmSink::write),
              -11);
    EXPECT_EQ(run_af(&rec, nullptr, 0, &sink, PcmSink::write), FLATAV_ERROR_EOF);
    EXPECT_EQ(sink.joined(), std::vector<uint8_t>(block.begin(), block.begin() + 400));
    FilterRec *handle = &rec;
    CaptureStdout();
    clean_af(&handle);
    GetCapturedStdout();
}

// More planes than an AVFrame has data pointers take the frame's extended
// plane list.
TEST(FilterRun, PlanarFramesGoOutOnePlaneAtATime)
{
    for (int channels : {2, 12}) {
        SCOPED_TRACE(std::to_string(channels) + " channels");
        FilterRec rec = s16_stereo();
        rec.sample_fmt = AV_SAMPLE_FMT_S16P;
        rec.channels = channels;
        rec.channel_layout = (uint64_t{1} << channels) - 1;
        ASSERT_EQ(setup_af("anull", nullptr, &rec), 0);
        // Plane c holds the value c + 1 in every sample.
        constexpr int kFrames = 256;
        std::vector<uint8_t> block(static_cast<size_t>(kFrames) * 2 * channels, 0);
        for (size_t i = 0; i < block.size(); i += 2)
            block[i] = static_cast<uint8_t>(i / (kFrames * 2) + 1);
        PcmSink sink;
        EXPECT_EQ(run_af(&rec, block.data(), static_cast<int32_t>(block.size()), &sink,
                         PcmSink::write),
                  -11);
        EXPECT_EQ(rec.frames_out, 1);
        ASSERT_EQ(sink.writes.size(), static_cast<size_t>(channels));
        for (int c = 0; c < channels; c++) {
            const auto plane = block.begin() + c * kFrames * 2;
            EXPECT_EQ(sink.writes[c], std::vector<uint8_t>(plane, plane + kFrames * 2));
        }
        FilterRec *handle = &rec;
        CaptureStdout();
        clean_af(&handle);
        GetCapturedStdout();
    }
}

TEST(FilterRun, NullWriteFunctionDropsTheFrames)
{
    FilterRec rec = s16_stereo();
    ASSERT_EQ(setup_af("volume", "2", &rec), 0);
    std::vector<uint8_t> block(1024 * 4, 1);
    EXPECT_EQ(run_af(&rec, block.data(), 4096, nullptr, nullptr), -11);
    EXPECT_EQ(run_af(&rec, nullptr, 0, nullptr, nullptr), FLATAV_ERROR_EOF);
    EXPECT_EQ(rec.frames_out, 1);
    FilterRec *handle = &rec;
    CaptureStdout();
    clean_af(&handle);
    GetCapturedStdout();
}

// Pushes that the graph refuses tear the record down; clean_af afterwards
// finds nothing to do.
struct PushFailure {
    const char *name;
    void (*spoil)(FilterRec &);  // after set-up
    int32_t bytes;
    bool null_data;
    bool after_drain;
    bool fill_line;  // the fill failure's own line comes first
};

void PrintTo(const PushFailure &c, std::ostream *os) { *os << c.name; }

const PushFailure kPushFailures[] = {
    {"less_than_one_sample_frame", nullptr, 3, false, false, true},
    {"negative_size", nullptr, -400, false, false, true},
    {"null_data", nullptr, 400, true, false, true},
    {"zero_channels", [](FilterRec &r) { r.channels = 0; }, 400, false, false, true},
    {"unknown_sample_format", [](FilterRec &r) { r.sample_fmt = 99; }, 400, false, false,
     true},
    {"channels_disagree_with_layout", [](FilterRec &r) { r.channels = 1; }, 400, false,
     false, false},
    {"format_changed_after_set_up", [](FilterRec &r) { r.sample_fmt = AV_SAMPLE_FMT_S32; },
     400, false, false, false},
    {"block_after_the_drain", nullptr, 400, false, true, false},
};

class FilterPushFailure : public testing::TestWithParam<PushFailure> {};

TEST_P(FilterPushFailure, TearsTheRecordDown)
{
    const PushFailure &c = GetParam();
    SCOPED_TRACE(c.name);
    FilterRec rec = s16_stereo();
    ASSERT_EQ(setup_af("anull", nullptr, &rec), 0);
    PcmSink sink;
    if (c.after_drain) {
        ASSERT_EQ(run_af(&rec, nullptr, 0, &sink, PcmSink::write), FLATAV_ERROR_EOF);
    }
    if (c.spoil)
        c.spoil(rec);
    std::vector<uint8_t> block(4096, 9);
    CaptureStdout();
    const int32_t r =
        run_af(&rec, c.null_data ? nullptr : block.data(), c.bytes, &sink, PcmSink::write);
    const std::string printed = GetCapturedStdout();
    EXPECT_LT(r, 0);
    EXPECT_NE(r, FLATAV_ERROR_EAGAIN);
    const std::string own =
        c.fill_line ? "run_af(): avcodec_fill_audio_frame failed: " + std::to_string(r) + "\n"
                    : "";
    EXPECT_EQ(printed, own + kTeardown);
    EXPECT_TRUE(torn_down(rec));
    EXPECT_TRUE(sink.writes.empty());

    // A torn-down record refuses further pushes without touching anything.
    EXPECT_EQ(run_af(&rec, block.data(), 400, &sink, PcmSink::write), AVERROR(EINVAL));
    FilterRec *handle = &rec;
    CaptureStdout();
    clean_af(&handle);
    clean_af(&handle);
    EXPECT_EQ(GetCapturedStdout(), "");
}

INSTANTIATE_TEST_SUITE_P(Push, FilterPushFailure, testing::ValuesIn(kPushFailures),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(FilterCleanup, NullAndUnbuiltRecordsAndTwice)
{
    clean_af(nullptr);
    FilterRec *none = nullptr;
    clean_af(&none);
    EXPECT_EQ(none, nullptr);

    FilterRec rec{};
    FilterRec *handle = &rec;
    CaptureStdout();
    clean_af(&handle);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(run_af(&rec, nullptr, 0, nullptr, nullptr), AVERROR(EINVAL));

    rec = s16_stereo();
    ASSERT_EQ(setup_af("anull", nullptr, &rec), 0);
    CaptureStdout();
    clean_af(&handle);
    clean_af(&handle);
    EXPECT_EQ(GetCapturedStdout(), kTeardown);
    EXPECT_EQ(handle, &rec);
    EXPECT_TRUE(torn_down(rec));
    // The instance fields keep their (now stale) values.
    EXPECT_NE(rec.src, nullptr);
    EXPECT_NE(rec.run_sink, nullptr);
}

std::vector<uint8_t> volume_run(FilterRec &rec, const std::vector<uint8_t> &pcm)
{
    PcmSink sink;
    EXPECT_EQ(setup_af("volume", "0.25", &rec), 0);
    EXPECT_EQ(run_af(&rec, pcm.data(), static_cast<int32_t>(pcm.size()), &sink,
                     PcmSink::write),
              -11);
    EXPECT_EQ(run_af(&rec, nullptr, 0, &sink, PcmSink::write), FLATAV_ERROR_EOF);
    return sink.joined();
}

TEST(FilterCleanup, SetUpAgainAfterTeardown)
{
    std::vector<uint8_t> pcm(2048 * 4);
    for (size_t i = 0; i < pcm.size(); i++)
        pcm[i] = static_cast<uint8_t>(i * 13);
    FilterRec rec = s16_stereo();
    FilterRec *handle = &rec;
    CaptureStdout();
    const std::vector<uint8_t> first = volume_run(rec, pcm);
    clean_af(&handle);
    // The counters are the host's to reset.
    EXPECT_EQ(rec.frames_in, 2);
    rec.frames_in = rec.frames_out = 0;
    const std::vector<uint8_t> second = volume_run(rec, pcm);
    // Set-up on a record that is still built replaces its graph.
    const std::vector<uint8_t> third = volume_run(rec, pcm);
    clean_af(&handle);
    const std::string printed = GetCapturedStdout();
    EXPECT_EQ(printed, kTeardown + kTeardown + kTeardown);
    ASSERT_EQ(first.size(), pcm.size());
    EXPECT_EQ(first, second);
    EXPECT_EQ(first, third);
    EXPECT_NE(first, pcm);
}

TEST(FilterSetup, NullNameOrRecordIsRefused)
{
    FilterRec rec = s16_stereo();
    CaptureStdout();
    EXPECT_EQ(setup_af(nullptr, nullptr, &rec), AVERROR(EINVAL));
    EXPECT_EQ(setup_af("volume", nullptr, nullptr), AVERROR(EINVAL));
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_TRUE(torn_down(rec));
}

}  // namespace
