// ff_decoder_open: open a source, report its tags and chapters, describe
// every stream and open a decoder for every audio stream.
#include <cinttypes>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/mem.h>
}

#include "common/ffmpeg_util.h"
#include "common/open.h"
#include "common/report.h"
#include "decoder.h"

namespace flatav {
namespace {

constexpr const char *kName = "ff_decoder_open";

void report_tags(const HostCallbacks *callbacks, const AVDictionary *tags,
                 int32_t stream_index)
{
    if (!callbacks || !callbacks->metadata_cb)
        return;
    const AVDictionaryEntry *entry = nullptr;
    while ((entry = av_dict_get(tags, "", entry, AV_DICT_IGNORE_SUFFIX)))
        callbacks->metadata_cb(callbacks->user_data, stream_index, entry->key,
                               entry->value);
}

void report_chapters(const HostCallbacks *callbacks, const AVFormatContext *fmt_ctx)
{
    if (!callbacks || !callbacks->chapter_cb)
        return;
    for (unsigned i = 0; i < fmt_ctx->nb_chapters; i++) {
        const AVChapter *chapter = fmt_ctx->chapters[i];
        const double tick = seconds_per_tick(chapter->time_base);
        float start = (float)(chapter->start * tick);
        float end = (float)(chapter->end * tick);
        const AVDictionaryEntry *entry = nullptr;
        while ((entry = av_dict_get(chapter->metadata, "", entry,
                                    AV_DICT_IGNORE_SUFFIX)))
            callbacks->chapter_cb(callbacks->user_data, (int32_t)chapter->id,
                                  start, end, entry->key, entry->value);
    }
}

// The format context, not yet opened, and in custom-I/O mode the I/O
// context it is to read through.
const char *prepare_input(DecodeRec *avrec)
{
    avrec->avio_buffer = nullptr;
    avrec->av_format_context = avformat_alloc_context();
    if (!avrec->av_format_context)
        return "avformat_alloc_context failed1";
    if (avrec->is_url)
        return nullptr;

    AVIOContext *io = nullptr;
    if (const char *failure = host_io_context(avrec, &io))
        return failure;
    io->seekable = AVIO_SEEKABLE_NORMAL;
    avrec->avio_context = io;
    avrec->avio_buffer = io->buffer;
    avrec->av_format_context->pb = io;
    return nullptr;
}

bool make_streamcopy(DecodeRec *avrec, int nb_streams)
{
    auto *sc = (StreamCopy *)av_mallocz(sizeof(StreamCopy));
    if (sc && nb_streams > 0) {
        sc->data = (StreamCopyData *)av_calloc(nb_streams, sizeof(StreamCopyData));
        if (!sc->data)
            av_freep(&sc);
    }
    avrec->streamcopy = sc;
    return sc != nullptr;
}

// Describes one audio stream and opens its decoder; a stream that fails
// says why in its status, and the others go on.
void open_audio_stream(DecodeRec *avrec, AVStream *stream, AudioInfo &info)
{
    const int index = info.stream_index;
    const AVCodecParameters *par = stream->codecpar;
    const AVCodec *codec = avcodec_find_decoder(par->codec_id);

    avrec->nb_audio_streams++;
    info.av_codec_context = avcodec_alloc_context3(codec);
    info.time_base = FlatavRational{stream->time_base.num, stream->time_base.den};
    report_tags(avrec->callbacks, stream->metadata, index);

    info.codec = codec;
    if (!codec) {
        info.status = format_static("avcodec_find_decoder for codec_id %d failed",
                                    (int)par->codec_id);
        return;
    }

    StreamCopy *sc = avrec->streamcopy;
    if (sc) {
        sc->nb_streams = avrec->nb_streams;
        StreamCopyData &data = sc->data[index];
        data.pts_offset = 0;
        data.dts_offset = 0;
        data.codecpar = avcodec_parameters_alloc();
        if (!data.codecpar || avcodec_parameters_copy(data.codecpar, par) < 0) {
            avcodec_parameters_free(&data.codecpar);
            info.status = format_static("avcodec_parameters_copy failed");
            return;
        }
        data.time_base = FlatavRational{stream->time_base.num, stream->time_base.den};
        trace(avrec->callbacks,
              "%s Populating streamcopy[%d], sizeof(StreamCopy)=%d, "
              "sizeof(StreamCopyData)=%d \n",
              kName, index, (int)sizeof(StreamCopy), (int)sizeof(StreamCopyData));
    }

    const int64_t duration = avrec->av_format_context->duration;
    info.duration_scale = AV_TIME_BASE;
    info.status = "OK";
    info.duration = duration == AV_NOPTS_VALUE ? 0 : duration;
    info.duration_seconds =
        duration == AV_NOPTS_VALUE ? -1.0 : (double)(float)(duration / AV_TIME_BASE);
    info.codec_id = par->codec_id;
    info.codec_name = codec->name;
    info.bit_rate = (int32_t)par->bit_rate;
    info.sample_fmt = par->format;
    info.bits_per_raw_sample = par->bits_per_raw_sample;
    info.channels = par->ch_layout.nb_channels;
    info.sample_rate = par->sample_rate;
    info.profile = par->profile;
    if (info.av_codec_context)
        info.av_codec_context->request_sample_fmt =
            (AVSampleFormat)avrec->request_sample_fmt;
    if (info.profile == FF_PROFILE_DTS_96_24 && info.bits_per_raw_sample == 0)
        info.bits_per_raw_sample = 24;

    trace(avrec->callbacks,
          "%s(): ============ [%d]: time_base=%d/%d:sample_rate=%d:sample_fmt=%s:"
          "channel_layout=0x%" PRIx64,
          kName, index, stream->time_base.num, stream->time_base.den,
          par->sample_rate, sample_format_name(par->format), native_mask(par->ch_layout));

    if (!info.av_codec_context) {
        info.status = format_static("avcodec_alloc_context3 failed");
        return;
    }
    int ret = avcodec_parameters_to_context(info.av_codec_context, par);
    if (ret < 0) {
        info.status = format_static("avcodec_parameters_to_context failed %d", ret);
        return;
    }
    ret = avcodec_open2(info.av_codec_context, codec, nullptr);
    if (ret < 0) {
        info.status = format_static("avcodec_open2 failed %d", ret);
        return;
    }
    if (sc)
        sc->data[index].codec_context = info.av_codec_context;
    if (info.channels == 0)
        info.channels = info.av_codec_context->ch_layout.nb_channels;
    info.output_sample_fmt = info.av_codec_context->sample_fmt;
    info.channel_layout = native_mask(info.av_codec_context->ch_layout);
}

// The opened format's names, unless the host's probe named it already.
const char *copy_format_names(DecodeRec *avrec, const AVInputFormat *format)
{
    if (avrec->format_name || avrec->format_long_name)
        return nullptr;
    avrec->format_name = av_strdup(format->name);
    avrec->format_long_name = av_strdup(format->long_name);
    if (!avrec->format_name || (format->long_name && !avrec->format_long_name))
        return "format name allocation failed";
    return nullptr;
}

// The open, from the format context to the last stream. Every object it
// makes goes into the record as soon as it exists (the format context, the
// I/O context, the stream descriptions), so that release_failed_open can
// undo a failure at any step.
const char *open_steps(DecodeRec *avrec, NestedRefusal *refusal)
{
    const HostCallbacks *callbacks = avrec->callbacks;
    trace(callbacks, "%s begin", kName);
    // Set at the last step that can fail: it starts empty, so that a failure
    // releases nothing else.
    avrec->audio_info = nullptr;
    avrec->tags = nullptr;
    if (const char *failure = prepare_input(avrec))
        return failure;

    AVDictionary *options = nullptr;
    if (const char *failure =
            confine_source(avrec, avrec->av_format_context, refusal, &options, kName)) {
        av_dict_free(&options);
        return failure;
    }

    trace(callbacks, "%s before avformat_open_input, avrec->is_url=%d", kName,
          avrec->is_url);
    const AVInputFormat *forced = avrec->is_url ? nullptr : avrec->input_format;
    // On failure avformat_open_input frees the context and clears the field;
    // a custom I/O context stays the record's.
    int ret = avformat_open_input(&avrec->av_format_context, avrec->file_name, forced,
                                  &options);
    av_dict_free(&options);
    if (ret < 0)
        return format_static("(1)avformat_open_input failed %d, file=%s", ret,
                             text_or_null(avrec->file_name));
    AVFormatContext *input = avrec->av_format_context;
    trace(callbacks, "%s after avformat_open_input", kName);

    report_tags(callbacks, input->metadata, FLATAV_METADATA_CONTAINER);

    ret = avformat_find_stream_info(input, nullptr);
    if (ret < 0)
        return format_static("avformat_find_stream_info failed %d", ret);

    // Chapters come after the stream information: containers that store
    // only chapter starts (MP4's Nero chapters, FLAC cue sheets, Ogg
    // comments) get their ends from FFmpeg there, and before it an end is
    // unset and would report as a huge negative time. Container tags still
    // come before the chapters and stream tags after them.
    trace(callbacks, "%s before chapters", kName);
    report_chapters(callbacks, input);

    trace(callbacks, "%s before try seek", kName);
    if (avrec->try_seek == 1)
        avrec->seekable = av_seek_frame(input, -1, 1, AVSEEK_FLAG_BACKWARD) >= 0 ? 1 : 0;
    else
        avrec->seekable = 0;

    if (const char *failure = copy_format_names(avrec, input->iformat))
        return failure;

    const int nb_streams = (int)input->nb_streams;
    avrec->nb_streams = nb_streams;
    trace(callbacks, "%s (1) avrec->nb_streams=%d, duration=%" PRId64 "\n", kName,
          nb_streams, input->duration);
    if (nb_streams > 0) {
        avrec->audio_info = (AudioInfo *)av_calloc(nb_streams, sizeof(AudioInfo));
        if (!avrec->audio_info)
            return "audio_info allocation failed";
    }
    if (avrec->streamcopy && !make_streamcopy(avrec, nb_streams))
        return "streamcopy allocation failed";
    avrec->nb_audio_streams = 0;

    for (int i = 0; i < nb_streams; i++) {
        AVStream *stream = input->streams[i];
        AudioInfo &info = avrec->audio_info[i];
        info.codecpar = stream->codecpar;
        info.stream_index = i;
        info.request_sample_fmt = avrec->request_sample_fmt;
        info.codec_type = stream->codecpar->codec_type;
        if (info.codec_type != AVMEDIA_TYPE_AUDIO) {
            info.status = "N/A";
            continue;
        }
        open_audio_stream(avrec, stream, info);
    }
    if (const char *failure = describe_source_tags(avrec)) {
        // The decoders go with the failed open; the stream-copy data, the
        // host's to release, must not point to them.
        StreamCopy *sc = avrec->streamcopy;
        for (int i = 0; sc && sc->data && i < nb_streams; i++)
            sc->data[i].codec_context = nullptr;
        return failure;
    }
    trace(callbacks, "%s end", kName);
    return nullptr;
}

// The open, with every nested open that it refuses recorded: the first of
// them explains a failure better than the step that then failed.
const char *open_source(DecodeRec *avrec)
{
    NestedRefusal refusal;
    const char *failure = open_steps(avrec, &refusal);
    if (avrec->av_format_context)
        avrec->av_format_context->opaque = nullptr;
    if (failure && refusal.refused)
        return format_static("%s: refused to open \"%s\", which the source refers to",
                             kName, refusal.url);
    return failure;
}

// Undoes a failed open: the source, the stream descriptions with their
// decoders and the tags go. The I/O context and the format names stay in
// the record for ff_cleanup_decoder, as after a successful open.
void release_failed_open(DecodeRec *avrec)
{
    avformat_close_input(&avrec->av_format_context);
    if (avrec->audio_info) {
        for (int i = 0; i < avrec->nb_streams; i++)
            avcodec_free_context(&avrec->audio_info[i].av_codec_context);
        av_freep(&avrec->audio_info);
    }
    release_source_tags(avrec);
}

}  // namespace
}  // namespace flatav

using namespace flatav;

extern "C" FLATAV_API const char *ff_decoder_open(DecodeRec *avrec)
{
    return run_open(avrec, "ff_decoder_open: no record", open_source, release_failed_open);
}
