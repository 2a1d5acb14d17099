// Small helpers over FFmpeg's types that every subsystem uses: owning
// pointers for objects that live inside one call, and the conversions of a
// host's numbers into FFmpeg's terms. Objects that a host record owns stay
// raw pointers in the record.
#pragma once

#include <cstdint>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
}

namespace flatav {

struct PacketFree {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

struct FrameFree {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

struct InputClose {
    void operator()(AVFormatContext *c) const { avformat_close_input(&c); }
};
using InputPtr = std::unique_ptr<AVFormatContext, InputClose>;

// Seconds of one tick of a time base; 0 for a time base without a
// denominator (a stream that gives none), where av_q2d would divide by zero.
inline double seconds_per_tick(AVRational tb)
{
    return tb.den ? (double)tb.num / tb.den : 0.0;
}

// FFmpeg's channel mask of a layout, 0 when the layout is not in FFmpeg's
// native order (channels counted only, or a custom order).
inline uint64_t native_mask(const AVChannelLayout &layout)
{
    return layout.order == AV_CHANNEL_ORDER_NATIVE ? layout.u.mask : 0;
}

// A host's AVSampleFormat value, AV_SAMPLE_FMT_NONE when FFmpeg has no such
// format.
inline AVSampleFormat sample_format(int32_t value)
{
    if (value < 0 || value >= AV_SAMPLE_FMT_NB)
        return AV_SAMPLE_FMT_NONE;
    return static_cast<AVSampleFormat>(value);
}

}  // namespace flatav
