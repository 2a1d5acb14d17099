// Lossless round trips: host PCM through flatav into a container, decoded
// again by the ffmpeg tool, gives back exactly the input; the container is
// valid for ffprobe with the right duration, and its packets are those the
// ffmpeg tool makes from the same samples with the same encoder settings.
#include <algorithm>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/samplefmt.h>
}

#include "encode_host.h"
#include "media.h"

using namespace flatav_test;

namespace {

struct LosslessCase {
    const char *file_name;
    const char *codec_name;  // null: the codec id chooses
    int32_t (*codec_id)();   // null: 0
    Pcm pcm;
    const char *tool_codec;  // the ffmpeg tool's encoder for the same output
};

void PrintTo(const LosslessCase &c, std::ostream *os) { *os << c.file_name; }

constexpr int kRate = 44100;
constexpr int64_t kSamples = kRate * 3 + 1234;  // not a whole number of frames

class Lossless : public testing::TestWithParam<LosslessCase> {};

TEST_P(Lossless, FfmpegDecodesTheInputExactly)
{
    const LosslessCase &c = GetParam();
    const Signal signal(c.pcm, kRate, kSamples);
    Output output(c.file_name, c.codec_name, c.codec_id ? c.codec_id() : 0);
    ASSERT_EQ(output.open(signal), nullptr) << testing::PrintToString(output.recorder.errors);
    ASSERT_TRUE(output.encode(signal)) << testing::PrintToString(output.recorder.errors);
    EXPECT_TRUE(output.recorder.errors.empty());
    EXPECT_EQ(output.rec.next_pts, kSamples);

    const std::string &path = output.saved();
    const std::vector<uint8_t> decoded = ffmpeg_pcm(path, 0, signal.raw_format());
    const std::vector<uint8_t> input = signal.interleaved();
    ASSERT_EQ(decoded.size(), input.size());
    EXPECT_TRUE(decoded == input) << "decoded samples differ from the input";
    EXPECT_NEAR(ffprobe_duration(path), (double)kSamples / kRate, 0.5 / kRate);

    // The ffmpeg tool, given the same samples, encoder and settings (the
    // record's compression level 0), makes the same packets.
    ScratchFile raw("input.raw");
    raw.write(input);
    ScratchFile reference(std::string("reference_") + c.file_name);
    int status = 0;
    run_capture("ffmpeg -nostdin -v error -y -f " + std::string(signal.raw_format()) +
                    " -ar 44100 -ac 2 -i " + shell_quote(raw.path) + " -c:a " +
                    c.tool_codec + " -compression_level 0 -sample_fmt " +
                    av_get_sample_fmt_name((AVSampleFormat)output.rec.sample_fmt) + " " +
                    shell_quote(reference.path),
                &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(packet_md5(path), packet_md5(reference.path));
}

const LosslessCase kLossless[] = {
    {"out.flac", nullptr, ff_get_encoder_03, Pcm::s16, "flac"},
    {"out24.flac", "flac", nullptr, Pcm::s32_24bit, "flac"},
    {"out.m4a", "alac", nullptr, Pcm::s16p, "alac"},
    {"out24.m4a", nullptr, ff_get_encoder_01, Pcm::s32p_24bit, "alac"},
    {"out.wv", "wavpack", nullptr, Pcm::s16p, "wavpack"},
    {"out.tta", "tta", nullptr, Pcm::s16, "tta"},
    {"out.wav", nullptr, ff_get_encoder_05, Pcm::s16, "pcm_s16le"},
    {"out24.wav", "pcm_s24le", nullptr, Pcm::s32_24bit, "pcm_s24le"},
};

INSTANTIATE_TEST_SUITE_P(Containers, Lossless, testing::ValuesIn(kLossless),
                         [](const testing::TestParamInfo<LosslessCase> &info) {
                             std::string name = info.param.file_name;
                             for (char &ch : name)
                                 if (!isalnum((unsigned char)ch))
                                     ch = '_';
                             return name;
                         });

}  // namespace

namespace {

uint32_t le32(const std::vector<uint8_t> &b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | (uint32_t)b[at + 3] << 24;
}

size_t find_tag(const std::vector<uint8_t> &b, const char *tag)
{
    const std::string bytes(b.begin(), b.end());
    return bytes.find(tag);
}

// Encodes a short signal into file_name, seekable or not.
struct SmallOutput : Output {
    SmallOutput(const char *file_name, const char *codec, Pcm pcm, bool seekable)
        : Output(file_name, codec, 0, seekable), signal(pcm, kRate, 10000)
    {
        EXPECT_EQ(open(signal), nullptr);
        EXPECT_TRUE(encode(signal));
    }
    Signal signal;
};

// Containers that go back to their header at the end do so through the
// host's seek; without one they keep what a stream can carry.
TEST(SeekableOutput, WavSizesAreFilledInOnlyWithASeek)
{
    SmallOutput seekable("out.wav", "pcm_s16le", Pcm::s16, true);
    const std::vector<uint8_t> &b = seekable.out.bytes;
    EXPECT_GT(seekable.out.seeks, 0);
    EXPECT_EQ(le32(b, 4), b.size() - 8);
    const size_t data = find_tag(b, "data");
    ASSERT_NE(data, std::string::npos);
    EXPECT_EQ(le32(b, data + 4), 10000u * 4);

    SmallOutput stream("out.wav", "pcm_s16le", Pcm::s16, false);
    EXPECT_EQ(stream.out.seeks, 0);
    EXPECT_EQ(le32(stream.out.bytes, 4), 0xffffffffu);
    EXPECT_EQ(le32(stream.out.bytes, find_tag(stream.out.bytes, "data") + 4), 0xffffffffu);
    // The ffmpeg tool still reads every sample of it.
    EXPECT_EQ(ffmpeg_pcm(stream.saved(), 0, "s16le"), stream.signal.bytes());
}

TEST(SeekableOutput, FlacStreamInfoCountsTheSamplesOnlyWithASeek)
{
    // STREAMINFO follows "fLaC" and its block header; the sample count is
    // the low 36 bits of its bytes 13 to 17.
    auto total_samples = [](const std::vector<uint8_t> &b) {
        return (uint64_t)(b[8 + 13] & 0x0f) << 32 | (uint64_t)b[8 + 14] << 24 |
               (uint64_t)b[8 + 15] << 16 | (uint64_t)b[8 + 16] << 8 | b[8 + 17];
    };
    SmallOutput seekable("out.flac", "flac", Pcm::s16, true);
    EXPECT_EQ(total_samples(seekable.out.bytes), 10000u);
    SmallOutput stream("out.flac", "flac", Pcm::s16, false);
    EXPECT_EQ(stream.out.seeks, 0);
    EXPECT_EQ(total_samples(stream.out.bytes), 0u);
}

TEST(SeekableOutput, Mp4IndexFollowsItsData)
{
    SmallOutput m4a("out.m4a", "alac", Pcm::s16p, true);
    const size_t mdat = find_tag(m4a.out.bytes, "mdat");
    const size_t moov = find_tag(m4a.out.bytes, "moov");
    ASSERT_NE(mdat, std::string::npos);
    ASSERT_NE(moov, std::string::npos);
    EXPECT_LT(mdat, moov);
    // The mdat box's size, filled in through a seek, reaches the index.
    EXPECT_EQ(mdat - 4 + (size_t)(m4a.out.bytes[mdat - 4] << 24 | m4a.out.bytes[mdat - 3] << 16 |
                                  m4a.out.bytes[mdat - 2] << 8 | m4a.out.bytes[mdat - 1]),
              moov - 4);
    EXPECT_EQ(ffmpeg_pcm(m4a.saved(), 0, "s16le"), m4a.signal.interleaved());
}

// The same samples as plane pointers, and as one block holding plane after
// plane (the layout avcodec_fill_audio_frame gives a planar format), make
// the same file.
TEST(PlanarInput, PlanesAndOneBlockMakeTheSameFile)
{
    const Signal signal(Pcm::fltp, kRate, kRate * 2);
    Output planes("out.m4a", "aac", 0);
    ASSERT_EQ(planes.open(signal), nullptr);
    ASSERT_EQ(planes.rec.planar, 1);
    ASSERT_TRUE(planes.encode(signal));

    Output block("out.m4a", "aac", 0);
    block.rec.sample_fmt = AV_SAMPLE_FMT_FLTP;
    block.rec.requested_sample_fmt = AV_SAMPLE_FMT_FLT;  // not planar: one block per call
    block.rec.channels = 2;
    block.rec.sample_rate = kRate;
    ASSERT_EQ(ff_open_encoder(&block.rec), nullptr);
    ASSERT_EQ(block.rec.planar, 0);
    const int frame = block.rec.audio_input_frame_size;
    std::vector<uint8_t> one(frame * 8);
    for (int64_t start = 0; start < signal.samples; start += frame) {
        const int64_t n = std::min<int64_t>(frame, signal.samples - start);
        std::memcpy(one.data(), signal.bytes().data() + start * 4, n * 4);
        std::memcpy(one.data() + n * 4, signal.bytes().data() + (signal.samples + start) * 4,
                    n * 4);
        ASSERT_GE(ff_encode_audio2(&block.rec, one.data(), nullptr, (int32_t)(n * 8)), 0);
    }
    ASSERT_EQ(ff_encode_audio2(&block.rec, nullptr, nullptr, 0), 0);
    EXPECT_TRUE(planes.out.bytes == block.out.bytes);
}

// Opus: the native encoder takes planar float through planes, libopus
// packed float in one block; both decode to the input's signal and to each
// other's.
TEST(PlanarInput, OpusPlanarAndPackedDecodeToTheSameSignal)
{
    const int rate = 48000;
    const Signal planar(Pcm::fltp, rate, rate * 2);
    const Signal packed(Pcm::flt, rate, rate * 2);
    Output native("native.opus", "opus", 0);
    native.rec.bit_rate = 128000;
    ASSERT_EQ(native.open(planar), nullptr);
    ASSERT_TRUE(native.encode(planar));
    Output lib("lib.opus", "libopus", 0);
    lib.rec.bit_rate = 128000;
    ASSERT_EQ(lib.open(packed), nullptr);
    ASSERT_TRUE(lib.encode(packed));

    const auto input = deinterleave_f32(packed.bytes(), 2);
    const auto a = deinterleave_f32(ffmpeg_pcm(native.saved(), 0, "f32le"), 2);
    const auto b = deinterleave_f32(ffmpeg_pcm(lib.saved(), 0, "f32le"), 2);
    for (int ch = 0; ch < 2; ch++) {
        SCOPED_TRACE("channel " + std::to_string(ch));
        EXPECT_GT(best_correlation(input[ch], a[ch], 1024), 0.95);
        EXPECT_GT(best_correlation(input[ch], b[ch], 1024), 0.95);
        EXPECT_GT(best_correlation(a[ch], b[ch], 1024), 0.95);
    }
}

}  // namespace
