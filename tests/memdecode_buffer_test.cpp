// The packet buffer decoder: MLP packets cut by FFmpeg's parser and DST
// frames of a DSDIFF file, decoded one per call and compared frame by frame
// with the ffmpeg tool's decode of the same file; records that do not
// describe the frames; garbage packets.
#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/samplefmt.h>
}

#include "ffmpeg_ptr.h"
#include "flatav.h"
#include "media.h"
#include "mem_host.h"

using namespace flatav_test;

namespace {

// The packets of stream 0 as libavformat hands them to the ffmpeg tool
// (for a raw .mlp file: cut by FFmpeg's MLP parser), and the stream's format.
struct Demuxed {
    bool ok = false;
    std::vector<std::vector<uint8_t>> packets;
    int channels = 0, sample_fmt = -1, sample_rate = 0;
};

Demuxed demux(const std::string &path)
{
    Demuxed out;
    AVFormatContext *raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        return out;
    flatav::InputPtr input(raw);
    if (avformat_find_stream_info(raw, nullptr) < 0 || raw->nb_streams < 1)
        return out;
    const AVCodecParameters *par = raw->streams[0]->codecpar;
    out.channels = par->ch_layout.nb_channels;
    out.sample_fmt = par->format;
    out.sample_rate = par->sample_rate;
    flatav::PacketPtr pkt(av_packet_alloc());
    while (av_read_frame(raw, pkt.get()) >= 0) {
        if (pkt->stream_index == 0)
            out.packets.emplace_back(pkt->data, pkt->data + pkt->size);
        av_packet_unref(pkt.get());
    }
    out.ok = true;
    return out;
}

// Non-zero bytes that a call must leave alone.
constexpr uint8_t kGuard = 0xA5;

struct BufferCase {
    const char *name;
    std::string path;  // "" for a corpus file that is absent
    const char *ffmpeg_format;
    bool is_mlp;
};

std::string corpus_file(const std::string &name)
{
    const std::string dir = corpus_dir();
    return dir.empty() ? "" : dir + "/" + name;
}

class BufferDecode : public testing::TestWithParam<BufferCase> {};

TEST_P(BufferDecode, EveryPacketGivesTheFfmpegToolsFrame)
{
    const BufferCase &c = GetParam();
    SCOPED_TRACE(c.name);
    if (c.path.empty())
        GTEST_SKIP() << "no corpus";
    const Demuxed in = demux(c.path);
    ASSERT_TRUE(in.ok);
    ASSERT_FALSE(in.packets.empty());
    const std::vector<uint8_t> expected = ffmpeg_pcm(c.path, 0, c.ffmpeg_format);
    ASSERT_FALSE(expected.empty());

    BufferDecodeRec rec{};
    rec.channels = in.channels;
    rec.sample_fmt = in.sample_fmt;
    rec.sample_rate = in.sample_rate;
    ASSERT_EQ(ff_init_decoder(c.is_mlp ? 1 : 0, &rec), 0);
    ASSERT_NE(rec.codec_context, nullptr);
    ASSERT_NE(rec.frame, nullptr);
    EXPECT_EQ(rec.codec_context->codec_id, c.is_mlp ? AV_CODEC_ID_MLP : AV_CODEC_ID_DST);

    const int bytes_per_sample = av_get_bytes_per_sample((AVSampleFormat)in.sample_fmt);
    std::vector<uint8_t> dst(1 << 20);
    size_t offset = 0;
    int frames = 0;
    StdoutCapture out;
    for (size_t i = 0; i < in.packets.size() && !HasFailure(); i++) {
        const std::vector<uint8_t> &packet = in.packets[i];
        std::fill(dst.begin(), dst.end(), kGuard);
        const int32_t n = ff_decode_buffer(&rec, packet.data(), (int32_t)packet.size(),
                                           dst.data());
        ASSERT_GT(n, 0) << "packet " << i;
        ASSERT_EQ(n % (in.channels * bytes_per_sample), 0);
        ASSERT_LE(offset + n, expected.size()) << "packet " << i;
        EXPECT_EQ(0, std::memcmp(dst.data(), expected.data() + offset, (size_t)n))
            << "packet " << i;
        EXPECT_EQ(dst[(size_t)n], kGuard);
        offset += (size_t)n;
        frames++;
    }
    const std::string printed = out.text();
    EXPECT_EQ(offset, expected.size());
    EXPECT_EQ((int)std::count(printed.begin(), printed.end(), '\n'), 2 * frames);
    ff_decoder_cleanup(&rec);
    EXPECT_EQ(rec.codec_context, nullptr);
    EXPECT_EQ(rec.frame, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, BufferDecode,
    testing::Values(
        BufferCase{"mlp_s16_stereo", media_path("mlp_s16_stereo.mlp"), "s16le", true},
        BufferCase{"mlp_s32_stereo", media_path("mlp_s32_stereo.mlp"), "s32le", true},
        BufferCase{"mlp_s16_51", media_path("mlp_s16_51.mlp"), "s16le", true},
        BufferCase{"mlp_s32_51", media_path("mlp_s32_51.mlp"), "s32le", true},
        BufferCase{"corpus_fbb_6ch_single", corpus_file("mlp/fbb_6ch_single.mlp"),
                   "s32le", true},
        // Packed float: the one plane that is copied holds every channel.
        BufferCase{"dst_stereo", media_path("dst_stereo.dff"), "f32le", false}),
    [](const testing::TestParamInfo<BufferCase> &info) { return info.param.name; });

// An MLP access unit of 16-bit stereo at 48 kHz holds 40 samples: 160 bytes.
TEST(BufferDecodeMlp, FortySampleFrameOfSixteenBitStereo)
{
    const Demuxed in = demux(media_path("mlp_s16_stereo.mlp"));
    ASSERT_TRUE(in.ok);
    ASSERT_GT(in.packets.size(), 2u);
    BufferDecodeRec rec{};
    rec.channels = 2;
    rec.sample_fmt = AV_SAMPLE_FMT_S16;
    rec.sample_rate = 48000;
    ASSERT_EQ(ff_init_decoder(1, &rec), 0);
    std::vector<uint8_t> dst(1024, kGuard);
    // The first access unit carries the major sync that the decoder needs.
    const std::vector<uint8_t> &packet = in.packets[0];
    StdoutCapture out;
    const int32_t n =
        ff_decode_buffer(&rec, packet.data(), (int32_t)packet.size(), dst.data());
    const std::string printed = out.text();
    EXPECT_EQ(n, 160);
    EXPECT_EQ(printed,
              "ff_decode_buffer(): planar=NO, name=s16, sample_rate=48000\n"
              "ff_decode_buffer(): size=" + std::to_string(packet.size()) +
                  ", nb_samples=40, data_size=160\n");
    EXPECT_NE(dst[159], kGuard);
    EXPECT_EQ(dst[160], kGuard);
    ff_decoder_cleanup(&rec);
}

// Records whose channels or sample_fmt do not describe the decoder's frames:
// the call writes exactly the bytes the record describes, and no byte that
// the frame does not hold is read.
struct RecordCase {
    const char *name;
    int32_t channels;
    int32_t sample_fmt;
    int32_t result;          // expected return
    int32_t frame_bytes;     // bytes of it that come from the frame
};

class BufferRecord : public testing::TestWithParam<RecordCase> {};

TEST_P(BufferRecord, WritesWhatTheRecordDescribes)
{
    const RecordCase &c = GetParam();
    SCOPED_TRACE(c.name);
    const std::string path = media_path("mlp_s16_stereo.mlp");
    const Demuxed in = demux(path);
    ASSERT_TRUE(in.ok);
    const std::vector<uint8_t> expected = ffmpeg_pcm(path, 0, "s16le");
    ASSERT_GE(expected.size(), 160u);

    BufferDecodeRec rec{};
    rec.channels = c.channels;
    rec.sample_fmt = c.sample_fmt;
    rec.sample_rate = 48000;
    ASSERT_EQ(ff_init_decoder(1, &rec), 0);
    std::vector<uint8_t> dst(4096, kGuard);
    StdoutCapture out;
    const std::vector<uint8_t> &first = in.packets[0];
    EXPECT_EQ(ff_decode_buffer(&rec, first.data(), (int32_t)first.size(), dst.data()),
              c.result);
    const size_t written = c.result > 0 ? (size_t)c.result : 0;
    EXPECT_EQ(0, std::memcmp(dst.data(), expected.data(), (size_t)c.frame_bytes));
    for (size_t i = (size_t)c.frame_bytes; i < written; i++)
        ASSERT_EQ(dst[i], 0) << "byte " << i << " is beyond the frame";
    for (size_t i = written; i < dst.size(); i++)
        ASSERT_EQ(dst[i], kGuard) << "byte " << i << " is beyond the record's frame";
    ff_decoder_cleanup(&rec);
}

INSTANTIATE_TEST_SUITE_P(
    Records, BufferRecord,
    testing::Values(
        RecordCase{"matching", 2, AV_SAMPLE_FMT_S16, 160, 160},
        RecordCase{"one_channel", 1, AV_SAMPLE_FMT_S16, 80, 80},
        RecordCase{"more_channels_than_the_frame", 8, AV_SAMPLE_FMT_S16, 640, 160},
        RecordCase{"wider_format", 2, AV_SAMPLE_FMT_S32, 320, 160},
        RecordCase{"no_channels", 0, AV_SAMPLE_FMT_S16, AVERROR(EINVAL), 0},
        RecordCase{"negative_channels", -3, AV_SAMPLE_FMT_S16, AVERROR(EINVAL), 0},
        RecordCase{"format_none", 2, AV_SAMPLE_FMT_NONE, AVERROR(EINVAL), 0},
        RecordCase{"format_unknown", 2, 1000, AVERROR(EINVAL), 0}),
    [](const testing::TestParamInfo<RecordCase> &info) { return info.param.name; });

// Any non-zero is_mlp selects MLP; 0 selects DST.
TEST(BufferDecodeOpen, SelectorPicksTheDecoder)
{
    for (int32_t is_mlp : {1, -1, 2, INT_MAX, INT_MIN, 0}) {
        SCOPED_TRACE(is_mlp);
        BufferDecodeRec rec{};
        rec.channels = 2;
        rec.sample_fmt = AV_SAMPLE_FMT_FLT;
        rec.sample_rate = 352800;
        ASSERT_EQ(ff_init_decoder(is_mlp, &rec), 0);
        ASSERT_NE(rec.codec_context, nullptr);
        EXPECT_EQ(rec.codec_context->codec_id, is_mlp ? AV_CODEC_ID_MLP : AV_CODEC_ID_DST);
        // The host's values reach the open context.
        EXPECT_EQ(rec.codec_context->ch_layout.nb_channels, 2);
        EXPECT_EQ(rec.codec_context->sample_rate, 352800);
        ff_decoder_cleanup(&rec);
    }
}

// DST needs a channel count to open: without one, or with more than it
// supports, the opening fails with FFmpeg's code and leaves the record closed.
TEST(BufferDecodeOpen, DstWithoutUsableChannelCountFails)
{
    struct Case {
        int32_t channels;
        int32_t result;
    };
    for (const Case &c : {Case{0, AVERROR(EINVAL)}, Case{-2, AVERROR(EINVAL)},
                          Case{7, AVERROR_PATCHWELCOME}}) {
        SCOPED_TRACE(c.channels);
        BufferDecodeRec rec{};
        rec.channels = c.channels;
        rec.sample_rate = 352800;
        rec.codec_context = reinterpret_cast<AVCodecContext *>(16);  // stale values
        rec.frame = reinterpret_cast<AVFrame *>(16);
        EXPECT_EQ(ff_init_decoder(0, &rec), c.result);
        EXPECT_EQ(rec.codec_context, nullptr);
        EXPECT_EQ(rec.frame, nullptr);
        ff_decoder_cleanup(&rec);
    }
    // MLP takes its channel count from the stream and opens without one; a
    // count beyond what FFmpeg accepts is refused for it too.
    BufferDecodeRec rec{};
    EXPECT_EQ(ff_init_decoder(1, &rec), 0);
    ff_decoder_cleanup(&rec);
    rec.channels = INT_MAX;
    EXPECT_EQ(ff_init_decoder(1, &rec), AVERROR(EINVAL));
    EXPECT_EQ(rec.codec_context, nullptr);
}

// What no DST frame is: refused with a negative code, nothing written.
TEST(BufferDecodeDst, MalformedFramesAreRefused)
{
    BufferDecodeRec rec{};
    rec.channels = 2;
    rec.sample_fmt = AV_SAMPLE_FMT_FLT;
    rec.sample_rate = 352800;
    ASSERT_EQ(ff_init_decoder(0, &rec), 0);
    std::vector<uint8_t> dst(65536, kGuard);
    StdoutCapture out;
    const std::vector<std::vector<uint8_t>> packets = {
        {0x00},                              // too short
        {0x01, 0x00, 0x00, 0x00},            // not DST-coded, but reserved bits set
        std::vector<uint8_t>(9409, 0x3f),    // the same with a whole frame's bytes
    };
    for (size_t i = 0; i < packets.size(); i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(ff_decode_buffer(&rec, packets[i].data(), (int32_t)packets[i].size(),
                                   dst.data()),
                  AVERROR_INVALIDDATA);
    }
    EXPECT_EQ(out.text(), "");
    EXPECT_EQ(std::count(dst.begin(), dst.end(), kGuard), (long)dst.size());
    ff_decoder_cleanup(&rec);
}

// Random bytes, and damaged copies of real packets, through both decoders:
// negative codes or whole frames, never a byte past the frame.
TEST(BufferDecodeGarbage, RandomAndDamagedPacketsDoNotCrash)
{
    const Demuxed mlp = demux(media_path("mlp_s32_51.mlp"));
    const Demuxed dst_file = demux(media_path("dst_stereo.dff"));
    ASSERT_TRUE(mlp.ok);
    ASSERT_TRUE(dst_file.ok);
    std::mt19937 rng(1234);
    for (const Demuxed *in : {&mlp, &dst_file}) {
        const bool is_mlp = in == &mlp;
        SCOPED_TRACE(is_mlp ? "mlp" : "dst");
        BufferDecodeRec rec{};
        rec.channels = in->channels;
        rec.sample_fmt = in->sample_fmt;
        rec.sample_rate = in->sample_rate;
        ASSERT_EQ(ff_init_decoder(is_mlp, &rec), 0);
        const int max_frame = is_mlp ? 40 * 6 * 4 : 4704 * 2 * 4;
        std::vector<uint8_t> dst(max_frame * 8, kGuard);
        int refused = 0;
        StdoutCapture out;
        for (int i = 0; i < 300; i++) {
            std::vector<uint8_t> packet;
            if (i % 2 == 0) {
                packet.resize(rng() % 12000);
                for (uint8_t &b : packet)
                    b = (uint8_t)rng();
            } else {
                packet = in->packets[rng() % in->packets.size()];
                for (int k = 0; k < 8 && !packet.empty(); k++)
                    packet[rng() % packet.size()] = (uint8_t)rng();
            }
            std::fill(dst.begin(), dst.end(), kGuard);
            const int32_t n = ff_decode_buffer(&rec, packet.empty() ? nullptr : packet.data(),
                                               (int32_t)packet.size(), dst.data());
            if (n < 0) {
                refused++;
                continue;
            }
            ASSERT_EQ(n % (in->channels * av_get_bytes_per_sample(
                                              (AVSampleFormat)in->sample_fmt)),
                      0);
            ASSERT_LE(n, (int32_t)dst.size());
            if ((size_t)n < dst.size()) {
                ASSERT_EQ(dst[(size_t)n], kGuard);
            }
        }
        EXPECT_GT(refused, 0);
        ff_decoder_cleanup(&rec);
    }
}

TEST(BufferDecodeArguments, ZeroFilledRecordAndBadArguments)
{
    uint8_t data[16] = {};
    uint8_t dst[64];
    BufferDecodeRec zero{};
    EXPECT_EQ(ff_decode_buffer(&zero, data, sizeof data, dst), AVERROR(EINVAL));
    EXPECT_EQ(ff_decode_buffer(nullptr, data, sizeof data, dst), AVERROR(EINVAL));
    ff_decoder_cleanup(&zero);
    ff_decoder_cleanup(&zero);
    ff_decoder_cleanup(nullptr);
    EXPECT_EQ(ff_init_decoder(1, nullptr), AVERROR(EINVAL));

    BufferDecodeRec rec{};
    rec.channels = 2;
    rec.sample_fmt = AV_SAMPLE_FMT_S16;
    ASSERT_EQ(ff_init_decoder(1, &rec), 0);
    EXPECT_EQ(ff_decode_buffer(&rec, nullptr, 10, dst), AVERROR(EINVAL));
    EXPECT_EQ(ff_decode_buffer(&rec, data, -1, dst), AVERROR(EINVAL));
    EXPECT_EQ(ff_decode_buffer(&rec, data, sizeof data, nullptr), AVERROR(EINVAL));
    ff_decoder_cleanup(&rec);
    ff_decoder_cleanup(&rec);
    EXPECT_EQ(rec.codec_context, nullptr);
    EXPECT_EQ(rec.frame, nullptr);
}

// Allocation failures while opening: every failure leaves the record closed
// and nothing allocated (the leak checker sees the rest).
TEST(BufferDecodeOpen, AllocationFailuresLeaveTheRecordClosed)
{
    int failures = 0;
    for (size_t limit = 64; limit <= 1 << 20; limit = limit * 5 / 4) {
        BufferDecodeRec rec{};
        rec.channels = 2;
        rec.sample_rate = 352800;
        av_max_alloc(limit);
        const int32_t r = ff_init_decoder(0, &rec);
        av_max_alloc(INT_MAX);
        if (r != 0) {
            failures++;
            EXPECT_TRUE(r == 3 || r < 0) << r;
            EXPECT_EQ(rec.codec_context, nullptr);
            EXPECT_EQ(rec.frame, nullptr);
        }
        ff_decoder_cleanup(&rec);
    }
    EXPECT_GT(failures, 0);
}

}  // namespace
