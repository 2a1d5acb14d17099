/* PCM in the tool: sample formats by name and size, conversion between
 * them, and the growable buffer the decoder writes into. */
#ifndef FLATAV_TOOL_PCM_H
#define FLATAV_TOOL_PCM_H

#include <stddef.h>
#include <stdint.h>

#include "flatav.h"

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
