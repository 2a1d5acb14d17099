#include "direct_encode.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

#include "flatav.h"

namespace {

constexpr int kFlacLevel = 5;
constexpr int kMp3BitRate = 192000;

// Where both loops write: counts the bytes and folds them into a checksum,
// so the work cannot be optimised away and the outputs can be compared.
struct Sink {
    int64_t pos = 0;
    int64_t bytes = 0;
    uint32_t checksum = 0;

    // The host record's write function takes a mutable buffer; FFmpeg 7's
    // avio_alloc_context a const one, FFmpeg 5's a mutable one: each takes
    // the overload of its own type.
    static int32_t write(void *opaque, uint8_t *buf, int32_t size)
    {
        return write(opaque, static_cast<const uint8_t *>(buf), size);
    }
    static int32_t write(void *opaque, const uint8_t *buf, int32_t size)
    {
        auto *self = static_cast<Sink *>(opaque);
        for (int32_t i = 0; i < size; i += 64)
            self->checksum = self->checksum * 31 + buf[i];
        self->pos += size;
        self->bytes += size;
        return size;
    }
    static int64_t seek(void *opaque, int64_t offset, int32_t whence)
    {
        auto *self = static_cast<Sink *>(opaque);
        if (whence == AVSEEK_SIZE)
            return -1;
        if ((whence & ~AVSEEK_FORCE) == SEEK_SET)
            self->pos = offset;
        else if ((whence & ~AVSEEK_FORCE) == SEEK_CUR)
            self->pos += offset;
        else
            return -1;
        return self->pos;
    }
};

const char *file_name(EncodeCodec codec) { return codec == EncodeCodec::flac ? "out.flac" : "out.mp3"; }

}  // namespace

EncodeInput load_pcm(const std::string &path)
{
    EncodeInput input;
    std::ifstream in(path, std::ios::binary);
    input.interleaved.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    input.samples = (int64_t)input.interleaved.size() / 4;
    input.interleaved.resize(input.samples * 4);
    input.left.resize(input.samples * 2);
    input.right.resize(input.samples * 2);
    for (int64_t i = 0; i < input.samples; i++) {
        std::copy_n(&input.interleaved[i * 4], 2, &input.left[i * 2]);
        std::copy_n(&input.interleaved[i * 4 + 2], 2, &input.right[i * 2]);
    }
    return input;
}

EncodeResult encode_with_flatav(const EncodeInput &input, EncodeCodec codec)
{
    EncodeResult result;
    Sink sink;
    HostCallbacks quiet{};  // trace texts dropped, as a host without a console would
    EncodeRec rec{};
    rec.callbacks = &quiet;
    rec.output_file_name = file_name(codec);
    rec.codec_id = codec == EncodeCodec::flac ? ff_get_encoder_03() : ff_get_encoder_06();
    rec.encode = 1;
    rec.compression_level = codec == EncodeCodec::flac ? kFlacLevel : -1;
    rec.bit_rate = codec == EncodeCodec::flac ? 0 : kMp3BitRate;
    rec.sample_fmt = rec.requested_sample_fmt =
        codec == EncodeCodec::flac ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_S16P;
    rec.channels = 2;
    rec.sample_rate = input.sample_rate;
    rec.io_opaque = &sink;
    rec.write_packet = Sink::write;
    rec.seek = Sink::seek;
    if (ff_open_encoder(&rec) == nullptr) {
        const int64_t block = rec.audio_input_frame_size;
        bool ok = block > 0;
        for (int64_t start = 0; ok && start < input.samples; start += block) {
            const int64_t n = std::min(block, input.samples - start);
            const int32_t bytes = (int32_t)(n * 4);
            int32_t r;
            if (rec.planar) {
                uint8_t *planes[2] = {const_cast<uint8_t *>(&input.left[start * 2]),
                                      const_cast<uint8_t *>(&input.right[start * 2])};
                r = ff_encode_audio2(&rec, planes[0], planes, bytes);
            } else {
                r = ff_encode_audio2(&rec, &input.interleaved[start * 4], nullptr, bytes);
            }
            ok = r >= 0;
        }
        result.ok = ok && ff_encode_audio2(&rec, nullptr, nullptr, 0) == 0;
    }
    ff_cleanup_encoder(&rec);
    result.bytes = sink.bytes;
    result.checksum = sink.checksum;
    return result;
}

namespace {

// Sends one frame (null: the end) and writes every packet it yields.
bool encode_frame(AVCodecContext *enc, AVFormatContext *out, AVStream *stream,
                  AVFrame *frame, AVPacket *pkt)
{
    if (avcodec_send_frame(enc, frame) < 0)
        return false;
    for (;;) {
        int ret = avcodec_receive_packet(enc, pkt);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return true;
        if (ret < 0)
            return false;
        av_packet_rescale_ts(pkt, enc->time_base, stream->time_base);
        pkt->stream_index = stream->index;
        ret = av_write_frame(out, pkt);
        av_packet_unref(pkt);
        if (ret < 0)
            return false;
    }
}

}  // namespace

EncodeResult encode_directly(const EncodeInput &input, EncodeCodec codec)
{
    EncodeResult result;
    Sink sink;
    const bool flac = codec == EncodeCodec::flac;
    const AVCodec *encoder = avcodec_find_encoder(flac ? AV_CODEC_ID_FLAC : AV_CODEC_ID_MP3);
    AVFormatContext *out = nullptr;
    AVCodecContext *enc = avcodec_alloc_context3(encoder);
    AVPacket *pkt = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    AVIOContext *pb = nullptr;
    bool ok = false;
    AVStream *stream = nullptr;
    const AVSampleFormat fmt = flac ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_S16P;

    if (avformat_alloc_output_context2(&out, nullptr, nullptr, file_name(codec)) >= 0 &&
        enc && pkt && frame && (stream = avformat_new_stream(out, nullptr))) {
        enc->sample_fmt = fmt;
        enc->sample_rate = input.sample_rate;
        av_channel_layout_default(&enc->ch_layout, 2);
        enc->compression_level = flac ? kFlacLevel : -1;
        enc->bit_rate = flac ? 0 : kMp3BitRate;
        enc->time_base = AVRational{1, input.sample_rate};
        if (out->oformat->flags & AVFMT_GLOBALHEADER)
            enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        auto *buffer = static_cast<uint8_t *>(av_malloc(4096 + AV_INPUT_BUFFER_PADDING_SIZE));
        if (avcodec_open2(enc, encoder, nullptr) >= 0 &&
            avcodec_parameters_from_context(stream->codecpar, enc) >= 0 && buffer &&
            (pb = avio_alloc_context(buffer, 4096, 1, &sink, nullptr, Sink::write,
                                     Sink::seek))) {
            out->pb = pb;
            ok = avformat_write_header(out, nullptr) >= 0;
        } else {
            av_free(buffer);
        }
    }

    const int64_t block = enc ? enc->frame_size : 0;
    for (int64_t start = 0; ok && start < input.samples; start += block) {
        const int64_t n = std::min(block, input.samples - start);
        frame->nb_samples = (int)n;
        frame->format = fmt;
        frame->sample_rate = input.sample_rate;
        av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout);
        frame->pts = start;
        if (flac) {
            ok = avcodec_fill_audio_frame(frame, 2, fmt, &input.interleaved[start * 4],
                                          (int)(n * 4), 1) >= 0;
        } else {
            frame->data[0] = const_cast<uint8_t *>(&input.left[start * 2]);
            frame->data[1] = const_cast<uint8_t *>(&input.right[start * 2]);
            frame->linesize[0] = (int)(n * 2);
        }
        ok = ok && encode_frame(enc, out, stream, frame, pkt);
    }
    ok = ok && encode_frame(enc, out, stream, nullptr, pkt) && av_write_trailer(out) == 0;
    result.ok = ok;
    result.bytes = sink.bytes;
    result.checksum = sink.checksum;

    if (pb) {
        av_freep(&pb->buffer);
        avio_context_free(&pb);
    }
    avformat_free_context(out);
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&enc);
    return result;
}
