// In-memory decoding against the ffmpeg tool's decode of the same stream:
// MLP packets (cut by FFmpeg's parser) and DST frames of a DSDIFF file
// through the packet buffer decoder, one per call, also under records that
// describe other frames than the stream's; MLP elementary streams through
// the memory-source decoder in several refill and buffer sizes, read
// lengths, failing reads and call orders.
#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/samplefmt.h>
}

#include "encode_host.h"
#include "media.h"
#include "mem_host.h"

using namespace flatav_test;

namespace {

// The generated input, or "corpus/..." ("" without the corpus); and the
// tool's decode of it (nothing for a file it cannot read).
std::string input_path(const std::string &file)
{
    if (file.rfind("corpus/", 0) != 0)
        return media_path(file);
    return corpus_dir().empty() ? "" : corpus_dir() + file.substr(6);
}

std::vector<uint8_t> tool_pcm(const std::string &path, const char *format)
{
    int status = 0;
    return run_capture("ffmpeg -nostdin -v quiet -i " + shell_quote(path) + " -f " + format + " -",
                       &status);
}

struct BufferCase {
    const char *name, *file;
    const char *format;    // the tool's raw format of the stream
    int32_t is_mlp;        // any non-zero selects MLP
    int32_t channels = 0;  // the record's, when not the stream's
    int32_t sample_fmt = AV_SAMPLE_FMT_NONE;
};

void PrintTo(const BufferCase &c, std::ostream *os) { *os << c.name; }

class BufferDecode : public testing::TestWithParam<BufferCase> {};

// Every packet gives the tool's next frame: the first plane (packed, or
// planar mono) in the bytes the record describes, the frame's own bytes
// first and zeros after them, nothing written past them (guard bytes).
TEST_P(BufferDecode, EveryPacketGivesTheToolsFrame)
{
    const BufferCase &c = GetParam();
    const std::string path = input_path(c.file);
    if (path.empty())
        GTEST_SKIP() << "no corpus";
    BufferPackets in = buffer_packets(path);
    const std::vector<uint8_t> expected = tool_pcm(path, c.format);
    ASSERT_FALSE(in.packets.empty() || expected.empty());
    BufferDecodeRec &rec = in.rec;
    const int frame = rec.channels * av_get_bytes_per_sample((AVSampleFormat)rec.sample_fmt);
    rec.channels = c.channels ? c.channels : rec.channels;
    rec.sample_fmt = c.sample_fmt != AV_SAMPLE_FMT_NONE ? c.sample_fmt : rec.sample_fmt;
    const int record_frame = rec.channels * av_get_bytes_per_sample((AVSampleFormat)rec.sample_fmt);
    ASSERT_EQ(ff_init_decoder(c.is_mlp, &rec), 0);
    std::vector<uint8_t> dst(1 << 20);
    size_t offset = 0;
    for (size_t i = 0; i < in.packets.size(); i++) {
        std::fill(dst.begin(), dst.end(), 0xA5);
        const std::vector<uint8_t> &packet = in.packets[i];
        const int32_t n = ff_decode_buffer(&rec, packet.data(), (int32_t)packet.size(), dst.data());
        ASSERT_GT(n, 0) << "packet " << i;
        const size_t held = (size_t)n / record_frame * frame, own = std::min((size_t)n, held);
        ASSERT_LE(offset + held, expected.size());
        ASSERT_EQ(0, std::memcmp(dst.data(), expected.data() + offset, own)) << "packet " << i;
        ASSERT_EQ(std::count(dst.begin() + own, dst.begin() + n, 0), (long)(n - own));
        ASSERT_EQ(dst[(size_t)n], 0xA5);
        offset += held;
    }
    EXPECT_EQ(offset, expected.size());
    ff_decoder_cleanup(&rec);
    EXPECT_EQ(rec.codec_context, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BufferDecode,
    testing::Values(BufferCase{"mlp_s16_stereo", "mlp_s16_stereo.mlp", "s16le", 1},
                    BufferCase{"mlp_s32_stereo", "mlp_s32_stereo.mlp", "s32le", -1},
                    BufferCase{"mlp_s16_51", "mlp_s16_51.mlp", "s16le", INT_MAX},
                    BufferCase{"mlp_s32_51", "mlp_s32_51.mlp", "s32le", INT_MIN},
                    BufferCase{"fbb_6ch_single", "corpus/mlp/fbb_6ch_single.mlp", "s32le", 1},
                    // Packed float: the one plane copied holds every channel.
                    BufferCase{"dst_stereo", "dst_stereo.dff", "f32le", 0},
                    BufferCase{"one_channel", "mlp_s16_stereo.mlp", "s16le", 1, 1},
                    BufferCase{"more_channels", "mlp_s16_stereo.mlp", "s16le", 1, 8},
                    BufferCase{"wider_format", "mlp_s16_stereo.mlp", "s16le", 1, 0,
                               AV_SAMPLE_FMT_S32}),
    CaseName());

// What the memory-source decoder writes when the host calls it.
enum Outcome { kAll, kPrefix, kNothing };

struct StreamCase {
    const char *name, *file, *format;
    int32_t refill, alloc;
    int32_t chunk = INT32_MAX;  // at most this many bytes a read
    int fail_every = 0;         // every nth read fails with failure_code
    int32_t failure_code = 0;
    int drain_after = -1;  // the drain call after this many calls (-1: at the end of input)
    Outcome outcome = kAll;
};

void PrintTo(const StreamCase &c, std::ostream *os) { *os << c.name; }

class MemDecode : public testing::TestWithParam<StreamCase> {};

// Calls with drain 0 while the input lasts, then the drain call, which
// parses what is still buffered (refilling while bytes stay buffered) and
// flushes the decoder; later calls write nothing. Every result counts the
// bytes written, and no read asks for more than the room up to refill_size.
TEST_P(MemDecode, WritesTheToolsPcm)
{
    const StreamCase &c = GetParam();
    const std::string path = input_path(c.file);
    if (path.empty())
        GTEST_SKIP() << "no corpus";
    const std::vector<uint8_t> expected = tool_pcm(path, c.format);
    MemHost host(read_file(path));
    std::tie(host.chunk, host.fail_every, host.failure_code) = std::make_tuple(c.chunk, c.fail_every, c.failure_code);
    MemDecodeRec *rec = host.open(c.alloc, c.refill);
    ASSERT_NE(rec, nullptr);
    int64_t returned = 0;
    for (int calls = 0; !host.ended && calls != c.drain_after && calls < 2000000; calls++) {
        const int32_t n = mem_decode_audio(rec, 0);
        EXPECT_GE(n, 0);
        returned += std::max(n, 0);
    }
    returned += mem_decode_audio(rec, 1);
    if (c.drain_after < 0) {
        EXPECT_EQ(mem_decode_audio(rec, 0) + mem_decode_audio(rec, 1), 0);
    }
    EXPECT_EQ(returned, (int64_t)host.output.size());
    EXPECT_LE(host.largest_request, c.refill);
    mem_clean(&rec);
    EXPECT_EQ(rec, nullptr);
    if (c.outcome == kAll) {
        EXPECT_TRUE(host.output == expected) << host.output.size() << " against " << expected.size();
    } else {  // the drain stopped once the buffer was empty; or no read gave anything
        EXPECT_FALSE(host.ended);
        EXPECT_LT(host.output.size(), c.outcome == kPrefix ? expected.size() : 1);
        EXPECT_TRUE(std::equal(host.output.begin(), host.output.end(), expected.begin()));
    }
}

// 16- and 24-bit (s32), stereo and 5.1; refills smaller than one access
// unit (60 to 500 bytes here), a few of them, and far more than a whole
// file, with and without spare room.
const StreamCase kStreams[] = {
    {"s16_stereo_refill16", "mlp_s16_stereo.mlp", "s16le", 16, 16},
    {"s32_stereo_refill100_alloc4096", "mlp_s32_stereo.mlp", "s32le", 100, 4096},
    {"s16_51_refill1000", "mlp_s16_51.mlp", "s16le", 1000, 1000},
    {"s32_51_refill65536_alloc1M", "mlp_s32_51.mlp", "s32le", 65536, 1 << 20},
    // Reads that fail now and then (0: nothing available yet) change nothing;
    // reads that always fail give the parser nothing.
    {"reads_fail_0", "mlp_s32_stereo.mlp", "s32le", 512, 4096, 300, 3, 0},
    {"reads_fail_eio", "mlp_s32_stereo.mlp", "s32le", 512, 4096, 300, 3, -5},
    {"reads_fail_int_min", "mlp_s32_stereo.mlp", "s32le", 512, 4096, 300, 3, INT_MIN},
    {"reads_always_fail", "mlp_s32_stereo.mlp", "s32le", 128, 256, INT32_MAX, 1, -5, 5, kNothing},
    // A drain before the end of input: with refills of several access units
    // the parser always leaves a partial one behind, so the drain reads the
    // whole rest; with refills smaller than one it soon empties the buffer
    // and stops.
    {"early_drain_refill4096", "mlp_s16_stereo.mlp", "s16le", 4096, 4096, INT32_MAX, 0, 0, 50},
    {"early_drain_refill16", "mlp_s16_stereo.mlp", "s16le", 16, 16, INT32_MAX, 0, 0, 50, kPrefix},
    // Real-world files, some damaged on purpose: access units FFmpeg's
    // decoder refuses are dropped as the tool drops them (fba_176k the tool
    // cannot even open, and nothing in it decodes here either).
    {"fbb_6ch_single_refill7", "corpus/mlp/fbb_6ch_single.mlp", "s32le", 7, 7, 4096},
    {"fbb_6ch_single_refill4096", "corpus/mlp/fbb_6ch_single.mlp", "s32le", 4096, 4096, 777},
    {"fbb_copy_refill7", "corpus/mlp/fbb_copy.mlp", "s32le", 7, 7},
    {"fbb_copy_refill4096", "corpus/mlp/fbb_copy.mlp", "s32le", 4096, 4096},
    {"fba_2ch_refill7", "corpus/mlp/fba_2ch.mlp", "s32le", 7, 7},
    {"fba_2ch_refill4096", "corpus/mlp/fba_2ch.mlp", "s32le", 4096, 4096},
    {"fba_192k_8ch_refill7", "corpus/mlp/fba_192k_8ch.mlp", "s32le", 7, 7},
    {"fba_192k_8ch_refill4096", "corpus/mlp/fba_192k_8ch.mlp", "s32le", 4096, 4096},
    {"fba_176k_refill7", "corpus/mlp/fba_176k.mlp", "s32le", 7, 7},
    {"fba_176k_refill4096", "corpus/mlp/fba_176k.mlp", "s32le", 4096, 4096},
};

INSTANTIATE_TEST_SUITE_P(Table, MemDecode, testing::ValuesIn(kStreams), CaseName());

}  // namespace
