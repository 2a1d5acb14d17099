/* What every command of the flatav tool shares: where text and data go,
 * messages and exit statuses, the reason FFmpeg gave for a failure, and
 * the reading of options. */
#ifndef FLATAV_TOOL_UTIL_H
#define FLATAV_TOOL_UTIL_H

#include <stdint.h>
#include <stdio.h>

#include "flatav.h"

/* Exit statuses. */
enum { EXIT_DONE = 0, EXIT_FAILED = 1, EXIT_USAGE = 2 };

/* The process's standard output. The library's own printing (its trace)
 * goes to standard error instead, so that this stream carries only the
 * tool's data or text. */
extern FILE *tool_stdout;

/* --allow-nested: sources are opened by name with FFmpeg's own rules for
 * what they may open besides themselves (a local playlist's segments). */
extern int tool_allow_nested;

/* Sets up output streams, the library's switches and the log bridge. */
void tool_setup(int trace);
/* Flushes tool_stdout: EXIT_DONE, or EXIT_FAILED after a message. */
int tool_finish(int status);

/* "flatav: ..." on standard error. fail returns EXIT_FAILED, usage_error
 * EXIT_USAGE, after naming where the usage is (flatav COMMAND --help). */
void note(const char *fmt, ...);
int fail(const char *fmt, ...);
int usage_error(const char *command, const char *fmt, ...);
/* The text of the last of these messages. */
const char *last_message(void);

/* Fills a zeroed callback table: error texts kept as the last resort of
 * failure_reason (and shown with --trace), and with --trace the library's
 * trace texts, which it prints itself. */
void set_callbacks(HostCallbacks *callbacks);
/* Forgets what earlier steps reported. */
void reason_clear(void);
/* Why the last step failed, in words a person can act on: the last line
 * FFmpeg logged at error level, else the words of an FFmpeg code at the end
 * of library_text, else library_text, else the library's last error text. */
const char *failure_reason(const char *library_text);

/* The same for a call that returned an FFmpeg code: FFmpeg's logged line,
 * else the code's words. */
const char *code_reason(int32_t code);

/* Checks that "NAME[=ARGS]" names an audio filter: EXIT_DONE, or
 * EXIT_USAGE after listing the nearest names. */
int check_filter_name(const char *command, const char *filter);

/* Prints the part of the help text for command (NULL: all of it). */
void print_help(FILE *to, const char *command);

/* Options of a command: each names what it sets. */
typedef enum {
    OPT_FLAG,     /* int: set to 1 */
    OPT_UNFLAG,   /* int: set to 0 */
    OPT_TEXT,     /* const char * */
    OPT_INDEX,    /* int: 0 or more */
    OPT_POSITIVE, /* int: 1 or more */
    OPT_BITRATE,  /* int32_t bits per second: 128000 or 128k */
    OPT_SECONDS,  /* double: 0 or more */
} OptionKind;

typedef struct OptionDef {
    const char *name;  /* "--name" */
    char short_name;   /* '-x', or 0 */
    OptionKind kind;
    void *value;
} OptionDef;

/* Reads argv: the options of options (ended by a option without name), and up
 * to max_args other arguments into args (*nb_args of them). Returns
 * EXIT_DONE, EXIT_USAGE after saying why, or -1 after printing the
 * command's help for --help. */
int parse_options(const char *command, int argc, char **argv, const OptionDef *options,
                  const char **args, int max_args, int *nb_args);

/* The end of a table of options. */
#define OPTIONS_END {NULL, 0, OPT_FLAG, NULL}

/* The options -y and -n, setting an int. */
#define OVERWRITE_OPTIONS(flag) \
    {"--overwrite", 'y', OPT_FLAG, &(flag)}, {"--no-overwrite", 'n', OPT_UNFLAG, &(flag)}

/* parse_options for a command of IN and OUT: EXIT_DONE with both set, else
 * the exit status to end with (EXIT_DONE after --help). */
int parse_in_out(const char *command, int argc, char **argv, const OptionDef *options,
                 const char **in, const char **out);
/* The exit status after parse_options did not return EXIT_DONE. */
int options_exit(int status);

/* The names of list (NULL-terminated) nearest to name, comma-separated
 * into buffer: what an error suggests instead of an unknown name. */
void nearest_names(const char *name, const char *const *list, char *buffer, size_t size);

#endif
