/* Files for the library's custom-I/O callbacks, and outputs that never
 * lose the user's data. */
#ifndef FLATAV_TOOL_HOST_IO_H
#define FLATAV_TOOL_HOST_IO_H

#include <stdint.h>
#include <stdio.h>

typedef struct HostFile {
    FILE *file;
    const char *path;
    int is_std;   /* standard input or output: not closed */
    int seekable;
} HostFile;

/* Opens path for reading, "-" being standard input. Returns 0, or -1 after
 * a message. Close with host_file_close either way. */
int host_file_open_input(HostFile *hf, const char *path);
void host_file_close(HostFile *hf);

/* IoReadFn / IoWriteFn / IoSeekFn over a HostFile (opaque). */
int32_t host_file_read(void *opaque, uint8_t *buf, int32_t size);
int32_t host_file_write(void *opaque, uint8_t *buf, int32_t size);
int64_t host_file_seek(void *opaque, int64_t offset, int32_t whence);

/* Non-zero when path names a URL that FFmpeg should open itself. */
int is_url(const char *path);

/* An output file. A regular file is written to a temporary file beside it,
 * renamed into place by output_commit; "-" (or a name of standard output)
 * is standard output; a device or pipe is written as it is. */
typedef struct Output {
    HostFile file;      /* what the writers write through */
    const char *path;   /* as the user gave it */
    char *temp_path;    /* the temporary file, or NULL */
    int to_stdout;
} Output;

/* Refuses an output that is the input (same file, whatever the path) and
 * an existing regular file unless overwrite. Returns EXIT_DONE, or
 * EXIT_FAILED after a message. output_abort is safe either way. */
int output_open(Output *o, const char *path, int overwrite, const char *input_path);
/* Closes and renames into place: EXIT_DONE, or EXIT_FAILED after a message
 * (the temporary file then is gone). */
int output_commit(Output *o);
/* Closes and removes the temporary file; an existing file stays as it was.
 * Safe after output_commit and twice. */
void output_abort(Output *o);

#endif
