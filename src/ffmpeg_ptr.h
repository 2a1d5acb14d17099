// Owning pointers for FFmpeg objects that live inside one call. Objects that
// a host record owns stay raw pointers in the record.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
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

// Double seconds of a time base, as FFmpeg's av_q2d.
inline double seconds_per_tick(AVRational tb) { return av_q2d(tb); }

}  // namespace flatav
