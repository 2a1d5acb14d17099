#include "mlp_direct.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/mem.h>
}

#include "flatav.h"

namespace {

// Where the stream comes from and where the PCM goes, for both loops.
struct Job {
    const std::vector<uint8_t> *stream;
    size_t pos = 0;
    bool ended = false;
    MlpResult result;
};

int32_t read_stream(void *user, uint8_t *dst, int32_t max)
{
    auto *job = static_cast<Job *>(user);
    const size_t n = std::min(job->stream->size() - job->pos, (size_t)max);
    if (n == 0) {
        job->ended = true;
        return 0;
    }
    std::memcpy(dst, job->stream->data() + job->pos, n);
    job->pos += n;
    return (int32_t)n;
}

// A cheap fold of the output, so the work cannot be optimised away and the
// two loops can be checked against each other.
int32_t sink(void *user, const uint8_t *data, int32_t size)
{
    auto *job = static_cast<Job *>(user);
    uint32_t sum = job->result.checksum;
    // An odd stride reaches every byte position of every sample format
    // (the low byte of 24-bit audio in 32-bit samples is always 0).
    for (int32_t i = 0; i < size; i += 61)
        sum = sum * 31 + data[i];
    job->result.checksum = sum;
    job->result.bytes += size;
    return size;
}

// Sends one packet (an empty one drains) and sinks the packed frames.
void decode(AVCodecContext *ctx, const AVPacket *pkt, AVFrame *frame, Job &job)
{
    if (avcodec_send_packet(ctx, pkt) < 0)
        return;
    while (avcodec_receive_frame(ctx, frame) >= 0) {
        const int size = av_samples_get_buffer_size(nullptr, frame->ch_layout.nb_channels,
                                                    frame->nb_samples,
                                                    (AVSampleFormat)frame->format, 1);
        sink(&job, frame->data[0], size);
    }
}

}  // namespace

MlpResult decode_mlp_with_flatav(const std::vector<uint8_t> &stream)
{
    Job job;
    job.stream = &stream;
    MemDecodeRec *rec =
        mem_init(&job, read_stream, sink, FLATAV_MEM_CODEC_MLP, kMlpBufferAlloc, kMlpRefillSize);
    if (!rec)
        return job.result;
    while (!job.ended && mem_decode_audio(rec, 0) >= 0) {
    }
    mem_decode_audio(rec, 1);
    mem_clean(&rec);
    job.result.ok = true;
    return job.result;
}

// FFmpeg's own decode_audio.c example loop, reading through read_stream.
MlpResult decode_mlp_directly(const std::vector<uint8_t> &stream)
{
    Job job;
    job.stream = &stream;
    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_MLP);
    AVCodecParserContext *parser = codec ? av_parser_init(codec->id) : nullptr;
    AVCodecContext *ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
    AVPacket *pkt = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    auto *inbuf = (uint8_t *)av_mallocz(kMlpBufferAlloc + AV_INPUT_BUFFER_PADDING_SIZE);
    if (parser && ctx && pkt && frame && inbuf && avcodec_open2(ctx, codec, nullptr) >= 0) {
        uint8_t *data = inbuf;
        int data_size = read_stream(&job, inbuf, kMlpRefillSize);
        while (data_size > 0) {
            const int ret = av_parser_parse2(parser, ctx, &pkt->data, &pkt->size, data,
                                             data_size, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
            if (ret < 0)
                break;
            data += ret;
            data_size -= ret;
            if (pkt->size)
                decode(ctx, pkt, frame, job);
            if (data_size < kMlpRefillSize) {
                memmove(inbuf, data, data_size);
                data = inbuf;
                const int len =
                    read_stream(&job, inbuf + data_size, kMlpRefillSize - data_size);
                if (len > 0)
                    data_size += len;
            }
        }
        pkt->data = nullptr;
        pkt->size = 0;
        decode(ctx, pkt, frame, job);
        job.result.ok = true;
    }
    av_free(inbuf);
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
    av_parser_close(parser);
    return job.result;
}
