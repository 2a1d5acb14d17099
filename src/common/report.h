// Text output shared by every subsystem: host error and trace callbacks,
// the shared text buffer for returned error texts, the console trace and
// plain console lines.
#pragma once

#include <cstddef>
#include <cstdio>

#include "flatav.h"

#if defined(__GNUC__)
#define FLATAV_PRINTF(fmt_index, first_arg) \
    __attribute__((format(printf, fmt_index, first_arg)))
#else
#define FLATAV_PRINTF(fmt_index, first_arg)
#endif

namespace flatav {

// Every formatted text is cut to this size, terminating zero included.
constexpr std::size_t kTextSize = 1024;
// Room for one FFmpeg error description.
constexpr std::size_t kErrorTextSize = 256;

// Formats and hands the text to callbacks->error_cb when both are present.
void report_error(const HostCallbacks *callbacks, const char *fmt, ...)
    FLATAV_PRINTF(2, 3);

// Formats a trace text. A null table sends it to standard output; a table
// with message_cb set and message_enabled non-zero sends it to message_cb and
// then to standard output; any other table drops it. Standard output gets
// nothing while quiet() holds.
void report_message(const HostCallbacks *callbacks, const char *fmt, ...)
    FLATAV_PRINTF(2, 3);

// A trace line that goes both to the host (as report_message) and to the
// console trace.
void trace(const HostCallbacks *callbacks, const char *fmt, ...)
    FLATAV_PRINTF(2, 3);

// Formats into the one process-wide text buffer and returns it. The text is
// valid until the next call anywhere in the library.
const char *format_static(const char *fmt, ...) FLATAV_PRINTF(1, 2);

// Formats into a caller buffer of kTextSize bytes; returns that buffer.
char *format_into(char *buffer, const char *fmt, ...) FLATAV_PRINTF(2, 3);

// Whether ff_init's quiet switch is on: the library then writes nothing to
// standard output or standard error, whatever the call.
bool quiet();

// A plain console line to stream (stdout or stderr), printf-style and
// flushed at once, as the timestamped trace is; nothing while quiet() holds.
// The lines of the filter, the in-memory decoders and the probes.
void console_print(std::FILE *stream, const char *fmt, ...) FLATAV_PRINTF(2, 3);

// Timestamped console trace "[hh:mm:ss] text", one newline per line;
// silent while the quiet switch is on.
void console_log(const char *fmt, ...) FLATAV_PRINTF(1, 2);

// A text for a "%s" that may be given a null pointer: "(null)" then.
inline const char *text_or_null(const char *text) { return text ? text : "(null)"; }

// FFmpeg's name of a sample format for texts; "none" where FFmpeg has none.
const char *sample_format_name(int format);

// FFmpeg's description of an error code, in the caller's buffer.
const char *error_text(int code, char (&buffer)[kErrorTextSize]);

}  // namespace flatav
