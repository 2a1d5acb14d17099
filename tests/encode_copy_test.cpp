// Encoding and stream copy against the ffmpeg tool. Host PCM encoded
// through a record gives the packets the tool makes from the same samples
// with the same settings, in the container the tool chooses, with the same
// header bytes where asked, and decodes as the tool's file does (a lossless
// one to the input itself). Packets copied out of a source arrive as the
// tool's `-c copy` remux has them.
#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include "convert_host.h"
#include "encode_host.h"
#include "media.h"
#include "test_host.h"

using namespace flatav_test;

namespace {

constexpr AVSampleFormat S16 = AV_SAMPLE_FMT_S16, S16P = AV_SAMPLE_FMT_S16P,
                         S32 = AV_SAMPLE_FMT_S32, S32P = AV_SAMPLE_FMT_S32P,
                         FLT = AV_SAMPLE_FMT_FLT, FLTP = AV_SAMPLE_FMT_FLTP;

// Our packets against the tool's, as the tool demuxes both: the same bytes
// (from packet `from` on) with the same timestamps.
std::vector<DemuxedPacket> expect_tools_packets(const std::string &ours,
                                                const std::vector<DemuxedPacket> &tool,
                                                size_t from = 0)
{
    const std::vector<DemuxedPacket> got = demuxed_packets(ours, "a:0").packets;
    EXPECT_EQ(got.size(), tool.size());
    for (size_t i = from; i < std::min(got.size(), tool.size()); i++)
        EXPECT_TRUE(got[i] == tool[i] && got[i].pts == tool[i].pts && got[i].dts == tool[i].dts &&
                    got[i].duration == tool[i].duration) << "packet " << i;
    return got;
}

struct EncodeCase {
    const char *name;       // the output's name: its extension chooses the container
    const char *codec_name; // null: the codec id chooses
    int32_t (*codec_id)();  // null: 0
    AVSampleFormat format;  // the host's samples
    int sample_rate;
    const char *muxer;      // the tool's name of the container chosen
    int bit_rate;           // 0: lossless, the input comes back
    bool delay;             // the encoder keeps its first frame: the first call gives 0
    int header;             // leading bytes that equal the tool's file (-1: all of it)
    bool seekable = true;
    uint64_t layout = 0;    // EncodeRec.channel_layout
    // The encoder puts uninitialised bytes into its first packet (valgrind
    // shows it in the tool too): that packet, and the PCM, vary.
    bool first_packet_varies = false;
};

void PrintTo(const EncodeCase &c, std::ostream *os) { *os << c.name; }

class Encode : public testing::TestWithParam<EncodeCase> {};

TEST_P(Encode, AsTheToolEncodes)
{
    const EncodeCase &c = GetParam();
    const int64_t samples = c.sample_rate + 777;  // not a whole number of frames
    const Signal signal(c.format, c.sample_rate, samples);
    Output output(c.name, c.codec_name, c.codec_id ? c.codec_id() : 0, c.seekable);
    output.rec.bit_rate = c.bit_rate;
    output.rec.channel_layout = c.layout;
    ASSERT_EQ(output.open(signal), nullptr) << testing::PrintToString(output.recorder.errors);
    ASSERT_TRUE(output.encode(signal)) << testing::PrintToString(output.recorder.errors);
    EXPECT_TRUE(output.recorder.errors.empty());
    EXPECT_EQ(output.rec.next_pts, samples);
    // FFmpeg's size of the whole sample frames in a block (the tail ignored).
    const int frame = 2 * signal.bytes_per_sample();
    EXPECT_EQ(ff_buff_size(&output.rec, 4003),
              av_samples_get_buffer_size(nullptr, 2, 4003 / frame, c.format, 0));
    const std::string &path = output.saved();

    // The tool with the same samples, the encoder named (or the id's
    // default), the record's settings (compression level 0) and the same
    // channel mask; into a pipe where the output cannot seek.
    ScratchFile raw("input.raw"), reference(std::string("reference_") + c.name);
    raw.write(signal.interleaved());
    const char *encoder = c.codec_name && avcodec_find_encoder_by_name(c.codec_name)
                              ? c.codec_name
                              : avcodec_find_encoder((AVCodecID)c.codec_id())->name;
    const std::string command =
        "ffmpeg -nostdin -v error -y" +
        tool_raw_input(raw.path, c.format, c.sample_rate, c.layout ? c.layout : AV_CH_LAYOUT_STEREO) +
        " -c:a " + encoder + (c.bit_rate ? " -b:a " + std::to_string(c.bit_rate) : "") +
        " -strict:a -2 -compression_level 0 -sample_fmt " + av_get_sample_fmt_name(c.format) +
        " -f " + c.muxer + " " + (c.seekable ? shell_quote(reference.path) : "-");
    int status = 0;
    const std::vector<uint8_t> piped = run_capture(command, &status);
    ASSERT_EQ(status, 0) << command;
    if (!c.seekable)
        reference.write(piped);
    const std::vector<uint8_t> ours = read_file(path), tool = read_file(reference.path);
    const size_t header = c.header < 0 ? std::max(ours.size(), tool.size()) : c.header;
    EXPECT_TRUE(ours.size() >= header && tool.size() >= header &&
                std::equal(tool.begin(), tool.begin() + header, ours.begin()))
        << "the first " << header << " bytes differ from the tool's";
    const std::vector<DemuxedPacket> packets = expect_tools_packets(
        path, demuxed_packets(reference.path, "a:0").packets, c.first_packet_varies);
    if (c.bit_rate == 0) {
        EXPECT_TRUE(ffmpeg_pcm(path, 0, raw_format(c.format)) == signal.interleaved());
    } else if (!c.first_packet_varies) {
        EXPECT_TRUE(ffmpeg_pcm(path, 0, "f32le") == ffmpeg_pcm(reference.path, 0, "f32le"));
    }

    // Each call wrote at most one packet and returned its size, in order; an
    // encoder with a delay leaves packets to the drain. (The demuxer of PCM
    // cuts its own packets.)
    EXPECT_EQ(output.results.front() == 0, c.delay);
    size_t packet = 0;
    for (size_t i = 0; output.rec.audio_input_frame_size && i + 1 < output.results.size(); i++) {
        if (output.results[i] != 0 && packet < packets.size()) {
            EXPECT_EQ(output.results[i], packets[packet++].size) << "call " << i;
        }
    }
    EXPECT_TRUE(packet < packets.size() || !c.delay);
}

const EncodeCase kEncode[] = {
    // fLaC and STREAMINFO (total samples and MD5 filled in through a seek,
    // left 0 without one). A name of both a container and an encoder
    // chooses both, whatever the extension.
    {"out.flac", nullptr, ff_get_encoder_03, S16, 44100, "flac", 0, false, 42},
    {"out24.flac", "flac", nullptr, S32, 44100, "flac", 0, false, 42},
    {"pipe.flac", "flac", nullptr, S16, 44100, "flac", 0, false, 42, false},
    {"flac.mka", "flac", nullptr, S16, 44100, "flac", 0, false, 42},
    // WAV, whole: sizes filled in through a seek (all ones without one), a
    // channel mask. A container's name with an id chooses the container.
    {"out.wav", nullptr, ff_get_encoder_05, S16, 44100, "wav", 0, false, -1},
    {"pipe.wav", "pcm_s16le", nullptr, S16, 44100, "wav", 0, false, -1, false},
    {"out24.wav", "pcm_s24le", nullptr, S32, 48000, "wav", 0, false, -1},
    {"downmix.wav", "pcm_s16le", nullptr, S16, 44100, "wav", 0, false, -1, true,
     AV_CH_LAYOUT_STEREO_DOWNMIX},
    {"wav_named.flac", "wav", ff_get_encoder_05, S16, 44100, "wav", 0, false, -1},
    // MP4 writes its index after the data, through a seek.
    {"out.m4a", "alac", nullptr, S16P, 44100, "ipod", 0, false, 0},
    {"out24.m4a", nullptr, ff_get_encoder_01, S32P, 44100, "ipod", 0, false, 0},
    {"out.wv", "wavpack", nullptr, S16P, 44100, "wv", 0, false, 0},
    {"out.tta", "tta", nullptr, S16, 44100, "tta", 0, false, 0},
    {"out.mp3", nullptr, ff_get_encoder_06, S16P, 44100, "mp3", 128000, true, 0},
    // AAC in MP4 and in Matroska (whose time base is 1 ms, not the sample
    // rate's).
    {"aac.m4a", "aac", nullptr, FLTP, 44100, "ipod", 128000, true, 0},
    {"aac.mka", "aac", nullptr, FLTP, 44100, "matroska", 128000, true, 0},
    // libopus from packed float, the native (experimental) encoder from
    // planes.
    {"out.opus", nullptr, ff_get_encoder_07, FLT, 48000, "opus", 128000, false, 0},
    {"native.opus", "opus", nullptr, FLTP, 48000, "opus", 128000, true, 0, true, 0, true},
    {"out.ogg", nullptr, ff_get_encoder_10, FLTP, 44100, "ogg", 128000, true, 0},
    {"out.ac3", nullptr, ff_get_encoder_02, FLTP, 48000, "ac3", 128000, false, 0},
    {"out.mp2", nullptr, ff_get_encoder_09, S16, 44100, "mp2", 128000, false, 0},
    // An encoder other than FFmpeg's default for its id.
    {"fixed.mp2", "mp2fixed", ff_get_encoder_09, S16, 44100, "mp2", 128000, false, 0},
};

INSTANTIATE_TEST_SUITE_P(Table, Encode, testing::ValuesIn(kEncode), CaseName());

// How the copied packets reach the writer: the source's packet with its
// stream-copy data (also with the source's decoder closed, which leaves the
// stream parameters to count samples), or the bytes alone, to the writer of
// ff_open_encoder_raw or to ff_open_encoder's declared MP3 stream; or no
// packet at all.
enum CopyMode { kPacket, kNoDecoder, kBytes, kDeclared, kNoPacket };

struct CopyCase {
    const char *source, *name;  // name: the output's, its extension chooses the container
    CopyMode mode;
    int64_t pts_offset;  // skips packets at or before 0, shifts the rest
};

void PrintTo(const CopyCase &c, std::ostream *os) { *os << c.name; }

class Copy : public testing::TestWithParam<CopyCase> {};

TEST_P(Copy, AsTheToolsRemux)
{
    const CopyCase &c = GetParam();
    const bool packets = c.mode == kPacket || c.mode == kNoDecoder || c.mode == kNoPacket;
    OpenedSource src(media_path(c.source));
    if (packets)
        src.rec.streamcopy = reinterpret_cast<StreamCopy *>(uintptr_t{1});
    ASSERT_EQ(src.open(), nullptr);
    const int index = src.first_audio();
    src.rec.audio_stream_index = index;
    src.rec.read_mode = packets ? FLATAV_READ_RAW_PACKET : FLATAV_READ_COPY;
    src.rec.raw_pkt = ff_pkt_new();
    Output output(c.name, nullptr, 0);
    EncodeRec &rec = output.rec;
    if (packets) {
        StreamCopy *sc = rec.streamcopy = src.rec.streamcopy;
        sc->stream_index = index;
        sc->data[index].pts_offset = c.pts_offset;
        if (c.mode == kNoDecoder)
            sc->data[index].codec_context = nullptr;
    }
    rec.encode = 0;  // ff_open_encoder declares MP3
    ASSERT_EQ(c.mode == kDeclared ? output.open(Signal(S16P, 44100, 0)) : ff_open_encoder_raw(&rec),
              nullptr);
    if (c.mode == kBytes) {  // the declared stream has no sample format: no sample frame to count
        EXPECT_EQ(ff_buff_size(&rec, 4608), AVERROR(EINVAL));
    }
    std::tie(rec.raw_codec_id, rec.raw_frame_size, rec.raw_channels, rec.raw_sample_rate) =
        std::make_tuple(AV_CODEC_ID_MP3, 1152, 2, 44100);
    std::vector<uint8_t> buf(1 << 16);
    rec.raw_data = buf.data();
    while (c.mode != kNoPacket && (rec.raw_size = ff_decode_audio(&src.rec, packets ? nullptr : buf.data(), nullptr,
                                           nullptr, packets ? 0 : (int32_t)buf.size(), nullptr)) > 0) {
        rec.raw_pkt = packets ? src.rec.raw_pkt : nullptr;
        ASSERT_EQ(ff_encode_audio_raw(&rec, rec.raw_size), 0);
        ff_pkt_clean(src.rec.raw_pkt);
    }
    EXPECT_EQ(ff_encode_audio_raw(&rec, 0), 0);
    ff_pkt_free(src.rec.raw_pkt);
    EXPECT_TRUE(output.recorder.errors.empty());

    ScratchFile reference(std::string("reference_") + c.name);
    int status = 0;
    run_text("ffmpeg -nostdin -v error -y -i " + shell_quote(media_path(c.source)) + " -map 0:a:0 -c copy " +
             (c.mode == kNoPacket ? "-frames:a 0 " : "") + shell_quote(reference.path), &status);
    ASSERT_EQ(status, 0);
    if (c.mode == kNoPacket) {
        // The tool's remux of no packet: the same bytes but for the muxer's
        // random ids, so as long, and as ffprobe sees it (FFmpeg reads no
        // Matroska file without a packet).
        const std::string probe = "ffprobe -show_entries stream=codec_name -of csv ";
        int ours = 0, theirs = 0;
        EXPECT_EQ(run_text(probe + shell_quote(output.saved()) + " 2>/dev/null", &ours),
                  run_text(probe + shell_quote(reference.path) + " 2>/dev/null", &theirs));
        EXPECT_EQ(ours, theirs);
        EXPECT_EQ(read_file(output.saved()).size(), read_file(reference.path).size());
        return;
    }
    std::vector<DemuxedPacket> tool = demuxed_packets(reference.path, "a:0").packets;
    if (c.pts_offset) {
        tool.erase(tool.begin());
        for (DemuxedPacket &p : tool)
            p.pts += c.pts_offset, p.dts += c.pts_offset;
    }
    expect_tools_packets(output.saved(), tool);
    // The bytes alone carry no encoder delay for the decoder to skip.
    if (packets && !c.pts_offset) {
        EXPECT_TRUE(ffmpeg_pcm(output.saved(), 0, "f32le") == ffmpeg_pcm(reference.path, 0, "f32le"));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Copy,
                         testing::Values(CopyCase{"sweep.mp3", "copy.mp3", kPacket, 0},
                                         CopyCase{"sweep.flac", "copy.flac", kPacket, 0},
                                         CopyCase{"sweep.flac", "flac.mka", kPacket, 0},
                                         CopyCase{"sweep.flac", "offset.mka", kPacket, 4410},
                                         CopyCase{"sweep.m4a", "aac.mkv", kPacket, 0},
                                         CopyCase{"sweep.m4a", "copy.m4a", kPacket, 0},
                                         CopyCase{"sweep.m4a", "closed.m4a", kNoDecoder, 0},
                                         CopyCase{"opus.opus", "opus.mka", kPacket, 0},
                                         CopyCase{"sweep.mp3", "bytes.mp3", kBytes, 0},
                                         CopyCase{"sweep.mp3", "declared.mp3", kDeclared, 0},
                                         CopyCase{"sweep.flac", "empty.mka", kNoPacket, 0},
                                         CopyCase{"sweep.flac", "empty.flac", kNoPacket, 0}),
                         CaseName());

}  // namespace
