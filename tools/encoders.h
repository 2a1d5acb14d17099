/* The encoders the library offers by fixed id, and the conversion of packed
 * PCM into the sample format an encoder wants. */
#ifndef FLATAV_TOOL_ENCODERS_H
#define FLATAV_TOOL_ENCODERS_H

#include <stddef.h>
#include <stdint.h>

typedef struct EncoderEntry {
    const char *number;     /* the function's number: "01" ... "19" */
    int32_t (*id)(void);    /* ff_get_encoder_NN */
    const char *name;       /* the codec's name */
    const char *encoders;   /* FFmpeg encoder names that give this codec, comma-separated */
    const char *extensions; /* file extensions that default to it, comma-separated */
} EncoderEntry;

extern const EncoderEntry kEncoderTable[];
extern const size_t kEncoderTableSize;

/* The codec id for an encoder name of the table ("libmp3lame" -> MP3), or 0. */
int32_t codec_id_for_encoder(const char *name);
/* The codec id a file's extension defaults to, or 0. */
int32_t codec_id_for_file(const char *path);
/* The table's name of a codec id, or "?". */
const char *codec_name_for_id(int32_t id);

/* Sample formats (AVSampleFormat values). */
int is_planar_format(int fmt);

/* Converts n samples per channel of packed PCM in in_fmt to out_fmt (packed
 * or planar). Planar output goes plane after plane, each plane_stride
 * samples long. Widening conversions are exact. */
void convert_samples(const uint8_t *in, int in_fmt, uint8_t *out, int out_fmt,
                     int channels, int n, int plane_stride);

#endif
