#if !defined(_WIN32)
#define _FILE_OFFSET_BITS 64
#define _POSIX_C_SOURCE 200809L
#endif
#include "host_io.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "flatav.h"
#include "pcm.h"
#include "platform.h"
#include "util.h"

#if defined(_WIN32)
#define file_seek _fseeki64
#define file_tell _ftelli64
#else
#define file_seek fseeko
#define file_tell ftello
#endif

static int can_seek(FILE *file)
{
    return file_seek(file, 0, SEEK_CUR) == 0;
}

int host_file_open_input(HostFile *hf, const char *path)
{
    memset(hf, 0, sizeof *hf);
    hf->path = path;
    if (strcmp(path, "-") == 0) {
        hf->file = stdin;
        hf->is_std = 1;
        platform_binary_stdin();
    } else {
        hf->file = platform_fopen(path, "rb");
        if (!hf->file) {
            note("cannot open %s: %s", path, strerror(errno));
            return -1;
        }
    }
    hf->seekable = can_seek(hf->file);
    return 0;
}

void host_file_close(HostFile *hf)
{
    if (hf->file && !hf->is_std)
        fclose(hf->file);
    hf->file = NULL;
}

int32_t host_file_read(void *opaque, uint8_t *buf, int32_t size)
{
    HostFile *hf = (HostFile *)opaque;
    size_t n = fread(buf, 1, (size_t)size, hf->file);
    if (n == 0)
        return FLATAV_ERROR_EOF;
    return (int32_t)n;
}

int32_t host_file_write(void *opaque, uint8_t *buf, int32_t size)
{
    HostFile *hf = (HostFile *)opaque;
    if (fwrite(buf, 1, (size_t)size, hf->file) != (size_t)size)
        return -EIO; /* FFmpeg's AVERROR(EIO) */
    return size;
}

int64_t host_file_seek(void *opaque, int64_t offset, int32_t whence)
{
    HostFile *hf = (HostFile *)opaque;
    if (whence == FLATAV_SEEK_SIZE) {
        int64_t here = file_tell(hf->file);
        if (here < 0 || file_seek(hf->file, 0, SEEK_END) != 0)
            return -1;
        int64_t size = file_tell(hf->file);
        file_seek(hf->file, here, SEEK_SET);
        return size;
    }
    whence &= ~FLATAV_SEEK_FORCE; /* a file seeks anyway */
    if (file_seek(hf->file, offset, whence) != 0)
        return -1;
    return file_tell(hf->file);
}

int is_url(const char *path)
{
    return strstr(path, "://") != NULL;
}

/* ---- outputs ---- */

static int names_stdout(const char *path)
{
    return strcmp(path, "-") == 0 || strcmp(path, "/dev/stdout") == 0 ||
           strcmp(path, "/dev/fd/1") == 0 || strcmp(path, "/proc/self/fd/1") == 0;
}

static int output_prepare(Output *o, int overwrite, const char *input_path)
{
    const int kind = platform_file_kind(o->path);
    if (kind && input_path && !is_url(input_path) && platform_same_file(o->path, input_path))
        return fail("%s is the input %s; choose another output", o->path,
                    strcmp(input_path, "-") == 0 ? "(standard input)" : input_path);
    if (kind == 2) {
        /* A device or a pipe: written as it is. */
        o->file.file = platform_fopen(o->path, "wb");
        if (!o->file.file)
            return fail("cannot write %s: %s", o->path, strerror(errno));
        return EXIT_DONE;
    }
    if (kind && !overwrite)
        return fail("%s exists; add -y to replace it", o->path);
    o->file.file = platform_temp_beside(o->path, &o->temp_path);
    if (!o->file.file)
        return fail("cannot write %s: %s", o->path, strerror(errno));
    return EXIT_DONE;
}

int output_open(Output *o, const char *path, int overwrite, const char *input_path)
{
    memset(o, 0, sizeof *o);
    o->path = path;
    o->file.path = path;
    if (names_stdout(path)) {
        /* A pipe, as the ffmpeg tool treats it: never seeks. */
        o->to_stdout = 1;
        o->file.file = tool_stdout;
        o->file.is_std = 1;
        return EXIT_DONE;
    }
    const int status = output_prepare(o, overwrite, input_path);
    if (status == EXIT_DONE)
        o->file.seekable = o->temp_path != NULL && can_seek(o->file.file);
    return status;
}

int output_commit(Output *o)
{
    FILE *file = o->file.file;
    o->file.file = NULL;
    int failed = file && (fflush(file) != 0 || ferror(file));
    if (file && !o->file.is_std && fclose(file) != 0)
        failed = 1;
    if (failed) {
        output_abort(o);
        return fail("cannot write %s: %s", o->path, strerror(errno));
    }
    if (!o->temp_path)
        return EXIT_DONE;
    if (platform_replace_file(o->temp_path, o->path) != 0) {
        const int error = errno;
        output_abort(o);
        return fail("cannot write %s: %s", o->path, strerror(error));
    }
    free(o->temp_path);
    o->temp_path = NULL;
    return EXIT_DONE;
}

void output_abort(Output *o)
{
    if (o->file.file && !o->file.is_std)
        fclose(o->file.file);
    o->file.file = NULL;
    if (o->temp_path) {
        remove(o->temp_path);
        free(o->temp_path);
        o->temp_path = NULL;
    }
}
