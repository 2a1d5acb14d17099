#include "common/report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/samplefmt.h>
}

#include "host/settings.h"

namespace flatav {
namespace {

char g_static_text[kTextSize];

void format_v(char *buffer, const char *fmt, va_list args)
{
    // vsnprintf cuts and terminates; a failed format leaves an empty text.
    if (std::vsnprintf(buffer, kTextSize, fmt, args) < 0)
        buffer[0] = '\0';
}

// Formats the arguments of the enclosing printf-style function, whose format
// is fmt, into buffer (kTextSize bytes).
#define FORMAT_ARGUMENTS(buffer, fmt)   \
    do {                                \
        va_list args;                   \
        va_start(args, fmt);            \
        format_v(buffer, fmt, args);    \
        va_end(args);                   \
    } while (0)

bool local_time_of_day(int &hour, int &minute, int &second)
{
    std::time_t now = std::time(nullptr);
    std::tm parts{};
#if defined(_WIN32)
    if (localtime_s(&parts, &now) != 0)
        return false;
#else
    if (!localtime_r(&now, &parts))
        return false;
#endif
    hour = parts.tm_hour;
    minute = parts.tm_min;
    second = parts.tm_sec;
    return true;
}

}  // namespace

void report_error(const HostCallbacks *callbacks, const char *fmt, ...)
{
    char text[kTextSize];
    FORMAT_ARGUMENTS(text, fmt);
    if (callbacks && callbacks->error_cb)
        callbacks->error_cb(callbacks->user_data, text);
}

bool quiet() { return log_settings().quiet != 0; }

void console_print(std::FILE *stream, const char *fmt, ...)
{
    if (quiet())
        return;
    va_list args;
    va_start(args, fmt);
    std::vfprintf(stream, fmt, args);
    va_end(args);
    std::fflush(stream);
}

void report_message(const HostCallbacks *callbacks, const char *fmt, ...)
{
    const bool to_host = callbacks && callbacks->message_cb && callbacks->message_enabled;
    if (callbacks && !to_host)
        return;
    if (!to_host && quiet())
        return;
    char text[kTextSize];
    FORMAT_ARGUMENTS(text, fmt);
    if (to_host)
        callbacks->message_cb(callbacks->user_data, text);
    if (!quiet())
        std::puts(text);
}

void trace(const HostCallbacks *callbacks, const char *fmt, ...)
{
    char text[kTextSize];
    FORMAT_ARGUMENTS(text, fmt);
    report_message(callbacks, "%s", text);
    console_log("%s", text);
}

const char *format_static(const char *fmt, ...)
{
    FORMAT_ARGUMENTS(g_static_text, fmt);
    return g_static_text;
}

char *format_into(char *buffer, const char *fmt, ...)
{
    FORMAT_ARGUMENTS(buffer, fmt);
    return buffer;
}

void console_log(const char *fmt, ...)
{
    if (quiet())
        return;
    char text[kTextSize];
    FORMAT_ARGUMENTS(text, fmt);

    int hour = 0, minute = 0, second = 0;
    local_time_of_day(hour, minute, second);
    std::size_t length = std::strlen(text);
    if (length > 0) {
        const char *line_end = text[length - 1] == '\n' ? "" : "\n";
        std::printf("[%02d:%02d:%02d] %s%s", hour, minute, second, text, line_end);
    }
    std::fflush(stdout);
}

const char *sample_format_name(int format)
{
    const char *name = av_get_sample_fmt_name(static_cast<AVSampleFormat>(format));
    return name ? name : "none";
}

const char *error_text(int code, char (&buffer)[kErrorTextSize])
{
    if (av_strerror(code, buffer, sizeof buffer) < 0) {
        // av_strerror leaves a generic text; prefer the C library's when the
        // code is a negated errno it knows.
        const char *system_text = std::strerror(-code);
        if (system_text)
            std::snprintf(buffer, sizeof buffer, "%s", system_text);
    }
    return buffer;
}

}  // namespace flatav
