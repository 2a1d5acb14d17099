// Internal steps of the source decoder.
#pragma once

#include <cstdint>

#include "common/nested_open.h"
#include "flatav.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace flatav {

// Bytes the custom-I/O context reads at a time, and its allocation with
// FFmpeg's input padding.
constexpr int kIoBufferSize = 4096;
constexpr int kIoBufferAlloc = kIoBufferSize + AV_INPUT_BUFFER_PADDING_SIZE;

// Makes an I/O context, with a buffer of its own, that reads through the
// record's read_packet and seek functions, called with io_opaque; all three
// are copied now, so the record may move afterwards. A read of 0 bytes
// counts as the end of the source. Null on success, else the failure text,
// with nothing left to release. Release with free_host_io_context.
const char *host_io_context(const DecodeRec *avrec, AVIOContext **io);

// Frees the context, its buffer and the copy of the host's functions, and
// sets *io to null; a null *io is left alone.
void free_host_io_context(AVIOContext **io);

// Confines what opening the source may make FFmpeg open besides it (see
// the header's untrusted-input section): sets fmt_ctx's io_open, points its
// opaque to refusal, which must outlive the opening call (and is to be
// unset after it), and adds the protocol options that avformat_open_input
// is to take to *options. Null, or the failure text (named after caller)
// of a source refused as it stands.
const char *confine_source(const DecodeRec *avrec, AVFormatContext *fmt_ctx,
                           NestedRefusal *refusal, AVDictionary **options,
                           const char *caller);

// Fills avrec->tags from the opened source (its format context, and the
// audio streams' decoders, which must be open by now): null, or the failure
// text with nothing left to release. Release with release_source_tags,
// which also takes a record without tags.
const char *describe_source_tags(DecodeRec *avrec);
void release_source_tags(DecodeRec *avrec);

// Running totals of one ff_decode_audio call.
struct CallTotals {
    int32_t offset = 0;  // bytes written so far: write position and result
    int32_t need = 0;    // bytes the host buffer (or each plane) must hold
};

// Copies one decoded frame into the host's memory and moves the position.
// Returns the bytes it accounted, or FLATAV_DECODE_NO_DESTINATION (reported
// to the host) when a planar frame has neither abuf nor planes to go to.
int32_t decode_audio_frame(DecodeRec *avrec, AVFrame *frame, uint8_t *buf,
                           uint8_t **planes, AudioBuffer *abuf,
                           CallTotals &totals);

// The decoder context of the selected stream, or null.
AVCodecContext *selected_decoder(const DecodeRec *avrec);

}  // namespace flatav
