/* PCM in the tool: sample formats by name and size, conversion between
 * them, and the growable buffer the decoder writes into. */
#ifndef FLATAV_TOOL_PCM_H
#define FLATAV_TOOL_PCM_H

#include <stddef.h>
#include <stdint.h>

#include "flatav.h"

/* The header's names of FFmpeg's sample formats and media types, for a
 * header that does not have them yet. */
#ifndef FLATAV_SAMPLE_FMT_NONE
#define FLATAV_SAMPLE_FMT_NONE (-1)
#define FLATAV_SAMPLE_FMT_U8 0
#define FLATAV_SAMPLE_FMT_S16 1
#define FLATAV_SAMPLE_FMT_S32 2
#define FLATAV_SAMPLE_FMT_FLT 3
#define FLATAV_SAMPLE_FMT_DBL 4
#define FLATAV_SAMPLE_FMT_U8P 5
#define FLATAV_SAMPLE_FMT_S16P 6
#define FLATAV_SAMPLE_FMT_S32P 7
#define FLATAV_SAMPLE_FMT_FLTP 8
#define FLATAV_SAMPLE_FMT_DBLP 9
#define FLATAV_SAMPLE_FMT_S64 10
#define FLATAV_SAMPLE_FMT_S64P 11
#define FLATAV_MEDIA_VIDEO 0
#define FLATAV_MEDIA_AUDIO 1
#define FLATAV_MEDIA_DATA 2
#define FLATAV_MEDIA_SUBTITLE 3
#define FLATAV_MEDIA_ATTACHMENT 4
#define FLATAV_READ_DECODE 0
#define FLATAV_READ_RAW_PACKET 3
#define FLATAV_DECODE_ERRORS_COUNT_AND_SKIP 1
#define FLATAV_SEEK_FORCE 0x20000
#define FLATAV_MEM_CODEC_MLP 1
#endif

/* FFmpeg's name of a sample format ("s16", "fltp"), "none" for others; and
 * the format of a name, FLATAV_SAMPLE_FMT_NONE for none. */
const char *sample_format_name(int fmt);
int sample_format_of(const char *name);
int packed_sample_format(int fmt);
int is_planar_format(int fmt);
int bytes_per_sample(int fmt);

/* Converts n samples per channel of packed PCM in in_fmt to out_fmt (packed
 * or planar). Planar output goes plane after plane, each plane_stride
 * samples long. Widening conversions are exact. */
void convert_samples(const uint8_t *in, int in_fmt, uint8_t *out, int out_fmt,
                     int channels, int n, int plane_stride);

/* HostGrowBufferFn for a packed AudioBuffer, and its release. */
void grow_audio_buffer(void *always_null, AudioBuffer *abuf, int32_t need);
void free_audio_buffer(AudioBuffer *abuf);

#endif
