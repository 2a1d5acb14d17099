#include "encode_job.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "host_io.h"
#include "pcm.h"
#include "pcm_chain.h"
#include "progress.h"
#include "source.h"
#include "util.h"

/* Samples per call for encoders that take any length. */
enum { kAnyLengthBlock = 4096 };
/* The bit rate given to an encoder that opens only with one. */
enum { kDefaultBitRate = 128000 };

typedef struct Job {
    EncodeRec rec;
    HostCallbacks callbacks;
    PcmChain chain;       /* filter and resampler between decoder and encoder */
    int in_fmt;           /* packed format leaving the chain */
    int out_fmt;          /* the encoder's */
    int rate, channels;   /* as encoded */
    uint64_t mask;
    int in_frame_bytes;   /* bytes of one sample frame leaving the chain */
    int out_sample_bytes; /* bytes of one sample as encoded */
    int block;            /* samples per channel per encode call */
    int64_t limit;        /* samples per channel to encode, 0: all */
    uint8_t *converted;   /* one block in the encoder's format */
    uint8_t **planes;     /* plane pointers into converted */
    uint8_t *pending;     /* PCM from the chain not yet encoded */
    size_t pending_start, pending_size, pending_capacity;
    int64_t samples;      /* encoded so far */
} Job;

static int append_pending(Job *t, const uint8_t *data, size_t size)
{
    if (t->pending_start > 0) {
        memmove(t->pending, t->pending + t->pending_start, t->pending_size);
        t->pending_start = 0;
    }
    if (t->pending_size + size > t->pending_capacity) {
        size_t capacity = (t->pending_size + size) * 2;
        uint8_t *bigger = (uint8_t *)realloc(t->pending, capacity);
        if (!bigger)
            return -1;
        t->pending = bigger;
        t->pending_capacity = capacity;
    }
    memcpy(t->pending + t->pending_size, data, size);
    t->pending_size += size;
    return 0;
}

/* ChainSink: the chain's output waits in the pending PCM. */
static int pending_sink(void *user, const uint8_t *data, size_t size)
{
    return append_pending((Job *)user, data, size);
}

/* Encodes n samples per channel from the front of the pending PCM. */
static int encode_block(Job *t, int n)
{
    const uint8_t *pcm = t->pending + t->pending_start;
    const int32_t bytes = n * t->channels * t->out_sample_bytes;
    int32_t result;
    reason_clear();
    if (is_planar_format(t->out_fmt)) {
        /* The planes of a short last block are n samples apart. */
        convert_samples(pcm, t->in_fmt, t->converted, t->out_fmt, t->channels, n, n);
        for (int ch = 0; ch < t->channels; ch++)
            t->planes[ch] = t->converted + (size_t)ch * n * t->out_sample_bytes;
        result = ff_encode_audio2(&t->rec, t->planes[0], t->planes, bytes);
    } else if (t->in_fmt == t->out_fmt) {
        result = ff_encode_audio2(&t->rec, pcm, NULL, bytes);
    } else {
        convert_samples(pcm, t->in_fmt, t->converted, t->out_fmt, t->channels, n, 0);
        result = ff_encode_audio2(&t->rec, t->converted, NULL, bytes);
    }
    t->pending_start += (size_t)n * t->in_frame_bytes;
    t->pending_size -= (size_t)n * t->in_frame_bytes;
    t->samples += n;
    if (result < 0) {
        note("encoding %s stopped: %s", t->rec.output_file_name, code_reason(result));
        return -1;
    }
    return 0;
}

/* Encodes every whole block of the pending PCM; with flush, the rest too;
 * nothing past the limit. */
static int encode_pending(Job *t, int flush)
{
    for (;;) {
        int available = (int)(t->pending_size / t->in_frame_bytes);
        if (t->limit > 0 && available > t->limit - t->samples)
            available = (int)(t->limit - t->samples);
        const int n = available < t->block ? (flush ? available : 0) : t->block;
        if (n == 0)
            return 0;
        if (encode_block(t, n) != 0)
            return -1;
    }
}

static int reached_limit(const Job *t)
{
    return t->limit > 0 && t->samples >= t->limit;
}

/* The sample format to give the encoder for decoded PCM in fmt. */
static int encoder_format(const EncoderFacts *enc, int fmt)
{
    if (enc->is_default) {
        const int chosen =
            ff_get_encoder_sample_format(enc->codec_id, bytes_per_sample(fmt) * 8, fmt);
        if (chosen >= 0)
            return chosen;
    }
    /* The decoded format or its planar twin, else the first one it takes of
     * the usual ones. */
    const int candidates[] = {fmt, fmt + FLATAV_SAMPLE_FMT_U8P, FLATAV_SAMPLE_FMT_FLTP,
                              FLATAV_SAMPLE_FMT_FLT, FLATAV_SAMPLE_FMT_S32,
                              FLATAV_SAMPLE_FMT_S32P, FLATAV_SAMPLE_FMT_S16,
                              FLATAV_SAMPLE_FMT_S16P};
    for (size_t i = 0; i < sizeof candidates / sizeof candidates[0]; i++)
        if (ffr_takes_sample_format(enc, candidates[i]))
            return candidates[i];
    return fmt;
}

/* Decides rate, layout and sample format for the encoder, saying on
 * standard error what it converts. */
static int plan_conversion(Job *t, const char *command, const JobOptions *o,
                           const EncoderFacts *enc, int fmt, int rate, int channels,
                           uint64_t mask)
{
    char from[64], to[64];
    t->rate = o->rate ? o->rate : rate;
    const int rate_taken = ffr_nearest_rate(enc, t->rate);
    if (rate_taken != t->rate) {
        if (o->rate)
            return usage_error(command, "the %s encoder takes no %d Hz; the nearest it takes is %d Hz",
                               enc->name, t->rate, rate_taken);
        note("converting %d Hz to %d Hz, which the %s encoder takes", t->rate, rate_taken,
             enc->name);
        t->rate = rate_taken;
    }
    t->channels = o->channels ? o->channels : channels;
    t->mask = ffr_encoder_layout(enc, o->channels && o->channels != channels ? 0 : mask,
                                 &t->channels);
    if (o->channels && t->channels != o->channels)
        return usage_error(command, "the %s encoder takes no %d channels", enc->name,
                           o->channels);
    if (!o->channels && t->channels != channels)
        note("mixing %s into %s, which the %s encoder takes",
             ffr_layout_name(mask, channels, from, sizeof from),
             ffr_layout_name(t->mask, t->channels, to, sizeof to), enc->name);
    if (o->sample_format) {
        t->out_fmt = sample_format_of(o->sample_format);
        if (!ffr_takes_sample_format(enc, t->out_fmt))
            return usage_error(command, "the %s encoder does not take %s samples; it takes %s",
                               enc->name, o->sample_format,
                               sample_format_name(encoder_format(enc, fmt)));
    } else {
        t->out_fmt = encoder_format(enc, fmt);
        if (bytes_per_sample(t->out_fmt) < bytes_per_sample(fmt))
            note("converting %s samples to %s, which the %s encoder takes",
                 sample_format_name(fmt), sample_format_name(t->out_fmt), enc->name);
    }
    return EXIT_DONE;
}

/* The rate and layout the filter makes of the input: 0, or an FFmpeg code
 * after which the log has the reason. */
static int filter_output(const char *filter, int fmt, int rate, uint64_t mask, int *out_rate,
                         uint64_t *out_mask)
{
    *out_rate = rate;
    *out_mask = mask;
    reason_clear();
    return ffr_filter_output(filter, fmt, rate, mask, out_rate, out_mask);
}

/* The filter stage gives back the input's rate and layout. A filter whose
 * arguments ask for others would be undone: refused, with the option that
 * does it. One that changes them of itself (loudnorm works at 192 kHz) is
 * brought back, as the user expects. */
static int check_filter(const char *command, const char *filter, int fmt, int rate,
                        uint64_t mask)
{
    int out_rate, plain_rate;
    uint64_t out_mask, plain_mask;
    char name[64], layout[64];
    int ret = filter_output(filter, fmt, rate, mask, &out_rate, &out_mask);
    if (ret < 0)
        return usage_error(command, "cannot set up the filter '%s': %s", filter,
                           code_reason(ret));
    if (out_rate == rate && out_mask == mask)
        return EXIT_DONE;
    const size_t length = strcspn(filter, "=");
    snprintf(name, sizeof name, "%.*s", (int)length, filter);
    ret = filter_output(name, fmt, rate, mask, &plain_rate, &plain_mask);
    if (ret >= 0 && plain_rate == out_rate && plain_mask == out_mask) {
        note("the filter stage brings %s's output (%d Hz, %s) back to %d Hz", name, out_rate,
             ffr_layout_name(out_mask, 0, layout, sizeof layout), rate);
        return EXIT_DONE;
    }
    if (out_rate != rate)
        return usage_error(command,
                           "the filter '%s' makes %d Hz of %d Hz, which the filter stage turns "
                           "back; use --rate %d",
                           filter, out_rate, rate, out_rate);
    return usage_error(command,
                       "the filter '%s' changes the channel layout to %s, which the filter "
                       "stage turns back; use --channels",
                       filter, ffr_layout_name(out_mask, 0, layout, sizeof layout));
}

/* The names the library chooses container and encoder by: the container
 * through a file name with its extension (or its name), the encoder by its
 * name unless that name is another container's, else by codec id. */
static void set_output_names(EncodeRec *rec, const EncoderFacts *enc, const MuxerFacts *mux,
                             char *hint, size_t size)
{
    rec->codec_id = enc->codec_id;
    rec->codec_name = enc->name;
    if (mux->extension) {
        snprintf(hint, size, "out.%s", mux->extension);
        rec->output_file_name = hint;
        if (ffr_is_muxer_name(enc->name) && strcmp(enc->name, mux->name) != 0)
            rec->codec_name = NULL;
    } else {
        rec->output_file_name = NULL;
        rec->codec_name = mux->name;
    }
}

static int open_encoder(Job *t, const JobOptions *o, const EncoderFacts *enc,
                        const MuxerFacts *mux, Output *out, const OutputTags *tags)
{
    char hint[64];
    EncodeRec *rec = &t->rec;
    memset(rec, 0, sizeof *rec);
    set_callbacks(&t->callbacks);
    rec->callbacks = &t->callbacks;
    set_output_names(rec, enc, mux, hint, sizeof hint);
    rec->encode = 1;
    rec->compression_level = -1; /* the encoder's default */
    rec->bit_rate = o->bit_rate;
    rec->sample_fmt = t->out_fmt;
    rec->requested_sample_fmt = t->out_fmt;
    rec->channels = t->channels;
    rec->channel_layout = t->mask;
    rec->sample_rate = t->rate;
    rec->tags = tags;
    rec->io_opaque = &out->file;
    rec->write_packet = host_file_write;
    rec->seek = out->file.seekable ? host_file_seek : NULL;

    reason_clear();
    const char *failure = ff_open_encoder(rec);
    char reason[1024];
    if (failure && !o->bit_rate) {
        /* Some encoders have no bit rate of their own (WMA): they get the
         * ffmpeg tool's. */
        snprintf(reason, sizeof reason, "%s", failure_reason(failure));
        reason_clear();
        rec->bit_rate = kDefaultBitRate;
        if (ff_open_encoder(rec) == NULL) {
            note("the %s encoder needs a bit rate: %d kb/s (choose with --bitrate)",
                 enc->name, kDefaultBitRate / 1000);
            failure = NULL;
        }
    } else if (failure) {
        snprintf(reason, sizeof reason, "%s", failure_reason(failure));
    }
    if (failure) {
        char layout[64];
        return fail("cannot encode %s with %s (%d Hz, %s, %s): %s", o->out, enc->name,
                    t->rate, ffr_layout_name(t->mask, t->channels, layout, sizeof layout),
                    sample_format_name(t->out_fmt), reason);
    }
    t->out_sample_bytes = bytes_per_sample(t->out_fmt);
    t->block = rec->audio_input_frame_size > 0 ? rec->audio_input_frame_size : kAnyLengthBlock;
    t->converted = (uint8_t *)malloc((size_t)t->block * t->channels * t->out_sample_bytes);
    t->planes = (uint8_t **)calloc((size_t)t->channels, sizeof *t->planes);
    if (!t->converted || !t->planes)
        return fail("out of memory");
    return EXIT_DONE;
}

/* Encodes the first decoded packet (n bytes in abuf), then decodes the
 * rest and encodes it as it comes, then drains everything. */
static int encode_all(Job *t, Source *src, AudioBuffer *abuf, int32_t n)
{
    const AudioInfo *info = source_info(src);
    Progress progress;
    int32_t damaged = 0;
    progress_start(&progress, "encoding");
    const double total = info->duration > 0 ? info->duration / 1e6 : 0;
    int status = EXIT_DONE;
    while (!reached_limit(t)) {
        if (n < 0) {
            progress_finish(&progress);
            return fail("decoding %s stopped: %s", src->path, failure_reason(NULL));
        }
        if (n == 0 && src->rec.end_of_stream)
            break;
        if (chain_push(&t->chain, abuf->data, (size_t)n) != 0 || encode_pending(t, 0) != 0) {
            status = EXIT_FAILED;
            break;
        }
        progress_update(&progress, src->rec.position, total);
        n = ff_decode_audio(&src->rec, NULL, NULL, abuf, 0, &damaged);
    }
    progress_finish(&progress);
    if (damaged > 0)
        note("skipped %d damaged packets of %s", (int)damaged, src->path);
    if (status == EXIT_DONE && (chain_finish(&t->chain) != 0 || encode_pending(t, 1) != 0))
        status = EXIT_FAILED;
    if (status == EXIT_DONE) {
        reason_clear();
        if (ff_encode_audio2(&t->rec, NULL, NULL, 0) != 0)
            status = fail("cannot finish %s: %s", t->rec.output_file_name,
                          failure_reason(NULL));
    }
    return status;
}

int run_encode_job(const char *command, const JobOptions *o, const EncoderFacts *enc,
                   const MuxerFacts *mux)
{
    Source src;
    Output out;
    Job t;
    AudioBuffer abuf;
    memset(&src, 0, sizeof src);
    memset(&t, 0, sizeof t);
    memset(&abuf, 0, sizeof abuf);
    const OutputTags *tags = NULL;
    int32_t damaged = 0;

    /* The output first: it refuses to be the input before anything is read. */
    int status = output_open(&out, o->out, o->overwrite, o->in);
    if (status != EXIT_DONE)
        goto cleanup;
    status = source_open(&src, o->in, 0);
    if (status == EXIT_DONE)
        status = source_select(&src, o->stream, command);
    if (status != EXIT_DONE)
        goto cleanup;
    src.callbacks.grow_buffer_cb = grow_audio_buffer;
    const AudioInfo *info = source_info(&src);

    if (o->start > 0) {
        /* Decoding resumes at the packet at or before the start. */
        src.rec.position = o->start;
        src.rec.seek_backward = 1;
        reason_clear();
        const int32_t ret = ff_seek4(&src.rec);
        if (ret < 0) {
            status = fail("cannot seek %s to %.3f s: %s", o->in, o->start, code_reason(ret));
            goto cleanup;
        }
    }

    /* The first packet tells the format of decoders that learn it from the
     * data. */
    const int32_t n = ff_decode_audio(&src.rec, NULL, NULL, &abuf, 0, &damaged);
    if (n <= 0 && !src.rec.end_of_stream) {
        status = fail("cannot decode %s: %s", o->in, failure_reason(NULL));
        goto cleanup;
    }
    const int fmt = source_sample_format(&src);
    int channels = info->channels;
    uint64_t mask = ffr_encoder_layout(NULL, info->channel_layout, &channels);
    EncoderFacts chosen_enc;
    MuxerFacts chosen_mux;
    if (!enc) {
        status = o->choose(o, fmt, info->bits_per_raw_sample, &chosen_enc, &chosen_mux);
        if (status != EXIT_DONE)
            goto cleanup;
        enc = &chosen_enc;
        mux = &chosen_mux;
    }

    status = plan_conversion(&t, command, o, enc, fmt, info->sample_rate, channels, mask);
    if (status == EXIT_DONE && o->filter)
        status = check_filter(command, o->filter, fmt, info->sample_rate, mask);
    if (status != EXIT_DONE)
        goto cleanup;
    t.in_fmt = fmt;
    t.in_frame_bytes = bytes_per_sample(fmt) * t.channels;
    t.limit = o->duration > 0 ? (int64_t)(o->duration * t.rate + 0.5) : 0;
    if (chain_open(&t.chain, fmt, info->sample_rate, channels, mask, o->filter, t.rate,
                   t.channels, t.mask, pending_sink, &t) != 0) {
        status = EXIT_FAILED;
        goto cleanup;
    }
    /* The output starts at the source's first sample (and --start), as the
     * ffmpeg tool's does; so do the chapters. */
    const int64_t shift = ffr_start_time(src.rec.av_format_context) + llround(o->start * 1e6);
    const int64_t length = o->duration > 0 ? llround(o->duration * 1e6) : -1;
    if (o->with_tags && !(tags = source_output_tags(&src, shift, length))) {
        status = fail("out of memory");
        goto cleanup;
    }
    status = open_encoder(&t, o, enc, mux, &out, tags);
    if (status == EXIT_DONE)
        status = encode_all(&t, &src, &abuf, n);
    if (status == EXIT_DONE)
        status = output_commit(&out);
    if (status == EXIT_DONE) {
        char layout[64];
        note("%s -> %s: %lld samples per channel (%.3f s), %s, %d Hz, %s, %s", o->in, o->out,
             (long long)t.samples, t.rate > 0 ? (double)t.samples / t.rate : 0.0, enc->name,
             t.rate, ffr_layout_name(t.mask, t.channels, layout, sizeof layout),
             sample_format_name(t.out_fmt));
    }

cleanup:
    if (status != EXIT_DONE)
        output_abort(&out);
    ff_cleanup_encoder(&t.rec);
    chain_close(&t.chain);
    free(t.converted);
    free(t.planes);
    free(t.pending);
    free_audio_buffer(&abuf);
    source_close(&src);
    return status;
}
