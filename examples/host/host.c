/* A host of the installed flatav package: opens a media file, prints what
 * the library learnt about it (streams, tags, chapters) and decodes its
 * first audio stream to packed PCM, optionally saved to a raw file.
 *
 * usage: flatav_host FILE [OUT.raw] */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <flatav.h>

/* Bytes per sample of the FLATAV_SAMPLE_FMT_* values in their order: U8,
 * S16, S32, FLT, DBL, their planar twins in the same order, S64, S64P. */
static int bytes_per_sample(int32_t sample_fmt)
{
    static const int bytes[] = {1, 2, 4, 4, 8, 1, 2, 4, 4, 8, 8, 8};
    return sample_fmt >= FLATAV_SAMPLE_FMT_U8 && sample_fmt <= FLATAV_SAMPLE_FMT_S64P
               ? bytes[sample_fmt]
               : 0;
}

static void on_tag(void *user, int32_t stream_index, const char *key, const char *value)
{
    (void)user;
    if (stream_index < 0)
        printf("tag: %s=%s\n", key, value);
    else
        printf("stream %d tag: %s=%s\n", stream_index, key, value);
}

static void on_chapter(void *user, int32_t id, float start, float end, const char *key,
                       const char *value)
{
    (void)user;
    printf("chapter %d: %.3f-%.3f s %s=%s\n", id, start, end, key, value);
}

static void on_error(void *user, const char *text)
{
    (void)user;
    fprintf(stderr, "error: %s\n", text);
}

/* The library asks for more room before it writes a frame's PCM. */
static void on_grow(void *always_null, AudioBuffer *abuf, int32_t need)
{
    uint8_t *bigger = (uint8_t *)realloc(abuf->data, (size_t)need);
    (void)always_null;
    if (bigger) {
        abuf->data = bigger;
        abuf->capacity = need;
    }
}

int main(int argc, char **argv)
{
    LogSettings quiet = {1, 1}; /* no console trace, no FFmpeg log */
    HostCallbacks callbacks;
    DecodeRec rec;
    AudioBuffer abuf;
    FILE *out = NULL;
    const char *failure;
    long long bytes = 0;
    int32_t n = 0;
    int i, stream = -1, status = 0;

    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: %s FILE [OUT.raw]\n", argv[0]);
        return 2;
    }
    ff_init(&quiet);

    memset(&callbacks, 0, sizeof callbacks);
    callbacks.error_cb = on_error;
    callbacks.metadata_cb = on_tag;
    callbacks.chapter_cb = on_chapter;
    callbacks.grow_buffer_cb = on_grow;
    memset(&rec, 0, sizeof rec);
    rec.callbacks = &callbacks;
    rec.file_name = argv[1];
    rec.is_url = 1;              /* FFmpeg opens the file itself */
    rec.request_sample_fmt = FLATAV_SAMPLE_FMT_NONE; /* each decoder's own */
    rec.packed_output = 1;       /* planar decoders are interleaved */

    failure = ff_decoder_open(&rec);
    if (failure) {
        fprintf(stderr, "cannot open %s: %s\n", argv[1], failure);
        ff_cleanup_decoder(&rec);
        return 1;
    }
    printf("streams: %d (%d audio)\n", rec.nb_streams, rec.nb_audio_streams);
    for (i = 0; i < rec.nb_streams; i++) {
        const AudioInfo *info = &rec.audio_info[i];
        if (info->codec_type != FLATAV_MEDIA_AUDIO) {
            printf("stream %d: not audio\n", i);
            continue;
        }
        printf("stream %d: %s, %d Hz, %d channels, sample format %d, %.0f s, %s\n", i,
               info->codec_name ? info->codec_name : "?", info->sample_rate, info->channels,
               info->output_sample_fmt, info->duration_seconds, info->status);
        if (stream < 0 && strcmp(info->status, "OK") == 0)
            stream = i;
    }
    if (stream < 0) {
        fprintf(stderr, "no audio stream to decode\n");
        ff_cleanup_decoder(&rec);
        return 1;
    }

    if (argc == 3 && !(out = fopen(argv[2], "wb"))) {
        fprintf(stderr, "cannot write %s\n", argv[2]);
        ff_cleanup_decoder(&rec);
        return 1;
    }
    memset(&abuf, 0, sizeof abuf);
    rec.audio_stream_index = stream;
    while ((n = ff_decode_audio(&rec, NULL, NULL, &abuf, 0, NULL)) > 0) {
        bytes += n;
        if (out && fwrite(abuf.data, 1, (size_t)n, out) != (size_t)n)
            status = 1;
    }
    if (n < 0) {
        fprintf(stderr, "decoding stopped: %d\n", n);
        status = 1;
    } else {
        const AudioInfo *info = &rec.audio_info[stream];
        /* packed_output delivers the decoder's format, planar ones packed. */
        const int frame = info->channels * bytes_per_sample(info->output_sample_fmt);
        printf("decoded stream %d: %lld bytes, %lld sample frames, position %.3f s\n", stream,
               bytes, frame > 0 ? bytes / frame : 0, rec.position);
    }
    if (out && fclose(out) != 0)
        status = 1;
    free(abuf.data);
    ff_cleanup_decoder(&rec);
    return status;
}
