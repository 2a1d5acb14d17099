/* The filter and resampler stages of `flatav transcode`. */
#include "pcm_chain.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "pcm.h"
#include "util.h"

/* Samples per channel the drain asks of the resampler at a time. */
enum { kDrainSamples = 4096 };

static int resample_block(PcmChain *c, const uint8_t *data, size_t size)
{
    if (!c->resampling)
        return c->sink(c->sink_user, data, size);
    if (size > INT32_MAX)
        return -1;
    const int32_t need = ff_buffer_size(&c->resample, (int32_t)size);
    if (ff_res_get_buffer(&c->resample, need) != 0) {
        note("out of memory");
        return -1;
    }
    int32_t capacity = 0; /* as many samples as the block can give */
    const int32_t n =
        ff_resample(&c->resample, data, (int32_t)size, c->resample.buffer, &capacity, 0);
    return n > 0 ? c->sink(c->sink_user, c->resample.buffer, (size_t)n) : 0;
}

/* PcmWriteFn of the filter stage: the filtered PCM goes on to the
 * resampler. The library ignores the result, so a failure is kept. */
static int32_t filtered(void *user, const uint8_t *data, int32_t size)
{
    PcmChain *c = (PcmChain *)user;
    if (!c->failed && resample_block(c, data, (size_t)size) != 0)
        c->failed = 1;
    return 0;
}

static int open_filter(PcmChain *c, const char *text, int rate, int channels, uint64_t mask)
{
    char name[128];
    const char *eq = strchr(text, '=');
    const size_t length = eq ? (size_t)(eq - text) : strlen(text);
    if (length == 0 || length >= sizeof name)
        return -1; /* the command checked the name */
    memcpy(name, text, length);
    name[length] = '\0';
    c->filter.sample_fmt = c->sample_fmt;
    c->filter.channel_layout = mask;
    c->filter.sample_rate = rate;
    c->filter.channels = channels;
    reason_clear();
    const int32_t r = setup_af(name, eq ? eq + 1 : NULL, &c->filter);
    if (r != 0) {
        note("cannot set up the filter '%s': %s", text, code_reason(r));
        return -1;
    }
    c->filtering = 1;
    return 0;
}

static int open_resampler(PcmChain *c, int rate, int channels, uint64_t mask,
                          uint64_t out_mask)
{
    ResampleRec *rs = &c->resample;
    rs->in_sample_fmt = c->sample_fmt;
    rs->in_sample_rate = rate;
    rs->in_channels = channels;
    rs->in_channel_layout = mask;
    rs->out_sample_fmt = c->sample_fmt;
    rs->out_sample_rate = c->out_rate;
    rs->out_channels = c->out_channels;
    rs->out_channel_layout = out_mask;
    rs->free_buffer = 1;
    reason_clear();
    const int32_t r = ff_init_resample(rs, NULL, 0);
    if (r != 0) {
        note("cannot convert %d Hz, %d channels to %d Hz, %d channels: %s", rate, channels,
             c->out_rate, c->out_channels, code_reason(r));
        return -1;
    }
    c->resampling = 1;
    return 0;
}

int chain_open(PcmChain *c, int sample_fmt, int rate, int channels, uint64_t mask,
               const char *filter, int out_rate, int out_channels, uint64_t out_mask,
               ChainSink sink, void *user)
{
    memset(c, 0, sizeof *c);
    c->sample_fmt = sample_fmt;
    c->out_rate = out_rate > 0 ? out_rate : rate;
    c->out_channels = out_channels > 0 ? out_channels : channels;
    c->sink = sink;
    c->sink_user = user;
    if (filter && open_filter(c, filter, rate, channels, mask) != 0)
        return -1;
    if ((c->out_rate != rate || c->out_channels != channels || (out_mask && out_mask != mask)) &&
        open_resampler(c, rate, channels, mask, out_mask) != 0)
        return -1;
    return 0;
}

int chain_push(PcmChain *c, const uint8_t *data, size_t size)
{
    if (c->failed)
        return -1;
    if (!c->filtering)
        return resample_block(c, data, size);
    if (size == 0)
        return 0; /* size 0 would end the filter's stream */
    if (size > INT32_MAX)
        return -1;
    const int32_t r = run_af(&c->filter, data, (int32_t)size, c, filtered);
    if (r != FLATAV_ERROR_EAGAIN && r != FLATAV_ERROR_EOF) {
        note("the filter stopped: %s", code_reason(r));
        return -1;
    }
    return c->failed ? -1 : 0;
}

int chain_finish(PcmChain *c)
{
    if (c->failed)
        return -1;
    if (c->filtering) {
        const int32_t r = run_af(&c->filter, NULL, 0, c, filtered);
        if (r != FLATAV_ERROR_EOF) {
            note("the filter's drain stopped: %s", code_reason(r));
            return -1;
        }
        if (c->failed)
            return -1;
    }
    if (!c->resampling)
        return 0;
    ResampleRec *rs = &c->resample;
    if (ff_res_get_buffer(rs, kDrainSamples * c->out_channels *
                                  bytes_per_sample(c->sample_fmt)) != 0)
        return -1;
    int32_t n;
    do {
        int32_t capacity = kDrainSamples;
        n = ff_resample(rs, NULL, 0, rs->buffer, &capacity, 1);
        if (n > 0 && c->sink(c->sink_user, rs->buffer, (size_t)n) != 0)
            return -1;
    } while (n > 0);
    return 0;
}

void chain_close(PcmChain *c)
{
    FilterRec *filter = &c->filter;
    clean_af(&filter);
    ff_cleanup_resample(&c->resample);
}
