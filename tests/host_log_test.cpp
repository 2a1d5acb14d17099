// Host callbacks, text formatting, the console trace and FFmpeg's log bridge.
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

#include "flatav.h"
#include "common/report.h"
#include "test_host.h"

using flatav_test::Recorder;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

struct LogLine {
    int is_info;
    std::string text;
};
std::vector<LogLine> g_log_lines;

void record_log_line(int32_t is_info, const char *line)
{
    g_log_lines.push_back({is_info, line});
}

// Restores the quiet test defaults and FFmpeg's own log callback.
class HostLog : public testing::Test {
protected:
    void SetUp() override { g_log_lines.clear(); }
    void TearDown() override
    {
        set_switches(1, 1);
        av_log_set_callback(av_log_default_callback);
    }
    static void set_switches(int quiet, int ffmpeg_quiet)
    {
        LogSettings settings{quiet, ffmpeg_quiet};
        ff_init(&settings);
    }
};

TEST_F(HostLog, MessagesGoToTheCallbackAndStandardOutputOnlyWhenEnabled)
{
    set_switches(0, 1);
    CaptureStdout();
    flatav::report_message(nullptr, "%s begin", "step");
    EXPECT_EQ(GetCapturedStdout(), "step begin\n") << "no table: standard output only";

    Recorder recorder;
    CaptureStdout();
    flatav::report_message(&recorder.callbacks, "%s end", "step");
    EXPECT_EQ(GetCapturedStdout(), "step end\n");
    EXPECT_EQ(recorder.messages, std::vector<std::string>{"step end"});

    recorder.callbacks.message_enabled = 0;
    CaptureStdout();
    flatav::report_message(&recorder.callbacks, "dropped");
    recorder.callbacks.message_enabled = 1;
    const HostTextFn message_cb = recorder.callbacks.message_cb;
    recorder.callbacks.message_cb = nullptr;
    flatav::report_message(&recorder.callbacks, "dropped too");
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(recorder.messages.size(), 1u);

    // Quiet: the host's callback still hears, standard output does not.
    set_switches(1, 1);
    recorder.callbacks.message_cb = message_cb;
    CaptureStdout();
    flatav::report_message(nullptr, "unheard");
    flatav::report_message(&recorder.callbacks, "heard");
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(recorder.messages.back(), "heard");
}

TEST_F(HostLog, ErrorsGoOnlyToTheErrorCallback)
{
    Recorder recorder;
    CaptureStdout();
    flatav::report_error(&recorder.callbacks, "%s failed %d", "open", -2);
    flatav::report_error(nullptr, "nobody hears this");
    recorder.callbacks.error_cb = nullptr;
    flatav::report_error(&recorder.callbacks, "nor this");
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(recorder.errors, std::vector<std::string>{"open failed -2"});
}

TEST_F(HostLog, ConsoleLineHasTimeStampAndExactlyOneNewline)
{
    set_switches(0, 1);
    CaptureStdout();
    flatav::console_log("%s(): 01\n", "step");
    flatav::console_log("%s(): 01", "step");
    flatav::console_log("%s", "");
    const std::string out = GetCapturedStdout();
    const std::regex two_lines(R"(\[\d\d:\d\d:\d\d\] step\(\): 01\n\[\d\d:\d\d:\d\d\] step\(\): 01\n)");
    EXPECT_TRUE(std::regex_match(out, two_lines)) << out;

    set_switches(1, 0);
    CaptureStdout();
    flatav::console_log("%s", "hidden");
    EXPECT_EQ(GetCapturedStdout(), "");
}

TEST_F(HostLog, TextsAreCutToTheirBufferAndReturnedTextsShareOne)
{
    const std::string long_text(3000, 'x');
    const char *stored = flatav::format_static("%s", long_text.c_str());
    EXPECT_EQ(std::string(stored).size(), flatav::kTextSize - 1);

    char buffer[flatav::kTextSize];
    flatav::format_into(buffer, "%s%s", long_text.c_str(), "tail");
    EXPECT_EQ(std::string(buffer), long_text.substr(0, flatav::kTextSize - 1));

    Recorder recorder;
    flatav::report_error(&recorder.callbacks, "%s", long_text.c_str());
    ASSERT_EQ(recorder.errors.size(), 1u);
    EXPECT_EQ(recorder.errors[0].size(), flatav::kTextSize - 1);

    EXPECT_EQ(flatav::format_static("second %d", 2), stored);
    EXPECT_STREQ(stored, "second 2");
}

TEST_F(HostLog, BridgeTellsErrorsFromInformationAndCutsLongLines)
{
    ff_set_log_callback(record_log_line);
    av_log(nullptr, AV_LOG_WARNING, "a warning\n");
    av_log(nullptr, AV_LOG_ERROR, "an error\n");
    av_log(nullptr, AV_LOG_PANIC, "a panic\n");
    av_log(nullptr, AV_LOG_DEBUG, "debug too\n");
    av_log(nullptr, AV_LOG_ERROR, "%s\n", std::string(2000, 'y').c_str());
    ASSERT_EQ(g_log_lines.size(), 5u);
    EXPECT_EQ(g_log_lines[0].is_info, 1);
    EXPECT_EQ(g_log_lines[0].text, "a warning\n");
    EXPECT_EQ(g_log_lines[1].is_info, 0);
    EXPECT_EQ(g_log_lines[2].is_info, 0);
    EXPECT_EQ(g_log_lines[3].is_info, 1);
    EXPECT_EQ(g_log_lines[4].text.size(), flatav::kTextSize - 1);
}

TEST_F(HostLog, BridgeEchoesToTheConsole)
{
    set_switches(0, 0);
    ff_set_log_callback(record_log_line);
    CaptureStdout();
    av_log(nullptr, AV_LOG_ERROR, "seen twice\n");
    const std::string out = GetCapturedStdout();
    EXPECT_NE(out.find("] !!! seen twice\n"), std::string::npos) << out;
    EXPECT_NE(out.find("] level=16, AV_LOG_ERROR=16, AV_LOG_FATAL=8\n"), std::string::npos)
        << out;
}

TEST_F(HostLog, SilencingAndResuming)
{
    ff_set_log_callback(nullptr);
    av_log(nullptr, AV_LOG_ERROR, "lost: no function\n");
    ff_set_log_callback(record_log_line);
    av_log(nullptr, AV_LOG_ERROR, "found\n");
    set_switches(1, 1);
    av_log(nullptr, AV_LOG_ERROR, "lost: FFmpeg silenced\n");
    // ffmpeg_quiet 0 leaves the silent callback in place, until the bridge
    // is installed again.
    set_switches(1, 0);
    av_log(nullptr, AV_LOG_ERROR, "lost: still silenced\n");
    ff_set_log_callback(record_log_line);
    av_log(nullptr, AV_LOG_ERROR, "heard\n");
    ASSERT_EQ(g_log_lines.size(), 2u);
    EXPECT_EQ(g_log_lines[0].text, "found\n");
    EXPECT_EQ(g_log_lines[1].text, "heard\n");
}

}  // namespace
