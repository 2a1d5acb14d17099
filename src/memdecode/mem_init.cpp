// mem_init and mem_clean: create the memory-source decoder (record, input
// buffer, parser and open decoder for an MLP elementary stream), and
// destroy it.
#include <cstdio>

extern "C" {
#include <libavutil/mem.h>
}

#include "common/report.h"
#include "memdecode.h"

using namespace flatav;

namespace {

constexpr const char *kName = "mem_init";

// The codec id of a codec selector, or AV_CODEC_ID_NONE.
AVCodecID selected_codec(int32_t codec_select)
{
    return codec_select == FLATAV_MEM_CODEC_MLP ? AV_CODEC_ID_MLP : AV_CODEC_ID_NONE;
}

// Refuses what would make the decoder call a null function or read and
// write outside its input buffer.
bool valid_arguments(MemReadFn read_fn, PcmWriteFn write_fn, int32_t codec_select,
                     int32_t buffer_alloc, int32_t refill_size)
{
    if (selected_codec(codec_select) == AV_CODEC_ID_NONE) {
        console_print(stdout, "%s(): codec_select=%d is not supported, only %d (MLP)\n",
                      kName, codec_select, FLATAV_MEM_CODEC_MLP);
        return false;
    }
    if (!read_fn || !write_fn) {
        console_print(stdout, "%s(): read_fn and write_fn are both required\n", kName);
        return false;
    }
    if (refill_size <= 0 || refill_size > buffer_alloc) {
        console_print(stdout, "%s(): refill_size=%d must be between 1 and buffer_alloc=%d\n",
                      kName, refill_size, buffer_alloc);
        return false;
    }
    return true;
}

// Whether the step that made object succeeded; prints "<step> failed" when
// it did not.
bool made(const void *object, const char *step)
{
    if (!object)
        console_print(stdout, "%s(): %s failed\n", kName, step);
    return object != nullptr;
}

// Everything but the decoder; false after printing what failed.
bool allocate(MemDecodeRec *rec, int32_t buffer_alloc)
{
    // Refills stop at refill_size <= buffer_alloc, so the padding stays zero:
    // FFmpeg's bit readers may look past the end of what they are given.
    rec->input_buffer =
        (uint8_t *)av_mallocz((size_t)buffer_alloc + AV_INPUT_BUFFER_PADDING_SIZE);
    if (!rec->input_buffer) {
        console_print(stdout, "%s(): av_mallocz failed for an input buffer of %d bytes\n",
                      kName, buffer_alloc);
        return false;
    }
    rec->packet = av_packet_alloc();
    return made(rec->packet, "av_packet_alloc");
}

bool open_decoder(MemDecodeRec *rec, AVCodecID id)
{
    rec->codec = avcodec_find_decoder(id);
    if (!made(rec->codec, "avcodec_find_decoder"))
        return false;
    rec->parser = av_parser_init(rec->codec->id);
    if (!rec->parser) {
        console_print(stdout, "%s(): av_parser_init failed, avrec->codec->id=%d\n", kName,
                      (int)rec->codec->id);
        return false;
    }
    rec->codec_context = avcodec_alloc_context3(rec->codec);
    if (!made(rec->codec_context, "avcodec_alloc_context3"))
        return false;
    if (avcodec_open2(rec->codec_context, rec->codec, nullptr) < 0) {
        console_print(stdout, "%s(): avcodec_open2 failed\n", kName);
        return false;
    }
    rec->frame = av_frame_alloc();
    return made(rec->frame, "av_frame_alloc");
}

}  // namespace

namespace flatav {

void destroy_mem_decoder(MemDecodeRec *rec)
{
    if (!rec)
        return;
    av_freep(&rec->input_buffer);
    avcodec_free_context(&rec->codec_context);
    av_parser_close(rec->parser);
    rec->parser = nullptr;
    av_frame_free(&rec->frame);
    // The packet only ever pointed into the input buffer or the parser's
    // buffer: it owns nothing.
    av_packet_free(&rec->packet);
    av_free(rec);
}

}  // namespace flatav

extern "C" FLATAV_API MemDecodeRec *mem_init(void *user, MemReadFn read_fn,
                                             PcmWriteFn write_fn, int32_t codec_select,
                                             int32_t buffer_alloc, int32_t refill_size)
{
    if (!valid_arguments(read_fn, write_fn, codec_select, buffer_alloc, refill_size))
        return nullptr;

    // Every object made below goes into the record as soon as it exists, so
    // that destroy_mem_decoder undoes a failure at any step.
    auto *rec = (MemDecodeRec *)av_mallocz(sizeof(MemDecodeRec));
    if (!rec) {
        console_print(stdout, "%s(): av_mallocz failed for the record\n", kName);
        return nullptr;
    }
    rec->user = user;
    rec->refill_size = refill_size;
    rec->read_fn = read_fn;
    rec->write_fn = write_fn;
    rec->pending = 0;

    if (!allocate(rec, buffer_alloc) || !open_decoder(rec, selected_codec(codec_select))) {
        destroy_mem_decoder(rec);
        return nullptr;
    }
    return rec;
}

extern "C" FLATAV_API void mem_clean(MemDecodeRec **handle)
{
    if (!handle || !*handle)
        return;
    destroy_mem_decoder(*handle);
    *handle = nullptr;
}
