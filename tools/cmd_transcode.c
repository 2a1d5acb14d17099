/* flatav transcode IN OUT [--codec NAME] [--bitrate N] [--start SECONDS]
 * [--filter NAME[=ARGS]] [--rate HZ] [--channels N]: decode the first audio
 * stream of IN (from the packet at or before SECONDS) and encode it into
 * OUT. The container follows OUT's extension, or NAME when that names a
 * container; the encoder follows NAME, or OUT's extension. OUT "-" writes to
 * standard output, which cannot seek.
 *
 * Between decoding and encoding the PCM may pass an FFmpeg audio filter
 * (setup_af / run_af) and then the resampler (ff_resample), which changes
 * the rate and remixes to another channel count; both keep the decoded
 * sample format (pcm_chain.c).
 *
 * The way through the library: ff_seek4 moves the source to the start;
 * ff_decode_audio hands out packed PCM in the decoder's format (measured on
 * the first packet); ff_get_encoder_sample_format says which format the
 * encoder wants for it; the PCM is converted to that format (planar formats
 * plane by plane) and given to ff_encode_audio2 in blocks of
 * audio_input_frame_size samples; a call without data drains the encoder
 * and writes the trailer. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "commands.h"
#include "encoders.h"
#include "pcm_chain.h"
#include "progress.h"
#include "source.h"

/* Samples per call for encoders that take any length. */
enum { kAnyLengthBlock = 4096 };

typedef struct Transcode {
    EncodeRec rec;
    HostCallbacks callbacks;
    PcmChain chain;       /* filter and resampler between decoder and encoder */
    int in_fmt, out_fmt, channels, rate; /* channels and rate as encoded */
    int in_frame_bytes;   /* bytes of one sample frame leaving the chain */
    int out_sample_bytes; /* bytes of one sample as encoded */
    int block;            /* samples per channel per encode call */
    uint8_t *converted;   /* one block in the encoder's format */
    uint8_t **planes;     /* plane pointers into converted */
    uint8_t *pending;     /* decoded PCM not yet encoded */
    size_t pending_start, pending_size, pending_capacity;
    int64_t samples;
} Transcode;

static void print_error(void *user, const char *text)
{
    (void)user;
    fprintf(stderr, "flatav: %s\n", text);
}

static int append_pending(Transcode *t, const uint8_t *data, size_t size)
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
    return append_pending((Transcode *)user, data, size);
}

/* Encodes n samples per channel from the front of the pending PCM. */
static int encode_block(Transcode *t, int n)
{
    const uint8_t *pcm = t->pending + t->pending_start;
    const int32_t bytes = n * t->channels * t->out_sample_bytes;
    int32_t result;
    if (is_planar_format(t->out_fmt)) {
        /* The planes of a short last block are n samples apart. */
        convert_samples(pcm, t->in_fmt, t->converted, t->out_fmt, t->channels, n, n);
        for (int ch = 0; ch < t->channels; ch++)
            t->planes[ch] = t->converted + (size_t)ch * n * t->out_sample_bytes;
        result = ff_encode_audio2(&t->rec, t->planes[0], t->planes, bytes);
    } else if (packed_sample_format(t->in_fmt) == t->out_fmt) {
        result = ff_encode_audio2(&t->rec, pcm, NULL, bytes);
    } else {
        convert_samples(pcm, t->in_fmt, t->converted, t->out_fmt, t->channels, n, 0);
        result = ff_encode_audio2(&t->rec, t->converted, NULL, bytes);
    }
    t->pending_start += (size_t)n * t->in_frame_bytes;
    t->pending_size -= (size_t)n * t->in_frame_bytes;
    t->samples += n;
    if (result < 0) {
        fprintf(stderr, "flatav: encoding stopped with code %d\n", result);
        return -1;
    }
    return 0;
}

/* Encodes every whole block of the pending PCM; with flush, the rest too. */
static int encode_pending(Transcode *t, int flush)
{
    for (;;) {
        const int available = (int)(t->pending_size / t->in_frame_bytes);
        const int n = available < t->block ? (flush ? available : 0) : t->block;
        if (n == 0)
            return 0;
        if (encode_block(t, n) != 0)
            return -1;
    }
}

typedef struct Options {
    const char *in, *out, *codec, *filter;
    int32_t bit_rate;
    double start;
    int rate, channels; /* 0: as decoded */
} Options;

/* A positive number up to max from argument text, or -1. */
static long positive_number(const char *text, long max)
{
    char *end = NULL;
    long value = strtol(text, &end, 10);
    return end && !*end && value > 0 && value <= max ? value : -1;
}

static int parse_options(int argc, char **argv, Options *o)
{
    memset(o, 0, sizeof *o);
    for (int i = 0; i < argc; i++) {
        if (strcmp(argv[i], "--codec") == 0 && i + 1 < argc) {
            o->codec = argv[++i];
        } else if (strcmp(argv[i], "--bitrate") == 0 && i + 1 < argc) {
            char *end = NULL;
            long value = strtol(argv[++i], &end, 10);
            if (!end || *end || value <= 0 || value > INT32_MAX) {
                fprintf(stderr, "flatav: --bitrate wants bits per second, not '%s'\n", argv[i]);
                return -1;
            }
            o->bit_rate = (int32_t)value;
        } else if (strcmp(argv[i], "--start") == 0 && i + 1 < argc) {
            char *end = NULL;
            o->start = strtod(argv[++i], &end);
            if (!end || *end || !(o->start >= 0)) {
                fprintf(stderr, "flatav: --start wants seconds, not '%s'\n", argv[i]);
                return -1;
            }
        } else if (strcmp(argv[i], "--rate") == 0 && i + 1 < argc) {
            o->rate = (int)positive_number(argv[++i], 768000);
            if (o->rate < 0) {
                fprintf(stderr, "flatav: --rate wants samples per second, not '%s'\n", argv[i]);
                return -1;
            }
        } else if (strcmp(argv[i], "--channels") == 0 && i + 1 < argc) {
            o->channels = (int)positive_number(argv[++i], 64);
            if (o->channels < 0) {
                fprintf(stderr, "flatav: --channels wants a count from 1 to 64, not '%s'\n",
                        argv[i]);
                return -1;
            }
        } else if (strcmp(argv[i], "--filter") == 0 && i + 1 < argc) {
            o->filter = argv[++i];
        } else if (!o->in) {
            o->in = argv[i];
        } else if (!o->out) {
            o->out = argv[i];
        } else {
            return -1;
        }
    }
    return o->in && o->out ? 0 : -1;
}

/* Chooses the encoder's sample format for the decoded PCM. */
static int choose_format(const Options *o, int in_fmt,
                         int32_t *codec_id)
{
    *codec_id = o->codec ? codec_id_for_encoder(o->codec) : 0;
    if (!*codec_id)
        *codec_id = codec_id_for_file(o->out);
    if (!*codec_id) {
        if (!o->codec) {
            fprintf(stderr, "flatav: no encoder goes with the extension of %s; "
                            "choose one with --codec NAME\n", o->out);
            return -1;
        }
        return in_fmt; /* an encoder of no fixed id: offer it the PCM as decoded */
    }
    /* The chooser matches bits per sample as stored: 24-bit PCM decodes to
     * 32-bit samples, and asking for 32 keeps all of its bits. */
    const int fmt =
        ff_get_encoder_sample_format(*codec_id, bytes_per_sample(in_fmt) * 8, in_fmt);
    if (fmt < 0)
        fprintf(stderr, "flatav: this FFmpeg has no encoder for %s\n",
                codec_name_for_id(*codec_id));
    return fmt;
}

static int open_output(Transcode *t, const Options *o, HostFile *file, int32_t codec_id)
{
    EncodeRec *rec = &t->rec;
    memset(rec, 0, sizeof *rec);
    memset(&t->callbacks, 0, sizeof t->callbacks);
    t->callbacks.error_cb = print_error;
    rec->callbacks = &t->callbacks;
    rec->output_file_name = o->out;
    rec->codec_name = o->codec;
    rec->codec_id = codec_id;
    rec->encode = 1;
    rec->compression_level = -1; /* the encoder's default */
    rec->bit_rate = o->bit_rate;
    rec->sample_fmt = t->out_fmt;
    rec->requested_sample_fmt = t->out_fmt;
    rec->channels = t->channels;
    rec->sample_rate = t->rate;
    rec->io_opaque = file;
    rec->write_packet = host_file_write;
    rec->seek = file->file == stdout ? NULL : host_file_seek;

    const char *failure = ff_open_encoder(rec);
    if (failure) {
        fprintf(stderr, "flatav: cannot encode %s (%d Hz, %d ch, %s): %s\n", o->out,
                t->rate, t->channels, sample_format_name(t->out_fmt), failure);
        return -1;
    }
    t->block = rec->audio_input_frame_size > 0 ? rec->audio_input_frame_size
                                               : kAnyLengthBlock;
    t->converted = (uint8_t *)malloc((size_t)t->block * t->channels * t->out_sample_bytes);
    t->planes = (uint8_t **)calloc((size_t)t->channels, sizeof *t->planes);
    if (!t->converted || !t->planes) {
        fprintf(stderr, "flatav: out of memory\n");
        return -1;
    }
    return 0;
}

/* Encodes the first decoded packet (n bytes in abuf), then decodes the
 * rest and encodes it as it comes; 0 or -1. */
static int run(Transcode *t, Source *src, const AudioInfo *info, AudioBuffer *abuf,
               int32_t n, int32_t *damaged)
{
    Progress progress;
    progress_start(&progress, "transcoding");
    const double total = info->duration > 0 ? info->duration / 1e6 : 0;
    int status = 0;
    for (;;) {
        if (n < 0) {
            fprintf(stderr, "\nflatav: decoding stopped with code %d\n", n);
            status = -1;
            break;
        }
        if (n == 0 && src->rec.end_of_stream)
            break;
        if (chain_push(&t->chain, abuf->data, (size_t)n) != 0) {
            fprintf(stderr, "\nflatav: the PCM could not go on to the encoder\n");
            status = -1;
            break;
        }
        if (encode_pending(t, 0) != 0) {
            status = -1;
            break;
        }
        progress_update(&progress, src->rec.position, total);
        n = ff_decode_audio(&src->rec, NULL, NULL, abuf, 0, damaged);
    }
    progress_finish(&progress);
    if (*damaged > 0)
        fprintf(stderr, "flatav: skipped %d damaged packets of the source\n", (int)*damaged);
    if (status == 0)
        status = chain_finish(&t->chain);
    if (status == 0)
        status = encode_pending(t, 1);
    if (status == 0 && ff_encode_audio2(&t->rec, NULL, NULL, 0) != 0) {
        fprintf(stderr, "flatav: the encoder could not finish %s\n", t->rec.output_file_name);
        status = -1;
    }
    return status;
}

int cmd_transcode(int argc, char **argv)
{
    Options o;
    if (parse_options(argc, argv, &o) != 0) {
        fprintf(stderr, "usage: flatav transcode IN OUT [--codec NAME] [--bitrate N] "
                        "[--start SECONDS] [--filter NAME[=ARGS]] [--rate HZ] "
                        "[--channels N]\n");
        return 2;
    }

    Source src;
    if (source_open(&src, o.in, 0) != 0) {
        source_close(&src);
        return 1;
    }
    const int stream = source_first_audio(&src);
    if (stream < 0) {
        fprintf(stderr, "flatav: %s has no decodable audio stream\n", o.in);
        source_close(&src);
        return 1;
    }
    const AudioInfo *info = &src.rec.audio_info[stream];
    src.rec.audio_stream_index = stream;
    src.callbacks.grow_buffer_cb = grow_audio_buffer;

    /* The filter's trace lines go to standard output. */
    if (o.filter && strcmp(o.out, "-") == 0) {
        fprintf(stderr, "flatav: --filter cannot write to standard output, which "
                        "carries the filter's trace\n");
        source_close(&src);
        return 2;
    }

    if (o.start > 0) {
        /* Decoding resumes at the packet at or before the start. */
        src.rec.position = o.start;
        src.rec.seek_backward = 1;
        const int32_t ret = ff_seek4(&src.rec);
        if (ret < 0) {
            fprintf(stderr, "flatav: cannot seek %s to %.3f s (code %d)\n", o.in, o.start,
                    ret);
            source_close(&src);
            return 1;
        }
    }

    /* Damaged packets are skipped and counted rather than ending the job. */
    AudioBuffer abuf;
    memset(&abuf, 0, sizeof abuf);
    int32_t damaged = 0;
    src.rec.decode_error_mode = 1;
    Transcode t;
    memset(&t, 0, sizeof t);
    const int32_t first = decode_first(&src, &abuf, &damaged, &t.in_fmt);
    t.channels = o.channels > 0 ? o.channels : info->channels;
    t.rate = o.rate > 0 ? o.rate : info->sample_rate;
    t.in_frame_bytes = bytes_per_sample(t.in_fmt) * t.channels;
    int32_t codec_id = 0;
    t.out_fmt = choose_format(&o, t.in_fmt, &codec_id);
    t.out_sample_bytes = bytes_per_sample(t.out_fmt);
    if (t.out_fmt < 0 || t.in_frame_bytes <= 0) {
        free_audio_buffer(&abuf);
        source_close(&src);
        return 1;
    }

    if (chain_open(&t.chain, t.in_fmt, info->sample_rate, info->channels,
                   0, o.filter, o.rate, o.channels, pending_sink,
                   &t) != 0) {
        chain_close(&t.chain);
        free_audio_buffer(&abuf);
        source_close(&src);
        return 1;
    }

    HostFile file = {NULL, o.out};
    if (strcmp(o.out, "-") == 0)
        file.file = stdout;
    else if (host_file_open(&file, o.out, "wb") != 0) {
        chain_close(&t.chain);
        free_audio_buffer(&abuf);
        source_close(&src);
        return 1;
    }

    int status = open_output(&t, &o, &file, codec_id);
    if (status == 0)
        status = run(&t, &src, info, &abuf, first, &damaged);
    ff_cleanup_encoder(&t.rec);

    if (status == 0) {
        /* Standard output carries the container: the summary goes aside. */
        FILE *report = file.file == stdout ? stderr : stdout;
        fprintf(report,
                "%s -> %s: %lld samples per channel (%.3f s), %d Hz, %d ch, "
                "%s encoded from %s\n",
                o.in, o.out, (long long)t.samples,
                t.rate > 0 ? (double)t.samples / t.rate : 0.0,
                t.rate, t.channels, sample_format_name(t.out_fmt),
                sample_format_name(t.in_fmt));
    }
    if (file.file != stdout) {
        host_file_close(&file);
        if (status != 0)
            remove(o.out); /* no half-written container is left behind */
    } else {
        fflush(stdout);
    }
    free_audio_buffer(&abuf);
    free(t.converted);
    free(t.planes);
    free(t.pending);
    chain_close(&t.chain);
    source_close(&src);
    return status == 0 ? 0 : 1;
}
