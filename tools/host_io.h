/* File access for the library's custom-I/O callbacks. */
#ifndef FLATAV_TOOL_HOST_IO_H
#define FLATAV_TOOL_HOST_IO_H

#include <stdint.h>
#include <stdio.h>

typedef struct HostFile {
    FILE *file;
    const char *path;
} HostFile;

/* mode as for fopen. Returns 0, or -1 with a message on standard error. */
int host_file_open(HostFile *hf, const char *path, const char *mode);
void host_file_close(HostFile *hf);

/* IoReadFn / IoWriteFn / IoSeekFn over a HostFile (opaque). */
int32_t host_file_read(void *opaque, uint8_t *buf, int32_t size);
int32_t host_file_write(void *opaque, uint8_t *buf, int32_t size);
int64_t host_file_seek(void *opaque, int64_t offset, int32_t whence);

/* Non-zero when path names a URL that FFmpeg should open itself. */
int is_url(const char *path);

#endif
