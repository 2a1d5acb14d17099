#include "pcm.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

static const char *const kFormatNames[] = {
    "u8", "s16", "s32", "flt", "dbl", "u8p", "s16p", "s32p", "fltp", "dblp", "s64", "s64p",
};
static const int kFormatBytes[] = {1, 2, 4, 4, 8, 1, 2, 4, 4, 8, 8, 8};
enum { kFormatCount = sizeof kFormatBytes / sizeof kFormatBytes[0] };

const char *sample_format_name(int fmt)
{
    return fmt >= 0 && fmt < kFormatCount ? kFormatNames[fmt] : "none";
}

int sample_format_of(const char *name)
{
    for (int fmt = 0; fmt < kFormatCount; fmt++)
        if (strcmp(name, kFormatNames[fmt]) == 0)
            return fmt;
    return FLATAV_SAMPLE_FMT_NONE;
}

int is_planar_format(int fmt)
{
    return (fmt >= FLATAV_SAMPLE_FMT_U8P && fmt <= FLATAV_SAMPLE_FMT_DBLP) ||
           fmt == FLATAV_SAMPLE_FMT_S64P;
}

int packed_sample_format(int fmt)
{
    if (fmt == FLATAV_SAMPLE_FMT_S64P)
        return FLATAV_SAMPLE_FMT_S64;
    if (is_planar_format(fmt))
        return fmt - FLATAV_SAMPLE_FMT_U8P + FLATAV_SAMPLE_FMT_U8;
    return fmt;
}

int bytes_per_sample(int fmt)
{
    return fmt >= 0 && fmt < kFormatCount ? kFormatBytes[fmt] : 0;
}

/* One sample as a double in [-1, 1). */
static double read_sample(const uint8_t *p, int fmt)
{
    switch (packed_sample_format(fmt)) {
    case FLATAV_SAMPLE_FMT_U8: return (p[0] - 128) / 128.0;
    case FLATAV_SAMPLE_FMT_S16: { int16_t v; memcpy(&v, p, 2); return v / 32768.0; }
    case FLATAV_SAMPLE_FMT_S32: { int32_t v; memcpy(&v, p, 4); return v / 2147483648.0; }
    case FLATAV_SAMPLE_FMT_FLT: { float v; memcpy(&v, p, 4); return v; }
    case FLATAV_SAMPLE_FMT_DBL: { double v; memcpy(&v, p, 8); return v; }
    case FLATAV_SAMPLE_FMT_S64: {
        int64_t v;
        memcpy(&v, p, 8);
        return (double)v / 9223372036854775808.0;
    }
    default: return 0;
    }
}

/* Scales, rounds and clips x to an integer of the given full scale. */
static double to_integer(double x, double scale)
{
    double v = floor(x * scale + 0.5);
    if (v > scale - 1)
        v = scale - 1;
    if (v < -scale)
        v = -scale;
    return v;
}

static void write_sample(uint8_t *p, int fmt, double x)
{
    switch (packed_sample_format(fmt)) {
    case FLATAV_SAMPLE_FMT_U8: p[0] = (uint8_t)(to_integer(x, 128) + 128); break;
    case FLATAV_SAMPLE_FMT_S16: {
        int16_t v = (int16_t)to_integer(x, 32768);
        memcpy(p, &v, 2);
        break;
    }
    case FLATAV_SAMPLE_FMT_S32: {
        int32_t v = (int32_t)to_integer(x, 2147483648.0);
        memcpy(p, &v, 4);
        break;
    }
    case FLATAV_SAMPLE_FMT_FLT: { float v = (float)x; memcpy(p, &v, 4); break; }
    case FLATAV_SAMPLE_FMT_DBL: memcpy(p, &x, 8); break;
    case FLATAV_SAMPLE_FMT_S64: {
        /* 2^63 - 1 has no double: the top clips to the largest one below. */
        const double v = to_integer(x, 9223372036854775808.0);
        int64_t i = v >= 9223372036854775807.0 ? INT64_MAX : (int64_t)v;
        memcpy(p, &i, 8);
        break;
    }
    default: break;
    }
}

void convert_samples(const uint8_t *in, int in_fmt, uint8_t *out, int out_fmt,
                     int channels, int n, int plane_stride)
{
    const int in_bytes = bytes_per_sample(in_fmt);
    const int out_bytes = bytes_per_sample(out_fmt);
    const int planar = is_planar_format(out_fmt);
    if (!planar && packed_sample_format(in_fmt) == out_fmt) {
        memcpy(out, in, (size_t)n * channels * in_bytes);
        return;
    }
    for (int i = 0; i < n; i++) {
        for (int ch = 0; ch < channels; ch++) {
            const double x = read_sample(in + ((size_t)i * channels + ch) * in_bytes, in_fmt);
            const size_t at = planar ? (size_t)ch * plane_stride + i : (size_t)i * channels + ch;
            write_sample(out + at * out_bytes, out_fmt, x);
        }
    }
}

void grow_audio_buffer(void *always_null, AudioBuffer *abuf, int32_t need)
{
    (void)always_null;
    uint8_t *bigger = (uint8_t *)realloc(abuf->data, (size_t)need);
    if (!bigger)
        return; /* the library sees the old capacity and skips the frame */
    abuf->data = bigger;
    abuf->capacity = need;
}

void free_audio_buffer(AudioBuffer *abuf)
{
    free(abuf->data);
    abuf->data = NULL;
    abuf->capacity = 0;
}
