// The memory-source decoder on MLP elementary streams: the PCM written
// through the host's write function equals the ffmpeg tool's decode of the
// same file, for several refill and buffer sizes and host call patterns;
// how one call reads, parses and writes; planar and packed frame writing;
// the flatav mlp command.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

#include "flatav.h"
#include "media.h"
#include "mem_host.h"
#include "memdecode/memdecode.h"

using namespace flatav_test;

namespace {

struct StreamFile {
    const char *name;
    const char *ffmpeg_format;
    int frame_bytes;  // one 40-sample access unit of packed PCM
};

const StreamFile kStreams[] = {
    {"mlp_s16_stereo.mlp", "s16le", 40 * 2 * 2},
    {"mlp_s32_stereo.mlp", "s32le", 40 * 2 * 4},
    {"mlp_s16_51.mlp", "s16le", 40 * 6 * 2},
    {"mlp_s32_51.mlp", "s32le", 40 * 6 * 4},
};

struct Sizes {
    int32_t refill_size;
    int32_t buffer_alloc;
};

// Smaller than one access unit (they are 60 to 500 bytes here), a few of
// them, and far more than a whole file; with and without spare room.
const Sizes kSizes[] = {{16, 16}, {100, 4096}, {1000, 1000}, {65536, 1 << 20}};

// What a call pattern saw.
struct CallLog {
    int calls_without_output = 0;  // drain-0 calls that wrote nothing
    int32_t tail_call = -1;        // the empty-parse call's result
    int32_t drain_call = -1;
    int64_t returned = 0;          // sum of all results
};

// The documented order: drain-0 calls while the input lasts, more of them
// until nothing is buffered, the call that gives the parser no bytes, then
// the drain call.
CallLog decode_in_order(MemDecodeRec *rec, MemHost &host)
{
    CallLog run;
    for (int guard = 0; guard < 1000000 && (!host.ended || rec->pending > 0); guard++) {
        const int32_t n = mem_decode_audio(rec, 0);
        EXPECT_GE(n, 0);
        if (n == 0)
            run.calls_without_output++;
        run.returned += n;
    }
    EXPECT_EQ(rec->pending, 0u);
    run.tail_call = mem_decode_audio(rec, 0);
    run.returned += run.tail_call;
    run.drain_call = mem_decode_audio(rec, 1);
    run.returned += run.drain_call;
    return run;
}

using StreamParam = std::tuple<StreamFile, Sizes>;

class MemDecode : public testing::TestWithParam<StreamParam> {};

TEST_P(MemDecode, OutputEqualsTheFfmpegTool)
{
    const StreamFile &file = std::get<0>(GetParam());
    const Sizes &sizes = std::get<1>(GetParam());
    SCOPED_TRACE(std::string(file.name) + " refill " + std::to_string(sizes.refill_size) +
                 " alloc " + std::to_string(sizes.buffer_alloc));
    const std::string path = media_path(file.name);
    const std::vector<uint8_t> expected = ffmpeg_pcm(path, 0, file.ffmpeg_format);
    ASSERT_FALSE(expected.empty());

    MemHost host(read_file(path));
    MemDecodeRec *rec = host.open(sizes.buffer_alloc, sizes.refill_size);
    ASSERT_NE(rec, nullptr);
    const CallLog run = decode_in_order(rec, host);
    mem_clean(&rec);
    EXPECT_EQ(rec, nullptr);

    EXPECT_TRUE(host.output == expected)
        << host.output.size() << " bytes against " << expected.size();
    EXPECT_EQ(run.returned, (int64_t)host.output.size());
    // MLP frames are packed: one write per access unit.
    EXPECT_EQ(host.write_sizes.size(), expected.size() / file.frame_bytes);
    for (int32_t size : host.write_sizes)
        ASSERT_EQ(size, file.frame_bytes);
    // FFmpeg's MLP parser hands out each access unit as soon as its last
    // byte has arrived, so the empty parse finds nothing left, and the MLP
    // decoder keeps no frames back for the drain.
    EXPECT_EQ(run.tail_call, 0);
    EXPECT_EQ(run.drain_call, 0);
    // A refill smaller than one access unit leaves calls that complete no
    // packet.
    if (sizes.refill_size < 60) {
        EXPECT_GT(run.calls_without_output, (int)host.write_sizes.size());
    }
}

// Once the input has ended, the drain call alone finishes the job: it
// parses whatever is still buffered and flushes the decoder.
TEST_P(MemDecode, DrainCallFinishesTheStream)
{
    const StreamFile &file = std::get<0>(GetParam());
    const Sizes &sizes = std::get<1>(GetParam());
    SCOPED_TRACE(file.name);
    const std::string path = media_path(file.name);
    const std::vector<uint8_t> expected = ffmpeg_pcm(path, 0, file.ffmpeg_format);

    MemHost host(read_file(path));
    MemDecodeRec *rec = host.open(sizes.buffer_alloc, sizes.refill_size);
    ASSERT_NE(rec, nullptr);
    int64_t returned = 0;
    for (int guard = 0; guard < 1000000 && !host.ended; guard++)
        returned += mem_decode_audio(rec, 0);
    returned += mem_decode_audio(rec, 1);
    EXPECT_EQ(rec->pending, 0u);
    EXPECT_EQ(returned, (int64_t)host.output.size());
    EXPECT_TRUE(host.output == expected)
        << host.output.size() << " bytes against " << expected.size();

    // The decoder has seen the end of the stream: later calls write nothing.
    const size_t written = host.output.size();
    EXPECT_EQ(mem_decode_audio(rec, 0), 0);
    EXPECT_EQ(mem_decode_audio(rec, 1), 0);
    EXPECT_EQ(host.output.size(), written);
    mem_clean(&rec);
}

INSTANTIATE_TEST_SUITE_P(Streams, MemDecode,
                         testing::Combine(testing::ValuesIn(kStreams),
                                          testing::ValuesIn(kSizes)),
                         [](const testing::TestParamInfo<StreamParam> &info) {
                             std::string name = std::get<0>(info.param).name;
                             name = name.substr(0, name.find('.'));
                             return name + "_refill" +
                                    std::to_string(std::get<1>(info.param).refill_size) +
                                    "_alloc" +
                                    std::to_string(std::get<1>(info.param).buffer_alloc);
                         });

// Reads that deliver nothing now and then (0: nothing available yet, or a
// negative error) change nothing: the stream still decodes whole.
TEST(MemDecodeRead, FailingReadsAreRetriedByLaterCalls)
{
    const std::string path = media_path("mlp_s32_stereo.mlp");
    const std::vector<uint8_t> expected = ffmpeg_pcm(path, 0, "s32le");
    for (int32_t code : {0, -5, FLATAV_ERROR_EOF}) {
        SCOPED_TRACE(code);
        MemHost host(read_file(path));
        host.chunk = 300;
        host.fail_every = 3;
        host.failure_code = code;
        MemDecodeRec *rec = host.open(4096, 512);
        ASSERT_NE(rec, nullptr);
        decode_in_order(rec, host);
        mem_clean(&rec);
        EXPECT_GT(host.failed_reads, 0);
        EXPECT_TRUE(host.output == expected);
    }
}

// One call: a refill when fewer than refill_size bytes are buffered, asking
// only for the room up to refill_size, then exactly one parse step.
TEST(MemDecodeCall, FirstCallReadsAndParsesOnce)
{
    MemHost host(read_file(media_path("mlp_s16_stereo.mlp")));
    MemDecodeRec *rec = host.open(8192, 4096);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->read_pos, nullptr);
    EXPECT_EQ(rec->pending, 0u);

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
    // one behind, so the drain reads the whole rest of the file.
    MemHost large(read_file(path));
    MemDecodeRec *rec = large.open(4096, 4096);
    ASSERT_NE(rec, nullptr);
    for (int i = 0; i < 50; i++)
        mem_decode_audio(rec, 0);
    ASSERT_FALSE(large.ended);
    EXPECT_EQ(mem_decode_audio(rec, 1), (int32_t)(expected.size() - 49 * 160));
    EXPECT_TRUE(large.ended);
    EXPECT_TRUE(large.output == expected);
    mem_clean(&rec);

    // Refills smaller than an access unit: the parser takes every refill
    // that does not complete one whole, which empties the buffer within a
    // few steps.
    MemHost small(read_file(path));
    rec = small.open(16, 16);
    ASSERT_NE(rec, nullptr);
    for (int i = 0; i < 50; i++)
        mem_decode_audio(rec, 0);
    const size_t before = small.output.size();
    const int32_t drained = mem_decode_audio(rec, 1);
    EXPECT_EQ((size_t)drained, small.output.size() - before);
    EXPECT_LT(small.reads, 70);
    EXPECT_FALSE(small.ended);
    EXPECT_LT(small.output.size(), expected.size());
    EXPECT_TRUE(std::equal(small.output.begin(), small.output.end(), expected.begin()));
    mem_clean(&rec);
}

// With nothing buffered and nothing to read, a call gives the parser no
// bytes and returns 0.
TEST(MemDecodeCall, EmptyInputWritesNothing)
{
    MemHost host;
    MemDecodeRec *rec = host.open(64, 64);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(mem_decode_audio(rec, 0), 0);
    EXPECT_EQ(mem_decode_audio(rec, 0), 0);
    EXPECT_EQ(mem_decode_audio(rec, 1), 0);
    EXPECT_TRUE(host.ended);
    EXPECT_TRUE(host.write_sizes.empty());
    mem_clean(&rec);
}

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
        for (int32_t refill : {7, 4096}) {
            MemHost host(read_file(path));
            MemDecodeRec *rec = host.open(refill, refill);
            ASSERT_NE(rec, nullptr);
            decode_in_order(rec, host);
            mem_clean(&rec);
            EXPECT_TRUE(host.output == expected)
                << host.output.size() << " bytes against " << expected.size();
        }
        if (std::string(name) == "fbb_6ch_single.mlp") {
            EXPECT_EQ(status, 0);
            EXPECT_EQ(expected.size(), 61440u);
        }
    }
}

// Frame writing, on frames made here: planar frames go out one sample value
// per call in sample-major order, packed frames in one call, and a frame
// that does not match the context is not read at all.
class FrameWriting : public testing::Test {
protected:
    void SetUp() override
    {
        ctx_ = avcodec_alloc_context3(nullptr);
        frame_ = av_frame_alloc();
        ASSERT_NE(ctx_, nullptr);
        ASSERT_NE(frame_, nullptr);
        rec_.codec_context = ctx_;
        rec_.user = &host_;
        rec_.write_fn = MemHost::write;
    }
    void TearDown() override
    {
        av_frame_free(&frame_);
        avcodec_free_context(&ctx_);
    }
    // A frame and a context of format, channels, nb_samples; sample s of
    // channel c holds the byte value 16 * c + s in every byte.
    void make(AVSampleFormat format, int channels, int nb_samples)
    {
        ctx_->sample_fmt = format;
        av_channel_layout_default(&ctx_->ch_layout, channels);
        frame_->format = format;
        av_channel_layout_default(&frame_->ch_layout, channels);
        frame_->nb_samples = nb_samples;
        ASSERT_EQ(av_frame_get_buffer(frame_, 0), 0);
        const int bytes = av_get_bytes_per_sample(format);
        const bool planar = av_sample_fmt_is_planar(format);
        for (int s = 0; s < nb_samples; s++)
            for (int c = 0; c < channels; c++) {
                uint8_t *at = planar ? frame_->extended_data[c] + s * bytes
                                     : frame_->data[0] + (s * channels + c) * bytes;
                std::memset(at, 16 * c + s, (size_t)bytes);
            }
    }

    AVCodecContext *ctx_ = nullptr;
    AVFrame *frame_ = nullptr;
    MemDecodeRec rec_{};
    MemHost host_;
};

TEST_F(FrameWriting, PlanarFrameOneCallPerSampleValue)
{
    make(AV_SAMPLE_FMT_S32P, 3, 5);
    EXPECT_EQ(flatav::write_frame(&rec_, frame_), 5 * 3 * 4);
    ASSERT_EQ(host_.write_sizes, std::vector<int32_t>(15, 4));
    for (int s = 0; s < 5; s++)
        for (int c = 0; c < 3; c++)
            EXPECT_EQ(host_.output[(size_t)(s * 3 + c) * 4], 16 * c + s);
}

TEST_F(FrameWriting, PlanarFrameOfManyChannels)
{
    // More channels than AVFrame.data has slots: the planes are found
    // through extended_data.
    make(AV_SAMPLE_FMT_FLTP, 10, 2);
    EXPECT_EQ(flatav::write_frame(&rec_, frame_), 2 * 10 * 4);
    ASSERT_EQ(host_.write_sizes.size(), 20u);
    EXPECT_EQ(host_.output[19 * 4], 16 * 9 + 1);
}

TEST_F(FrameWriting, PackedFrameInOneCall)
{
    make(AV_SAMPLE_FMT_S16, 2, 40);
    EXPECT_EQ(flatav::write_frame(&rec_, frame_), 160);
    EXPECT_EQ(host_.write_sizes, std::vector<int32_t>{160});
    EXPECT_EQ(0, std::memcmp(host_.output.data(), frame_->data[0], 160));
}

TEST_F(FrameWriting, FrameThatDisagreesWithTheContextIsSkipped)
{
    make(AV_SAMPLE_FMT_S16, 2, 40);
    av_channel_layout_uninit(&ctx_->ch_layout);
    av_channel_layout_default(&ctx_->ch_layout, 6);
    EXPECT_EQ(flatav::write_frame(&rec_, frame_), 0);
    av_channel_layout_uninit(&ctx_->ch_layout);
    av_channel_layout_default(&ctx_->ch_layout, 2);
    ctx_->sample_fmt = AV_SAMPLE_FMT_S32;
    EXPECT_EQ(flatav::write_frame(&rec_, frame_), 0);
    EXPECT_TRUE(host_.write_sizes.empty());
}

// The command-line host decodes through the same functions.
TEST(MlpCommand, WritesTheFfmpegToolsPcm)
{
    const std::string in = media_path("mlp_s32_51.mlp");
    const std::string out = testing::TempDir() + "flatav_mlp_command.raw";
    int status = -1;
    run_capture(shell_quote(FLATAV_TOOL_PATH) + " mlp " + shell_quote(in) + " " +
                    shell_quote(out),
                &status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(read_file(out) == ffmpeg_pcm(in, 0, "s32le"));
    std::remove(out.c_str());

    run_capture(shell_quote(FLATAV_TOOL_PATH) + " mlp " + shell_quote(in) + " 2>/dev/null",
                &status);
    EXPECT_EQ(status, 2);
    run_capture(shell_quote(FLATAV_TOOL_PATH) + " mlp /nonexistent.mlp " +
                    shell_quote(out) + " 2>/dev/null",
                &status);
    EXPECT_EQ(status, 1);
}

}  // namespace
