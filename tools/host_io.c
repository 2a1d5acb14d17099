#if !defined(_WIN32)
#define _FILE_OFFSET_BITS 64
#define _POSIX_C_SOURCE 200809L
#endif
#include "host_io.h"

#include <errno.h>
#include <string.h>

#include "flatav.h"

#if defined(_WIN32)
#define file_seek _fseeki64
#define file_tell _ftelli64
#else
#include <sys/types.h>
#define file_seek fseeko
#define file_tell ftello
#endif

int host_file_open(HostFile *hf, const char *path, const char *mode)
{
    hf->path = path;
    hf->file = fopen(path, mode);
    if (!hf->file) {
        fprintf(stderr, "flatav: cannot open %s: %s\n", path, strerror(errno));
        return -1;
    }
    return 0;
}

void host_file_close(HostFile *hf)
{
    if (hf->file)
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
        return -5; /* AVERROR(EIO) */
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
    whence &= ~0x20000; /* AVSEEK_FORCE: a file seeks anyway */
    if (file_seek(hf->file, offset, whence) != 0)
        return -1;
    return file_tell(hf->file);
}

int is_url(const char *path)
{
    return strstr(path, "://") != NULL;
}
