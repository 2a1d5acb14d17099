// The packet read modes of ff_decode_audio, and ff_pkt_size, ff_pkt_new,
// ff_pkt_clean and ff_pkt_free: the packet objects FLATAV_READ_RAW_PACKET
// fills.
#include <cstring>

#include "common/ffmpeg_util.h"
#include "common/report.h"
#include "decoder.h"
#include "packets.h"

namespace flatav {
namespace {

double stream_tick(const DecodeRec *avrec)
{
    return seconds_per_tick(
        avrec->av_format_context->streams[avrec->audio_stream_index]->time_base);
}

// The start of a packet in seconds from its own time stamp, less the whole
// seconds of the source's start time.
void set_packet_position(DecodeRec *avrec, const AVPacket *pkt, double tick)
{
    if (pkt->pts == AV_NOPTS_VALUE)
        return;
    float t = (float)(pkt->pts * tick);
    const int64_t start_time = avrec->av_format_context->start_time;
    if (start_time != AV_NOPTS_VALUE)
        t -= (float)(start_time / AV_TIME_BASE);
    avrec->position = t;
}

}  // namespace

int32_t get_raw_packet(DecodeRec *avrec, AVPacket *pkt, uint8_t *buf,
                       int32_t expected_size)
{
    const double tick = stream_tick(avrec);
    const double duration = pkt->duration * tick;

    if (avrec->read_mode == FLATAV_READ_PACKET_DURATIONS) {
        if (avrec->packet_times) {
            avrec->packet_times[0] = duration;
            avrec->packet_times[1] += duration;
        }
        const AVStream *stream =
            avrec->av_format_context->streams[avrec->audio_stream_index];
        report_message(avrec->callbacks,
                       "av_format_context->streams[avrec->audio_stream_index]->"
                       "time_base=%d",
                       stream->time_base.num);
        av_packet_unref(pkt);
        return 0;
    }

    const int32_t size = pkt->size;
    int32_t result = FLATAV_DECODE_PACKET_TAKEN;
    const HostCallbacks *callbacks = avrec->callbacks;
    const bool taken =
        callbacks && callbacks->packet_cb &&
        callbacks->packet_cb(avrec->io_opaque, pkt->data, size, expected_size) ==
            FLATAV_PACKET_CB_TAKEN;
    if (!taken) {
        // A null buf cannot receive the packet: it counts as too small.
        if (buf && (expected_size >= size || avrec->raw_buffer_size >= size)) {
            std::memcpy(buf, pkt->data, (size_t)size);
            result = size;
        } else {
            result = FLATAV_DECODE_PACKET_TOO_LARGE;
            console_log("%s(): ret=%d, expected_size=%d\n", "get_raw_packet", size,
                        expected_size);
        }
        avrec->packet_duration_sum += duration;
    }
    set_packet_position(avrec, pkt, tick);
    av_packet_unref(pkt);
    return result;
}

int32_t read_raw_packet(DecodeRec *avrec)
{
    AVPacket *pkt = avrec->raw_pkt;
    AVFormatContext *fmt_ctx = avrec->av_format_context;
    const int index = avrec->audio_stream_index;
    if (!pkt || !fmt_ctx || index < 0 || index >= (int)fmt_ctx->nb_streams) {
        report_error(avrec->callbacks,
                     "%s Internal error: no packet object or source for "
                     "audio_stream_index %d",
                     "ff_decode_audio", index);
        return FLATAV_DECODE_NO_DECODER;
    }
    for (;;) {
        // Resets the packet to its defaults (the host cleaned it already).
        av_packet_unref(pkt);
        int ret = av_read_frame(fmt_ctx, pkt);
        if (ret == AVERROR(EAGAIN))
            continue;
        if (ret < 0) {
            avrec->end_of_stream = 1;
            return FLATAV_DECODE_END_OF_PACKETS;
        }
        if (pkt->stream_index == index)
            break;
    }
    const double tick = stream_tick(avrec);
    set_packet_position(avrec, pkt, tick);
    avrec->packet_duration_sum += pkt->duration * tick;
    avrec->raw_packet_count++;
    return pkt->size;
}

}  // namespace flatav

extern "C" FLATAV_API int32_t ff_pkt_size(void) { return (int32_t)sizeof(AVPacket); }

// av_packet_alloc gives a packet in its default state, so a host may clean
// it before the first read.
extern "C" FLATAV_API AVPacket *ff_pkt_new(void) { return av_packet_alloc(); }

extern "C" FLATAV_API void ff_pkt_clean(AVPacket *pkt)
{
    if (pkt)
        av_packet_unref(pkt);
}

// av_packet_free also drops data a host forgot to clean.
extern "C" FLATAV_API void ff_pkt_free(AVPacket *pkt)
{
    if (pkt)
        av_packet_free(&pkt);
}
