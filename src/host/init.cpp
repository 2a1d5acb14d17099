// ff_init and ff_set_log_callback: the library's only process-wide settings,
// and the bridge that hands FFmpeg's log lines to the host.
#include <cstdarg>

extern "C" {
#include <libavutil/log.h>
}

#include "common/report.h"
#include "settings.h"

namespace flatav {
namespace {

LogSettings g_settings{};
HostLogFn g_host_log_fn = nullptr;
// av_log_format_line keeps its line-start state here between messages.
int g_print_prefix = 1;

void ffmpeg_log_silent(void *, int, const char *, va_list) {}

void ffmpeg_log_bridge(void *context, int level, const char *fmt, va_list args)
{
    HostLogFn host_fn = g_host_log_fn;
    if (!host_fn)
        return;
    char line[kTextSize];
    av_log_format_line(context, level, fmt, args, line, sizeof line,
                       &g_print_prefix);
    console_log("!!! %s\n", line);
    console_log("level=%d, AV_LOG_ERROR=%d, AV_LOG_FATAL=%d\n", level,
                AV_LOG_ERROR, AV_LOG_FATAL);
    host_fn(level > AV_LOG_ERROR ? 1 : 0, line);
}

}  // namespace

const LogSettings &log_settings() { return g_settings; }

}  // namespace flatav

extern "C" FLATAV_API void ff_init(const LogSettings *settings)
{
    if (!settings)
        return;
    flatav::g_settings = *settings;
    if (settings->ffmpeg_quiet)
        av_log_set_callback(flatav::ffmpeg_log_silent);
}

extern "C" FLATAV_API void ff_set_log_callback(HostLogFn fn)
{
    flatav::g_host_log_fn = fn;
    av_log_set_callback(flatav::ffmpeg_log_bridge);
}
