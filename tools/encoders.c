#include "encoders.h"

#include <math.h>
#include <string.h>

#include "flatav.h"
#include "source.h"

const EncoderEntry kEncoderTable[] = {
    {"01", ff_get_encoder_01, "alac", "alac", ""},
    {"02", ff_get_encoder_02, "ac3", "ac3,ac3_fixed", "ac3"},
    {"03", ff_get_encoder_03, "flac", "flac", "flac"},
    {"05", ff_get_encoder_05, "pcm_s16le", "pcm_s16le", "wav"},
    {"06", ff_get_encoder_06, "mp3", "libmp3lame,libshine", "mp3"},
    {"07", ff_get_encoder_07, "opus", "libopus,opus", "opus"},
    {"08", ff_get_encoder_08, "wavpack", "wavpack", "wv"},
    {"09", ff_get_encoder_09, "mp2", "mp2,mp2fixed,libtwolame", "mp2"},
    {"10", ff_get_encoder_10, "vorbis", "libvorbis,vorbis", "ogg,oga"},
    {"11", ff_get_encoder_11, "flv1 (video)", "flv", ""},
    {"12", ff_get_encoder_12, "aac", "aac,libfdk_aac", "m4a,aac,mp4"},
    {"13", ff_get_encoder_13, "tta", "tta", "tta"},
    {"14", ff_get_encoder_14, "dts", "dca", "dts"},
    {"15", ff_get_encoder_15, "truehd", "truehd", "thd"},
    {"16", ff_get_encoder_16, "wmav1", "wmav1", ""},
    {"17", ff_get_encoder_17, "wmav2", "wmav2", "wma"},
    {"18", ff_get_encoder_18, "pcm_mulaw", "pcm_mulaw", ""},
    {"19", ff_get_encoder_19, "pcm_alaw", "pcm_alaw", ""},
};
const size_t kEncoderTableSize = sizeof kEncoderTable / sizeof kEncoderTable[0];

/* Whether word is one of the comma-separated words of list. */
static int in_list(const char *list, const char *word)
{
    const size_t length = strlen(word);
    for (const char *p = list; *p;) {
        const char *end = strchr(p, ',');
        const size_t n = end ? (size_t)(end - p) : strlen(p);
        if (n == length && strncmp(p, word, n) == 0)
            return 1;
        if (!end)
            break;
        p = end + 1;
    }
    return 0;
}

int32_t codec_id_for_encoder(const char *name)
{
    for (size_t i = 0; i < kEncoderTableSize; i++)
        if (in_list(kEncoderTable[i].encoders, name))
            return kEncoderTable[i].id();
    return 0;
}

int32_t codec_id_for_file(const char *path)
{
    const char *dot = strrchr(path, '.');
    if (!dot || strchr(dot, '/'))
        return 0;
    char ext[16];
    size_t n = 0;
    for (const char *p = dot + 1; *p && n + 1 < sizeof ext; p++)
        ext[n++] = (char)((*p >= 'A' && *p <= 'Z') ? *p - 'A' + 'a' : *p);
    ext[n] = '\0';
    for (size_t i = 0; i < kEncoderTableSize; i++)
        if (in_list(kEncoderTable[i].extensions, ext))
            return kEncoderTable[i].id();
    return 0;
}

const char *codec_name_for_id(int32_t id)
{
    for (size_t i = 0; i < kEncoderTableSize; i++)
        if (kEncoderTable[i].id() == id)
            return kEncoderTable[i].name;
    return "?";
}

int is_planar_format(int fmt)
{
    return (fmt >= 5 && fmt <= 9) || fmt == 11;
}

/* Sample i of a packed or planar buffer, as a double in [-1, 1). */
static double read_sample(const uint8_t *p, int fmt)
{
    switch (packed_sample_format(fmt)) {
    case 0: return (p[0] - 128) / 128.0;
    case 1: { int16_t v; memcpy(&v, p, 2); return v / 32768.0; }
    case 2: { int32_t v; memcpy(&v, p, 4); return v / 2147483648.0; }
    case 3: { float v; memcpy(&v, p, 4); return v; }
    case 4: { double v; memcpy(&v, p, 8); return v; }
    case 10: { int64_t v; memcpy(&v, p, 8); return (double)v / 9223372036854775808.0; }
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
    case 0: p[0] = (uint8_t)(to_integer(x, 128) + 128); break;
    case 1: { int16_t v = (int16_t)to_integer(x, 32768); memcpy(p, &v, 2); break; }
    case 2: { int32_t v = (int32_t)to_integer(x, 2147483648.0); memcpy(p, &v, 4); break; }
    case 3: { float v = (float)x; memcpy(p, &v, 4); break; }
    case 4: memcpy(p, &x, 8); break;
    case 10: {
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
