/* Opening a source through the library, shared by the commands. */
#ifndef FLATAV_TOOL_SOURCE_H
#define FLATAV_TOOL_SOURCE_H

#include "flatav.h"
#include "host_io.h"

typedef struct Source {
    DecodeRec rec;
    HostCallbacks callbacks;
    HostFile file;
    int print_tags;
} Source;

/* What source_open does besides opening. */
enum {
    SOURCE_PRINT_TAGS = 1, /* print metadata and chapters as they arrive */
    /* Make the library's trial seek, which tells whether the source is
     * seekable but leaves the read position wherever the seek went (for some
     * containers not the first packet): for sources not decoded afterwards. */
    SOURCE_TRY_SEEK = 2,
    SOURCE_STREAMCOPY = 4, /* ask for stream-copy data */
};

/* Opens path (a URL through FFmpeg, a file through the library's custom-I/O
 * callbacks) with the SOURCE_ flags. Returns 0, or -1 after printing why.
 * Close with source_close either way. */
int source_open(Source *s, const char *path, int flags);
void source_close(Source *s);

/* The first audio stream whose decoder opened, or -1. */
int source_first_audio(const Source *s);

/* Decodes the next packet into abuf (packed) and gives the sample format it
 * arrived in. Returns the bytes decoded (0 at the end), or a negative code. */
int32_t decode_first(Source *s, AudioBuffer *abuf, int32_t *error_count, int *format);

/* Sample format helpers (FLATAV_SAMPLE_FMT_* values). */
const char *sample_format_name(int fmt);
int packed_sample_format(int fmt);
int bytes_per_sample(int fmt);

/* The packed PCM buffer that grows when the library asks. */
void grow_audio_buffer(void *always_null, AudioBuffer *abuf, int32_t need);
void free_audio_buffer(AudioBuffer *abuf);

#endif
