// The packet buffer decoder: MLP packets cut by FFmpeg's parser and DST
// frames of a DSDIFF file, decoded one per call and compared frame by frame
// with the ffmpeg tool's decode of the same file; records that do not
// describe the frames; opening; garbage packets and bad arguments.
#include <algorithm>
#include <climits>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/samplefmt.h>
}

#include "common/ffmpeg_util.h"
#include "flatav.h"
#include "media.h"
#include "mem_host.h"

using namespace flatav_test;

namespace {

// Non-zero bytes that a call must leave alone.
constexpr uint8_t kGuard = 0xA5;

BufferDecodeRec record(int32_t channels, int32_t sample_fmt, int32_t sample_rate)
{
    BufferDecodeRec rec{};
    rec.channels = channels;
    rec.sample_fmt = sample_fmt;
    rec.sample_rate = sample_rate;
    return rec;
}

int32_t decode(BufferDecodeRec &rec, const std::vector<uint8_t> &packet, uint8_t *dst)
{
    return ff_decode_buffer(&rec, packet.empty() ? nullptr : packet.data(),
                            (int32_t)packet.size(), dst);
}

struct BufferCase {
    const char *name;
    std::string path;  // "" for a corpus file that is absent
    const char *ffmpeg_format;
    bool is_mlp;
};
void PrintTo(const BufferCase &c, std::ostream *os) { *os << c.name; }

class BufferDecode : public testing::TestWithParam<BufferCase> {};

TEST_P(BufferDecode, EveryPacketGivesTheFfmpegToolsFrame)
{
    const BufferCase &c = GetParam();
    if (c.path.empty())
        GTEST_SKIP() << "no corpus";
    BufferPackets in = buffer_packets(c.path);
    ASSERT_FALSE(in.packets.empty());
    const std::vector<uint8_t> expected = ffmpeg_pcm(c.path, 0, c.ffmpeg_format);
    ASSERT_FALSE(expected.empty());
    BufferDecodeRec &rec = in.rec;
    ASSERT_EQ(ff_init_decoder(c.is_mlp ? 1 : 0, &rec), 0);

    std::vector<uint8_t> dst(1 << 20);
    size_t offset = 0;
    const std::string printed = stdout_of([&] {
        for (size_t i = 0; i < in.packets.size() && !HasFailure(); i++) {
            SCOPED_TRACE("packet " + std::to_string(i));
            std::fill(dst.begin(), dst.end(), kGuard);
            const int32_t n = decode(rec, in.packets[i], dst.data());
            ASSERT_GT(n, 0);
            ASSERT_LE(offset + n, expected.size());
            EXPECT_EQ(0, std::memcmp(dst.data(), expected.data() + offset, (size_t)n));
            EXPECT_EQ(dst[(size_t)n], kGuard);
            offset += (size_t)n;
        }
    });
    EXPECT_EQ(offset, expected.size());
    // Two trace lines per decoded frame.
    EXPECT_EQ((size_t)std::count(printed.begin(), printed.end(), '\n'), 2 * in.packets.size());
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
        BufferCase{"corpus_fbb_6ch_single",
                   corpus_dir().empty() ? "" : corpus_dir() + "/mlp/fbb_6ch_single.mlp",
                   "s32le", true},
        // Packed float: the one plane that is copied holds every channel.
        BufferCase{"dst_stereo", media_path("dst_stereo.dff"), "f32le", false}),
    testing::PrintToStringParamName());

// The first access unit of 16-bit stereo at 48 kHz (it carries the major
// sync the decoder needs) holds 40 samples, 160 bytes, under records whose
// channels or sample_fmt may not describe it: the call writes exactly the
// bytes the record describes, zeroes what the frame does not hold, and reads
// nothing past the frame.
struct RecordCase {
    const char *name;
    int32_t channels;
    int32_t sample_fmt;
    int32_t result;       // expected return
    int32_t frame_bytes;  // bytes of it that come from the frame
};
void PrintTo(const RecordCase &c, std::ostream *os) { *os << c.name; }

class BufferRecord : public testing::TestWithParam<RecordCase> {};

TEST_P(BufferRecord, WritesWhatTheRecordDescribes)
{
    const RecordCase &c = GetParam();
    const std::string path = media_path("mlp_s16_stereo.mlp");
    const BufferPackets in = buffer_packets(path);
    ASSERT_FALSE(in.packets.empty());
    const std::vector<uint8_t> expected = ffmpeg_pcm(path, 0, "s16le");
    ASSERT_GE(expected.size(), 160u);

    BufferDecodeRec rec = record(c.channels, c.sample_fmt, 48000);
    ASSERT_EQ(ff_init_decoder(1, &rec), 0);
    std::vector<uint8_t> dst(4096, kGuard);
    const std::string printed =
        stdout_of([&] { EXPECT_EQ(decode(rec, in.packets[0], dst.data()), c.result); });
    EXPECT_EQ(printed, "ff_decode_buffer(): planar=NO, name=s16, sample_rate=48000\n"
                       "ff_decode_buffer(): size=" + std::to_string(in.packets[0].size()) +
                           ", nb_samples=40, data_size=" + std::to_string(c.result) + "\n");
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
    testing::Values(RecordCase{"forty_samples_of_s16_stereo", 2, AV_SAMPLE_FMT_S16, 160, 160},
                    RecordCase{"one_channel", 1, AV_SAMPLE_FMT_S16, 80, 80},
                    RecordCase{"more_channels_than_the_frame", 8, AV_SAMPLE_FMT_S16, 640, 160},
                    RecordCase{"wider_format", 2, AV_SAMPLE_FMT_S32, 320, 160},
                    RecordCase{"no_channels", 0, AV_SAMPLE_FMT_S16, AVERROR(EINVAL), 0},
                    RecordCase{"negative_channels", -3, AV_SAMPLE_FMT_S16, AVERROR(EINVAL), 0},
                    RecordCase{"format_none", 2, AV_SAMPLE_FMT_NONE, AVERROR(EINVAL), 0},
                    RecordCase{"format_unknown", 2, 1000, AVERROR(EINVAL), 0}),
    testing::PrintToStringParamName());

// Any non-zero is_mlp selects MLP, only 0 DST, and the host's values reach
// the open context. DST cannot open without a usable channel count (FFmpeg's
// codes); MLP takes its count from the stream but refuses one FFmpeg cannot
// hold. A failed opening leaves the record closed whatever it held before.
TEST(BufferDecodeOpen, SelectorAndChannelCount)
{
    struct Case {
        int32_t is_mlp, channels, result;
    };
    for (const Case &c : {Case{1, 2, 0}, Case{-1, 2, 0}, Case{2, 2, 0}, Case{INT_MAX, 2, 0},
                          Case{INT_MIN, 2, 0}, Case{0, 2, 0}, Case{0, 0, AVERROR(EINVAL)},
                          Case{0, -2, AVERROR(EINVAL)}, Case{0, 7, AVERROR_PATCHWELCOME},
                          Case{1, INT_MAX, AVERROR(EINVAL)}}) {
        SCOPED_TRACE(testing::Message() << "is_mlp " << c.is_mlp << ", channels " << c.channels);
        BufferDecodeRec rec = record(c.channels, AV_SAMPLE_FMT_FLT, 352800);
        rec.codec_context = reinterpret_cast<AVCodecContext *>(16);  // stale values
        rec.frame = reinterpret_cast<AVFrame *>(16);
        ASSERT_EQ(ff_init_decoder(c.is_mlp, &rec), c.result);
        if (c.result == 0) {
            ASSERT_NE(rec.frame, nullptr);
            EXPECT_EQ(rec.codec_context->codec_id, c.is_mlp ? AV_CODEC_ID_MLP : AV_CODEC_ID_DST);
            EXPECT_EQ(rec.codec_context->ch_layout.nb_channels, 2);
            EXPECT_EQ(rec.codec_context->sample_rate, 352800);
        } else {
            EXPECT_EQ(rec.codec_context, nullptr);
            EXPECT_EQ(rec.frame, nullptr);
        }
        ff_decoder_cleanup(&rec);
    }
}

// Random bytes, and damaged copies of real packets, through both decoders:
// negative codes or whole frames, never a byte past the frame. What no DST
// frame is is refused as invalid data, nothing written or printed.
TEST(BufferDecodeGarbage, RandomAndDamagedPacketsDoNotCrash)
{
    std::mt19937 rng(1234);
    for (const char *name : {"mlp_s32_51.mlp", "dst_stereo.dff"}) {
        SCOPED_TRACE(name);
        BufferPackets in = buffer_packets(media_path(name));
        ASSERT_FALSE(in.packets.empty());
        const bool is_mlp = name[0] == 'm';
        ASSERT_EQ(ff_init_decoder(is_mlp, &in.rec), 0);
        const int sample_bytes =
            in.rec.channels * av_get_bytes_per_sample((AVSampleFormat)in.rec.sample_fmt);
        std::vector<uint8_t> dst((size_t)(is_mlp ? 40 : 4704) * sample_bytes * 8, kGuard);
        if (!is_mlp) {
            // Too short; not DST-coded but reserved bits set; the same with a
            // whole frame's bytes.
            const std::vector<std::vector<uint8_t>> malformed = {
                {0x00}, {0x01, 0x00, 0x00, 0x00}, std::vector<uint8_t>(9409, 0x3f)};
            const std::string printed = stdout_of([&] {
                for (const std::vector<uint8_t> &packet : malformed)
                    EXPECT_EQ(decode(in.rec, packet, dst.data()), AVERROR_INVALIDDATA)
                        << packet.size();
            });
            EXPECT_EQ(printed, "");
            EXPECT_EQ(std::count(dst.begin(), dst.end(), kGuard), (long)dst.size());
        }
        int refused = 0;
        stdout_of([&] {
            for (int i = 0; i < 300; i++) {
                std::vector<uint8_t> packet;
                if (i % 2 == 0) {
                    packet.resize(rng() % 12000);
                    for (uint8_t &b : packet)
                        b = (uint8_t)rng();
                } else {
                    packet = in.packets[rng() % in.packets.size()];
                    for (int k = 0; k < 8 && !packet.empty(); k++)
                        packet[rng() % packet.size()] = (uint8_t)rng();
                }
                std::fill(dst.begin(), dst.end(), kGuard);
                const int32_t n = decode(in.rec, packet, dst.data());
                refused += n < 0;
                ASSERT_EQ(std::max(n, 0) % sample_bytes, 0);
                ASSERT_LE(n, (int32_t)dst.size());
                if (n >= 0 && (size_t)n < dst.size()) {
                    ASSERT_EQ(dst[(size_t)n], kGuard);
                }
            }
        });
        EXPECT_GT(refused, 0);
        ff_decoder_cleanup(&in.rec);
    }
}

// A zero-filled record and null or negative arguments are refused; a
// zero-filled record still opens MLP, which needs no format to open; clean-up
// takes null and runs twice.
TEST(BufferDecodeArguments, ZeroFilledRecordAndBadArguments)
{
    uint8_t data[16] = {};
    uint8_t dst[64];
    BufferDecodeRec rec{};
    EXPECT_EQ(ff_decode_buffer(&rec, data, sizeof data, dst), AVERROR(EINVAL));
    EXPECT_EQ(ff_decode_buffer(nullptr, data, sizeof data, dst), AVERROR(EINVAL));
    ff_decoder_cleanup(&rec);
    ff_decoder_cleanup(&rec);
    ff_decoder_cleanup(nullptr);
    EXPECT_EQ(ff_init_decoder(1, nullptr), AVERROR(EINVAL));

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
        BufferDecodeRec rec = record(2, 0, 352800);
        av_max_alloc(limit);
        const int32_t r = ff_init_decoder(0, &rec);
        av_max_alloc(INT_MAX);
        if (r != 0) {
            failures++;
            EXPECT_TRUE(r == FLATAV_BUFFER_DECODER_NO_MEMORY || r < 0) << r;
            EXPECT_EQ(rec.codec_context, nullptr);
            EXPECT_EQ(rec.frame, nullptr);
        }
        ff_decoder_cleanup(&rec);
    }
    EXPECT_GT(failures, 0);
}

}  // namespace
