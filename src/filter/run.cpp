// run_af: wraps one host block in a frame (no copy), pushes it into the
// graph, and writes every filtered frame that is ready through the host's
// write function, in the input's format.
#include <cstdint>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
}

#include "common/report.h"
#include "filter.h"

namespace flatav {
namespace {

constexpr const char *kName = "run_af";

// The frame's layout from the record's mask. False when the mask does not
// name `channels` channels: the source would then take its own layout for
// the frame and read past the host's block.
bool set_layout(AVFrame *frame, uint64_t mask, int channels)
{
    av_channel_layout_uninit(&frame->ch_layout);
    return av_channel_layout_from_mask(&frame->ch_layout, mask) >= 0 &&
           frame->ch_layout.nb_channels == channels;
}

// Wraps size bytes of the host's block in in_frame and pushes it: 0, or the
// code of the refusal.
int push_block(FilterRec *rec, const uint8_t *data, int32_t size)
{
    AVFrame *frame = rec->in_frame;
    const AVSampleFormat format = static_cast<AVSampleFormat>(rec->sample_fmt);
    frame->sample_rate = rec->sample_rate;
    frame->format = format;
    const bool layout_agrees = set_layout(frame, rec->channel_layout, rec->channels);

    // Bytes beyond the last whole sample frame are ignored. A record without
    // channels or with an unknown format has no whole sample frame, which
    // the fill below refuses.
    const int64_t frame_bytes =
        static_cast<int64_t>(rec->channels) * av_get_bytes_per_sample(format);
    const int32_t nb_samples =
        frame_bytes > 0 ? static_cast<int32_t>(size / frame_bytes) : 0;
    frame->nb_samples = nb_samples;
    // Samples so far while every block has the same length (32-bit, as the
    // counters are).
    frame->pts = static_cast<int32_t>(static_cast<uint32_t>(nb_samples) *
                                      static_cast<uint32_t>(rec->frames_in));
    rec->frames_in = static_cast<int32_t>(static_cast<uint32_t>(rec->frames_in) + 1);

    if (size == 0) {
        // No frame marks the end of the stream.
        return av_buffersrc_add_frame(rec->run_src, nullptr);
    }

    // The frame points into the host's bytes (no copy here). It holds no
    // buffer reference, so the source copies what it keeps: the host's bytes
    // are valid only during this call, and filters with latency hold on to
    // frames.
    int r = data ? avcodec_fill_audio_frame(frame, rec->channels, format, data, size, 1)
                 : AVERROR(EINVAL);
    if (r < 0) {
        console_print(stdout, "%s(): avcodec_fill_audio_frame failed: %d\n", kName, r);
        return r;
    }
    // A block the source cannot take as it is counts as refused by it.
    r = layout_agrees ? av_buffersrc_add_frame(rec->run_src, frame) : AVERROR(EINVAL);
    if (r < 0)
        return r;
    av_frame_unref(frame);
    return 0;
}

// Hands one filtered frame to the host: every plane on its own for planar
// formats, the one interleaved plane otherwise.
void write_frame(const AVFrame *frame, void *user, PcmWriteFn write_fn)
{
    const AVSampleFormat format = static_cast<AVSampleFormat>(frame->format);
    const int channels = frame->ch_layout.nb_channels;
    const int32_t plane_bytes = av_get_bytes_per_sample(format) * frame->nb_samples;
    if (av_sample_fmt_is_planar(format)) {
        for (int ch = 0; ch < channels; ch++)
            write_fn(user, frame->extended_data[ch], plane_bytes);
    } else {
        write_fn(user, frame->extended_data[0], plane_bytes * channels);
    }
}

}  // namespace
}  // namespace flatav

using namespace flatav;

extern "C" FLATAV_API int32_t run_af(FilterRec *rec, const uint8_t *data, int32_t size,
                                     void *user, PcmWriteFn write_fn)
{
    // Only a record that setup_af built (and nothing tore down) has a graph
    // to push into.
    if (!rec || !rec->graph || !rec->in_frame || !rec->out_frame)
        return AVERROR(EINVAL);
    int r = push_block(rec, data, size);
    if (r < 0) {
        // A refused push leaves nothing to run: the record is torn down.
        clean_filter_avrec(rec);
        return r;
    }

    // EAGAIN (more input wanted) and EOF (drained) end the loop as any
    // failure does; the host tells them apart.
    AVFrame *frame = rec->out_frame;
    while ((r = av_buffersink_get_frame(rec->run_sink, frame)) >= 0) {
        rec->frames_out = static_cast<int32_t>(static_cast<uint32_t>(rec->frames_out) + 1);
        if (write_fn)
            write_frame(frame, user, write_fn);
        av_frame_unref(frame);
    }
    return r;
}
