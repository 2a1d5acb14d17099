// The host's tags and chapters (OutputTags) into an output about to write
// its header: container tags, the stream's tags and chapters, as FFmpeg's
// own dictionaries and chapter list, which the muxer writes in its format.
extern "C" {
#include <libavutil/dict.h>
#include <libavutil/mem.h>
}

#include "encoder.h"

namespace flatav {
namespace {

int copy_tags(AVDictionary **dict, const FlatavTag *tags, int32_t count)
{
    for (int32_t i = 0; i < count && tags; i++) {
        if (!tags[i].key || !tags[i].value)
            continue;
        const int ret = av_dict_set(dict, tags[i].key, tags[i].value, 0);
        if (ret < 0)
            return ret;
    }
    return 0;
}

// Appends one chapter to the output's list, which avformat_free_context
// releases with the context.
int add_chapter(AVFormatContext *fmt_ctx, const FlatavChapter &in)
{
    if (in.time_base.num <= 0 || in.time_base.den <= 0 || in.end < in.start)
        return AVERROR(EINVAL);
    AVChapter *chapter = static_cast<AVChapter *>(av_mallocz(sizeof(AVChapter)));
    if (!chapter)
        return AVERROR(ENOMEM);
    chapter->id = in.id;
    chapter->time_base = AVRational{in.time_base.num, in.time_base.den};
    chapter->start = in.start;
    chapter->end = in.end;
    int ret = copy_tags(&chapter->metadata, in.tags, in.nb_tags);
    AVChapter **list = nullptr;
    if (ret >= 0) {
        list = static_cast<AVChapter **>(
            av_realloc_array(fmt_ctx->chapters, fmt_ctx->nb_chapters + 1, sizeof *list));
        if (!list)
            ret = AVERROR(ENOMEM);
    }
    if (ret >= 0) {
        fmt_ctx->chapters = list;
        list[fmt_ctx->nb_chapters++] = chapter;
    } else {
        av_dict_free(&chapter->metadata);
        av_free(chapter);
    }
    return ret;
}

}  // namespace

int apply_output_tags(const OutputTags *tags, AVFormatContext *fmt_ctx, AVStream *stream)
{
    if (!tags)
        return 0;
    int ret = copy_tags(&fmt_ctx->metadata, tags->container_tags, tags->nb_container_tags);
    if (ret >= 0)
        ret = copy_tags(&stream->metadata, tags->stream_tags, tags->nb_stream_tags);
    for (int32_t i = 0; ret >= 0 && tags->chapters && i < tags->nb_chapters; i++)
        ret = add_chapter(fmt_ctx, tags->chapters[i]);
    return ret < 0 ? ret : 0;
}

}  // namespace flatav
