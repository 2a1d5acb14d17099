// The memory-source decoder on MLP elementary streams: the PCM written
// through the host's write function equals the ffmpeg tool's decode of the
// same file, for several refill and buffer sizes, call orders and failing
// reads; how one call reads, parses and writes; planar and packed frame
// writing; the flatav mlp command. Bad input: refused creation with its
// printed line, allocation failures, random and damaged byte streams, a read
// function that overstates, null and cleaned handles.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libavutil/samplefmt.h>
}

#include "flatav.h"
#include "media.h"
#include "mem_host.h"
#include "memdecode/memdecode.h"

using namespace flatav_test;

namespace {

// Opens a decoder over host and decodes in the documented order: drain-0
// calls while the input lasts and until nothing is buffered, the call that
// gives the parser no bytes, then the drain call; cleans up. Every result
// counts the bytes written. FFmpeg's MLP parser hands out each access unit
// as soon as its last byte has arrived, so the empty parse finds nothing
// left, and the MLP decoder keeps no frames back for the drain. Returns the
// drain-0 calls that wrote nothing.
int decode_in_order(MemHost &host, int32_t buffer_alloc, int32_t refill_size)
{
    MemDecodeRec *rec = host.open(buffer_alloc, refill_size);
    EXPECT_NE(rec, nullptr);
    if (!rec)
        return 0;
    int calls_without_output = 0;
    int64_t returned = 0;
    for (int guard = 0; guard < 1000000 && (!host.ended || rec->pending > 0); guard++) {
        const int32_t n = mem_decode_audio(rec, 0);
        EXPECT_GE(n, 0);
        calls_without_output += n == 0;
        returned += n;
    }
    EXPECT_EQ(rec->pending, 0u);
    EXPECT_EQ(mem_decode_audio(rec, 0), 0);
    EXPECT_EQ(mem_decode_audio(rec, 1), 0);
    EXPECT_EQ(returned, (int64_t)host.output.size());
    mem_clean(&rec);
    EXPECT_EQ(rec, nullptr);
    return calls_without_output;
}

struct StreamFile {
    const char *name;
    const char *ffmpeg_format;
    int frame_bytes;  // one 40-sample access unit of packed PCM
};
void PrintTo(const StreamFile &f, std::ostream *os) { *os << f.name; }

struct Sizes {
    int32_t refill_size, buffer_alloc;
};
void PrintTo(const Sizes &s, std::ostream *os)
{
    *os << "refill " << s.refill_size << ", alloc " << s.buffer_alloc;
}

class MemDecode : public testing::TestWithParam<std::tuple<StreamFile, Sizes>> {};

TEST_P(MemDecode, BothCallOrdersGiveTheFfmpegToolsPcm)
{
    const auto &[file, sizes] = GetParam();
    const std::string path = media_path(file.name);
    const std::vector<uint8_t> expected = ffmpeg_pcm(path, 0, file.ffmpeg_format);
    ASSERT_FALSE(expected.empty());

    MemHost host(read_file(path));
    const int calls_without_output = decode_in_order(host, sizes.buffer_alloc, sizes.refill_size);
    EXPECT_TRUE(host.output == expected)
        << host.output.size() << " bytes against " << expected.size();
    // MLP frames are packed: one write per access unit.
    EXPECT_EQ(host.write_sizes,
              std::vector<int32_t>(expected.size() / file.frame_bytes, file.frame_bytes));
    // A refill smaller than one access unit (60 to 500 bytes here) leaves
    // calls that complete no packet.
    if (sizes.refill_size < 60) {
        EXPECT_GT(calls_without_output, (int)host.write_sizes.size());
    }

    // Once the input has ended, the drain call alone finishes the job: it
    // parses whatever is still buffered and flushes the decoder; later
    // calls write nothing.
    MemHost drained(read_file(path));
    MemDecodeRec *rec = drained.open(sizes.buffer_alloc, sizes.refill_size);
    ASSERT_NE(rec, nullptr);
    int64_t returned = 0;
    for (int guard = 0; guard < 1000000 && !drained.ended; guard++)
        returned += mem_decode_audio(rec, 0);
    returned += mem_decode_audio(rec, 1);
    EXPECT_EQ(rec->pending, 0u);
    EXPECT_EQ(mem_decode_audio(rec, 0), 0);
    EXPECT_EQ(mem_decode_audio(rec, 1), 0);
    mem_clean(&rec);
    EXPECT_EQ(returned, (int64_t)drained.output.size());
    EXPECT_TRUE(drained.output == expected)
        << drained.output.size() << " bytes against " << expected.size();
}

// 16- and 24-bit (s32), stereo and 5.1; refills smaller than one access
// unit, a few of them, and far more than a whole file, with and without
// spare room.
INSTANTIATE_TEST_SUITE_P(
    Streams, MemDecode,
    testing::Combine(testing::Values(StreamFile{"mlp_s16_stereo.mlp", "s16le", 40 * 2 * 2},
                                     StreamFile{"mlp_s32_stereo.mlp", "s32le", 40 * 2 * 4},
                                     StreamFile{"mlp_s16_51.mlp", "s16le", 40 * 6 * 2},
                                     StreamFile{"mlp_s32_51.mlp", "s32le", 40 * 6 * 4}),
                     testing::Values(Sizes{16, 16}, Sizes{100, 4096}, Sizes{1000, 1000},
                                     Sizes{65536, 1 << 20})),
    [](const testing::TestParamInfo<std::tuple<StreamFile, Sizes>> &info) {
        const std::string name = std::get<0>(info.param).name;
        const Sizes &sizes = std::get<1>(info.param);
        return name.substr(0, name.find('.')) + "_refill" + std::to_string(sizes.refill_size) +
               "_alloc" + std::to_string(sizes.buffer_alloc);
    });

// Real-world MLP files, some of them damaged on purpose: access units that
// FFmpeg's decoder refuses are dropped here as the ffmpeg tool drops them,
// so the PCM still agrees (fbb_6ch_single is the one FFmpeg decodes
// cleanly; fba_176k cannot even be opened by the tool, and nothing in it
// decodes here either).
TEST(MemDecodeCorpus, AgreesWithTheFfmpegTool)
{
    const std::string dir = corpus_dir();
    if (dir.empty())
        GTEST_SKIP() << "no corpus";
    for (const char *name : {"fbb_6ch_single.mlp", "fbb_copy.mlp", "fba_2ch.mlp",
                             "fba_192k_8ch.mlp", "fba_176k.mlp"}) {
        SCOPED_TRACE(name);
        const std::string path = dir + "/mlp/" + name;
        int status = 0;
        const std::vector<uint8_t> expected = run_capture(
            "ffmpeg -nostdin -v quiet -i " + shell_quote(path) + " -f s32le -", &status);
        if (std::string(name) == "fbb_6ch_single.mlp") {
            EXPECT_EQ(status, 0);
            EXPECT_EQ(expected.size(), 61440u);
        }
        for (int32_t refill : {7, 4096}) {
            MemHost host(read_file(path));
            decode_in_order(host, refill, refill);
            EXPECT_TRUE(host.output == expected)
                << host.output.size() << " bytes against " << expected.size();
        }
    }
}

// One call: a refill when fewer than refill_size bytes are buffered, asking
// only for the room up to refill_size, then exactly one parse step.
TEST(MemDecodeCall, FirstCallReadsAndParsesOnce)
{
    MemHost host(read_file(media_path("mlp_s16_stereo.mlp")));
    MemDecodeRec *rec = host.open(8192, 4096);
    ASSERT_NE(rec, nullptr);
    // The parser's first step only finds the major sync at offset 0.
    EXPECT_EQ(mem_decode_audio(rec, 0), 0);
    EXPECT_EQ(host.reads, 1);
    EXPECT_EQ(host.pos, 4096u);
    EXPECT_EQ(rec->read_pos, rec->input_buffer);
    EXPECT_EQ(rec->pending, 4096u);

    // Every further step completes one access unit; a refill comes only
    // when the buffer has fallen below refill_size, and tops it up to it.
    EXPECT_EQ(mem_decode_audio(rec, 0), 160);
    EXPECT_EQ(host.reads, 1);
    const uint64_t after_one = rec->pending;
    EXPECT_LT(after_one, 4096u);
    EXPECT_EQ(mem_decode_audio(rec, 0), 160);
    EXPECT_EQ(host.reads, 2);
    EXPECT_EQ(host.pos, 4096u + (4096u - after_one));
    EXPECT_EQ(host.write_sizes.size(), 2u);
    mem_clean(&rec);
}

// A drain call refills while bytes stay buffered between parse steps, and
// ends as soon as the parser has consumed every buffered byte, even when the
// read function could deliver more: draining is for the end of the input.
TEST(MemDecodeCall, DrainReadsOnOnlyWhileBytesStayBuffered)
{
    const std::string path = media_path("mlp_s16_stereo.mlp");
    const std::vector<uint8_t> expected = ffmpeg_pcm(path, 0, "s16le");
    // Refills of several access units: the parser always leaves a partial
    // one behind, so the drain reads the whole rest of the file. Refills
    // smaller than an access unit: the parser takes every refill that does
    // not complete one whole, which empties the buffer within a few steps.
    for (int32_t refill : {4096, 16}) {
        SCOPED_TRACE(refill);
        MemHost host(read_file(path));
        MemDecodeRec *rec = host.open(refill, refill);
        ASSERT_NE(rec, nullptr);
        for (int i = 0; i < 50; i++)
            mem_decode_audio(rec, 0);
        ASSERT_FALSE(host.ended);
        const size_t before = host.output.size();
        const int32_t drained = mem_decode_audio(rec, 1);
        EXPECT_EQ((size_t)drained, host.output.size() - before);
        EXPECT_TRUE(std::equal(host.output.begin(), host.output.end(), expected.begin()));
        if (refill == 4096) {
            EXPECT_EQ(before, 49u * 160);
            EXPECT_TRUE(host.ended);
            EXPECT_EQ(host.output.size(), expected.size());
        } else {
            EXPECT_LT(host.reads, 70);
            EXPECT_FALSE(host.ended);
            EXPECT_LT(host.output.size(), expected.size());
        }
        mem_clean(&rec);
    }
}

// Frame writing, on frames made here (value v = s * channels + c, sample s
// of channel c, holds 16 * c + s in every byte): planar frames go out one
// sample value per call in sample-major order, planes past AVFrame.data's
// slots found through extended_data; packed frames in one call; a frame
// that disagrees with the context in channels or format is not read at all.
TEST(FrameWriting, PlanarSampleBySamplePackedInOneCall)
{
    struct Case {
        AVSampleFormat format, context_format;
        int channels, context_channels, nb_samples;
    };
    const Case cases[] = {{AV_SAMPLE_FMT_S32P, AV_SAMPLE_FMT_S32P, 3, 3, 5},
                          {AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_FLTP, 10, 10, 2},
                          {AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16, 2, 2, 40},
                          {AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16, 2, 6, 40},
                          {AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S32, 2, 2, 40}};
    for (const Case &c : cases) {
        SCOPED_TRACE(&c - cases);
        AVCodecContext *ctx = avcodec_alloc_context3(nullptr);
        AVFrame *frame = av_frame_alloc();
        ASSERT_TRUE(ctx && frame);
        ctx->sample_fmt = c.context_format;
        av_channel_layout_default(&ctx->ch_layout, c.context_channels);
        frame->format = c.format;
        av_channel_layout_default(&frame->ch_layout, c.channels);
        frame->nb_samples = c.nb_samples;
        ASSERT_EQ(av_frame_get_buffer(frame, 0), 0);
        const int bytes = av_get_bytes_per_sample(c.format), values = c.nb_samples * c.channels;
        const bool planar = av_sample_fmt_is_planar(c.format);
        std::vector<uint8_t> expected;
        for (int v = 0; v < values; v++) {
            const int ch = v % c.channels, s = v / c.channels;
            memset(planar ? frame->extended_data[ch] + s * bytes : frame->data[0] + v * bytes,
                   16 * ch + s, (size_t)bytes);
            expected.insert(expected.end(), (size_t)bytes, (uint8_t)(16 * ch + s));
        }

        MemHost host;
        MemDecodeRec rec{};
        rec.codec_context = ctx;
        rec.user = &host;
        rec.write_fn = MemHost::write;
        const bool agrees = c.format == c.context_format && c.channels == c.context_channels;
        const std::vector<int32_t> sizes = planar ? std::vector<int32_t>((size_t)values, bytes)
                                                  : std::vector<int32_t>{values * bytes};
        EXPECT_EQ(flatav::write_frame(&rec, frame), agrees ? values * bytes : 0);
        EXPECT_EQ(host.write_sizes, agrees ? sizes : std::vector<int32_t>{});
        EXPECT_TRUE(host.output == (agrees ? expected : std::vector<uint8_t>{}));
        av_frame_free(&frame);
        avcodec_free_context(&ctx);
    }
}

// The command-line host decodes through the same functions; a missing
// argument is a usage error (2), an unreadable input a failure (1).
struct InitCase {
    const char *name;
    int32_t codec_select;
    bool with_read, with_write;
    int32_t buffer_alloc, refill_size;
    const char *line;
};
void PrintTo(const InitCase &c, std::ostream *os) { *os << c.name; }

class MemInitRefused : public testing::TestWithParam<InitCase> {};

TEST_P(MemInitRefused, ReturnsNullWithItsLine)
{
    const InitCase &c = GetParam();
    MemHost host;
    MemDecodeRec *rec = nullptr;
    const std::string printed = stdout_of([&] {
        rec = mem_init(&host, c.with_read ? MemHost::read : nullptr,
                       c.with_write ? MemHost::write : nullptr, c.codec_select, c.buffer_alloc,
                       c.refill_size);
    });
    EXPECT_EQ(printed, c.line);
    EXPECT_EQ(rec, nullptr);
    EXPECT_EQ(host.reads, 0);
    mem_clean(&rec);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, MemInitRefused,
    testing::Values(
        // Only 1 has a meaning; id 1 would be a video codec.
        InitCase{"select_0", 0, true, true, 4096, 1024,
                 "mem_init(): codec_select=0 is not supported, only 1 (MLP)\n"},
        InitCase{"select_2", 2, true, true, 4096, 1024,
                 "mem_init(): codec_select=2 is not supported, only 1 (MLP)\n"},
        InitCase{"select_mlp_codec_id", 86045, true, true, 4096, 1024,
                 "mem_init(): codec_select=86045 is not supported, only 1 (MLP)\n"},
        InitCase{"select_negative", -1, true, true, 4096, 1024,
                 "mem_init(): codec_select=-1 is not supported, only 1 (MLP)\n"},
        InitCase{"no_read_fn", 1, false, true, 4096, 1024,
                 "mem_init(): read_fn and write_fn are both required\n"},
        InitCase{"no_write_fn", 1, true, false, 4096, 1024,
                 "mem_init(): read_fn and write_fn are both required\n"},
        InitCase{"refill_zero", 1, true, true, 4096, 0,
                 "mem_init(): refill_size=0 must be between 1 and buffer_alloc=4096\n"},
        InitCase{"refill_negative", 1, true, true, 4096, -4,
                 "mem_init(): refill_size=-4 must be between 1 and buffer_alloc=4096\n"},
        InitCase{"refill_above_alloc", 1, true, true, 1024, 1025,
                 "mem_init(): refill_size=1025 must be between 1 and buffer_alloc=1024\n"},
        InitCase{"alloc_negative", 1, true, true, -1, 16,
                 "mem_init(): refill_size=16 must be between 1 and buffer_alloc=-1\n"},
        // FFmpeg refuses allocations above INT_MAX bytes, padding included.
        InitCase{"alloc_too_large", 1, true, true, INT_MAX, 16,
                 "mem_init(): av_mallocz failed for an input buffer of 2147483647 bytes\n"}),
    testing::PrintToStringParamName());

// Allocation failures at every step of mem_init: a null result with its
// line, and nothing left allocated (the sanitizer build's leak checker sees
// the rest).
TEST(MemInitAllocation, FailuresReleaseEverything)
{
    MemHost host(read_file(media_path("mlp_s16_stereo.mlp")));
    int failures = 0, successes = 0;
    const std::string printed = stdout_of([&] {
        for (size_t limit = 32; limit <= (1 << 20); limit = limit * 9 / 8 + 1) {
            av_max_alloc(limit);
            MemDecodeRec *rec = host.open(2048, 1024);
            av_max_alloc(INT_MAX);
            if (!rec) {
                failures++;
                continue;
            }
            successes++;
            host.pos = 0;
            host.ended = false;
            EXPECT_GE(mem_decode_audio(rec, 0), 0);
            mem_clean(&rec);
        }
    });
    EXPECT_GT(failures, 0);
    EXPECT_GT(successes, 0);
    for (const char *line : {"mem_init(): av_mallocz failed for the record\n",
                             "mem_init(): av_mallocz failed for an input buffer of 2048 bytes\n",
                             "mem_init(): avcodec_alloc_context3 failed\n"})
        EXPECT_NE(printed.find(line), std::string::npos) << line;
}

TEST(MemDecodeArguments, NullAndCleanedHandles)
{
    EXPECT_EQ(mem_decode_audio(nullptr, 0), AVERROR(EINVAL));
    EXPECT_EQ(mem_decode_audio(nullptr, 1), AVERROR(EINVAL));
    mem_clean(nullptr);
    MemDecodeRec *rec = nullptr;
    mem_clean(&rec);
    MemHost host;
    rec = host.open(64, 64);
    ASSERT_NE(rec, nullptr);
    mem_clean(&rec);
    EXPECT_EQ(rec, nullptr);
    mem_clean(&rec);
    // A zero-filled record, as a failed creation leaves it.
    flatav::destroy_mem_decoder((MemDecodeRec *)av_mallocz(sizeof(MemDecodeRec)));
    flatav::destroy_mem_decoder(nullptr);
}

// Read functions that fail (0: nothing available yet, or a negative error).
// Failing now and then changes nothing: later calls read on and the stream
// decodes whole. Failing always: nothing is buffered, each call gives the
// parser no bytes and writes nothing.
TEST(MemDecodeRead, FailingReads)
{
    const std::string path = media_path("mlp_s32_stereo.mlp");
    const std::vector<uint8_t> expected = ffmpeg_pcm(path, 0, "s32le");
    for (int32_t code : {0, -1, -5, INT_MIN, FLATAV_ERROR_EOF}) {
        SCOPED_TRACE(code);
        MemHost host(read_file(path));
        host.chunk = 300;
        host.fail_every = 3;
        host.failure_code = code;
        decode_in_order(host, 4096, 512);
        EXPECT_GT(host.failed_reads, 0);
        EXPECT_TRUE(host.output == expected);

        MemHost never(read_file(path));
        never.fail_every = 1;
        never.failure_code = code;
        MemDecodeRec *rec = never.open(256, 128);
        ASSERT_NE(rec, nullptr);
        for (int i = 0; i < 5; i++)
            EXPECT_EQ(mem_decode_audio(rec, 0), 0);
        EXPECT_EQ(rec->pending, 0u);
        EXPECT_EQ(mem_decode_audio(rec, 1), 0);
        EXPECT_EQ(never.failed_reads, 6);
        EXPECT_TRUE(never.write_sizes.empty());
        mem_clean(&rec);
    }
}

// A read function that claims more bytes than it was allowed: the count is
// cut to the room it was given, so the buffer bookkeeping stays inside it.
TEST(MemDecodeRead, OverlongReadCountIsCut)
{
    const MemReadFn liar = [](void *, uint8_t *dst, int32_t max) {
        std::fill(dst, dst + max, 0);
        return max + 1000;
    };
    MemHost host;
    MemDecodeRec *rec = mem_init(&host, liar, MemHost::write, FLATAV_MEM_CODEC_MLP, 512, 512);
    ASSERT_NE(rec, nullptr);
    mem_decode_audio(rec, 0);
    EXPECT_LE(rec->pending, 512u);
    mem_clean(&rec);
}

// Streams that are no MLP, or MLP with damage, in reads of random length:
// each call returns a byte count that matches what was written, the drain
// ends, and the decoder finds its way back into a damaged stream.
TEST(MemDecodeGarbage, RandomAndDamagedStreams)
{
    std::mt19937 rng(99);
    const std::vector<uint8_t> real = read_file(media_path("mlp_s32_51.mlp"));
    ASSERT_FALSE(real.empty());
    std::vector<uint8_t> noise(200000);
    for (uint8_t &b : noise)
        b = (uint8_t)rng();
    // Noise and constant bytes hold nothing to decode.
    std::vector<std::vector<uint8_t>> inputs = {noise, std::vector<uint8_t>(50000, 0),
                                                std::vector<uint8_t>(50000, 0xff)};
    const size_t first_damaged = inputs.size();
    // Bytes overwritten here and there, whole stretches, noise between the
    // access units.
    for (int damage : {20, 400, 4000}) {
        inputs.push_back(real);
        for (int k = 0; k < damage; k++)
            inputs.back()[rng() % real.size()] = (uint8_t)rng();
    }
    inputs.push_back(real);
    for (size_t at = 1000; at + 700 < real.size(); at += 9000)
        std::fill_n(inputs.back().begin() + (long)at, 700, 0x5a);
    inputs.push_back(real);
    inputs.back().insert(inputs.back().begin() + 40000, noise.begin(), noise.begin() + 3000);

    for (size_t i = 0; i < inputs.size(); i++) {
        for (int32_t refill : {1, 61, 4096}) {
            SCOPED_TRACE("input " + std::to_string(i) + " refill " + std::to_string(refill));
            MemHost host(inputs[i]);
            host.chunk = 1 + (int32_t)(rng() % 5000);
            MemDecodeRec *rec = host.open(refill * 2, refill);
            ASSERT_NE(rec, nullptr);
            int64_t returned = 0;
            for (int guard = 0; guard < 2000000 && !host.ended; guard++)
                returned += std::max(mem_decode_audio(rec, 0), 0);
            ASSERT_TRUE(host.ended);
            const int32_t n = mem_decode_audio(rec, 1);
            ASSERT_GE(n, 0);
            EXPECT_EQ(returned + n, (int64_t)host.output.size());
            EXPECT_EQ(host.output.empty(), i < first_damaged);
            EXPECT_TRUE(std::all_of(host.write_sizes.begin(), host.write_sizes.end(),
                                    [](int32_t size) { return size > 0; }));
            mem_clean(&rec);
        }
    }
}

}  // namespace
