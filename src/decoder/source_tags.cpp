// DecodeRec.tags: the opened source's tags and chapters, exact, in the
// record a writer takes (OutputTags), copied into one block of FFmpeg's
// allocator that ff_cleanup_decoder frees.
#include <cstring>

extern "C" {
#include <libavutil/dict.h>
#include <libavutil/mem.h>
}

#include "decoder.h"

namespace flatav {
namespace {

// What the block holds: counts first, then the block is carved in the same
// order. Demuxers may change their dictionaries while they read (chained
// Ogg streams, stream metadata updates), so every text is copied.
struct BlockSize {
    size_t tags = 0;   // FlatavTag entries, all lists together
    size_t bytes = 0;  // text bytes, terminating zeros included
};

void count_tags(const AVDictionary *dict, BlockSize &size)
{
    const AVDictionaryEntry *entry = nullptr;
    while ((entry = av_dict_get(dict, "", entry, AV_DICT_IGNORE_SUFFIX))) {
        size.tags++;
        size.bytes += strlen(entry->key) + strlen(entry->value) + 2;
    }
}

// Hands out the parts of the block in order.
struct Carver {
    FlatavTag *tag;
    char *text;

    char *copy(const char *src)
    {
        const size_t n = strlen(src) + 1;
        char *dst = text;
        memcpy(dst, src, n);
        text += n;
        return dst;
    }

    // The dictionary's entries as the next tags; their first in *first
    // (NULL when there are none).
    int32_t take(const AVDictionary *dict, const FlatavTag **first)
    {
        *first = nullptr;
        int32_t count = 0;
        const AVDictionaryEntry *entry = nullptr;
        while ((entry = av_dict_get(dict, "", entry, AV_DICT_IGNORE_SUFFIX))) {
            if (!*first)
                *first = tag;
            tag->key = copy(entry->key);
            tag->value = copy(entry->value);
            tag++;
            count++;
        }
        return count;
    }
};

// The stream whose tags go to stream_tags: the first audio stream with an
// opened decoder, else none.
const AVDictionary *first_decoded_stream_tags(const DecodeRec *avrec)
{
    for (int i = 0; i < avrec->nb_streams; i++) {
        const AudioInfo &info = avrec->audio_info[i];
        if (info.codec_type == AVMEDIA_TYPE_AUDIO && info.av_codec_context &&
            avcodec_is_open(info.av_codec_context))
            return avrec->av_format_context->streams[i]->metadata;
    }
    return nullptr;
}

}  // namespace

const char *describe_source_tags(DecodeRec *avrec)
{
    const AVFormatContext *input = avrec->av_format_context;
    const AVDictionary *stream_tags = first_decoded_stream_tags(avrec);
    const unsigned nb_chapters = input->nb_chapters;

    BlockSize size;
    count_tags(input->metadata, size);
    count_tags(stream_tags, size);
    for (unsigned i = 0; i < nb_chapters; i++)
        count_tags(input->chapters[i]->metadata, size);

    // Each part starts aligned for its type.
    static_assert(sizeof(OutputTags) % alignof(FlatavChapter) == 0 &&
                      sizeof(FlatavChapter) % alignof(FlatavTag) == 0,
                  "the block's parts stay aligned");
    const size_t chapters_at = sizeof(OutputTags);
    const size_t tags_at = chapters_at + nb_chapters * sizeof(FlatavChapter);
    const size_t text_at = tags_at + size.tags * sizeof(FlatavTag);
    auto *block = static_cast<uint8_t *>(av_mallocz(text_at + size.bytes));
    if (!block)
        return "tags allocation failed";
    auto *out = reinterpret_cast<OutputTags *>(block);
    avrec->tags = out;

    Carver carver{reinterpret_cast<FlatavTag *>(block + tags_at),
                  reinterpret_cast<char *>(block + text_at)};
    out->nb_container_tags = carver.take(input->metadata, &out->container_tags);
    out->nb_stream_tags = carver.take(stream_tags, &out->stream_tags);
    auto *chapters = reinterpret_cast<FlatavChapter *>(block + chapters_at);
    out->chapters = nb_chapters ? chapters : nullptr;
    out->nb_chapters = (int32_t)nb_chapters;
    for (unsigned i = 0; i < nb_chapters; i++) {
        const AVChapter *in = input->chapters[i];
        FlatavChapter &c = chapters[i];
        c.id = in->id;
        c.time_base = FlatavRational{in->time_base.num, in->time_base.den};
        c.start = in->start;
        c.end = in->end;
        c.nb_tags = carver.take(in->metadata, &c.tags);
    }
    return nullptr;
}

void release_source_tags(DecodeRec *avrec)
{
    // The block is the library's own: the record only shows it read-only.
    void *block = const_cast<OutputTags *>(avrec->tags);
    av_free(block);
    avrec->tags = nullptr;
}

}  // namespace flatav
