/* flatav info [--json] [--stream N] FILE...: what the library learns when
 * it opens each source, as text blocks or as one JSON document. */
#include <math.h>
#include <string.h>

#include "commands.h"
#include "ffmpeg/registry.h"
#include "pcm.h"
#include "source.h"
#include "util.h"

static const char kCommand[] = "info";

static const char *media_type_name(int type)
{
    switch (type) {
    case FLATAV_MEDIA_VIDEO: return "video";
    case FLATAV_MEDIA_AUDIO: return "audio";
    case FLATAV_MEDIA_DATA: return "data";
    case FLATAV_MEDIA_SUBTITLE: return "subtitle";
    case FLATAV_MEDIA_ATTACHMENT: return "attachment";
    default: return "unknown";
    }
}

/* What info shows of one audio stream. */
typedef struct StreamFacts {
    const char *codec;
    char layout[64];
    int sample_fmt, bits;
    double duration; /* seconds, < 0 unknown */
} StreamFacts;

static void stream_facts(const AudioInfo *info, StreamFacts *f)
{
    f->codec = ffr_codec_name(info->codec_id);
    f->sample_fmt = info->output_sample_fmt != FLATAV_SAMPLE_FMT_NONE ? info->output_sample_fmt
                                                                       : info->sample_fmt;
    ffr_layout_name(info->channel_layout, info->channels, f->layout, sizeof f->layout);
    f->bits = info->bits_per_raw_sample;
    if (f->bits <= 0 && packed_sample_format(f->sample_fmt) != FLATAV_SAMPLE_FMT_FLT &&
        packed_sample_format(f->sample_fmt) != FLATAV_SAMPLE_FMT_DBL)
        f->bits = bytes_per_sample(f->sample_fmt) * 8;
    f->duration = info->duration > 0 ? info->duration / (double)info->duration_scale : -1;
}

static double file_duration(const Source *src)
{
    double longest = -1;
    for (int i = 0; i < src->rec.nb_streams; i++) {
        const AudioInfo *info = &src->rec.audio_info[i];
        if (info->duration > 0 && info->duration / (double)info->duration_scale > longest)
            longest = info->duration / (double)info->duration_scale;
    }
    return longest;
}

/* A chapter's time in seconds, from its ticks as ffprobe computes it; six
 * decimals show it as ffprobe does. */
static double chapter_seconds(int64_t ticks, FlatavRational tb)
{
    return tb.den ? ticks * ((double)tb.num / tb.den) : 0;
}

/* ---- text ---- */

static void print_tags(FILE *to, const Source *src, int stream, const char *indent)
{
    for (int i = 0; i < src->nb_tags; i++)
        if (src->tags[i].stream == stream)
            fprintf(to, "%stag: %s = %s\n", indent, src->tags[i].tag.key, src->tags[i].tag.value);
}

static void print_text(FILE *to, Source *src, int only)
{
    const char *format = src->rec.format_name;
    const double duration = file_duration(src);
    fprintf(to, "%s\n  format: %s", src->path, format ? format : "unknown");
    if (duration >= 0)
        fprintf(to, ", %.3f s", duration);
    fprintf(to, "%s\n", src->rec.seekable ? ", seekable" : "");
    print_tags(to, src, -1, "  ");
    const OutputTags *tags = src->rec.tags;
    for (int i = 0; i < tags->nb_chapters; i++) {
        const FlatavChapter *c = &tags->chapters[i];
        fprintf(to, "  chapter %lld: %.6f s - %.6f s", (long long)c->id,
                chapter_seconds(c->start, c->time_base), chapter_seconds(c->end, c->time_base));
        for (int j = 0; j < c->nb_tags; j++)
            fprintf(to, "%s %s = %s", j ? "," : ":", c->tags[j].key, c->tags[j].value);
        fputc('\n', to);
    }
    for (int i = 0; i < src->rec.nb_streams; i++) {
        const AudioInfo *info = &src->rec.audio_info[i];
        if (only >= 0 && i != only)
            continue;
        if (info->codec_type != FLATAV_MEDIA_AUDIO) {
            fprintf(to, "  #%d %s\n", i, media_type_name(info->codec_type));
            continue;
        }
        StreamFacts f;
        stream_facts(info, &f);
        fprintf(to, "  #%d audio: %s, %d Hz, %s, %s", i, f.codec, info->sample_rate, f.layout,
                sample_format_name(f.sample_fmt));
        if (f.bits > 0)
            fprintf(to, " (%d bit)", f.bits);
        if (f.duration >= 0)
            fprintf(to, ", %.3f s", f.duration);
        if (info->bit_rate > 0)
            fprintf(to, ", %d kb/s", (info->bit_rate + 500) / 1000);
        if (info->status && strcmp(info->status, "OK") != 0)
            fprintf(to, " (cannot decode: %s)", failure_reason(info->status));
        fputc('\n', to);
        print_tags(to, src, i, "    ");
    }
}

/* ---- JSON ---- */

static void json_string(FILE *to, const char *text)
{
    if (!text) {
        fputs("null", to);
        return;
    }
    fputc('"', to);
    for (const unsigned char *p = (const unsigned char *)text; *p; p++) {
        if (*p == '"' || *p == '\\')
            fprintf(to, "\\%c", *p);
        else if (*p < 0x20)
            fprintf(to, "\\u%04x", *p);
        else
            fputc(*p, to);
    }
    fputc('"', to);
}

static void json_seconds(FILE *to, double seconds)
{
    if (seconds >= 0)
        fprintf(to, "%.6f", seconds);
    else
        fputs("null", to);
}

static void json_tags(FILE *to, const FlatavTag *tags, int count)
{
    fputc('{', to);
    for (int i = 0; i < count; i++) {
        fputs(i ? ", " : "", to);
        json_string(to, tags[i].key);
        fputs(": ", to);
        json_string(to, tags[i].value);
    }
    fputc('}', to);
}

static void json_source_tags(FILE *to, const Source *src, int stream)
{
    int first = 1;
    fputc('{', to);
    for (int i = 0; i < src->nb_tags; i++) {
        if (src->tags[i].stream != stream)
            continue;
        fputs(first ? "" : ", ", to);
        first = 0;
        json_string(to, src->tags[i].tag.key);
        fputs(": ", to);
        json_string(to, src->tags[i].tag.value);
    }
    fputc('}', to);
}

static void json_stream(FILE *to, const AudioInfo *info, const Source *src)
{
    fprintf(to, "{\"index\": %d, \"type\": ", info->stream_index);
    json_string(to, media_type_name(info->codec_type));
    if (info->codec_type == FLATAV_MEDIA_AUDIO) {
        StreamFacts f;
        stream_facts(info, &f);
        fputs(", \"codec\": ", to);
        json_string(to, f.codec);
        fputs(", \"decoder\": ", to);
        json_string(to, info->codec_name);
        fprintf(to, ", \"sample_rate\": %d, \"channels\": %d, \"channel_layout\": ",
                info->sample_rate, info->channels);
        json_string(to, f.layout);
        fputs(", \"sample_format\": ", to);
        json_string(to, sample_format_name(f.sample_fmt));
        fprintf(to, ", \"bits_per_sample\": %d, \"duration\": ", f.bits > 0 ? f.bits : 0);
        json_seconds(to, f.duration);
        fprintf(to, ", \"bit_rate\": %d, \"decodes\": %s, \"tags\": ", info->bit_rate,
                info->status && strcmp(info->status, "OK") == 0 ? "true" : "false");
        json_source_tags(to, src, info->stream_index);
    }
    fputc('}', to);
}

static void print_json(FILE *to, Source *src, int only)
{
    const char *format = src->rec.format_name;
    fputs("\"format\": ", to);
    json_string(to, format ? format : "");
    fputs(", \"duration\": ", to);
    json_seconds(to, file_duration(src));
    fprintf(to, ", \"seekable\": %s, \"tags\": ", src->rec.seekable ? "true" : "false");
    json_source_tags(to, src, -1);
    fputs(", \"chapters\": [", to);
    const OutputTags *tags = src->rec.tags;
    for (int i = 0; i < tags->nb_chapters; i++) {
        const FlatavChapter *c = &tags->chapters[i];
        fprintf(to,
                "%s{\"id\": %lld, \"start\": %.6f, \"end\": %.6f, \"time_base\": \"%d/%d\", "
                "\"start_ticks\": %lld, \"end_ticks\": %lld, \"tags\": ",
                i ? ", " : "", (long long)c->id, chapter_seconds(c->start, c->time_base),
                chapter_seconds(c->end, c->time_base), (int)c->time_base.num,
                (int)c->time_base.den, (long long)c->start, (long long)c->end);
        json_tags(to, c->tags, c->nb_tags);
        fputc('}', to);
    }
    fputs("], \"streams\": [", to);
    int first = 1;
    for (int i = 0; i < src->rec.nb_streams; i++) {
        if (only >= 0 && i != only)
            continue;
        fputs(first ? "" : ", ", to);
        first = 0;
        json_stream(to, &src->rec.audio_info[i], src);
    }
    fputc(']', to);
}

int cmd_info(int argc, char **argv)
{
    int json = 0, stream = -1;
    const OptionDef options[] = {
        {"--json", 0, OPT_FLAG, &json},
        {"--stream", 0, OPT_INDEX, &stream},
        OPTIONS_END,
    };
    const char *args[256];
    int nb_args = 0;
    int status = parse_options(kCommand, argc, argv, options, args, 256, &nb_args);
    if (status != EXIT_DONE)
        return options_exit(status);
    if (nb_args == 0)
        return usage_error(kCommand, "wants one FILE or more");

    FILE *to = tool_stdout;
    if (json)
        fputs("{\"files\": [", to);
    for (int i = 0; i < nb_args; i++) {
        Source src;
        int file_status = source_open(&src, args[i], SOURCE_TRY_SEEK);
        if (file_status == EXIT_DONE && stream >= 0 &&
            (stream >= src.rec.nb_streams ||
             src.rec.audio_info[stream].codec_type != FLATAV_MEDIA_AUDIO))
            file_status = fail("%s has no audio stream %d", args[i], stream);
        if (json) {
            fputs(i ? ",\n  {\"path\": " : "\n  {\"path\": ", to);
            json_string(to, args[i]);
            if (file_status == EXIT_DONE) {
                fputs(", ", to);
                print_json(to, &src, stream);
            } else {
                fputs(", \"error\": ", to);
                json_string(to, last_message());
            }
            fputc('}', to);
        } else if (file_status == EXIT_DONE) {
            print_text(to, &src, stream);
        }
        if (file_status != EXIT_DONE)
            status = EXIT_FAILED;
        source_close(&src);
    }
    if (json)
        fputs("\n]}\n", to);
    return status;
}
