// ff_encode_audio2: one block of host PCM in, at most one packet out; a call
// without data drains the encoder and writes the trailer. ff_buff_size: the
// size FFmpeg gives a block of PCM in the output stream's format.
extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libavutil/samplefmt.h>
}

#include "common/ffmpeg_util.h"
#include "common/report.h"
#include "encoder.h"

namespace flatav {
namespace {

constexpr const char *kName = "ff_encode_audio2";
constexpr const char *kStep = "encode_audio_frame";

// Points the frame at the host's samples without copying them: the block
// itself (interleaved, or the planes one after the other for a planar
// encoder format) or one plane pointer per channel. The result is that of
// ff_encode_audio2 for a failure, 0 otherwise.
int32_t describe_samples(EncodeRec *avrec, AVFrame *frame, const uint8_t *buf,
                         uint8_t **planes, int32_t buf_size)
{
    const AVCodecContext *c = avrec->av_codec_context;
    const int channels = c->ch_layout.nb_channels;
    if (!avrec->planar) {
        // FFmpeg gives a planar layout of more than 8 channels its own
        // pointer array; the one of the previous block goes first.
        if (frame->extended_data != frame->data)
            av_freep(&frame->extended_data);
        int ret = avcodec_fill_audio_frame(frame, channels, c->sample_fmt, buf,
                                           buf_size, 1);
        if (ret < 0) {
            report_error(avrec->callbacks,
                         "avcodec_fill_audio_frame failed with code %d, for "
                         "nb_samples=%d, buf_size=%d\n",
                         ret, frame->nb_samples, buf_size);
            return FLATAV_ENCODE_FAILED;
        }
        return 0;
    }

    // The frame has 8 plane pointers; a block without a whole sample frame,
    // missing planes or more channels is refused as the encoder refuses an
    // invalid frame.
    bool valid = planes && channels <= AV_NUM_DATA_POINTERS && frame->nb_samples > 0;
    for (int i = 0; valid && i < channels; i++)
        valid = planes[i] != nullptr;
    if (!valid) {
        const int code = AVERROR(EINVAL);
        char text[kErrorTextSize];
        report_error(avrec->callbacks,
                     "[1] avcodec_encode_audio2 failed : %s, buf_size=%d %d\n",
                     error_text(code, text), buf_size, code);
        return code;
    }
    for (int i = 0; i < channels; i++)
        frame->data[i] = planes[i];
    frame->extended_data = frame->data;
    frame->linesize[0] = frame->nb_samples * av_get_bytes_per_sample(c->sample_fmt);
    return 0;
}

}  // namespace

int32_t encode_audio_frame(EncodeRec *avrec, AVPacket *pkt, const uint8_t *buf,
                           uint8_t **planes, int32_t buf_size)
{
    const HostCallbacks *callbacks = avrec->callbacks;
    AVCodecContext *c = avrec->av_codec_context;
    if (!avrec->frame) {
        avrec->frame = av_frame_alloc();
        if (!avrec->frame) {
            report_error(callbacks, "out-of-memory in encode_audio_frame()\n");
            return FLATAV_ENCODE_FAILED;
        }
    }
    AVFrame *frame = avrec->frame;
    av_channel_layout_copy(&frame->ch_layout, &c->ch_layout);
    frame->format = c->sample_fmt;
    frame->sample_rate = c->sample_rate;

    // Bytes that do not fill a whole sample frame are ignored.
    const int frame_bytes =
        c->ch_layout.nb_channels * av_get_bytes_per_sample(c->sample_fmt);
    frame->nb_samples = frame_bytes > 0 && buf_size > 0 ? buf_size / frame_bytes : 0;
    frame->pts = av_rescale_q(avrec->next_pts, AVRational{1, c->sample_rate},
                              c->time_base);
    avrec->next_pts += frame->nb_samples;

    if (int32_t failure = describe_samples(avrec, frame, buf, planes, buf_size))
        return failure;

    char text[kErrorTextSize];
    int ret = avcodec_send_frame(c, frame);
    if (ret < 0) {
        report_error(callbacks,
                     "[1] avcodec_encode_audio2 failed : %s, buf_size=%d %d\n",
                     error_text(ret, text), buf_size, ret);
        return ret;
    }
    ret = avcodec_receive_packet(c, pkt);
    if (ret == AVERROR(EAGAIN))
        return 0;
    if (ret < 0) {
        report_error(callbacks,
                     "[2] avcodec_encode_audio2 failed : %s, buf_size=%d %d\n",
                     error_text(ret, text), buf_size, ret);
        return ret;
    }

    // Timestamps go from the encoder's time base to the stream's, as the
    // drain's do: where the muxer chose another time base (Matroska, MPEG-TS)
    // unconverted ones would be wrong or refused. Further packets that the
    // encoder has ready wait for the next call.
    const int32_t size = pkt->size;
    av_packet_rescale_ts(pkt, c->time_base, avrec->audio_st->time_base);
    ret = av_write_frame(avrec->av_format_context, pkt);
    av_packet_unref(pkt);
    if (ret < 0) {
        report_error(callbacks, "av_write_frame failed %d\n", ret);
        return FLATAV_ENCODE_FAILED;
    }
    return size;
}

int32_t write_delayed_frames(EncodeRec *avrec, AVPacket *pkt, int32_t buf_size)
{
    const HostCallbacks *callbacks = avrec->callbacks;
    AVCodecContext *c = avrec->av_codec_context;
    AVFormatContext *fmt_ctx = avrec->av_format_context;
    char text[kErrorTextSize];

    console_log("%s(): ======== get the delayed frames  ================\n", kStep);
    console_log("%s(): [1] buf_size=%d\n", kStep, buf_size);
    console_log("%s(): [2] buf_size=%d\n", kStep, buf_size);
    for (bool first = true;; first = false) {
        int ret = avcodec_send_frame(c, nullptr);
        console_log("%s(): [3] avcodec_send_frame, ret=%d : %s\n", kStep, ret,
                    error_text(ret, text));
        // The end of input is announced once; the later sends of this loop
        // meet it again. Meeting it on the first send means an earlier drain
        // has already written the trailer, which is not written twice.
        if (ret < 0 && (ret != AVERROR_EOF || first)) {
            report_error(callbacks,
                         "avcodec_encode_audio2 failed while getting delayed "
                         "frames : %s\n",
                         text);
            return FLATAV_ENCODE_FAILED;
        }

        ret = avcodec_receive_packet(c, pkt);
        console_log("%s(): [4] avcodec_receive_packet, ret=%d : %s\n", kStep, ret,
                    error_text(ret, text));
        if (ret == AVERROR(EAGAIN))
            continue;
        if (ret == AVERROR_EOF) {
            av_packet_unref(pkt);
            break;
        }
        if (ret < 0) {
            console_log("%s(): [5] got_output=%d\n", kStep, 0);
            break;
        }
        console_log("%s(): [5] got_output=%d\n", kStep, 1);
        console_log("%s(): [6] ret=%d, pkt.size=%d\n", kStep, ret, pkt->size);
        av_packet_rescale_ts(pkt, c->time_base, avrec->audio_st->time_base);
        ret = av_write_frame(fmt_ctx, pkt);
        av_packet_unref(pkt);
        if (ret < 0) {
            report_error(callbacks, "av_write_frame failed %d : %s\n", ret,
                         error_text(ret, text));
            return FLATAV_ENCODE_FAILED;
        }
    }

    int ret = av_write_trailer(fmt_ctx);
    console_log("%s(): [99] av_write_trailer=%d\n", kStep, ret);
    if (ret == 0)
        return 0;
    report_error(callbacks, "av_write_trailer failed %d : %s", ret,
                 error_text(ret, text));
    return FLATAV_ENCODE_FAILED;
}

}  // namespace flatav

using namespace flatav;

extern "C" FLATAV_API int32_t ff_encode_audio2(EncodeRec *avrec, const uint8_t *buf,
                                               uint8_t **planes, int32_t buf_size)
{
    if (!avrec)
        return FLATAV_ENCODE_FAILED;
    AVCodecContext *c = avrec->av_codec_context;
    if (!avrec->opened || !c || !avrec->av_format_context || !avrec->audio_st) {
        report_error(avrec->callbacks, "%s: no output is open", kName);
        return FLATAV_ENCODE_FAILED;
    }
    // The packet of this call. A packet per call costs an allocation that is
    // negligible next to encoding a frame, and keeps the record free of a
    // field the host would have to know about.
    PacketPtr pkt(av_packet_alloc());
    if (!pkt) {
        report_error(avrec->callbacks, "out-of-memory in encode_audio_frame()\n");
        return FLATAV_ENCODE_FAILED;
    }
    // Every call, the drain included, gives the encoder the default layout
    // for its channel count.
    set_default_layout(c->ch_layout, c->ch_layout.nb_channels);

    if (!buf)
        return write_delayed_frames(avrec, pkt.get(), buf_size);
    return encode_audio_frame(avrec, pkt.get(), buf, planes, buf_size);
}

extern "C" FLATAV_API int32_t ff_buff_size(EncodeRec *avrec, int32_t byte_count)
{
    // Without an output stream, channels or a sample size there is no sample
    // frame to count: the same answer as FFmpeg's for invalid sizes.
    if (!avrec || !avrec->audio_st)
        return AVERROR(EINVAL);
    const AVCodecParameters *par = avrec->audio_st->codecpar;
    const int channels = par->ch_layout.nb_channels;
    const AVSampleFormat format = sample_format(par->format);
    const int frame_bytes = channels * av_get_bytes_per_sample(format);
    if (frame_bytes <= 0)
        return AVERROR(EINVAL);
    // Alignment 0 rounds the sample count up to a multiple of 32.
    return av_samples_get_buffer_size(nullptr, channels, byte_count / frame_bytes,
                                      format, 0);
}
