#include "source.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "pcm.h"
#include "util.h"

static char *copy_text(const char *text)
{
    const size_t n = strlen(text) + 1;
    char *copy = malloc(n);
    if (copy)
        memcpy(copy, text, n);
    return copy;
}

/* HostMetadataFn: keeps every tag. */
static void keep_tag(void *user, int32_t stream, const char *key, const char *value)
{
    Source *s = (Source *)user;
    if (s->nb_tags == s->tags_capacity) {
        const int capacity = s->tags_capacity ? s->tags_capacity * 2 : 16;
        SourceTag *bigger = realloc(s->tags, (size_t)capacity * sizeof *bigger);
        if (!bigger)
            return;
        s->tags = bigger;
        s->tags_capacity = capacity;
    }
    SourceTag *t = &s->tags[s->nb_tags];
    t->stream = stream;
    t->tag.key = copy_text(key);
    t->tag.value = copy_text(value);
    if (t->tag.key && t->tag.value)
        s->nb_tags++;
    else
        free((char *)t->tag.key), free((char *)t->tag.value);
}

int source_open(Source *s, const char *path, int flags)
{
    memset(s, 0, sizeof *s);
    s->path = path;
    s->stream = -1;
    set_callbacks(&s->callbacks);
    s->callbacks.user_data = s;
    s->callbacks.metadata_cb = keep_tag;
    s->rec.callbacks = &s->callbacks;
    s->rec.file_name = strcmp(path, "-") == 0 ? "" : path;
    s->rec.try_seek = (flags & SOURCE_TRY_SEEK) ? 1 : 0;
    if (flags & SOURCE_STREAMCOPY)
        s->rec.streamcopy = &s->streamcopy_request;
    s->rec.packed_output = 1;
    s->rec.audio_stream_index = -1;
    s->rec.request_sample_fmt = FLATAV_SAMPLE_FMT_NONE;
    /* A damaged packet is skipped and counted, as the ffmpeg tool goes on
     * past one. */
    s->rec.decode_error_mode = FLATAV_DECODE_ERRORS_COUNT_AND_SKIP;

    /* A file read through the host's functions reaches nothing else; by
     * name, FFmpeg may open what it refers to. */
    s->rec.allow_nested_opens = tool_allow_nested;
    if (is_url(path) || (tool_allow_nested && strcmp(path, "-") != 0)) {
        s->rec.is_url = 1;
    } else {
        if (host_file_open_input(&s->file, path) != 0)
            return EXIT_FAILED;
        s->rec.io_opaque = &s->file;
        s->rec.read_packet = host_file_read;
        s->rec.seek = s->file.seekable ? host_file_seek : NULL;
    }
    reason_clear();
    const char *failure = ff_decoder_open(&s->rec);
    /* The stream-copy data is released with the source, whether a command
     * copies or not. */
    if (s->rec.streamcopy && s->rec.streamcopy != &s->streamcopy_request)
        s->rec.streamcopy->active = 1;
    if (failure)
        return fail("cannot open %s: %s", strcmp(path, "-") == 0 ? "standard input" : path,
                    failure_reason(failure));
    return EXIT_DONE;
}

void source_close(Source *s)
{
    ff_clean_streamcopy(&s->rec.streamcopy);
    ff_cleanup_decoder(&s->rec);
    host_file_close(&s->file);
    for (int i = 0; i < s->nb_tags; i++) {
        free((char *)s->tags[i].tag.key);
        free((char *)s->tags[i].tag.value);
    }
    free(s->tags);
    free(s->output_container_tags);
    free(s->output_stream_tags);
    free(s->output_chapters);
    memset(s, 0, sizeof *s);
}

static int decodes(const AudioInfo *info)
{
    return info->codec_type == FLATAV_MEDIA_AUDIO && info->status &&
           strcmp(info->status, "OK") == 0;
}

int source_select(Source *s, int stream, const char *command)
{
    const DecodeRec *rec = &s->rec;
    if (stream < 0) {
        for (int i = 0; i < rec->nb_streams && stream < 0; i++)
            if (decodes(&rec->audio_info[i]))
                stream = i;
        if (stream < 0)
            return fail("%s has no audio stream that decodes", s->path);
    } else if (stream >= rec->nb_streams || !decodes(&rec->audio_info[stream])) {
        char list[256] = "";
        for (int i = 0; i < rec->nb_streams; i++) {
            const size_t used = strlen(list);
            if (decodes(&rec->audio_info[i]) && used + 16 < sizeof list)
                snprintf(list + used, sizeof list - used, "%s%d", used ? ", " : "", i);
        }
        return usage_error(command, "%s has no audio stream %d that decodes; %s%s", s->path,
                           stream, list[0] ? "its audio streams: " : "it has none",
                           list);
    }
    s->stream = stream;
    s->rec.audio_stream_index = stream;
    return EXIT_DONE;
}

const AudioInfo *source_info(const Source *s)
{
    return &s->rec.audio_info[s->stream];
}

int source_sample_format(const Source *s)
{
    /* Read after the first decode: a decoder that learns its format from
     * the data reports it with its first frame. packed_output is set. */
    return packed_sample_format(source_info(s)->output_sample_fmt);
}

/* Microseconds in ticks of tb, rounded to the nearest as FFmpeg's
 * av_rescale_q does; exact for every time base whose ticks per second and
 * 1000000 share enough factors (1/1000, 1/44100, 1/10000000, 1/1000000000). */
static int64_t ticks_of(int64_t us, FlatavRational tb)
{
    if (tb.num <= 0 || tb.den <= 0)
        return 0; /* no time base: the writer refuses such a chapter */
    int64_t b = tb.den, c = (int64_t)tb.num * 1000000, x = b, y = c;
    while (y) {
        const int64_t r = x % y;
        x = y;
        y = r;
    }
    b /= x;
    c /= x;
    const int64_t q = us / c, r = us % c;
    if (r < 0 || (r && b > INT64_MAX / r))
        return llround((double)us * (double)b / (double)c);
    return q * b + (r * b + c / 2) / c;
}

/* The source's chapters within the output's time, in their own ticks. */
static int map_chapters(Source *s, int64_t shift, int64_t length, OutputTags *out)
{
    const OutputTags *in = s->rec.tags;
    s->output_chapters = malloc((size_t)(in->nb_chapters + 1) * sizeof(FlatavChapter));
    if (!s->output_chapters)
        return -1;
    for (int i = 0; i < in->nb_chapters; i++) {
        FlatavChapter c = in->chapters[i];
        const int64_t offset = ticks_of(shift, c.time_base);
        const int64_t end = length < 0 ? INT64_MAX : ticks_of(length, c.time_base);
        if (c.end < offset)
            continue;
        if (end != INT64_MAX && c.start > end + offset)
            break;
        c.start = c.start - offset > 0 ? c.start - offset : 0;
        c.end = c.end - offset < end ? c.end - offset : end;
        s->output_chapters[out->nb_chapters++] = c;
    }
    out->chapters = s->output_chapters;
    return 0;
}

const OutputTags *source_output_tags(Source *s, int64_t shift, int64_t length)
{
    OutputTags *out = &s->output_tags;
    const OutputTags *in = s->rec.tags;
    memset(out, 0, sizeof *out);
    free(s->output_container_tags);
    free(s->output_stream_tags);
    free(s->output_chapters);
    s->output_chapters = NULL;
    s->output_container_tags = malloc((size_t)(in->nb_container_tags + 1) * sizeof(FlatavTag));
    s->output_stream_tags = malloc((size_t)(s->nb_tags + 1) * sizeof(FlatavTag));
    if (!s->output_container_tags || !s->output_stream_tags ||
        map_chapters(s, shift, length, out) != 0)
        return NULL;
    for (int i = 0; i < in->nb_container_tags; i++)
        if (strcmp(in->container_tags[i].key, "encoder") != 0)
            s->output_container_tags[out->nb_container_tags++] = in->container_tags[i];
    for (int i = 0; i < s->nb_tags; i++) {
        const SourceTag *t = &s->tags[i];
        if (t->stream == s->stream && strcmp(t->tag.key, "encoder") != 0)
            s->output_stream_tags[out->nb_stream_tags++] = t->tag;
    }
    out->container_tags = s->output_container_tags;
    out->stream_tags = s->output_stream_tags;
    return out;
}
