// The records are shared with hosts by byte offset: pin every field.
#include <cstddef>

#include "flatav.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/avutil.h>
#include <libavutil/rational.h>
#include <libavutil/samplefmt.h>
}

#define PIN(type, field, offset) \
    static_assert(offsetof(type, field) == (offset), #type "." #field)

static_assert(sizeof(void *) == 8, "the record layouts are those of 64-bit targets");

static_assert(FLATAV_ERROR_EAGAIN == AVERROR(EAGAIN), "FLATAV_ERROR_EAGAIN");
static_assert(FLATAV_ERROR_EOF == AVERROR_EOF, "FLATAV_ERROR_EOF");
static_assert(FLATAV_SEEK_SIZE == AVSEEK_SIZE, "FLATAV_SEEK_SIZE");
static_assert(FLATAV_SEEK_FORCE == AVSEEK_FORCE, "FLATAV_SEEK_FORCE");

#define SAME(flatav_name, ffmpeg_name) \
    static_assert(flatav_name == ffmpeg_name, #flatav_name " is " #ffmpeg_name)

SAME(FLATAV_SAMPLE_FMT_NONE, AV_SAMPLE_FMT_NONE);
SAME(FLATAV_SAMPLE_FMT_U8, AV_SAMPLE_FMT_U8);
SAME(FLATAV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16);
SAME(FLATAV_SAMPLE_FMT_S32, AV_SAMPLE_FMT_S32);
SAME(FLATAV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_FLT);
SAME(FLATAV_SAMPLE_FMT_DBL, AV_SAMPLE_FMT_DBL);
SAME(FLATAV_SAMPLE_FMT_U8P, AV_SAMPLE_FMT_U8P);
SAME(FLATAV_SAMPLE_FMT_S16P, AV_SAMPLE_FMT_S16P);
SAME(FLATAV_SAMPLE_FMT_S32P, AV_SAMPLE_FMT_S32P);
SAME(FLATAV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_FLTP);
SAME(FLATAV_SAMPLE_FMT_DBLP, AV_SAMPLE_FMT_DBLP);
SAME(FLATAV_SAMPLE_FMT_S64, AV_SAMPLE_FMT_S64);
SAME(FLATAV_SAMPLE_FMT_S64P, AV_SAMPLE_FMT_S64P);
SAME(FLATAV_MEDIA_UNKNOWN, AVMEDIA_TYPE_UNKNOWN);
SAME(FLATAV_MEDIA_VIDEO, AVMEDIA_TYPE_VIDEO);
SAME(FLATAV_MEDIA_AUDIO, AVMEDIA_TYPE_AUDIO);
SAME(FLATAV_MEDIA_DATA, AVMEDIA_TYPE_DATA);
SAME(FLATAV_MEDIA_SUBTITLE, AVMEDIA_TYPE_SUBTITLE);
SAME(FLATAV_MEDIA_ATTACHMENT, AVMEDIA_TYPE_ATTACHMENT);

static_assert(sizeof(FlatavProbeData) == sizeof(AVProbeData), "FlatavProbeData");
static_assert(offsetof(FlatavProbeData, filename) == offsetof(AVProbeData, filename), "filename");
static_assert(offsetof(FlatavProbeData, buf) == offsetof(AVProbeData, buf), "buf");
static_assert(offsetof(FlatavProbeData, buf_size) == offsetof(AVProbeData, buf_size), "buf_size");
static_assert(offsetof(FlatavProbeData, mime_type) == offsetof(AVProbeData, mime_type), "mime_type");
static_assert(FLATAV_PROBE_PADDING == AVPROBE_PADDING_SIZE, "FLATAV_PROBE_PADDING");

static_assert(sizeof(FlatavRational) == sizeof(AVRational), "FlatavRational");
static_assert(offsetof(FlatavRational, num) == offsetof(AVRational, num), "num");
static_assert(offsetof(FlatavRational, den) == offsetof(AVRational, den), "den");

static_assert(sizeof(HostCallbacks) == 64, "HostCallbacks size");
PIN(HostCallbacks, message_enabled, 0);
PIN(HostCallbacks, reserved_4, 4);
PIN(HostCallbacks, user_data, 8);
PIN(HostCallbacks, error_cb, 16);
PIN(HostCallbacks, message_cb, 24);
PIN(HostCallbacks, metadata_cb, 32);
PIN(HostCallbacks, chapter_cb, 40);
PIN(HostCallbacks, packet_cb, 48);
PIN(HostCallbacks, grow_buffer_cb, 56);

static_assert(sizeof(LogSettings) == 8, "LogSettings size");
PIN(LogSettings, quiet, 0);
PIN(LogSettings, ffmpeg_quiet, 4);

static_assert(sizeof(AudioInfo) == 128, "AudioInfo size");
PIN(AudioInfo, codec_id, 0);
PIN(AudioInfo, stream_index, 4);
PIN(AudioInfo, codec_name, 8);
PIN(AudioInfo, bit_rate, 16);
PIN(AudioInfo, sample_fmt, 20);
PIN(AudioInfo, request_sample_fmt, 24);
PIN(AudioInfo, bits_per_raw_sample, 28);
PIN(AudioInfo, channels, 32);
PIN(AudioInfo, output_sample_fmt, 36);
PIN(AudioInfo, channel_layout, 40);
PIN(AudioInfo, sample_rate, 48);
PIN(AudioInfo, reserved_52, 52);
PIN(AudioInfo, duration_scale, 56);
PIN(AudioInfo, duration, 64);
PIN(AudioInfo, duration_seconds, 72);
PIN(AudioInfo, status, 80);
PIN(AudioInfo, codec_type, 88);
PIN(AudioInfo, profile, 92);
PIN(AudioInfo, time_base, 96);
PIN(AudioInfo, codec, 104);
PIN(AudioInfo, av_codec_context, 112);
PIN(AudioInfo, codecpar, 120);

static_assert(sizeof(StreamCopyData) == 56, "StreamCopyData size");
PIN(StreamCopyData, pts_offset, 0);
PIN(StreamCopyData, dts_offset, 8);
PIN(StreamCopyData, last_pts, 16);
PIN(StreamCopyData, last_dts, 24);
PIN(StreamCopyData, codecpar, 32);
PIN(StreamCopyData, codec_context, 40);
PIN(StreamCopyData, time_base, 48);

static_assert(sizeof(StreamCopy) == 24, "StreamCopy size");
PIN(StreamCopy, active, 0);
PIN(StreamCopy, nb_streams, 4);
PIN(StreamCopy, stream_index, 8);
PIN(StreamCopy, reserved_12, 12);
PIN(StreamCopy, data, 16);

static_assert(sizeof(DecodeRec) == 288, "DecodeRec size");
PIN(DecodeRec, av_format_context, 0);
PIN(DecodeRec, input_format, 8);
PIN(DecodeRec, avio_context, 16);
PIN(DecodeRec, swr_context, 24);
PIN(DecodeRec, nb_streams, 32);
PIN(DecodeRec, nb_audio_streams, 36);
PIN(DecodeRec, audio_stream_index, 40);
PIN(DecodeRec, reserved_44, 44);
PIN(DecodeRec, request_sample_fmt, 48);
PIN(DecodeRec, orig_sample_fmt, 52);
PIN(DecodeRec, avio_buffer, 56);
PIN(DecodeRec, end_of_stream, 64);
PIN(DecodeRec, call_status, 68);
PIN(DecodeRec, position, 72);
PIN(DecodeRec, tags, 80);
PIN(DecodeRec, pkt_pos, 88);
PIN(DecodeRec, sample_count, 96);
PIN(DecodeRec, position_base, 104);
PIN(DecodeRec, position_reset, 112);
PIN(DecodeRec, keep_seek_flags, 116);
PIN(DecodeRec, io_opaque, 120);
PIN(DecodeRec, read_packet, 128);
PIN(DecodeRec, seek, 136);
PIN(DecodeRec, callbacks, 144);
PIN(DecodeRec, format_name, 152);
PIN(DecodeRec, format_long_name, 160);
PIN(DecodeRec, file_name, 168);
PIN(DecodeRec, is_url, 176);
PIN(DecodeRec, decode_error_mode, 180);
PIN(DecodeRec, seekable, 184);
PIN(DecodeRec, try_seek, 188);
PIN(DecodeRec, packed_output, 192);
PIN(DecodeRec, seek_backward, 196);
PIN(DecodeRec, raw_buffer_size, 200);
PIN(DecodeRec, allow_nested_opens, 204);
PIN(DecodeRec, protocol_whitelist, 208);
PIN(DecodeRec, reserved_216, 216);
PIN(DecodeRec, audio_info, 224);
PIN(DecodeRec, read_mode, 232);
PIN(DecodeRec, reserved_236, 236);
PIN(DecodeRec, packet_times, 240);
PIN(DecodeRec, streamcopy, 248);
PIN(DecodeRec, packet_count, 256);
PIN(DecodeRec, reserved_260, 260);
PIN(DecodeRec, packet_duration_sum, 264);
PIN(DecodeRec, raw_packet_count, 272);
PIN(DecodeRec, raw_pkt, 280);

static_assert(sizeof(AudioBuffer) == 32, "AudioBuffer size");
PIN(AudioBuffer, capacity, 0);
PIN(AudioBuffer, planar, 4);
PIN(AudioBuffer, channels, 8);
PIN(AudioBuffer, reserved_12, 12);
PIN(AudioBuffer, data, 16);
PIN(AudioBuffer, planes, 24);

static_assert(sizeof(FlatavTag) == 16, "FlatavTag size");
PIN(FlatavTag, key, 0);
PIN(FlatavTag, value, 8);

static_assert(sizeof(FlatavChapter) == 48, "FlatavChapter size");
PIN(FlatavChapter, id, 0);
PIN(FlatavChapter, time_base, 8);
PIN(FlatavChapter, start, 16);
PIN(FlatavChapter, end, 24);
PIN(FlatavChapter, tags, 32);
PIN(FlatavChapter, nb_tags, 40);
PIN(FlatavChapter, reserved_44, 44);

static_assert(sizeof(OutputTags) == 40, "OutputTags size");
PIN(OutputTags, container_tags, 0);
PIN(OutputTags, stream_tags, 8);
PIN(OutputTags, chapters, 16);
PIN(OutputTags, nb_container_tags, 24);
PIN(OutputTags, nb_stream_tags, 28);
PIN(OutputTags, nb_chapters, 32);
PIN(OutputTags, reserved_36, 36);

static_assert(sizeof(EncodeRec) == 368, "EncodeRec size");
PIN(EncodeRec, opened, 0);
PIN(EncodeRec, reserved_4, 4);
PIN(EncodeRec, output_file_name, 16);
PIN(EncodeRec, codec_name, 24);
PIN(EncodeRec, codec_id, 32);
PIN(EncodeRec, reserved_36, 36);
PIN(EncodeRec, io_buffer, 40);
PIN(EncodeRec, output_format, 48);
PIN(EncodeRec, av_format_context, 56);
PIN(EncodeRec, audio_st, 64);
PIN(EncodeRec, av_codec_context, 72);
PIN(EncodeRec, audio_input_frame_size, 80);
PIN(EncodeRec, audio_input_buffer_size, 84);
PIN(EncodeRec, sample_size, 88);
PIN(EncodeRec, reserved_92, 92);
PIN(EncodeRec, frame, 96);
PIN(EncodeRec, encode, 104);
PIN(EncodeRec, compression_level, 108);
PIN(EncodeRec, codec_bit_rate, 112);
PIN(EncodeRec, block_align, 116);
PIN(EncodeRec, io_opaque, 120);
PIN(EncodeRec, read_packet, 128);
PIN(EncodeRec, write_packet, 136);
PIN(EncodeRec, seek, 144);
PIN(EncodeRec, callbacks, 152);
PIN(EncodeRec, tags, 160);
PIN(EncodeRec, reserved_168, 168);
PIN(EncodeRec, bit_rate, 176);
PIN(EncodeRec, sample_fmt, 180);
PIN(EncodeRec, requested_sample_fmt, 184);
PIN(EncodeRec, reserved_188, 188);
PIN(EncodeRec, channels, 192);
PIN(EncodeRec, reserved_196, 196);
PIN(EncodeRec, sample_rate, 208);
PIN(EncodeRec, reserved_212, 212);
PIN(EncodeRec, raw_pkt, 288);
PIN(EncodeRec, raw_data, 296);
PIN(EncodeRec, raw_size, 304);
PIN(EncodeRec, raw_codec_id, 308);
PIN(EncodeRec, raw_frame_size, 312);
PIN(EncodeRec, raw_channels, 316);
PIN(EncodeRec, raw_sample_rate, 320);
PIN(EncodeRec, reserved_324, 324);
PIN(EncodeRec, streamcopy, 328);
PIN(EncodeRec, planar, 336);
PIN(EncodeRec, reserved_340, 340);
PIN(EncodeRec, next_pts, 344);
PIN(EncodeRec, channel_layout, 352);
PIN(EncodeRec, rescale_delta_last, 360);

static_assert(sizeof(ResampleRec) == 216, "ResampleRec size");
PIN(ResampleRec, swr, 0);
PIN(ResampleRec, resampler_name, 8);
PIN(ResampleRec, callbacks, 112);
PIN(ResampleRec, in_sample_fmt, 120);
PIN(ResampleRec, in_sample_rate, 124);
PIN(ResampleRec, in_channels, 128);
PIN(ResampleRec, reserved_132, 132);
PIN(ResampleRec, in_channel_layout, 136);
PIN(ResampleRec, in_bytes_per_sample, 144);
PIN(ResampleRec, out_sample_fmt, 148);
PIN(ResampleRec, out_sample_rate, 152);
PIN(ResampleRec, out_channels, 156);
PIN(ResampleRec, out_channel_layout, 160);
PIN(ResampleRec, out_bytes_per_sample, 168);
PIN(ResampleRec, user_in_ch_count, 172);
PIN(ResampleRec, user_out_ch_count, 176);
PIN(ResampleRec, dither_method, 180);
PIN(ResampleRec, free_buffer, 184);
PIN(ResampleRec, reserved_188, 188);
PIN(ResampleRec, buffer, 192);
PIN(ResampleRec, buffer_size, 200);
PIN(ResampleRec, reserved_204, 204);
PIN(ResampleRec, precision, 208);

static_assert(sizeof(BufferDecodeRec) == 32, "BufferDecodeRec size");
PIN(BufferDecodeRec, channels, 0);
PIN(BufferDecodeRec, sample_fmt, 4);
PIN(BufferDecodeRec, sample_rate, 8);
PIN(BufferDecodeRec, reserved_12, 12);
PIN(BufferDecodeRec, codec_context, 16);
PIN(BufferDecodeRec, frame, 24);

static_assert(sizeof(FilterRec) == 120, "FilterRec size");
PIN(FilterRec, sample_fmt, 0);
PIN(FilterRec, reserved_4, 4);
PIN(FilterRec, channel_layout, 8);
PIN(FilterRec, sample_rate, 16);
PIN(FilterRec, channels, 20);
PIN(FilterRec, reserved_24, 24);
PIN(FilterRec, src, 32);
PIN(FilterRec, aformat_out, 40);
PIN(FilterRec, graph, 48);
PIN(FilterRec, user_filter, 56);
PIN(FilterRec, run_graph, 64);
PIN(FilterRec, run_src, 72);
PIN(FilterRec, run_sink, 80);
PIN(FilterRec, sink, 88);
PIN(FilterRec, in_frame, 96);
PIN(FilterRec, out_frame, 104);
PIN(FilterRec, frames_in, 112);
PIN(FilterRec, frames_out, 116);
