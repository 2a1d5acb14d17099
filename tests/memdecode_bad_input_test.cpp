// The memory-source decoder on bad input and bad arguments: refused
// creation with its printed line, allocation failures, random and damaged
// byte streams, read functions that only fail, clean-up of null and
// cleaned handles.
#include <climits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include "flatav.h"
#include "media.h"
#include "mem_host.h"
#include "memdecode/memdecode.h"

using namespace flatav_test;

namespace {

struct InitCase {
    const char *name;
    int32_t codec_select;
    bool with_read, with_write;
    int32_t buffer_alloc, refill_size;
    const char *line;
};

class MemInitRefused : public testing::TestWithParam<InitCase> {};

TEST_P(MemInitRefused, ReturnsNullWithItsLine)
{
    const InitCase &c = GetParam();
    SCOPED_TRACE(c.name);
    MemHost host;
    StdoutCapture out;
    MemDecodeRec *rec = mem_init(&host, c.with_read ? MemHost::read : nullptr,
                                 c.with_write ? MemHost::write : nullptr, c.codec_select,
                                 c.buffer_alloc, c.refill_size);
    const std::string printed = out.text();
    EXPECT_EQ(rec, nullptr);
    EXPECT_EQ(printed, c.line);
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
                 "mem_init(): av_mallocz failed for an input buffer of 2147483647 "
                 "bytes\n"}),
    [](const testing::TestParamInfo<InitCase> &info) { return info.param.name; });

// Allocation failures at every step of mem_init: a null result and nothing
// left allocated (the leak checker of the sanitizer build sees the rest).
TEST(MemInitAllocation, FailuresReleaseEverything)
{
    MemHost host(read_file(media_path("mlp_s16_stereo.mlp")));
    int failures = 0, successes = 0;
    StdoutCapture out;
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
    const std::string printed = out.text();
    EXPECT_GT(failures, 0);
    EXPECT_GT(successes, 0);
    EXPECT_NE(printed.find("mem_init(): av_mallocz failed for the record\n"), std::string::npos);
    EXPECT_NE(printed.find("mem_init(): av_mallocz failed for an input buffer of 2048 bytes\n"),
              std::string::npos);
    EXPECT_NE(printed.find("mem_init(): avcodec_alloc_context3 failed\n"), std::string::npos);
}

TEST(MemClean, NullAndCleanedHandles)
{
    mem_clean(nullptr);
    MemDecodeRec *rec = nullptr;
    mem_clean(&rec);
    MemHost host;
    rec = host.open(64, 64);
    ASSERT_NE(rec, nullptr);
    mem_clean(&rec);
    EXPECT_EQ(rec, nullptr);
    mem_clean(&rec);

    // A record with nothing in it, as a failed creation leaves it.
    flatav::destroy_mem_decoder((MemDecodeRec *)av_mallocz(sizeof(MemDecodeRec)));
    flatav::destroy_mem_decoder(nullptr);
}

TEST(MemDecodeArguments, NullHandle)
{
    EXPECT_EQ(mem_decode_audio(nullptr, 0), AVERROR(EINVAL));
    EXPECT_EQ(mem_decode_audio(nullptr, 1), AVERROR(EINVAL));
}

// A read function that never delivers: nothing is buffered, each call gives
// the parser no bytes and writes nothing.
TEST(MemDecodeRead, ReadFunctionThatOnlyFails)
{
    for (int32_t code : {0, -1, -5, INT_MIN, FLATAV_ERROR_EOF}) {
        SCOPED_TRACE(code);
        MemHost host;
        host.fail_every = 1;
        host.failure_code = code;
        MemDecodeRec *rec = host.open(256, 128);
        ASSERT_NE(rec, nullptr);
        for (int i = 0; i < 5; i++)
            EXPECT_EQ(mem_decode_audio(rec, 0), 0);
        EXPECT_EQ(rec->pending, 0u);
        EXPECT_EQ(mem_decode_audio(rec, 1), 0);
        EXPECT_EQ(host.failed_reads, 6);
        EXPECT_TRUE(host.write_sizes.empty());
        mem_clean(&rec);
    }
}

// A read function that claims more bytes than it was allowed: the count is
// cut to the room it was given, so the buffer bookkeeping stays inside it.
TEST(MemDecodeRead, OverlongReadCountIsCut)
{
    struct Liar {
        static int32_t read(void *, uint8_t *dst, int32_t max)
        {
            std::fill(dst, dst + max, 0);
            return max + 1000;
        }
    };
    MemHost host;
    MemDecodeRec *rec = mem_init(&host, Liar::read, MemHost::write, 1, 512, 512);
    ASSERT_NE(rec, nullptr);
    mem_decode_audio(rec, 0);
    EXPECT_LE(rec->pending, 512u);
    mem_clean(&rec);
}

// Streams that are no MLP, or MLP with damage: each call returns a byte
// count that matches what was written (or a parser code), the drain ends.
TEST(MemDecodeGarbage, RandomAndDamagedStreams)
{
    std::mt19937 rng(99);
    const std::vector<uint8_t> real = read_file(media_path("mlp_s32_51.mlp"));
    ASSERT_FALSE(real.empty());
    std::vector<std::vector<uint8_t>> inputs;
    std::vector<uint8_t> noise(200000);
    for (uint8_t &b : noise)
        b = (uint8_t)rng();
    inputs.push_back(noise);
    inputs.push_back(std::vector<uint8_t>(50000, 0));
    inputs.push_back(std::vector<uint8_t>(50000, 0xff));
    // Damaged copies: bytes overwritten here and there, or whole stretches.
    const size_t kFirstDamaged = inputs.size();
    for (int damage : {20, 400, 4000}) {
        std::vector<uint8_t> copy = real;
        for (int k = 0; k < damage; k++)
            copy[rng() % copy.size()] = (uint8_t)rng();
        inputs.push_back(copy);
    }
    std::vector<uint8_t> holes = real;
    for (size_t at = 1000; at + 700 < holes.size(); at += 9000)
        std::fill(holes.begin() + (long)at, holes.begin() + (long)at + 700, 0x5a);
    inputs.push_back(holes);
    // Noise between the access units of a real stream.
    std::vector<uint8_t> spliced = real;
    spliced.insert(spliced.begin() + 40000, noise.begin(), noise.begin() + 3000);
    inputs.push_back(spliced);

    for (size_t i = 0; i < inputs.size(); i++) {
        for (int32_t refill : {1, 61, 4096}) {
            SCOPED_TRACE("input " + std::to_string(i) + " refill " + std::to_string(refill));
            MemHost host(inputs[i]);
            host.chunk = 1 + (int32_t)(rng() % 5000);
            MemDecodeRec *rec = host.open(refill * 2, refill);
            ASSERT_NE(rec, nullptr);
            int64_t returned = 0;
            for (int guard = 0; guard < 2000000 && !host.ended; guard++) {
                const int32_t n = mem_decode_audio(rec, 0);
                if (n > 0)
                    returned += n;
            }
            ASSERT_TRUE(host.ended);
            const int32_t n = mem_decode_audio(rec, 1);
            ASSERT_GE(n, 0);
            returned += n;
            EXPECT_EQ(returned, (int64_t)host.output.size());
            // The decoder finds its way back into a damaged stream; noise
            // and constant bytes hold nothing to decode.
            if (i >= kFirstDamaged) {
                EXPECT_GT(host.output.size(), 0u);
            } else {
                EXPECT_EQ(host.output.size(), 0u);
            }
            for (int32_t size : host.write_sizes)
                ASSERT_GT(size, 0);
            mem_clean(&rec);
        }
    }
}

}  // namespace
