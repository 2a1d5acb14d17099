/* What the tool needs from the operating system beyond the C library, for
 * POSIX systems and Windows alike. File names are UTF-8 throughout: on
 * Windows the command line is read as UTF-16 and handed on as UTF-8, the
 * encoding FFmpeg's file protocol and the library take there. */
#ifndef FLATAV_TOOL_PLATFORM_H
#define FLATAV_TOOL_PLATFORM_H

#include <stdio.h>

/* Replaces argv by the command line in UTF-8 (Windows; elsewhere it is
 * left as it is). */
void platform_utf8_args(int *argc, char ***argv);

/* fopen for a UTF-8 file name. */
FILE *platform_fopen(const char *path, const char *mode);

/* Standard input in binary mode. */
void platform_binary_stdin(void);

/* A stream for the tool's data on what was standard output, which from
 * now on goes to standard error (where the library's console trace then
 * lands). NULL when the streams cannot be split. */
FILE *platform_split_stdout(void);

int platform_stderr_is_terminal(void);

/* What path names: 0 nothing, 1 a regular file, 2 something else (a
 * device, a pipe). */
int platform_file_kind(const char *path);

/* Non-zero when path and input_path ("-": standard input) are one file,
 * whatever the names. */
int platform_same_file(const char *path, const char *input_path);

/* A new temporary file in path's directory, opened for writing in binary
 * mode, with *temp_path its name (free it). NULL with errno set on
 * failure. */
FILE *platform_temp_beside(const char *path, char **temp_path);

/* Moves from onto to, replacing to in one step. 0, or -1 with errno set. */
int platform_replace_file(const char *from, const char *to);

#endif
