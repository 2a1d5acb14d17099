// ff_decode_audio: the pull call. Reads packets until one of the selected
// stream turns up, then decodes it into the host's memory (FLATAV_READ_DECODE)
// or hands the packet out (the packet read modes). At the end of the source the
// decoder gives up the frames it still holds before the end is reported.
#include <cinttypes>
#include <climits>

#include "common/ffmpeg_util.h"
#include "common/report.h"
#include "decoder.h"
#include "packets.h"

namespace flatav {
namespace {

constexpr const char *kName = "ff_decode_audio";

enum class Step { next_packet, done };

// One call in decode mode: where its PCM goes and what went there so far.
struct DecodeCall {
    DecodeRec *avrec;
    AVCodecContext *dec;
    AVFrame *frame;
    uint8_t *buf;
    uint8_t **planes;
    AudioBuffer *abuf;
    int32_t *error_count;
    CallTotals totals;
    int frames = 0;        // frames copied out in this call
    bool nowhere = false;  // a planar frame had neither abuf nor planes
};

// Whether the read mode hands out the packets the packet loop reads
// (FLATAV_READ_RAW_PACKET reads its own).
bool hands_out_packets(const DecodeRec *avrec)
{
    return avrec->read_mode == FLATAV_READ_PACKET_DURATIONS ||
           avrec->read_mode == FLATAV_READ_COPY;
}

// The end of the source (or a read error) for every read mode but
// FLATAV_READ_RAW_PACKET, once the decoder holds nothing more.
int32_t end_of_input(DecodeRec *avrec, int read_result, const AVPacket *pkt,
                     bool have_destination)
{
    char text[kErrorTextSize];
    console_log("%s(): av_read_frame returned %d %x %s", kName, read_result,
                (unsigned)read_result, error_text(read_result, text));
    console_log("%s(): pts=%" PRId64 ", dts=%" PRId64 ", pos=%" PRId64 "\n", kName,
                pkt->pts, pkt->dts, pkt->pos);
    avrec->end_of_stream = 1;
    if (hands_out_packets(avrec))
        return FLATAV_DECODE_END_OF_PACKETS;
    if (!have_destination) {
        report_error(avrec->callbacks, "%s buf = NULL", kName);
        return FLATAV_DECODE_NO_DESTINATION;
    }
    return 0;
}

// A decoding error under decode_error_mode: skip (counted or not) or fail.
Step decoding_error(DecodeCall &c, int code, int32_t &result)
{
    switch (c.avrec->decode_error_mode) {
    case FLATAV_DECODE_ERRORS_COUNT_AND_SKIP:
        if (c.error_count)
            ++*c.error_count;
        return Step::next_packet;
    case FLATAV_DECODE_ERRORS_SKIP:
        return Step::next_packet;
    default: {
        char text[kErrorTextSize];
        report_error(c.avrec->callbacks, "%s Error while decoding (%d) : %s", kName,
                     code, error_text(code, text));
        result = FLATAV_DECODE_FAILED;
        return Step::done;
    }
    }
}

bool wants_input(int code) { return code == AVERROR(EAGAIN) || code == AVERROR_EOF; }

// Receives and copies out the frames the decoder has ready, at most `most`.
// Returns the code that stopped it (AVERROR(EAGAIN) or AVERROR_EOF when the
// decoder has no frame now, or a decoding error), or 0 after `most` frames
// or a frame that had nowhere to go.
int receive_frames(DecodeCall &c, int most)
{
    for (int n = 0; n < most; n++) {
        const int ret = avcodec_receive_frame(c.dec, c.frame);
        if (ret < 0)
            return ret;
        c.frames++;
        if (decode_audio_frame(c.avrec, c.frame, c.buf, c.planes, c.abuf, c.totals) < 0) {
            c.nowhere = true;
            return 0;
        }
    }
    return 0;
}

// The result of a call that copied frames out.
int32_t delivered(const DecodeCall &c)
{
    return c.nowhere ? FLATAV_DECODE_NO_DESTINATION : c.totals.offset;
}

// Sends one packet of the selected stream and copies out every frame it
// yields. Step::done sets result.
Step decode_packet(DecodeCall &c, AVPacket *pkt, int32_t &result)
{
    int ret = avcodec_send_packet(c.dec, pkt);
    if (ret == AVERROR(EAGAIN)) {
        // Frames of earlier packets still wait (a failed receive stopped in
        // front of them): they go out first, and the packet is sent again
        // rather than dropped.
        receive_frames(c, INT_MAX);
        if (c.nowhere) {
            av_packet_unref(pkt);
            result = delivered(c);
            return Step::done;
        }
        ret = avcodec_send_packet(c.dec, pkt);
    } else if (ret == AVERROR_EOF) {
        // The end of input drained the decoder, and the source goes on (after
        // a seek): the decoder starts afresh.
        avcodec_flush_buffers(c.dec);
        ret = avcodec_send_packet(c.dec, pkt);
    }
    av_packet_unref(pkt);
    if (ret < 0 && !wants_input(ret))
        return decoding_error(c, ret, result);

    const int frames_before = c.frames;
    ret = receive_frames(c, INT_MAX);
    if (c.frames == frames_before && !wants_input(ret))
        return decoding_error(c, ret, result);
    if (c.frames == 0)
        return Step::next_packet;  // the packet only fed the decoder
    // One call delivers every frame of this packet, one behind the other; an
    // error after the first ends them.
    result = delivered(c);
    return Step::done;
}

// The end of the source in decode mode: the decoder gets its end-of-stream
// packet and gives up the frames it still holds, one per call, so that a
// buffer sized for the PCM of one packet takes each. Step::next_packet once
// it holds none. A decoding error ends the drain, skipped or not, as it ends
// the ffmpeg tool's: a damaged stream can leave a decoder that answers every
// later call with the same error.
Step drain_decoder(DecodeCall &c, int32_t &result)
{
    // Later calls find the packet sent (AVERROR_EOF); AVERROR(EAGAIN) means
    // frames of the last packet wait in front of it, and it goes in on a
    // later call.
    avcodec_send_packet(c.dec, nullptr);
    const int ret = receive_frames(c, 1);
    if (ret == 0) {
        result = delivered(c);
        return Step::done;
    }
    if (wants_input(ret))
        return Step::next_packet;
    return decoding_error(c, ret, result);
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
        return FLATAV_DECODE_NO_DECODER;
    avrec->call_status = 0;
    if (avrec->read_mode == FLATAV_READ_RAW_PACKET)
        return read_raw_packet(avrec);

    AVCodecContext *dec = selected_decoder(avrec);
    if (!dec || !avrec->av_format_context) {
        report_error(avrec->callbacks,
                     "%s Internal error: av_codec_context is NULL for "
                     "audio_stream_index %d",
                     kName, avrec->audio_stream_index);
        return FLATAV_DECODE_NO_DECODER;
    }
    avrec->end_of_stream = 0;

    const bool packet_mode = hands_out_packets(avrec);
    const bool have_destination = buf || abuf;
    // Planes to write into are checked before a packet is read, so that
    // none is consumed for nothing.
    if (!packet_mode && buf && !abuf && !planes && !avrec->packed_output &&
        av_sample_fmt_is_planar(dec->sample_fmt)) {
        report_error(avrec->callbacks, "%s planes = NULL", kName);
        return FLATAV_DECODE_NO_DESTINATION;
    }
    PacketPtr pkt(av_packet_alloc());
    FramePtr frame(packet_mode ? nullptr : av_frame_alloc());
    if (!pkt || (!packet_mode && !frame)) {
        report_error(avrec->callbacks, "%s out of memory", kName);
        return FLATAV_DECODE_OUT_OF_MEMORY;
    }
    DecodeCall call{avrec, dec, frame.get(), buf, planes, abuf, error_count, {}};
    int32_t result = 0;
    for (;;) {
        int ret = av_read_frame(avrec->av_format_context, pkt.get());
        if (ret == AVERROR(EAGAIN))
            continue;
        if (ret < 0) {
            if (!packet_mode && have_destination &&
                drain_decoder(call, result) == Step::done)
                return result;
            return end_of_input(avrec, ret, pkt.get(), have_destination);
        }
        if (pkt->stream_index != avrec->audio_stream_index) {
            av_packet_unref(pkt.get());
            continue;
        }
        avrec->packet_count++;
        avrec->pkt_pos = pkt->pos;

        if (packet_mode)
            return get_raw_packet(avrec, pkt.get(), buf, expected_size);
        if (!have_destination) {
            report_error(avrec->callbacks, "%s buf = NULL", kName);
            av_packet_unref(pkt.get());
            return FLATAV_DECODE_NO_DESTINATION;
        }
        if (decode_packet(call, pkt.get(), result) == Step::done)
            return result;
    }
}
