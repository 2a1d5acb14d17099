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

/* HostChapterFn: one call per tag of a chapter, whose bounds arrive in
 * seconds; they are kept in milliseconds, the unit chapters are usually
 * made in. */
static void keep_chapter_tag(void *user, int32_t id, float start, float end, const char *key,
                             const char *value)
{
    Source *s = (Source *)user;
    FlatavChapter *c = s->nb_chapters ? &s->chapters[s->nb_chapters - 1] : NULL;
    if (!c || c->id != id) {
        FlatavChapter *bigger = realloc(s->chapters, (size_t)(s->nb_chapters + 1) * sizeof *bigger);
        if (!bigger)
            return;
        s->chapters = bigger;
        c = &s->chapters[s->nb_chapters++];
        memset(c, 0, sizeof *c);
        c->id = id;
        c->time_base.num = 1;
        c->time_base.den = 1000;
        c->start = (int64_t)llround(start * 1000.0);
        c->end = (int64_t)llround(end * 1000.0);
    }
    FlatavTag *tags = realloc((void *)c->tags, (size_t)(c->nb_tags + 1) * sizeof *tags);
    if (!tags)
        return;
    c->tags = tags;
    tags[c->nb_tags].key = copy_text(key);
    tags[c->nb_tags].value = copy_text(value);
    if (tags[c->nb_tags].key && tags[c->nb_tags].value)
        c->nb_tags++;
    else
        free((char *)tags[c->nb_tags].key), free((char *)tags[c->nb_tags].value);
}

int source_open(Source *s, const char *path, int flags)
{
    memset(s, 0, sizeof *s);
    s->path = path;
    s->stream = -1;
    set_callbacks(&s->callbacks);
    s->callbacks.user_data = s;
    s->callbacks.metadata_cb = keep_tag;
    s->callbacks.chapter_cb = keep_chapter_tag;
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

    if (is_url(path)) {
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
    for (int i = 0; i < s->nb_chapters; i++) {
        for (int j = 0; j < s->chapters[i].nb_tags; j++) {
            free((char *)s->chapters[i].tags[j].key);
            free((char *)s->chapters[i].tags[j].value);
        }
        free((void *)s->chapters[i].tags);
    }
    free(s->chapters);
    free(s->output_container_tags);
    free(s->output_stream_tags);
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

const OutputTags *source_output_tags(Source *s)
{
    OutputTags *out = &s->output_tags;
    memset(out, 0, sizeof *out);
    free(s->output_container_tags);
    free(s->output_stream_tags);
    s->output_container_tags = malloc((size_t)(s->nb_tags + 1) * sizeof(FlatavTag));
    s->output_stream_tags = malloc((size_t)(s->nb_tags + 1) * sizeof(FlatavTag));
    if (!s->output_container_tags || !s->output_stream_tags)
        return NULL;
    for (int i = 0; i < s->nb_tags; i++) {
        const SourceTag *t = &s->tags[i];
        if (strcmp(t->tag.key, "encoder") == 0)
            continue;
        if (t->stream < 0)
            s->output_container_tags[out->nb_container_tags++] = t->tag;
        else if (t->stream == s->stream)
            s->output_stream_tags[out->nb_stream_tags++] = t->tag;
    }
    out->container_tags = s->output_container_tags;
    out->stream_tags = s->output_stream_tags;
    out->chapters = s->chapters;
    out->nb_chapters = s->nb_chapters;
    return out;
}
