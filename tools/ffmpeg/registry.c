#include "registry.h"

#include <stdlib.h>
#include <string.h>

#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>

#include "util.h"

/* The encoder's lists, through the call that replaced the fields in
 * FFmpeg 7.1. */
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(61, 13, 100)
static const void *codec_config(const AVCodec *codec, enum AVCodecConfig which)
{
    const void *list = NULL;
    int count = 0;
    if (avcodec_get_supported_config(NULL, codec, which, 0, &list, &count) < 0)
        return NULL;
    return list;
}
#define CODEC_RATES(c) ((const int *)codec_config(c, AV_CODEC_CONFIG_SAMPLE_RATE))
#define CODEC_FORMATS(c) \
    ((const enum AVSampleFormat *)codec_config(c, AV_CODEC_CONFIG_SAMPLE_FORMAT))
#define CODEC_LAYOUTS(c) ((const AVChannelLayout *)codec_config(c, AV_CODEC_CONFIG_CHANNEL_LAYOUT))
#else
#define CODEC_RATES(c) ((c)->supported_samplerates)
#define CODEC_FORMATS(c) ((c)->sample_fmts)
#define CODEC_LAYOUTS(c) ((c)->ch_layouts)
#endif

static void fill_facts(const AVCodec *codec, EncoderFacts *facts)
{
    facts->name = codec->name;
    facts->codec_name = avcodec_get_name(codec->id);
    facts->codec_id = codec->id;
    facts->experimental = (codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) != 0;
    facts->is_default = avcodec_find_encoder(codec->id) == codec;
    facts->codec = codec;
}

int ffr_find_encoder(const char *name, EncoderFacts *facts)
{
    const AVCodec *codec = avcodec_find_encoder_by_name(name);
    if (!codec || codec->type != AVMEDIA_TYPE_AUDIO) {
        const AVCodecDescriptor *d = avcodec_descriptor_get_by_name(name);
        codec = d && d->type == AVMEDIA_TYPE_AUDIO ? avcodec_find_encoder(d->id) : NULL;
    }
    if (!codec)
        return -1;
    fill_facts(codec, facts);
    return 0;
}

int ffr_default_encoder(int32_t codec_id, EncoderFacts *facts)
{
    const AVCodec *codec = avcodec_find_encoder((enum AVCodecID)codec_id);
    if (!codec || codec->type != AVMEDIA_TYPE_AUDIO)
        return -1;
    fill_facts(codec, facts);
    return 0;
}

/* A growing list of names, ended by NULL, for nearest_names. */
typedef struct NameList {
    const char **names;
    size_t count, capacity;
} NameList;

static void add_name(NameList *list, const char *name)
{
    if (list->count + 2 > list->capacity) {
        const size_t capacity = list->capacity ? list->capacity * 2 : 64;
        const char **bigger = realloc(list->names, capacity * sizeof *bigger);
        if (!bigger)
            return;
        list->names = bigger;
        list->capacity = capacity;
    }
    list->names[list->count++] = name;
    list->names[list->count] = NULL;
}

/* The names of list nearest to name into buffer; frees the list. */
static void nearest_in(NameList *list, const char *name, char *buffer, size_t size)
{
    buffer[0] = '\0';
    if (list->names)
        nearest_names(name, list->names, buffer, size);
    free(list->names);
}

void ffr_nearest_encoders(const char *name, char *buffer, size_t size)
{
    NameList list = {NULL, 0, 0};
    void *state = NULL;
    const AVCodec *codec;
    while ((codec = av_codec_iterate(&state))) {
        if (codec->type != AVMEDIA_TYPE_AUDIO || !av_codec_is_encoder(codec))
            continue;
        add_name(&list, codec->name);
        if (strcmp(codec->name, avcodec_get_name(codec->id)) != 0)
            add_name(&list, avcodec_get_name(codec->id));
    }
    nearest_in(&list, name, buffer, size);
}

int ffr_nearest_rate(const EncoderFacts *facts, int rate)
{
    const int *rates = CODEC_RATES((const AVCodec *)facts->codec);
    if (!rates || !*rates)
        return rate;
    int best = rates[0];
    for (const int *r = rates; *r; r++)
        if (abs(*r - rate) < abs(best - rate))
            best = *r;
    return best;
}

uint64_t ffr_encoder_layout(const EncoderFacts *facts, uint64_t mask, int *channels)
{
    const AVChannelLayout *layouts = facts ? CODEC_LAYOUTS((const AVCodec *)facts->codec) : NULL;
    if (!mask) {
        AVChannelLayout def;
        av_channel_layout_default(&def, *channels);
        mask = def.order == AV_CHANNEL_ORDER_NATIVE ? def.u.mask : 0;
    }
    if (!layouts || !layouts[0].nb_channels)
        return mask;
    const AVChannelLayout *same_count = NULL, *below = NULL;
    for (const AVChannelLayout *l = layouts; l->nb_channels; l++) {
        if (l->order == AV_CHANNEL_ORDER_NATIVE && l->u.mask == mask)
            return mask;
        if (l->nb_channels == *channels && !same_count)
            same_count = l;
        if (l->nb_channels < *channels && (!below || l->nb_channels > below->nb_channels))
            below = l;
    }
    const AVChannelLayout *chosen = same_count ? same_count : below ? below : &layouts[0];
    *channels = chosen->nb_channels;
    return chosen->order == AV_CHANNEL_ORDER_NATIVE ? chosen->u.mask : 0;
}

int ffr_takes_sample_format(const EncoderFacts *facts, int fmt)
{
    const enum AVSampleFormat *formats = CODEC_FORMATS((const AVCodec *)facts->codec);
    if (!formats)
        return 1;
    for (; *formats != AV_SAMPLE_FMT_NONE; formats++)
        if (*formats == fmt)
            return 1;
    return 0;
}

static void fill_muxer(const AVOutputFormat *fmt, MuxerFacts *facts)
{
    static char extension[32];
    facts->name = fmt->name;
    facts->extension = NULL;
    if (fmt->extensions && *fmt->extensions) {
        const size_t n = strcspn(fmt->extensions, ",");
        if (n < sizeof extension) {
            memcpy(extension, fmt->extensions, n);
            extension[n] = '\0';
            facts->extension = extension;
        }
    }
    facts->audio_codec_id = fmt->audio_codec;
}

int ffr_find_muxer(const char *name, MuxerFacts *facts)
{
    const AVOutputFormat *fmt = av_guess_format(name, NULL, NULL);
    if (!fmt || strcmp(name, fmt->name) != 0)
        return -1;
    fill_muxer(fmt, facts);
    return 0;
}

int ffr_guess_muxer(const char *path, MuxerFacts *facts)
{
    const AVOutputFormat *fmt = av_guess_format(NULL, path, NULL);
    if (!fmt)
        return -1;
    fill_muxer(fmt, facts);
    return 0;
}

int ffr_is_muxer_name(const char *name)
{
    MuxerFacts facts;
    return ffr_find_muxer(name, &facts) == 0;
}

void ffr_nearest_muxers(const char *name, char *buffer, size_t size)
{
    NameList list = {NULL, 0, 0};
    void *state = NULL;
    const AVOutputFormat *fmt;
    while ((fmt = av_muxer_iterate(&state)))
        if (fmt->audio_codec != AV_CODEC_ID_NONE)
            add_name(&list, fmt->name);
    nearest_in(&list, name, buffer, size);
}

static int audio_in_audio_out(const AVFilter *filter)
{
    return avfilter_filter_pad_count(filter, 0) == 1 &&
           avfilter_filter_pad_count(filter, 1) == 1 &&
           avfilter_pad_get_type(filter->inputs, 0) == AVMEDIA_TYPE_AUDIO &&
           avfilter_pad_get_type(filter->outputs, 0) == AVMEDIA_TYPE_AUDIO;
}

int ffr_is_audio_filter(const char *name)
{
    const AVFilter *filter = avfilter_get_by_name(name);
    return filter && audio_in_audio_out(filter);
}

void ffr_nearest_filters(const char *name, char *buffer, size_t size)
{
    NameList list = {NULL, 0, 0};
    void *state = NULL;
    const AVFilter *filter;
    while ((filter = av_filter_iterate(&state)))
        if (audio_in_audio_out(filter))
            add_name(&list, filter->name);
    nearest_in(&list, name, buffer, size);
}

int ffr_list_filters(FILE *to)
{
    void *state = NULL;
    const AVFilter *filter;
    int count = 0;
    while ((filter = av_filter_iterate(&state))) {
        if (!audio_in_audio_out(filter))
            continue;
        fprintf(to, "%-20s %s\n", filter->name, filter->description ? filter->description : "");
        count++;
    }
    return count;
}

int ffr_filter_output(const char *filter, int sample_fmt, int rate, uint64_t mask,
                      int *out_rate, uint64_t *out_mask)
{
    AVFilterGraph *graph = avfilter_graph_alloc();
    AVFilterContext *src = NULL, *sink = NULL;
    AVFilterInOut *outputs = avfilter_inout_alloc(), *inputs = avfilter_inout_alloc();
    char args[256];
    int ret = AVERROR(ENOMEM);
    if (!graph || !outputs || !inputs)
        goto cleanup;
    snprintf(args, sizeof args, "sample_fmt=%s:sample_rate=%d:channel_layout=0x%llx",
             av_get_sample_fmt_name((enum AVSampleFormat)sample_fmt), rate,
             (unsigned long long)mask);
    ret = avfilter_graph_create_filter(&src, avfilter_get_by_name("abuffer"), "in", args, NULL,
                                       graph);
    if (ret < 0)
        goto cleanup;
    ret = avfilter_graph_create_filter(&sink, avfilter_get_by_name("abuffersink"), "out", NULL,
                                       NULL, graph);
    if (ret < 0)
        goto cleanup;
    outputs->name = av_strdup("in");
    outputs->filter_ctx = src;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = sink;
    ret = avfilter_graph_parse_ptr(graph, filter, &inputs, &outputs, NULL);
    if (ret >= 0)
        ret = avfilter_graph_config(graph, NULL);
    if (ret >= 0) {
        AVChannelLayout layout;
        *out_rate = av_buffersink_get_sample_rate(sink);
        ret = av_buffersink_get_ch_layout(sink, &layout);
        *out_mask = layout.order == AV_CHANNEL_ORDER_NATIVE ? layout.u.mask : 0;
        av_channel_layout_uninit(&layout);
    }
cleanup:
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    avfilter_graph_free(&graph);
    return ret;
}

void ffr_list_all_encoders(FILE *to)
{
    void *state = NULL;
    const AVCodec *codec;
    fprintf(to, "%-16s %-12s %-34s %s\n", "encoder", "codec", "sample formats", "rates");
    while ((codec = av_codec_iterate(&state))) {
        if (codec->type != AVMEDIA_TYPE_AUDIO || !av_codec_is_encoder(codec))
            continue;
        char formats[128] = "any", rates[256] = "any";
        const enum AVSampleFormat *f = CODEC_FORMATS(codec);
        for (size_t used = 0; f && *f != AV_SAMPLE_FMT_NONE; f++) {
            used += snprintf(formats + used, used < sizeof formats ? sizeof formats - used : 0,
                             "%s%s", used ? "," : "", av_get_sample_fmt_name(*f));
        }
        const int *r = CODEC_RATES(codec);
        for (size_t used = 0; r && *r; r++) {
            used += snprintf(rates + used, used < sizeof rates ? sizeof rates - used : 0,
                             "%s%d", used ? "," : "", *r);
        }
        fprintf(to, "%-16s %-12s %-34s %s%s\n", codec->name, avcodec_get_name(codec->id),
                formats, rates,
                codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL ? " (experimental)" : "");
    }
}

const char *ffr_codec_name(int32_t codec_id)
{
    return avcodec_get_name((enum AVCodecID)codec_id);
}

int64_t ffr_start_time(const struct AVFormatContext *source)
{
    return source && source->start_time != AV_NOPTS_VALUE ? source->start_time : 0;
}

const char *ffr_layout_name(uint64_t mask, int channels, char *buffer, size_t size)
{
    AVChannelLayout layout;
    if (mask && av_channel_layout_from_mask(&layout, mask) == 0 &&
        (layout.nb_channels == channels || channels == 0) &&
        av_channel_layout_describe(&layout, buffer, size) > 0)
        return buffer;
    if (!mask && channels > 0) {
        av_channel_layout_default(&layout, channels);
        if (av_channel_layout_describe(&layout, buffer, size) > 0)
            return buffer;
    }
    snprintf(buffer, size, "%d channels", channels);
    return buffer;
}

const char *ffr_error_text(int code, char *buffer, size_t size)
{
    if (av_strerror(code, buffer, size) < 0)
        snprintf(buffer, size, "error %d", code);
    return buffer;
}

const char *ffr_versions(char *buffer, size_t size)
{
    const unsigned codec = avcodec_version(), format = avformat_version();
    snprintf(buffer, size, "FFmpeg %s (libavcodec %u.%u.%u, libavformat %u.%u.%u)",
             av_version_info(), codec >> 16, (codec >> 8) & 0xff, codec & 0xff, format >> 16,
             (format >> 8) & 0xff, format & 0xff);
    return buffer;
}
