/* The work of `flatav transcode` and `flatav decode`: decode one audio
 * stream, pass the PCM through the filter and the resampler (pcm_chain.c),
 * convert it to the encoder's sample format and encode it into an output
 * that is renamed into place only when everything succeeded. */
#ifndef FLATAV_TOOL_ENCODE_JOB_H
#define FLATAV_TOOL_ENCODE_JOB_H

#include <stdint.h>

#include "ffmpeg/registry.h"

struct JobOptions;
typedef struct JobOptions {
    const char *in, *out;
    const char *filter;        /* NAME[=ARGS], or NULL */
    const char *sample_format; /* the encoder's, by name; NULL: chosen for it */
    const char *pcm_format;    /* decode: s16, s24, s32 or flt; NULL: as decoded */
    int32_t bit_rate;          /* 0: the encoder's default */
    int stream;                /* -1: the first audio stream that decodes */
    int rate, channels;        /* 0: as decoded, or what the encoder takes */
    int overwrite;
    int with_tags;             /* carry tags and chapters over */
    double start, duration;    /* seconds; duration 0: to the end */
    /* Chooses encoder and container once the decoded format is known, for
     * a job given none; EXIT_DONE or EXIT_USAGE after saying why. */
    int (*choose)(const struct JobOptions *o, int decoded_fmt, int bits_per_raw_sample,
                  EncoderFacts *enc, MuxerFacts *mux);
} JobOptions;

/* Runs the job with encoder enc into container mux (both NULL: chosen by
 * o->choose): EXIT_DONE, or EXIT_FAILED / EXIT_USAGE after saying why. */
int run_encode_job(const char *command, const JobOptions *o, const EncoderFacts *enc,
                   const MuxerFacts *mux);

#endif
