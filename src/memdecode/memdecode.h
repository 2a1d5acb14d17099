// In-memory decoding: the memory-source decoder's record, which only the
// library sees, and the steps its files share.
#pragma once

#include <cstdint>

#include "flatav.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

// The handle that mem_init returns. Created zero-filled by mem_init, freed
// by mem_clean; the host never reads it.
struct MemDecodeRec {
    void *user;                      // first argument of read_fn and write_fn
    int32_t refill_size;             // refill threshold and fill target
    const AVCodec *codec;            // the decoder found for the codec id
    AVCodecContext *codec_context;   // the open decoder
    AVCodecParserContext *parser;    // cuts the byte stream into packets
    uint8_t *input_buffer;           // buffer_alloc bytes + FFmpeg's input padding
    uint8_t *read_pos;               // first byte not yet given to the parser
    uint64_t pending;                // bytes from read_pos on not yet consumed
    AVPacket *packet;                // data and size set by the parser, never owned
    AVFrame *frame;                  // receives decoded audio
    MemReadFn read_fn;
    PcmWriteFn write_fn;
};

namespace flatav {

// The memory-source decoder's one release function: frees everything rec
// holds and rec itself; a partly built record and null are accepted.
void destroy_mem_decoder(MemDecodeRec *rec);

// Sends rec->packet (an empty one drains the decoder) and writes every frame
// that comes out. Returns the bytes written, or the decoder's error.
int32_t decode_and_write(MemDecodeRec *rec);

// Writes one decoded frame through rec->write_fn, interleaving planar
// formats one sample value per call. Returns the bytes written: 0 when the
// frame is not in the context's sample format and channel count, so that no
// byte outside the frame is ever read.
int32_t write_frame(const MemDecodeRec *rec, const AVFrame *frame);

}  // namespace flatav
