/* The stages between decoding and encoding in `flatav transcode`: an FFmpeg
 * audio filter through setup_af / run_af, then a rate and channel change
 * through the resampler. Both keep the decoded packed sample format. */
#ifndef FLATAV_TOOL_PCM_CHAIN_H
#define FLATAV_TOOL_PCM_CHAIN_H

#include <stddef.h>
#include <stdint.h>

#include "flatav.h"

/* Receives the chain's output; returns 0, or -1 to stop the job. */
typedef int (*ChainSink)(void *user, const uint8_t *data, size_t size);

typedef struct PcmChain {
    int filtering, resampling;
    FilterRec filter;
    ResampleRec resample;
    int sample_fmt;       /* packed, in and out */
    int out_rate, out_channels;
    ChainSink sink;
    void *sink_user;
    int failed;           /* the sink or a stage gave up */
} PcmChain;

/* The decoded PCM: sample_fmt (packed), rate, channels and channel mask.
 * filter: "NAME" or "NAME=ARGS", or NULL. out_rate / out_channels: 0 keeps
 * the input's; out_mask: the layout to remix to, 0 FFmpeg's default for
 * out_channels. Returns 0, or -1 after printing why. Close with chain_close
 * either way. */
int chain_open(PcmChain *c, int sample_fmt, int rate, int channels, uint64_t mask,
               const char *filter, int out_rate, int out_channels, uint64_t out_mask,
               ChainSink sink, void *user);
/* Passes size bytes of decoded PCM through; 0 or -1. */
int chain_push(PcmChain *c, const uint8_t *data, size_t size);
/* Drains the filter, then the resampler; 0 or -1. */
int chain_finish(PcmChain *c);
void chain_close(PcmChain *c);

#endif
