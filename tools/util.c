#if !defined(_WIN32)
#define _POSIX_C_SOURCE 200809L
#endif
#include "util.h"

#include <ctype.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "ffmpeg/registry.h"
#include "platform.h"

FILE *tool_stdout;

extern const char kHelpText[];

/* The last line FFmpeg logged at error level, and the library's last error
 * text: the reasons failure_reason chooses from. */
static char g_ffmpeg_reason[1024];
static char g_library_reason[1024];
static char g_reason[1024];
int tool_allow_nested;
static int g_trace;

/* HostLogFn: FFmpeg's lines. With --trace the library's console trace
 * echoes every one; otherwise the first error since reason_clear is kept
 * for the message: the later ones tend to be its consequences. A line may
 * arrive in pieces; a piece that ends no line is followed by the rest. */
static int g_reason_complete;

static void ffmpeg_log_line(int32_t is_info, const char *line)
{
    if (is_info || g_trace || g_reason_complete)
        return;
    /* "[flac @ 0x5555...] text\n": the context's address helps nobody. */
    const char *text = line;
    while (text[0] == '[' && !g_ffmpeg_reason[0] && strstr(text, "] "))
        text = strstr(text, "] ") + 2;
    size_t n = strlen(text);
    g_reason_complete = n > 0 && text[n - 1] == '\n';
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' '))
        n--;
    const size_t used = strlen(g_ffmpeg_reason);
    if (n > sizeof g_ffmpeg_reason - 1 - used)
        n = sizeof g_ffmpeg_reason - 1 - used;
    memcpy(g_ffmpeg_reason + used, text, n);
    g_ffmpeg_reason[used + n] = '\0';
    if (!g_ffmpeg_reason[0])
        g_reason_complete = 0;
}

void tool_setup(int trace)
{
    g_trace = trace;
    /* Standard output goes on through a stream of its own; the library's
     * printing (its console trace) lands on standard error. */
    tool_stdout = platform_split_stdout();
    if (!tool_stdout)
        tool_stdout = stdout;
    LogSettings settings = {trace ? 0 : 1, 0};
    ff_init(&settings);
    ff_set_log_callback(ffmpeg_log_line);
}

int tool_finish(int status)
{
    if (fflush(tool_stdout) != 0 || ferror(tool_stdout)) {
        fprintf(stderr, "flatav: cannot write to standard output\n");
        return EXIT_FAILED;
    }
    return status;
}

static char g_last_message[1024];

static void vnote(const char *command, const char *fmt, va_list args)
{
    vsnprintf(g_last_message, sizeof g_last_message, fmt, args);
    if (command)
        fprintf(stderr, "flatav %s: %s\n", command, g_last_message);
    else
        fprintf(stderr, "flatav: %s\n", g_last_message);
}

const char *last_message(void)
{
    return g_last_message;
}

void note(const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    vnote(NULL, fmt, args);
    va_end(args);
}

int fail(const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    vnote(NULL, fmt, args);
    va_end(args);
    return EXIT_FAILED;
}

int usage_error(const char *command, const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    vnote(command, fmt, args);
    va_end(args);
    if (command)
        fprintf(stderr, "(see flatav %s --help)\n", command);
    else
        fprintf(stderr, "(see flatav --help)\n");
    return EXIT_USAGE;
}

/* HostTextFn of trace texts: the library prints them itself. */
static void trace_text(void *user, const char *text)
{
    (void)user;
    (void)text;
}

static void library_error(void *user, const char *text)
{
    (void)user;
    if (g_trace)
        fprintf(stderr, "flatav: the library reports: %s\n", text);
    snprintf(g_library_reason, sizeof g_library_reason, "%s", text);
}

void set_callbacks(HostCallbacks *callbacks)
{
    callbacks->error_cb = library_error;
    if (g_trace) {
        callbacks->message_enabled = 1;
        callbacks->message_cb = trace_text;
    }
}

void reason_clear(void)
{
    g_reason_complete = 0;
    g_ffmpeg_reason[0] = '\0';
    g_library_reason[0] = '\0';
}

/* The FFmpeg code in a library text ("... failed -1094995529, file=..."):
 * the last negative number in it. */
static int code_in(const char *text, int *code)
{
    *code = 0;
    for (const char *p = strstr(text, " -"); p; p = strstr(p + 1, " -"))
        if (isdigit((unsigned char)p[2]))
            *code = -atoi(p + 2);
    return *code < 0;
}

const char *failure_reason(const char *library_text)
{
    int code = 0;
    if (g_ffmpeg_reason[0])
        return g_ffmpeg_reason;
    if (library_text && code_in(library_text, &code))
        return ffr_error_text(code, g_reason, sizeof g_reason);
    if (library_text)
        return library_text;
    return g_library_reason[0] ? g_library_reason : "failed";
}

const char *code_reason(int32_t code)
{
    if (g_ffmpeg_reason[0])
        return g_ffmpeg_reason;
    return ffr_error_text(code, g_reason, sizeof g_reason);
}

int check_filter_name(const char *command, const char *filter)
{
    char name[128], near[256];
    const size_t length = strcspn(filter, "=");
    if (length == 0 || length >= sizeof name)
        return usage_error(command, "--filter wants NAME or NAME=ARGS, not '%s'", filter);
    memcpy(name, filter, length);
    name[length] = '\0';
    if (ffr_is_audio_filter(name))
        return EXIT_DONE;
    ffr_nearest_filters(name, near, sizeof near);
    return usage_error(command, "unknown audio filter '%s'; did you mean %s?", name, near);
}

void print_help(FILE *to, const char *command)
{
    if (!command) {
        fputs(kHelpText, to);
        return;
    }
    /* A command's part starts with a line "flatav COMMAND" and runs to the
     * next such line. */
    char head[64];
    snprintf(head, sizeof head, "\nflatav %s", command);
    const char *start = strstr(kHelpText, head);
    if (!start) {
        fputs(kHelpText, to);
        return;
    }
    start++;
    const char *end = strstr(start + 1, "\nflatav ");
    fwrite(start, 1, end ? (size_t)(end - start) + 1 : strlen(start), to);
}

/* ---- options ---- */

static const OptionDef *find_option(const OptionDef *options, const char *name, size_t length,
                                   char short_name)
{
    for (const OptionDef *s = options; s->name; s++) {
        if (short_name ? s->short_name == short_name
                       : strlen(s->name) == length && strncmp(s->name, name, length) == 0)
            return s;
    }
    return NULL;
}

static int parse_value(const char *command, const OptionDef *option, const char *text)
{
    char *end = NULL;
    switch (option->kind) {
    case OPT_FLAG:
    case OPT_UNFLAG:
        return usage_error(command, "%s takes no value", option->name);
    case OPT_TEXT:
        *(const char **)option->value = text;
        return EXIT_DONE;
    case OPT_INDEX:
    case OPT_POSITIVE: {
        const long min = option->kind == OPT_INDEX ? 0 : 1;
        const long v = strtol(text, &end, 10);
        if (!*text || *end || v < min || v > 1000000000L)
            return usage_error(command, "%s wants a whole number from %ld, not '%s'",
                               option->name, min, text);
        *(int *)option->value = (int)v;
        return EXIT_DONE;
    }
    case OPT_BITRATE: {
        double v = strtod(text, &end);
        if (end && (*end == 'k' || *end == 'K'))
            v *= 1000, end++;
        else if (end && (*end == 'M' || *end == 'm'))
            v *= 1000000, end++;
        if (!*text || *end || !(v >= 1) || v > INT32_MAX)
            return usage_error(command, "%s wants bits per second (128000 or 128k), not '%s'",
                               option->name, text);
        *(int32_t *)option->value = (int32_t)(v + 0.5);
        return EXIT_DONE;
    }
    case OPT_SECONDS: {
        const double v = strtod(text, &end);
        if (!*text || *end || !(v >= 0) || v > 1e9)
            return usage_error(command, "%s wants seconds (such as 1.5), not '%s'", option->name,
                               text);
        *(double *)option->value = v;
        return EXIT_DONE;
    }
    }
    return EXIT_USAGE;
}

static int unknown_option(const char *command, const OptionDef *options, const char *arg)
{
    const char *names[64];
    size_t n = 0;
    for (const OptionDef *s = options; s->name && n + 2 < sizeof names / sizeof names[0]; s++)
        names[n++] = s->name;
    names[n++] = "--help";
    names[n] = NULL;
    char near[256];
    nearest_names(arg, names, near, sizeof near);
    return usage_error(command, "unknown option '%s'; did you mean %s?", arg, near);
}

int parse_options(const char *command, int argc, char **argv, const OptionDef *options,
                  const char **args, int max_args, int *nb_args)
{
    int options_end = 0;
    *nb_args = 0;
    for (int i = 0; i < argc; i++) {
        const char *arg = argv[i];
        const OptionDef *option = NULL;
        const char *value = NULL;
        if (!options_end && strcmp(arg, "--") == 0) {
            options_end = 1;
            continue;
        }
        if (options_end || arg[0] != '-' || strcmp(arg, "-") == 0) {
            if (*nb_args >= max_args)
                return usage_error(command, "one argument too many: '%s'", arg);
            args[(*nb_args)++] = arg;
            continue;
        }
        if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
            print_help(tool_stdout, command);
            return -1;
        }
        if (arg[1] == '-') {
            const char *eq = strchr(arg, '=');
            option = find_option(options, arg, eq ? (size_t)(eq - arg) : strlen(arg), 0);
            if (eq)
                value = eq + 1;
        } else if (arg[2] == '\0') {
            option = find_option(options, NULL, 0, arg[1]);
        }
        if (!option)
            return unknown_option(command, options, arg);
        if (option->kind == OPT_FLAG || option->kind == OPT_UNFLAG) {
            if (value)
                return usage_error(command, "%s takes no value", option->name);
            *(int *)option->value = option->kind == OPT_FLAG;
            continue;
        }
        if (!value) {
            if (i + 1 >= argc)
                return usage_error(command, "%s wants a value", option->name);
            value = argv[++i];
        }
        const int status = parse_value(command, option, value);
        if (status != EXIT_DONE)
            return status;
    }
    return EXIT_DONE;
}

int options_exit(int status)
{
    return status < 0 ? EXIT_DONE : status;
}

int parse_in_out(const char *command, int argc, char **argv, const OptionDef *options,
                 const char **in, const char **out)
{
    const char *args[2];
    int nb_args = 0;
    const int status = parse_options(command, argc, argv, options, args, 2, &nb_args);
    if (status != EXIT_DONE)
        return options_exit(status);
    if (nb_args != 2)
        return usage_error(command, "wants IN and OUT");
    *in = args[0];
    *out = args[1];
    return EXIT_DONE;
}

/* Edit distance, case-blind, of a and b (both short). */
static size_t distance(const char *a, const char *b)
{
    size_t row[64];
    const size_t la = strlen(a) < 63 ? strlen(a) : 63, lb = strlen(b) < 63 ? strlen(b) : 63;
    for (size_t j = 0; j <= lb; j++)
        row[j] = j;
    for (size_t i = 1; i <= la; i++) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= lb; j++) {
            const size_t above = row[j];
            const int same = tolower((unsigned char)a[i - 1]) == tolower((unsigned char)b[j - 1]);
            size_t best = diagonal + (same ? 0 : 1);
            if (above + 1 < best)
                best = above + 1;
            if (row[j - 1] + 1 < best)
                best = row[j - 1] + 1;
            row[j] = best;
            diagonal = above;
        }
    }
    return row[lb];
}

void nearest_names(const char *name, const char *const *list, char *buffer, size_t size)
{
    enum { kShown = 5 };
    const char *best[kShown] = {0};
    size_t best_distance[kShown];
    size_t found = 0;
    for (const char *const *p = list; *p; p++) {
        int seen = 0;
        for (size_t i = 0; i < found; i++)
            seen |= strcmp(best[i], *p) == 0;
        if (seen)
            continue;
        /* A name that starts the same way counts as near. */
        size_t d = distance(name, *p);
        if (strncmp(*p, name, strlen(name) < 3 ? strlen(name) : 3) == 0 && d > 1)
            d -= 1;
        size_t at = found < kShown ? found : kShown;
        while (at > 0 && best_distance[at - 1] > d) {
            if (at < kShown) {
                best[at] = best[at - 1];
                best_distance[at] = best_distance[at - 1];
            }
            at--;
        }
        if (at < kShown) {
            best[at] = *p;
            best_distance[at] = d;
            if (found < kShown)
                found++;
        }
    }
    buffer[0] = '\0';
    for (size_t i = 0; i < found; i++) {
        const size_t used = strlen(buffer);
        snprintf(buffer + used, size - used, "%s%s", i ? ", " : "", best[i]);
    }
}
