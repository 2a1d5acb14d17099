// Seeking: after ff_seek4 the decoded samples are the ffmpeg tool's samples
// around the target, found in its full decode by their content.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include "flatav.h"
#include "media.h"
#include "test_host.h"

using namespace flatav_test;

namespace {

struct SeekCase {
    const char *file;
    const char *raw_format;
    int bytes_per_sample;
    // Decoders with memory (overlap, bit reservoir) need this many frames
    // after a jump before their output is the undisturbed stream's again.
    int settle_calls;
    // How far before the target a backward seek may land: one packet, or
    // the demuxer's granularity (Ogg pages, MPEG-TS PES packets).
    double max_lead_seconds;
};

void PrintTo(const SeekCase &c, std::ostream *os) { *os << c.file; }

// Sample index of block in reference, or -1.
int64_t find_block(const std::vector<uint8_t> &reference, const std::vector<uint8_t> &block,
                   int frame_bytes)
{
    auto at = std::search(reference.begin(), reference.end(), block.begin(), block.end());
    if (at == reference.end())
        return -1;
    const int64_t offset = at - reference.begin();
    return offset % frame_bytes == 0 ? offset / frame_bytes : -1;
}

class Seek : public testing::TestWithParam<SeekCase> {};

TEST_P(Seek, LandsNearTheTargetWithTheReferenceSamples)
{
    const SeekCase &c = GetParam();
    const std::string path = media_path(c.file);
    const std::vector<uint8_t> reference = ffmpeg_pcm(path, 0, c.raw_format);
    const int frame_bytes = c.bytes_per_sample * 2;

    OpenedSource src(path);
    src.rec.packed_output = 1;
    src.rec.seek_backward = 1;
    ASSERT_EQ(src.open(), nullptr);
    src.rec.audio_stream_index = 0;
    const int rate = src.rec.audio_info[0].sample_rate;
    HostBuffer buffer;

    for (double target : {2.5, 0.75, 1.9999999, 3.0}) {
        SCOPED_TRACE(target);
        src.rec.position = target;
        ASSERT_EQ(ff_seek4(&src.rec), 0);
        EXPECT_EQ(src.rec.position_base, target);
        EXPECT_EQ(src.rec.position_reset, 1);

        int32_t got = ff_decode_audio(&src.rec, nullptr, nullptr, buffer.get(), 0, nullptr);
        ASSERT_GT(got, 0);
        // The position counts from the target, not from where the seek landed.
        const int64_t first_samples = got / frame_bytes;
        EXPECT_EQ(src.rec.position_reset, 0);
        EXPECT_EQ(src.rec.sample_count, (uint64_t)first_samples);
        EXPECT_DOUBLE_EQ(src.rec.position, target + (double)first_samples / rate);

        int64_t since_seek = first_samples;
        for (int i = 0; i < c.settle_calls; i++) {
            got = ff_decode_audio(&src.rec, nullptr, nullptr, buffer.get(), 0, nullptr);
            ASSERT_GT(got, 0);
            since_seek += got / frame_bytes;
        }
        got = ff_decode_audio(&src.rec, nullptr, nullptr, buffer.get(), 0, nullptr);
        ASSERT_GT(got, 0);
        const int64_t found = find_block(reference, buffer.packed(got), frame_bytes);
        ASSERT_GE(found, 0) << "decoded block not in the reference";
        // Where the seek landed, in seconds of the reference.
        const double landed = (double)(found - since_seek) / rate;
        EXPECT_LE(landed, target + 1e-6);
        EXPECT_GE(landed, target - c.max_lead_seconds);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, Seek,
                         testing::Values(SeekCase{"sweep.flac", "s16le", 2, 0, 4608.0 / 44100},
                                         SeekCase{"sweep.wav", "s16le", 2, 0, 0.05},
                                         SeekCase{"sweep.mp3", "f32le", 4, 2, 0.1},
                                         SeekCase{"sweep.ogg", "f32le", 4, 2, 1.0},
                                         SeekCase{"sweep.m4a", "f32le", 4, 2, 0.1},
                                         // Its clock starts at 1.4 s: the target
                                         // counts from there. Seeks land on
                                         // PES packets of several frames.
                                         SeekCase{"sweep.ts", "f32le", 4, 2, 0.3}),
                         [](const testing::TestParamInfo<SeekCase> &info) {
                             std::string name = info.param.file;
                             std::replace(name.begin(), name.end(), '.', '_');
                             return name;
                         });

// Seeks sweep.flac to 1.25 s with the given fields and returns the sample
// where the decode resumed.
int64_t landing_sample(int stream_index, int seek_backward, int keep_seek_flags)
{
    const std::string path = media_path("sweep.flac");
    static const std::vector<uint8_t> reference = ffmpeg_pcm(path, 0, "s16le");
    OpenedSource src(path);
    EXPECT_EQ(src.open(), nullptr);
    src.rec.audio_stream_index = stream_index;
    src.rec.seek_backward = seek_backward;
    src.rec.keep_seek_flags = keep_seek_flags;
    src.rec.position = 1.25;
    EXPECT_EQ(ff_seek4(&src.rec), 0);
    src.rec.audio_stream_index = 0;
    HostBuffer buffer;
    const int32_t got = ff_decode_audio(&src.rec, nullptr, nullptr, buffer.get(), 0, nullptr);
    EXPECT_GT(got, 0);
    return find_block(reference, buffer.packed(got), 4);
}

TEST(SeekFlags, BackwardLandsBeforeForwardAfter)
{
    const int64_t target = (int64_t)(1.25 * 44100);
    // With the stream given, seek_backward chooses the direction.
    const int64_t backward = landing_sample(0, 1, 0);
    const int64_t forward = landing_sample(0, 0, 0);
    EXPECT_LE(backward, target);
    EXPECT_GE(forward, target);
    EXPECT_LT(backward, forward);
    // Without a stream the flags apply only with keep_seek_flags.
    EXPECT_EQ(landing_sample(-1, 1, 1), backward);
    EXPECT_EQ(landing_sample(-1, 1, 0), forward);
    EXPECT_EQ(landing_sample(-1, 0, 1), forward);
    EXPECT_EQ(landing_sample(-1, 0, 0), forward);
}

TEST(SeekErrors, UnopenedRecordsAndTargetsNoTimeStampHolds)
{
    DecodeRec rec{};
    rec.position = 1.0;
    EXPECT_EQ(ff_seek4(&rec), AVERROR(EINVAL));
    EXPECT_EQ(rec.position_reset, 0) << "left as it was";
    EXPECT_EQ(ff_seek4(nullptr), AVERROR(EINVAL));
    EXPECT_EQ(ff_context_pos(&rec, 5), FLATAV_CONTEXT_POS_NONE);
    EXPECT_EQ(ff_context_pos(nullptr, FLATAV_CONTEXT_POS_NONE), FLATAV_CONTEXT_POS_NONE);

    OpenedSource src(media_path("sweep.flac"));
    ASSERT_EQ(src.open(), nullptr);
    src.rec.audio_stream_index = 0;
    for (double target : {(double)NAN, (double)INFINITY, -(double)INFINITY, 1e300, -5.0}) {
        SCOPED_TRACE(target);
        src.rec.position = target;
        EXPECT_LE(ff_seek4(&src.rec), 0);
    }
    // The source still decodes after a seek back to the start.
    src.rec.position = 0;
    ASSERT_EQ(ff_seek4(&src.rec), 0);
    HostBuffer buffer;
    EXPECT_GT(ff_decode_audio(&src.rec, nullptr, nullptr, buffer.get(), 0, nullptr), 0);
}

TEST(ContextPosition, ReadsAndSetsTheInputPosition)
{
    MemorySource memory(read_file(media_path("sweep.flac")));
    OpenedSource src("sweep.flac", &memory);
    ASSERT_EQ(src.open(), nullptr);
    const int64_t pos = ff_context_pos(&src.rec, FLATAV_CONTEXT_POS_NONE);
    EXPECT_GT(pos, 0);
    EXPECT_EQ(ff_context_pos(&src.rec, FLATAV_CONTEXT_POS_NONE), pos) << "only reads";
    EXPECT_EQ(ff_context_pos(&src.rec, 1234), pos);
    EXPECT_EQ(ff_context_pos(&src.rec, FLATAV_CONTEXT_POS_NONE), 1234);
}

}  // namespace
