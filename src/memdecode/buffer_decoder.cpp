// ff_init_decoder, ff_decode_buffer and ff_decoder_cleanup: decode single MLP
// or DST packets that the host holds in memory, one frame per call.
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

#include "common/ffmpeg_util.h"
#include "common/report.h"
#include "memdecode.h"

namespace {

constexpr const char *kDecodeName = "ff_decode_buffer";

// The packet that carries the host's bytes lives as long as the decoder, in
// the context's slot for its user's data (the library is that user), so no
// call allocates one: the record has no field for it.
AVPacket *packet_of(const AVCodecContext *ctx)
{
    return static_cast<AVPacket *>(ctx->opaque);
}

// Gives the context the host's channel count and sample rate. DST refuses
// to open without a channel count; zero or negative values are left out.
void apply_host_format(AVCodecContext *ctx, const BufferDecodeRec *rec)
{
    if (rec->channels > 0) {
        av_channel_layout_uninit(&ctx->ch_layout);
        av_channel_layout_default(&ctx->ch_layout, rec->channels);
    }
    if (rec->sample_rate > 0)
        ctx->sample_rate = rec->sample_rate;
}

// Bytes of one packed frame of nb_samples in the record's channels and
// format, or AVERROR(EINVAL) when those make no frame size.
int record_frame_bytes(const BufferDecodeRec *rec, int nb_samples)
{
    const AVSampleFormat format = flatav::sample_format(rec->sample_fmt);
    if (format == AV_SAMPLE_FMT_NONE)
        return AVERROR(EINVAL);
    return av_samples_get_buffer_size(nullptr, rec->channels, nb_samples, format, 1);
}

// The buffer decoder's one release function: closes the decoder with its
// packet and frees the frame, skipping what is missing.
void free_decoder(BufferDecodeRec *rec)
{
    if (rec->codec_context) {
        AVPacket *pkt = packet_of(rec->codec_context);
        av_packet_free(&pkt);
        rec->codec_context->opaque = nullptr;
        avcodec_free_context(&rec->codec_context);
    }
    av_frame_free(&rec->frame);
}

// Copies the first plane of frame into dst, n bytes as the record sizes
// them. A plane that holds fewer bytes (the record describes more channels
// or a wider format than the frame has) is copied whole and the rest of the
// n bytes is zeroed: nothing past the frame is read.
void copy_first_plane(const AVFrame *frame, int n, uint8_t *dst)
{
    const AVSampleFormat format = (AVSampleFormat)frame->format;
    const int plane_channels =
        av_sample_fmt_is_planar(format) ? 1 : frame->ch_layout.nb_channels;
    const int held =
        av_samples_get_buffer_size(nullptr, plane_channels, frame->nb_samples, format, 1);
    const int copied = held < 0 ? 0 : (held < n ? held : n);
    if (copied > 0)
        memcpy(dst, frame->data[0], (size_t)copied);
    if (copied < n)
        memset(dst + copied, 0, (size_t)(n - copied));
}

// The open. Every object it makes goes into the record (the packet into the
// context) as soon as it exists, so that free_decoder undoes a failure at
// any step.
int32_t open_buffer_decoder(int32_t is_mlp, BufferDecodeRec *rec)
{
    const AVCodec *codec = avcodec_find_decoder(is_mlp ? AV_CODEC_ID_MLP : AV_CODEC_ID_DST);
    if (!codec)
        return FLATAV_BUFFER_DECODER_MISSING;
    rec->codec_context = avcodec_alloc_context3(codec);
    if (!rec->codec_context)
        return AVERROR(ENOMEM);

    apply_host_format(rec->codec_context, rec);
    const int r = avcodec_open2(rec->codec_context, codec, nullptr);
    if (r < 0)
        return r;
    rec->frame = av_frame_alloc();
    rec->codec_context->opaque = av_packet_alloc();
    if (!rec->frame || !packet_of(rec->codec_context))
        return FLATAV_BUFFER_DECODER_NO_MEMORY;
    apply_host_format(rec->codec_context, rec);
    return 0;
}

}  // namespace

extern "C" FLATAV_API int32_t ff_init_decoder(int32_t is_mlp, BufferDecodeRec *rec)
{
    if (!rec)
        return AVERROR(EINVAL);
    // What this open makes goes into these fields; they start empty so that
    // a failure releases nothing else.
    rec->codec_context = nullptr;
    rec->frame = nullptr;
    const int32_t r = open_buffer_decoder(is_mlp, rec);
    if (r != 0)
        free_decoder(rec);
    return r;
}

extern "C" FLATAV_API int32_t ff_decode_buffer(BufferDecodeRec *rec, const uint8_t *data,
                                               int32_t size, uint8_t *dst)
{
    if (!rec || !rec->codec_context || !rec->frame || !dst || size < 0 ||
        (!data && size > 0))
        return AVERROR(EINVAL);
    AVCodecContext *ctx = rec->codec_context;
    AVFrame *frame = rec->frame;

    // Not reference-counted: the decoder copies the bytes it keeps.
    AVPacket *pkt = packet_of(ctx);
    if (!pkt)
        return AVERROR(EINVAL);
    pkt->data = const_cast<uint8_t *>(data);
    pkt->size = size;
    int r = avcodec_send_packet(ctx, pkt);
    pkt->data = nullptr;
    pkt->size = 0;
    if (r < 0)
        return r;
    r = avcodec_receive_frame(ctx, frame);
    if (r < 0)
        return r;

    const AVSampleFormat format = (AVSampleFormat)frame->format;
    const char *format_name = av_get_sample_fmt_name(format);
    flatav::console_print(stdout, "%s(): planar=%s, name=%s, sample_rate=%d\n", kDecodeName,
                          av_sample_fmt_is_planar(format) ? "YES" : "NO",
                          flatav::text_or_null(format_name), ctx->sample_rate);
    const int n = record_frame_bytes(rec, frame->nb_samples);
    flatav::console_print(stdout, "%s(): size=%d, nb_samples=%d, data_size=%d\n",
                          kDecodeName, size, frame->nb_samples, n);
    if (n > 0)
        copy_first_plane(frame, n, dst);
    av_frame_unref(frame);
    return n;
}

extern "C" FLATAV_API void ff_decoder_cleanup(BufferDecodeRec *rec)
{
    if (rec)
        free_decoder(rec);
}
