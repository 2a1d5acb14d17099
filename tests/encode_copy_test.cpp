// Encoding and stream copy against the ffmpeg tool. Host PCM encoded
// through a record gives the packets the tool makes from the same samples
// with the same settings, in the container the tool chooses, with the same
// header bytes where the container has no version strings, and decodes as
// the tool's file does (a lossless one to the input itself). Packets copied
// out of a source arrive as the tool's `-c copy` remux has them.
#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include "encode_host.h"
#include "media.h"
#include "test_host.h"

using namespace flatav_test;

namespace {

constexpr AVSampleFormat S16 = AV_SAMPLE_FMT_S16, S16P = AV_SAMPLE_FMT_S16P,
                         S32 = AV_SAMPLE_FMT_S32, S32P = AV_SAMPLE_FMT_S32P,
                         FLT = AV_SAMPLE_FMT_FLT, FLTP = AV_SAMPLE_FMT_FLTP;

// The audio packets of path as the tool demuxes them, one framecrc line
// each: "stream, dts, pts, duration, size, crc" (side data left out: the
// tool names itself in the encoder tag, which Ogg hands on with a packet).
std::vector<std::string> packet_list(const std::string &path)
{
    int status = 0;
    std::istringstream in(run_text("ffmpeg -nostdin -v error -i " + shell_quote(path) +
                                       " -map 0:a:0 -c copy -f framecrc -", &status));
    EXPECT_EQ(status, 0) << path;
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#')
            lines.push_back(line.substr(0, line.find(", S=")));
    return lines;
}

struct EncodeCase {
    const char *name;        // the output's name: its extension chooses the container
    const char *codec_name;  // null: the codec id chooses
    int32_t (*codec_id)();   // null: 0
    AVSampleFormat format;   // the host's samples
    int sample_rate;
    const char *muxer;       // the tool's name of the container chosen
    int bit_rate;            // 0: lossless, the input comes back
    bool delay;              // the encoder keeps its first frame: the first call gives 0
    int header;              // leading bytes that equal the tool's file (-1: all of it)
    bool seekable = true;
    AVSampleFormat requested = AV_SAMPLE_FMT_NONE;  // a packed format for a planar encoder
    uint64_t layout = 0;     // EncodeRec.channel_layout
    // The encoder puts uninitialised bytes into its first packet (valgrind
    // shows it in the tool too): that packet's CRC, and the PCM, vary.
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
    ASSERT_EQ(output.open(signal, 2, c.requested), nullptr)
        << testing::PrintToString(output.recorder.errors);
    ASSERT_TRUE(output.encode(signal)) << testing::PrintToString(output.recorder.errors);
    EXPECT_TRUE(output.recorder.errors.empty());
    EXPECT_EQ(output.rec.next_pts, samples);
    // FFmpeg's size of the whole sample frames in a block (the tail ignored).
    EXPECT_EQ(ff_buff_size(&output.rec, 4003),
              av_samples_get_buffer_size(nullptr, 2, 4003 / (2 * signal.bytes_per_sample()),
                                         c.format, 0));
    const std::string &path = output.saved();

    // The tool with the same samples, the encoder named (or the id's
    // default), the record's settings (compression level 0) and the same
    // channel mask; into a pipe where the output cannot seek.
    ScratchFile raw("input.raw"), reference(std::string("reference_") + c.name);
    raw.write(signal.interleaved());
    const char *encoder = c.codec_name && avcodec_find_encoder_by_name(c.codec_name)
                              ? c.codec_name
                              : avcodec_find_encoder((AVCodecID)c.codec_id())->name;
    char layout[32];
    std::snprintf(layout, sizeof layout, "0x%llx", (unsigned long long)c.layout);
    const std::string command =
        "ffmpeg -nostdin -v error -y -f " + std::string(signal.raw_format()) + " -ar " +
        std::to_string(c.sample_rate) + " -ac 2" + (c.layout ? std::string(" -ch_layout ") + layout : "") +
        " -i " + shell_quote(raw.path) + " -c:a " + encoder +
        (c.bit_rate ? " -b:a " + std::to_string(c.bit_rate) : "") +
        " -strict:a -2 -compression_level 0 -sample_fmt " + av_get_sample_fmt_name(c.format) + " -f " +
        c.muxer + " " + (c.seekable ? shell_quote(reference.path) : "-");
    int status = 0;
    const std::vector<uint8_t> piped = run_capture(command, &status);
    ASSERT_EQ(status, 0) << command;
    if (!c.seekable)
        reference.write(piped);
    const std::vector<uint8_t> ours = read_file(path), tool = read_file(reference.path);

    EXPECT_EQ(ffprobe(path, "format=format_name"), ffprobe(reference.path, "format=format_name"));
    const size_t header = c.header < 0 ? std::max(ours.size(), tool.size()) : c.header;
    EXPECT_TRUE(ours.size() >= header && tool.size() >= header &&
                std::equal(tool.begin(), tool.begin() + header, ours.begin()))
        << "the first " << header << " bytes differ from the tool's";
    std::vector<std::string> our_packets = packet_list(path), tool_packets = packet_list(reference.path);
    if (c.first_packet_varies && !our_packets.empty() && !tool_packets.empty()) {
        our_packets[0].erase(our_packets[0].rfind(','));
        tool_packets[0].erase(tool_packets[0].rfind(','));
    }
    EXPECT_EQ(our_packets, tool_packets);
    if (c.bit_rate == 0) {
        EXPECT_TRUE(ffmpeg_pcm(path, 0, signal.raw_format()) == signal.interleaved());
    } else if (!c.first_packet_varies) {
        EXPECT_TRUE(ffmpeg_pcm(path, 0, "f32le") == ffmpeg_pcm(reference.path, 0, "f32le"));
    }

    // Each call wrote at most one packet and returned its size, in order; an
    // encoder with a delay leaves packets to the drain. (The demuxer of PCM
    // cuts its own packets.)
    EXPECT_EQ(output.results.front() == 0, c.delay);
    if (output.rec.audio_input_frame_size == 0)
        return;
    size_t packet = 0;
    for (size_t i = 0; i + 1 < output.results.size(); i++) {
        if (output.results[i] == 0)
            continue;
        ASSERT_LT(packet, our_packets.size());
        int size = -1;
        std::sscanf(our_packets[packet++].c_str(), "%*d, %*d, %*d, %*d, %d", &size);
        EXPECT_EQ(output.results[i], size) << "call " << i;
    }
    if (c.delay) {
        EXPECT_LT(packet, our_packets.size());
    }
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
    // channel mask written as the tool writes it. A container's name with
    // an id chooses the container.
    {"out.wav", nullptr, ff_get_encoder_05, S16, 44100, "wav", 0, false, -1},
    {"pipe.wav", "pcm_s16le", nullptr, S16, 44100, "wav", 0, false, -1, false},
    {"out24.wav", "pcm_s24le", nullptr, S32, 48000, "wav", 0, false, -1},
    {"downmix.wav", "pcm_s16le", nullptr, S16, 44100, "wav", 0, false, -1, true,
     AV_SAMPLE_FMT_NONE, AV_CH_LAYOUT_STEREO_DOWNMIX},
    {"wav_named.flac", "wav", ff_get_encoder_05, S16, 44100, "wav", 0, false, -1},
    // MP4 writes its index after the data, through a seek.
    {"out.m4a", "alac", nullptr, S16P, 44100, "ipod", 0, false, 0},
    {"out24.m4a", nullptr, ff_get_encoder_01, S32P, 44100, "ipod", 0, false, 0},
    {"out.wv", "wavpack", nullptr, S16P, 44100, "wv", 0, false, 0},
    {"out.tta", "tta", nullptr, S16, 44100, "tta", 0, false, 0},
    {"out.mp3", nullptr, ff_get_encoder_06, S16P, 44100, "mp3", 128000, true, 0},
    // AAC in MP4, in Matroska (whose time base is 1 ms, not the sample
    // rate's), and from one block holding plane after plane (a packed host
    // format for the planar encoder).
    {"aac.m4a", "aac", nullptr, FLTP, 44100, "ipod", 128000, true, 0},
    {"aac.mka", "aac", nullptr, FLTP, 44100, "matroska", 128000, true, 0},
    {"block.m4a", "aac", nullptr, FLTP, 44100, "ipod", 128000, true, 0, true, FLT},
    // libopus from packed float, the native (experimental) encoder from
    // planes.
    {"out.opus", nullptr, ff_get_encoder_07, FLT, 48000, "opus", 128000, false, 0},
    {"native.opus", "opus", nullptr, FLTP, 48000, "opus", 128000, true, 0, true,
     AV_SAMPLE_FMT_NONE, 0, true},
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
// ff_open_encoder_raw or to ff_open_encoder's declared MP3 stream.
enum CopyMode { kPacket, kNoDecoder, kBytes, kDeclared };

struct CopyCase {
    const char *source, *output;
    CopyMode mode;
    int64_t pts_offset;  // skips packets at or before 0, shifts the rest
};

void PrintTo(const CopyCase &c, std::ostream *os) { *os << c.source << " -> " << c.output; }

class Copy : public testing::TestWithParam<CopyCase> {};

TEST_P(Copy, AsTheToolsRemux)
{
    const CopyCase &c = GetParam();
    const bool packets = c.mode == kPacket || c.mode == kNoDecoder;
    OpenedSource src(media_path(c.source));
    if (packets)
        src.rec.streamcopy = reinterpret_cast<StreamCopy *>(uintptr_t{1});
    ASSERT_EQ(src.open(), nullptr);
    const int index = src.first_audio();
    src.rec.audio_stream_index = index;
    src.rec.read_mode = packets ? FLATAV_READ_RAW_PACKET : FLATAV_READ_COPY;
    src.rec.raw_pkt = ff_pkt_new();

    Output output(c.output, nullptr, 0);
    EncodeRec &rec = output.rec;
    if (packets) {
        StreamCopy *sc = src.rec.streamcopy;
        sc->stream_index = index;
        sc->data[index].pts_offset = c.pts_offset;
        if (c.mode == kNoDecoder)
            sc->data[index].codec_context = nullptr;
        rec.streamcopy = sc;
    }
    if (c.mode == kDeclared) {
        rec.encode = 0;
        ASSERT_EQ(output.open(Signal(S16P, 44100, 0)), nullptr);
    } else {
        ASSERT_EQ(ff_open_encoder_raw(&rec), nullptr);
    }
    if (c.mode == kBytes) {
        // The declared stream has no sample format: no sample frame to count.
        EXPECT_EQ(ff_buff_size(&rec, 4608), AVERROR(EINVAL));
    }
    rec.raw_codec_id = AV_CODEC_ID_MP3;
    rec.raw_frame_size = 1152;
    rec.raw_channels = 2;
    rec.raw_sample_rate = 44100;
    std::vector<uint8_t> buf(1 << 16);
    int32_t size;
    while ((size = ff_decode_audio(&src.rec, packets ? nullptr : buf.data(), nullptr, nullptr,
                                   packets ? 0 : (int32_t)buf.size(), nullptr)) > 0) {
        rec.raw_pkt = packets ? src.rec.raw_pkt : nullptr;
        rec.raw_data = buf.data();
        rec.raw_size = size;
        ASSERT_EQ(ff_encode_audio_raw(&rec, size), 0);
        ff_pkt_clean(src.rec.raw_pkt);
    }
    EXPECT_EQ(ff_encode_audio_raw(&rec, 0), 0);
    ff_pkt_free(src.rec.raw_pkt);
    EXPECT_TRUE(output.recorder.errors.empty());

    ScratchFile reference(std::string("reference_") + c.output);
    int status = 0;
    run_text("ffmpeg -nostdin -v error -y -i " + shell_quote(media_path(c.source)) +
                 " -map 0:a:0 -c copy " + shell_quote(reference.path), &status);
    ASSERT_EQ(status, 0);
    std::vector<DemuxedPacket> want = demuxed_packets(reference.path, "a:0").packets;
    const std::vector<DemuxedPacket> got = demuxed_packets(output.saved(), "a:0").packets;
    if (c.pts_offset) {
        want.erase(want.begin());
        for (DemuxedPacket &p : want)
            p.pts += c.pts_offset, p.dts += c.pts_offset;
    }
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); i++) {
        SCOPED_TRACE("packet " + std::to_string(i));
        EXPECT_EQ(got[i], want[i]);
        EXPECT_EQ(got[i].pts, want[i].pts);
        EXPECT_EQ(got[i].dts, want[i].dts);
        EXPECT_EQ(got[i].duration, want[i].duration);
    }
    if (packets && !c.pts_offset) {
        EXPECT_TRUE(ffmpeg_pcm(output.saved(), 0, "f32le") ==
                    ffmpeg_pcm(reference.path, 0, "f32le"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Copy,
    testing::Values(CopyCase{"sweep.mp3", "copy.mp3", kPacket, 0},
                    CopyCase{"sweep.flac", "copy.flac", kPacket, 0},
                    CopyCase{"sweep.flac", "copy.mka", kPacket, 0},
                    CopyCase{"sweep.flac", "offset.mka", kPacket, 4410},
                    CopyCase{"sweep.m4a", "copy.mkv", kPacket, 0},
                    CopyCase{"sweep.m4a", "copy.m4a", kPacket, 0},
                    CopyCase{"sweep.m4a", "closed.m4a", kNoDecoder, 0},
                    CopyCase{"opus.opus", "copy.mka", kPacket, 0},
                    CopyCase{"sweep.mp3", "bytes.mp3", kBytes, 0},
                    CopyCase{"sweep.mp3", "declared.mp3", kDeclared, 0}),
    [](const testing::TestParamInfo<CopyCase> &info) {
        std::string name = std::string(info.param.source) + "_to_" + info.param.output;
        for (char &ch : name)
            if (!isalnum((unsigned char)ch))
                ch = '_';
        return name;
    });

}  // namespace
