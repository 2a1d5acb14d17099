#include "direct_decode.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "flatav.h"

namespace {

// A cheap fold of the output, so the work cannot be optimised away and the
// two loops can be checked against each other.
uint32_t fold(uint32_t sum, const uint8_t *data, int64_t size)
{
    for (int64_t i = 0; i < size; i += 64)
        sum = sum * 31 + data[i];
    return sum;
}

void grow(void *, AudioBuffer *abuf, int32_t need)
{
    auto *bigger = static_cast<uint8_t *>(std::realloc(abuf->data, (size_t)need));
    if (bigger) {
        abuf->data = bigger;
        abuf->capacity = need;
    }
}

}  // namespace

DecodeResult decode_with_flatav(const std::string &path)
{
    DecodeResult result;
    HostCallbacks callbacks{};
    callbacks.grow_buffer_cb = grow;
    DecodeRec rec{};
    rec.callbacks = &callbacks;
    rec.file_name = path.c_str();
    rec.is_url = 1;
    rec.packed_output = 1;
    rec.request_sample_fmt = -1;
    if (ff_decoder_open(&rec) == nullptr) {
        rec.audio_stream_index = 0;
        AudioBuffer abuf{};
        int32_t n;
        while ((n = ff_decode_audio(&rec, nullptr, nullptr, &abuf, 0, nullptr)) > 0) {
            result.bytes += n;
            result.checksum = fold(result.checksum, abuf.data, n);
        }
        result.ok = n == 0 && rec.end_of_stream;
        std::free(abuf.data);
    }
    ff_cleanup_decoder(&rec);
    return result;
}

DecodeResult decode_directly(const std::string &path)
{
    DecodeResult result;
    AVFormatContext *fmt_ctx = nullptr;
    if (avformat_open_input(&fmt_ctx, path.c_str(), nullptr, nullptr) < 0)
        return result;
    AVCodecContext *dec_ctx = nullptr;
    SwrContext *swr = nullptr;
    AVPacket *pkt = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    std::vector<uint8_t> out;
    const AVCodec *codec = nullptr;
    int ret = avformat_find_stream_info(fmt_ctx, nullptr);
    if (ret >= 0)
        codec = avcodec_find_decoder(fmt_ctx->streams[0]->codecpar->codec_id);
    if (codec && (dec_ctx = avcodec_alloc_context3(codec)) &&
        avcodec_parameters_to_context(dec_ctx, fmt_ctx->streams[0]->codecpar) >= 0 &&
        avcodec_open2(dec_ctx, codec, nullptr) >= 0) {
        // The end of input flushes the decoder (a null packet), as flatav does.
        for (bool more = true; more;) {
            more = av_read_frame(fmt_ctx, pkt) >= 0;
            if (more && pkt->stream_index != 0) {
                av_packet_unref(pkt);
                continue;
            }
            ret = avcodec_send_packet(dec_ctx, more ? pkt : nullptr);
            av_packet_unref(pkt);
            if (ret < 0)
                continue;
            while (avcodec_receive_frame(dec_ctx, frame) >= 0) {
                const auto fmt = (AVSampleFormat)frame->format;
                const int channels = frame->ch_layout.nb_channels;
                const int size =
                    av_samples_get_buffer_size(nullptr, channels, frame->nb_samples, fmt, 1);
                if ((int)out.size() < size)
                    out.resize(size);
                if (av_sample_fmt_is_planar(fmt)) {
                    if (!swr) {
                        swr_alloc_set_opts2(&swr, &frame->ch_layout,
                                            av_get_packed_sample_fmt(fmt), frame->sample_rate,
                                            &frame->ch_layout, fmt, frame->sample_rate, 0,
                                            nullptr);
                        swr_init(swr);
                    }
                    uint8_t *dst = out.data();
                    swr_convert(swr, &dst, frame->nb_samples,
                                (const uint8_t **)frame->extended_data, frame->nb_samples);
                } else {
                    std::memcpy(out.data(), frame->data[0], size);
                }
                result.bytes += size;
                result.checksum = fold(result.checksum, out.data(), size);
            }
        }
        result.ok = true;
    }
    swr_free(&swr);
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&dec_ctx);
    avformat_close_input(&fmt_ctx);
    return result;
}
