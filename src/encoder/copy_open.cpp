// ff_open_encoder_raw: an output whose one stream takes already-encoded
// packets, with the source stream's parameters or a declared MP3 stream.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

#include "common/open.h"
#include "common/report.h"
#include "encoder.h"

namespace flatav {
namespace {

constexpr const char *kName = "ff_open_encoder_raw";

// The source container's codec tag stays only where the output container
// knows it for this codec (or has no tags at all): a tag from another
// container's table can make the header write fail.
void keep_known_codec_tag(const AVOutputFormat *ofmt, AVCodecParameters *par)
{
    if (!ofmt->codec_tag || par->codec_tag == 0)
        return;
    unsigned int tag = 0;
    if (av_codec_get_id(ofmt->codec_tag, par->codec_tag) == par->codec_id ||
        !av_codec_get_tag2(ofmt->codec_tag, par->codec_id, &tag))
        return;
    par->codec_tag = 0;
}

// add_stream_raw: the stream, its parameters copied or declared.
const char *add_stream_raw(EncodeRec *avrec, AVFormatContext *ctx, AVStream **out)
{
    AVStream *st = avformat_new_stream(ctx, nullptr);
    if (!st) {
        report_error(avrec->callbacks, "Could not allocate stream");
        return "Could not allocate stream";
    }
    st->id = (int)ctx->nb_streams - 1;
    console_log("%s(): 041, avrec->streamcopy=%d\n", kName,
                (int)(intptr_t)avrec->streamcopy);

    const StreamCopy *sc = avrec->streamcopy;
    if (sc) {
        const bool valid = sc->data && sc->stream_index >= 0 &&
                           sc->stream_index < sc->nb_streams &&
                           sc->data[sc->stream_index].codecpar;
        if (!valid ||
            avcodec_parameters_copy(st->codecpar, sc->data[sc->stream_index].codecpar) < 0)
            return "avcodec_parameters_copy failed";
        keep_known_codec_tag(ctx->oformat, st->codecpar);
    } else {
        st->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
        st->codecpar->codec_id = AV_CODEC_ID_MP3;
        av_channel_layout_default(&st->codecpar->ch_layout, 2);
        st->codecpar->sample_rate = 44100;
        st->codecpar->frame_size = 1152;
    }
    *out = st;
    return nullptr;
}

// The open up to the header. What it creates goes into the record at once,
// so that release_raw_output can undo a failure at any step.
const char *open_output_raw(EncodeRec *avrec)
{
    start_open(avrec);
    report_message(avrec->callbacks, "%s begin", kName);
    AVFormatContext *ctx = nullptr;
    avformat_alloc_output_context2(&ctx, nullptr, nullptr, avrec->output_file_name);
    if (!ctx)
        return "avformat_alloc_output_context2 failed";
    avrec->av_format_context = ctx;
    if (const char *failure = refuse_file_writer(ctx->oformat, kName))
        return failure;

    if (const char *failure = host_output_context(avrec, &ctx->pb))
        return failure;
    av_freep(&ctx->url);
    ctx->url = av_strdup(avrec->output_file_name ? avrec->output_file_name : "");

    AVStream *st = nullptr;
    if (const char *failure = add_stream_raw(avrec, ctx, &st))
        return failure;

    if (apply_output_tags(avrec->tags, ctx, st) < 0)
        return "the tags or chapters could not be set";
    if (const char *failure = write_header(ctx, kName))
        return failure;
    avrec->output_format = ctx->oformat;
    avrec->audio_st = st;
    avrec->opened = 1;
    report_message(avrec->callbacks, "%s end", kName);
    return nullptr;
}

// A failed open's release_output, except that the writer makes no encoder:
// the host's av_codec_context is left alone (a zero-filled record has none).
void release_raw_output(EncodeRec *avrec)
{
    AVCodecContext *host_codec_context = avrec->av_codec_context;
    avrec->av_codec_context = nullptr;
    release_output(avrec);
    avrec->av_codec_context = host_codec_context;
}

}  // namespace
}  // namespace flatav

using namespace flatav;

extern "C" FLATAV_API const char *ff_open_encoder_raw(EncodeRec *avrec)
{
    return run_open(avrec, "ff_open_encoder_raw: no record", open_output_raw,
                    release_raw_output);
}
