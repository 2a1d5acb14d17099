// Internal steps of the encoder: opening an output, encoding one block,
// draining, and what clean-up releases.
#pragma once

#include <cstdint>

#include "flatav.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "common/ffmpeg_util.h"

namespace flatav {

// Bytes the output I/O context writes at a time, and its allocation with
// FFmpeg's padding.
constexpr int kOutputBufferSize = 4096;
constexpr int kOutputBufferAlloc = kOutputBufferSize + AV_INPUT_BUFFER_PADDING_SIZE;

// What an output declares when the record asks for no encoder: an MP3
// stream of 2 channels and 576-sample frames of 16-bit samples.
constexpr AVCodecID kDeclaredCodec = AV_CODEC_ID_MP3;
constexpr int kDeclaredFrameSize = 576;
constexpr int kDeclaredChannels = 2;
constexpr int kDeclaredSampleSize = 2;

// avio_alloc_context's write function takes a const buffer from
// libavformat 61 on. The host's function has the older form; it only reads
// the buffer, so it serves both.
#if LIBAVFORMAT_VERSION_MAJOR >= 61
using AvioWriteFn = int (*)(void *, const uint8_t *, int);
#else
using AvioWriteFn = int (*)(void *, uint8_t *, int);
#endif
inline AvioWriteFn avio_write_fn(IoWriteFn fn) { return reinterpret_cast<AvioWriteFn>(fn); }

// FFmpeg's encoder for a codec id, null for none (and for ids <= 0).
const AVCodec *encoder_for_id(int32_t codec_id);

// The encoder's sample formats, ending with AV_SAMPLE_FMT_NONE; null when it
// declares none.
const AVSampleFormat *supported_sample_fmts(const AVCodec *codec);

// The encoder named by codec_name, else the one for codec_id; null after
// reporting why.
const AVCodec *find_encoder(EncodeRec *avrec);

// Adds the output stream to fmt_ctx and allocates the encoder context into
// avrec->av_codec_context for the encoder it chooses (*encoder). Null after
// reporting why.
AVStream *add_audio_stream(EncodeRec *avrec, AVFormatContext *fmt_ctx,
                           const AVCodec **encoder);

// Opens encoder on avrec->av_codec_context (or declares MP3 when the record
// asks for no encoder) and sizes the host's blocks. Null on success, else
// the failure text.
const char *open_audio(EncodeRec *avrec, AVStream *stream, const AVCodec *encoder);

// Encodes one block of host PCM; the result is that of ff_encode_audio2.
int32_t encode_audio_frame(EncodeRec *avrec, AVPacket *pkt, const uint8_t *buf,
                           uint8_t **planes, int32_t buf_size);

// Writes the encoder's delayed packets and the trailer: 0, or
// FLATAV_ENCODE_FAILED. buf_size is the call's, for the trace.
int32_t write_delayed_frames(EncodeRec *avrec, AVPacket *pkt, int32_t buf_size);

// The output goes to the host's write function alone: a muxer that writes
// files or connections of its own is refused with caller's failure text,
// before anything is made. Null when fmt may be used.
const char *refuse_file_writer(const AVOutputFormat *fmt, const char *caller);

// avformat_write_header on fmt_ctx, whose nested opens are refused from
// here on: null, or caller's failure text (the first refused nested open,
// else the muxer's code). FFmpeg hands the header to the host's write
// function after it has taken the muxer's result, so a write the host
// refused shows only in the I/O context's error: it counts as the header's
// failure, as the header is not written.
const char *write_header(AVFormatContext *fmt_ctx, const char *caller);

// Gives the output the host's tags and chapters (tags NULL: none) before
// its header is written: 0, or AVERROR(EINVAL) for a chapter without a
// valid time base or with its end before its start, AVERROR(ENOMEM).
int apply_output_tags(const OutputTags *tags, AVFormatContext *fmt_ctx, AVStream *stream);

// Empties the fields an open fills, `opened` included, so that a failure
// releases nothing else. The encoder context is left to each open: the
// stream-copy writer makes none and leaves the host's alone.
void start_open(EncodeRec *avrec);

// The I/O context that hands the container's bytes to the host's write and
// seek functions (seek NULL: the muxer sees an output that cannot seek),
// over a buffer that goes into avrec->io_buffer at once. Null on success,
// with *pb set, else the failure text.
const char *host_output_context(EncodeRec *avrec, AVIOContext **pb);

// The encoder's one release function: frees what an open creates (the
// output context with its I/O context and buffer, and the encoder context),
// clears their fields and skips what is missing. A failed open calls it
// before it returns, so a record only ever references what
// ff_cleanup_encoder releases.
void release_output(EncodeRec *avrec);

// The encoder context's layout becomes the default one for nb_channels.
void set_default_layout(AVChannelLayout &layout, int nb_channels);

}  // namespace flatav
