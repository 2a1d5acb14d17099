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

/* Opens path (a URL through FFmpeg, a file through the library's custom-I/O
 * callbacks). print_tags: print metadata and chapters as they arrive.
 * try_seek: make the library's trial seek, which tells whether the source
 * is seekable but leaves the read position wherever the seek went (for some
 * containers not the first packet): only for sources not decoded afterwards.
 * Returns 0, or -1 after printing why. Close with source_close either way. */
int source_open(Source *s, const char *path, int print_tags, int try_seek);
void source_close(Source *s);

/* The first audio stream whose decoder opened, or -1. */
int source_first_audio(const Source *s);

/* The packed format a decoder delivered, named from the stream's reported
 * format when its sample size agrees with what was measured, else by size
 * alone (the decoder FFmpeg picks may differ from the one that described
 * the stream). */
const char *delivered_format_name(int reported_fmt, int measured_bytes);

/* The packed format a decoder delivered, named from the stream's reported
 * format when its sample size agrees with what was measured, else by size
 * alone (the decoder FFmpeg picks may differ from the one that described
 * the stream). */
const char *delivered_format_name(int reported_fmt, int measured_bytes);

/* Sample format helpers (AVSampleFormat values). */
const char *sample_format_name(int fmt);
int packed_sample_format(int fmt);
int bytes_per_sample(int fmt);

/* The packed PCM buffer that grows when the library asks. */
void grow_audio_buffer(void *always_null, AudioBuffer *abuf, int32_t need);
void free_audio_buffer(AudioBuffer *abuf);

#endif
