// ff_encode_audio_raw: writes one already-encoded packet, retimed into the
// output stream's time base, or the trailer.
#include <cinttypes>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
}

#include "common/ffmpeg_util.h"
#include "common/report.h"

namespace flatav {
namespace {

constexpr const char *kName = "ff_encode_audio_raw";

// Samples in an audio packet: from the source decoder when it opened, from
// the stream parameters otherwise, else the output's frame size.
int packet_samples(const StreamCopyData &data, const AVStream *out, int size)
{
    int samples = data.codec_context
                      ? av_get_audio_frame_duration(data.codec_context, size)
                      : av_get_audio_frame_duration2(data.codecpar, size);
    return samples ? samples : out->codecpar->frame_size;
}

int source_sample_rate(const StreamCopyData &data)
{
    if (data.codec_context && data.codec_context->sample_rate > 0)
        return data.codec_context->sample_rate;
    return data.codecpar ? data.codecpar->sample_rate : 0;
}

// Retimes pkt from the source stream's time base into the output's.
// Returns false when the packet is to be skipped.
bool retime(EncodeRec *avrec, StreamCopyData &data, AVPacket *pkt)
{
    const AVStream *out = avrec->audio_st;
    const AVRational in_tb{data.time_base.num, data.time_base.den};
    const AVRational out_tb = out->time_base;

    // A host that shifts the output skips what would land at or before 0.
    if ((int32_t)data.pts_offset != 0 && (pkt->pts <= 0 || pkt->dts <= 0))
        return false;

    int64_t pts = pkt->pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE
                                             : av_rescale_q(pkt->pts, in_tb, out_tb);
    // An unset dts stays unset: the muxer derives one.
    int64_t dts = AV_NOPTS_VALUE;
    if (pkt->dts != AV_NOPTS_VALUE) {
        const int rate = source_sample_rate(data);
        if (out->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && rate > 0) {
            // Audio timestamps follow the sample count, so rounding in the
            // time base change does not accumulate.
            const int duration = packet_samples(data, out, pkt->size);
            dts = av_rescale_delta(in_tb, pkt->dts, AVRational{1, rate}, duration,
                                   &avrec->rescale_delta_last, out_tb);
            pts = dts;
        } else {
            dts = av_rescale_q(pkt->dts, in_tb, out_tb);
        }
    }
    if (pts != AV_NOPTS_VALUE)
        pts += data.pts_offset;
    if (dts != AV_NOPTS_VALUE)
        dts += data.dts_offset;
    pkt->pts = pts;
    pkt->dts = dts;
    // The duration travels in the same units as the timestamps.
    if (pkt->duration > 0)
        pkt->duration = av_rescale_q(pkt->duration, in_tb, out_tb);
    data.last_pts = pts;
    data.last_dts = dts;
    return true;
}

void declare_raw_stream(const EncodeRec *avrec)
{
    AVCodecParameters *par = avrec->audio_st->codecpar;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = (AVCodecID)avrec->raw_codec_id;
    par->frame_size = avrec->raw_frame_size;
    par->sample_rate = avrec->raw_sample_rate;
    av_channel_layout_uninit(&par->ch_layout);
    if (avrec->raw_channels > 0)
        av_channel_layout_default(&par->ch_layout, avrec->raw_channels);
}

StreamCopyData *selected_data(const EncodeRec *avrec)
{
    StreamCopy *sc = avrec->streamcopy;
    if (!sc || !sc->data || sc->stream_index < 0 || sc->stream_index >= sc->nb_streams ||
        !sc->data[sc->stream_index].codecpar)
        return nullptr;
    return &sc->data[sc->stream_index];
}

}  // namespace
}  // namespace flatav

using namespace flatav;

extern "C" FLATAV_API int32_t ff_encode_audio_raw(EncodeRec *avrec, int32_t size)
{
    if (!avrec)
        return FLATAV_RAW_WRITE_FAILED;
    const HostCallbacks *callbacks = avrec->callbacks;
    report_message(callbacks, "%s begin, size=", kName);
    if (!avrec->opened || !avrec->av_format_context || !avrec->audio_st) {
        report_error(callbacks, "%s: the output is not open", kName);
        return FLATAV_RAW_WRITE_FAILED;
    }

    if (size == 0) {
        report_message(callbacks, "%s(): EOF", kName);
        const int ret = av_write_trailer(avrec->av_format_context);
        if (ret == 0)
            return 0;
        report_error(callbacks, "av_write_trailer failed %d", ret);
        return FLATAV_RAW_WRITE_FAILED;
    }

    report_message(callbacks, "%s avrec->streamcopy=%x", kName,
                   (unsigned)(uintptr_t)avrec->streamcopy);
    StreamCopyData *data = nullptr;
    if (avrec->streamcopy) {
        data = selected_data(avrec);
        if (!data) {
            report_error(callbacks, "%s: no stream-copy data for stream %d", kName,
                         avrec->streamcopy->stream_index);
            return FLATAV_RAW_WRITE_FAILED;
        }
    } else {
        declare_raw_stream(avrec);
    }

    // The host's packet is written as it is; raw bytes get a packet that
    // points at them without a copy.
    PacketPtr temporary;
    AVPacket *pkt = avrec->raw_pkt;
    if (!pkt) {
        temporary.reset(av_packet_alloc());
        if (!temporary) {
            report_error(callbacks, "av_new_packet failed %d", AVERROR(ENOMEM));
            return FLATAV_RAW_NO_PACKET;
        }
        pkt = temporary.get();
        pkt->data = avrec->raw_data;
        pkt->size = avrec->raw_size;
    }

    int ret = 0;
    if (!data || retime(avrec, *data, pkt)) {
        pkt->stream_index = 0;
        ret = av_write_frame(avrec->av_format_context, pkt);
    }
    if (temporary) {
        // The bytes are the host's: detach them before the packet goes.
        temporary->data = nullptr;
        temporary->size = 0;
    }
    if (ret < 0) {
        report_error(callbacks, "av_write_frame failed %d\n", ret);
        return FLATAV_RAW_WRITE_FAILED;
    }
    return ret;
}
