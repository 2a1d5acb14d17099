#include "source.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void print_tag(void *user, int32_t stream_index, const char *key,
                      const char *value)
{
    (void)user;
    if (stream_index < 0)
        printf("  tag     container: %s = %s\n", key, value);
    else
        printf("  tag     stream #%d: %s = %s\n", stream_index, key, value);
}

static void print_chapter(void *user, int32_t id, float start, float end,
                          const char *key, const char *value)
{
    (void)user;
    printf("  chapter %d [%.3f s - %.3f s]: %s = %s\n", id, start, end, key, value);
}

static void print_error(void *user, const char *text)
{
    (void)user;
    fprintf(stderr, "flatav: %s\n", text);
}

int source_open(Source *s, const char *path, int flags)
{
    memset(s, 0, sizeof *s);
    const int print_tags = (flags & SOURCE_PRINT_TAGS) != 0;
    s->print_tags = print_tags;
    s->callbacks.error_cb = print_error;
    if (print_tags) {
        s->callbacks.metadata_cb = print_tag;
        s->callbacks.chapter_cb = print_chapter;
    }
    s->rec.callbacks = &s->callbacks;
    s->rec.file_name = path;
    s->rec.try_seek = (flags & SOURCE_TRY_SEEK) ? 1 : 0;
    /* Any non-null value asks the open for stream-copy data. */
    if (flags & SOURCE_STREAMCOPY)
        s->rec.streamcopy = (StreamCopy *)s;
    s->rec.packed_output = 1;
    s->rec.audio_stream_index = -1;
    s->rec.request_sample_fmt = -1;

    if (is_url(path)) {
        s->rec.is_url = 1;
    } else {
        if (host_file_open(&s->file, path, "rb") != 0)
            return -1;
        s->rec.io_opaque = &s->file;
        s->rec.read_packet = host_file_read;
        s->rec.seek = host_file_seek;
    }
    const char *failure = ff_decoder_open(&s->rec);
    if (failure) {
        fprintf(stderr, "flatav: cannot open %s: %s\n", path, failure);
        return -1;
    }
    return 0;
}

void source_close(Source *s)
{
    ff_cleanup_decoder(&s->rec);
    host_file_close(&s->file);
}

int source_first_audio(const Source *s)
{
    for (int i = 0; i < s->rec.nb_streams; i++) {
        const AudioInfo *info = &s->rec.audio_info[i];
        if (info->codec_type == FLATAV_MEDIA_AUDIO && info->status &&
            strcmp(info->status, "OK") == 0)
            return i;
    }
    return -1;
}

static const char *const kFormatNames[] = {
    "u8", "s16", "s32", "flt", "dbl", "u8p", "s16p", "s32p", "fltp", "dblp", "s64", "s64p",
};
static const int kFormatBytes[] = {1, 2, 4, 4, 8, 1, 2, 4, 4, 8, 8, 8};

const char *sample_format_name(int fmt)
{
    if (fmt < 0 || fmt >= (int)(sizeof kFormatNames / sizeof kFormatNames[0]))
        return "none";
    return kFormatNames[fmt];
}

int packed_sample_format(int fmt)
{
    if (fmt >= FLATAV_SAMPLE_FMT_U8P && fmt <= FLATAV_SAMPLE_FMT_DBLP)
        return fmt - FLATAV_SAMPLE_FMT_U8P + FLATAV_SAMPLE_FMT_U8;
    if (fmt == FLATAV_SAMPLE_FMT_S64P)
        return FLATAV_SAMPLE_FMT_S64;
    return fmt;
}

int bytes_per_sample(int fmt)
{
    if (fmt < 0 || fmt >= (int)(sizeof kFormatBytes / sizeof kFormatBytes[0]))
        return 0;
    return kFormatBytes[fmt];
}

int32_t decode_first(Source *s, AudioBuffer *abuf, int32_t *error_count, int *format)
{
    const int32_t n = ff_decode_audio(&s->rec, NULL, NULL, abuf, 0, error_count);
    /* Read after the call: a decoder that learns its format from the data
     * reports it once its first frame is decoded. packed_output is set. */
    *format = packed_sample_format(
        s->rec.audio_info[s->rec.audio_stream_index].output_sample_fmt);
    return n;
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
