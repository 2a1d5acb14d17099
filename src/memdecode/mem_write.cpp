// decode_and_write: decodes one parsed packet and hands every frame to the
// host's write function, packed frames in one call, planar frames
// interleaved one sample value at a time.
extern "C" {
#include <libavutil/samplefmt.h>
}

#include "memdecode.h"

namespace flatav {

int32_t write_frame(const MemDecodeRec *rec, const AVFrame *frame)
{
    const AVCodecContext *ctx = rec->codec_context;
    const int channels = ctx->ch_layout.nb_channels;
    const AVSampleFormat format = ctx->sample_fmt;
    // The byte count comes from the context: a frame that does not agree with
    // it would be read past its end.
    if (frame->format != format || frame->ch_layout.nb_channels != channels)
        return 0;
    const int frame_bytes =
        av_samples_get_buffer_size(nullptr, channels, frame->nb_samples, format, 1);
    if (frame_bytes <= 0)
        return 0;

    if (av_sample_fmt_is_planar(format)) {
        const int bytes = av_get_bytes_per_sample(format);
        for (int s = 0; s < frame->nb_samples; s++)
            for (int c = 0; c < channels; c++)
                rec->write_fn(rec->user, frame->extended_data[c] + (size_t)s * bytes,
                              bytes);
    } else {
        rec->write_fn(rec->user, frame->data[0], frame_bytes);
    }
    return frame_bytes;
}

int32_t decode_and_write(MemDecodeRec *rec)
{
    int r = avcodec_send_packet(rec->codec_context, rec->packet);
    if (r < 0)
        return r;
    int64_t written = 0;
    for (;;) {
        r = avcodec_receive_frame(rec->codec_context, rec->frame);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            return written > INT32_MAX ? INT32_MAX : (int32_t)written;
        if (r < 0)
            return r;
        // The next receive releases this frame's buffers.
        written += write_frame(rec, rec->frame);
    }
}

}  // namespace flatav
