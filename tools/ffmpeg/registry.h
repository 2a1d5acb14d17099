/* What the tool asks FFmpeg itself, which the library's interface does not
 * tell: its encoders, containers and filters by name (for choosing, for
 * checking a name and for the nearest names), channel layout and codec
 * names, and the words of its error codes. Only this folder includes
 * FFmpeg's headers. */
#ifndef FLATAV_TOOL_FFMPEG_REGISTRY_H
#define FLATAV_TOOL_FFMPEG_REGISTRY_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

/* An audio encoder and what it takes. */
typedef struct EncoderFacts {
    const char *name;       /* the encoder's name ("libmp3lame") */
    const char *codec_name; /* its codec's ("mp3") */
    int32_t codec_id;
    int experimental;       /* FFmpeg marks it experimental */
    int is_default;         /* FFmpeg's first choice for its codec */
    const void *codec;      /* FFmpeg's encoder */
} EncoderFacts;

/* name: an audio encoder, else a codec (its default encoder). 0 or -1. */
int ffr_find_encoder(const char *name, EncoderFacts *facts);
/* FFmpeg's encoder for codec_id. 0 or -1. */
int ffr_default_encoder(int32_t codec_id, EncoderFacts *facts);
/* The audio encoder and codec names nearest to name, comma-separated. */
void ffr_nearest_encoders(const char *name, char *buffer, size_t size);

/* The rate the encoder takes that is nearest to rate (rate itself when it
 * takes any). */
int ffr_nearest_rate(const EncoderFacts *facts, int rate);
/* The channel layout to encode source channels in: the source's own when
 * the encoder takes it (or declares nothing), else one it takes with as
 * many channels, else its largest below that, else its first. mask 0: the
 * default layout of the count; facts NULL: the source's own. Returns the
 * mask, *channels its count. */
uint64_t ffr_encoder_layout(const EncoderFacts *facts, uint64_t mask, int *channels);
/* Whether the encoder takes sample format fmt (or declares none). */
int ffr_takes_sample_format(const EncoderFacts *facts, int fmt);

/* A container. */
typedef struct MuxerFacts {
    const char *name;
    const char *extension;     /* its first file extension, or NULL */
    int32_t audio_codec_id;    /* its usual audio codec, 0 for none */
} MuxerFacts;

/* By name: 0 or -1. */
int ffr_find_muxer(const char *name, MuxerFacts *facts);
/* The container FFmpeg picks for a file name: 0 or -1. */
int ffr_guess_muxer(const char *path, MuxerFacts *facts);
/* Whether name names a container: the library tries an encoder name as a
 * container name first. */
int ffr_is_muxer_name(const char *name);
void ffr_nearest_muxers(const char *name, char *buffer, size_t size);

/* Whether FFmpeg has an audio filter of one audio input and one output
 * called name; nearest names of those. */
int ffr_is_audio_filter(const char *name);
void ffr_nearest_filters(const char *name, char *buffer, size_t size);
/* The rate and layout the filter "NAME[=ARGS]" makes of the given input,
 * built as a graph of its own: 0, or an FFmpeg code after which FFmpeg has
 * logged why. */
int ffr_filter_output(const char *filter, int sample_fmt, int rate, uint64_t mask,
                      int *out_rate, uint64_t *out_mask);
/* Lists them: name and description per line. Returns the count. */
int ffr_list_filters(FILE *to);

/* Every FFmpeg audio encoder, its sample formats and rates, one a line. */
void ffr_list_all_encoders(FILE *to);

/* FFmpeg's name of a codec id ("aac"). */
const char *ffr_codec_name(int32_t codec_id);
/* The name of a channel layout ("5.1(side)"), or "N channels"; channels 0:
 * as many as the mask has. */
const char *ffr_layout_name(uint64_t mask, int channels, char *buffer, size_t size);
/* The opened source's start time (DecodeRec.av_format_context) in
 * microseconds, the ffmpeg tool's unit: the time of its first sample, which
 * becomes 0 in an output; 0 when FFmpeg knows none. */
struct AVFormatContext;
int64_t ffr_start_time(const struct AVFormatContext *source);
/* FFmpeg's words for an error code, into buffer. */
const char *ffr_error_text(int code, char *buffer, size_t size);
/* FFmpeg's version, as "libavcodec 59.37.100, libavformat ...". */
const char *ffr_versions(char *buffer, size_t size);

#endif
