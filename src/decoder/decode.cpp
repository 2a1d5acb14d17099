// ff_decode_audio: the pull call. Reads packets until one of the selected
// stream turns up, then decodes it into the host's memory (read mode 0) or
// hands the packet out (read modes 1 to 3).
#include <cinttypes>

#include "decoder.h"
#include "ffmpeg_ptr.h"
#include "host/report.h"
#include "packets.h"

namespace flatav {
namespace {

constexpr const char *kName = "ff_decode_audio";

enum class Step { next_packet, done };

// The end of the source (or a read error) in read modes 0, 1 and 2.
int32_t end_of_input(DecodeRec *avrec, int read_result, const AVPacket *pkt,
                     bool have_destination)
{
    char text[kErrorTextSize];
    console_log("%s(): av_read_frame returned %d %x %s", kName, read_result,
                (unsigned)read_result, error_text(read_result, text));
    console_log("%s(): pts=%" PRId64 ", dts=%" PRId64 ", pos=%" PRId64 "\n", kName,
                pkt->pts, pkt->dts, pkt->pos);
    avrec->end_of_stream = 1;
    if (avrec->read_mode == 1 || avrec->read_mode == 2)
        return -1;
    if (!have_destination) {
        report_error(avrec->callbacks, "%s buf = NULL", kName);
        return -2;
    }
    return 0;
}

// A decoding error under decode_error_mode: skip (1 counts it) or fail.
Step decoding_error(DecodeRec *avrec, int code, int32_t *error_count,
                    int32_t &result)
{
    switch (avrec->decode_error_mode) {
    case 1:
        if (error_count)
            ++*error_count;
        return Step::next_packet;
    case 2:
        return Step::next_packet;
    default: {
        char text[kErrorTextSize];
        report_error(avrec->callbacks, "%s Error while decoding (%d) : %s", kName,
                     code, error_text(code, text));
        result = -4;
        return Step::done;
    }
    }
}

// Sends one packet of the selected stream and copies out every frame it
// yields. Step::done sets result.
Step decode_packet(DecodeRec *avrec, AVCodecContext *dec, AVPacket *pkt,
                   FramePtr &frame, uint8_t *buf, uint8_t **planes,
                   AudioBuffer *abuf, int32_t *error_count, int32_t &result)
{
    if (!frame) {
        frame.reset(av_frame_alloc());
        if (!frame) {
            report_error(avrec->callbacks, "%s out of memory", kName);
            av_packet_unref(pkt);
            result = -21;
            return Step::done;
        }
    }

    int ret = avcodec_send_packet(dec, pkt);
    av_packet_unref(pkt);
    if (ret == AVERROR_EOF || ret == AVERROR(EAGAIN))
        return Step::next_packet;
    if (ret < 0)
        return decoding_error(avrec, ret, error_count, result);

    ret = avcodec_receive_frame(dec, frame.get());
    if (ret == AVERROR_EOF || ret == AVERROR(EAGAIN))
        return Step::next_packet;
    if (ret < 0)
        return decoding_error(avrec, ret, error_count, result);

    // One call delivers every frame of this packet, one behind the other.
    CallTotals totals;
    do {
        decode_audio_frame(avrec, frame.get(), buf, planes, abuf, totals);
    } while (avcodec_receive_frame(dec, frame.get()) >= 0);
    result = totals.offset;
    return Step::done;
}

}  // namespace

AVCodecContext *selected_decoder(const DecodeRec *avrec)
{
    const int index = avrec->audio_stream_index;
    if (!avrec->audio_info || index < 0 || index >= avrec->nb_streams)
        return nullptr;
    return avrec->audio_info[index].av_codec_context;
}

}  // namespace flatav

using namespace flatav;

extern "C" FLATAV_API int32_t ff_decode_audio(DecodeRec *avrec, uint8_t *buf,
                                              uint8_t **planes, AudioBuffer *abuf,
                                              int32_t expected_size,
                                              int32_t *error_count)
{
    if (!avrec)
        return -1;
    avrec->call_status = 0;
    if (avrec->read_mode == 3)
        return read_raw_packet(avrec);

    AVCodecContext *dec = selected_decoder(avrec);
    if (!dec || !avrec->av_format_context) {
        report_error(avrec->callbacks,
                     "%s Internal error: av_codec_context is NULL for "
                     "audio_stream_index %d",
                     kName, avrec->audio_stream_index);
        return -1;
    }
    avrec->end_of_stream = 0;

    PacketPtr pkt(av_packet_alloc());
    if (!pkt) {
        report_error(avrec->callbacks, "%s out of memory", kName);
        return -21;
    }
    FramePtr frame;
    const bool packet_mode = avrec->read_mode == 1 || avrec->read_mode == 2;
    for (;;) {
        int ret = av_read_frame(avrec->av_format_context, pkt.get());
        if (ret == AVERROR(EAGAIN))
            continue;
        if (ret < 0)
            return end_of_input(avrec, ret, pkt.get(), buf || abuf);
        if (pkt->stream_index != avrec->audio_stream_index) {
            av_packet_unref(pkt.get());
            continue;
        }
        avrec->packet_count++;
        avrec->pkt_pos = pkt->pos;

        if (packet_mode)
            return get_raw_packet(avrec, pkt.get(), buf, expected_size);
        if (!buf && !abuf) {
            report_error(avrec->callbacks, "%s buf = NULL", kName);
            av_packet_unref(pkt.get());
            return -2;
        }
        int32_t result = 0;
        if (decode_packet(avrec, dec, pkt.get(), frame, buf, planes, abuf,
                          error_count, result) == Step::done)
            return result;
    }
}
