// mem_init: creates the memory-source decoder: record, input buffer, parser
// and open decoder for an MLP elementary stream.
#include <cstdio>

extern "C" {
#include <libavutil/mem.h>
}

#include "host/report.h"
#include "memdecode.h"

using namespace flatav;

namespace {

constexpr const char *kName = "mem_init";

// The codec id of a codec selector, or AV_CODEC_ID_NONE.
AVCodecID selected_codec(int32_t codec_select)
{
    return codec_select == kSelectMlp ? AV_CODEC_ID_MLP : AV_CODEC_ID_NONE;
}

// Refuses what would make the decoder call a null function or read and
// write outside its input buffer.
bool valid_arguments(MemReadFn read_fn, PcmWriteFn write_fn, int32_t codec_select,
                     int32_t buffer_alloc, int32_t refill_size)
{
    if (selected_codec(codec_select) == AV_CODEC_ID_NONE) {
        console_print(stdout, "%s(): codec_select=%d is not supported, only 1 (MLP)\n",
                      kName, codec_select);
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
    if (!rec->packet) {
        console_print(stdout, "%s(): av_packet_alloc failed\n", kName);
        return false;
    }
    return true;
}

bool open_decoder(MemDecodeRec *rec, AVCodecID id)
{
    rec->codec = avcodec_find_decoder(id);
    if (!rec->codec) {
        console_print(stdout, "%s(): avcodec_find_decoder failed\n", kName);
        return false;
    }
    rec->parser = av_parser_init(rec->codec->id);
    if (!rec->parser) {
        console_print(stdout, "%s(): av_parser_init failed, avrec->codec->id=%d\n", kName,
                      (int)rec->codec->id);
        return false;
    }
    rec->codec_context = avcodec_alloc_context3(rec->codec);
    if (!rec->codec_context) {
        console_print(stdout, "%s(): avcodec_alloc_context3 failed\n", kName);
        return false;
    }
    if (avcodec_open2(rec->codec_context, rec->codec, nullptr) < 0) {
        console_print(stdout, "%s(): avcodec_open2 failed\n", kName);
        return false;
    }
    rec->frame = av_frame_alloc();
    if (!rec->frame) {
        console_print(stdout, "%s(): av_frame_alloc failed\n", kName);
        return false;
    }
    return true;
}

}  // namespace

extern "C" FLATAV_API MemDecodeRec *mem_init(void *user, MemReadFn read_fn,
                                             PcmWriteFn write_fn, int32_t codec_select,
                                             int32_t buffer_alloc, int32_t refill_size)
{
    if (!valid_arguments(read_fn, write_fn, codec_select, buffer_alloc, refill_size))
        return nullptr;

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
