// Decoding to PCM, compared byte for byte with the ffmpeg tool's decode of
// the same stream.
#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/samplefmt.h>
}

#include "flatav.h"
#include "media.h"
#include "test_host.h"

using namespace flatav_test;

namespace {

enum class Io { url, memory };

struct DecodeCase {
    const char *file;
    int stream;
    const char *raw_format;  // the ffmpeg tool's name of the packed output
    int bytes_per_sample;
    // The demuxer trims the codec's start padding (Opus pre-skip, AAC
    // priming in MP4) on the first read from the start only, not after a
    // seek back to it: a second pass differs at its start there.
    bool seek_restarts = true;
};

void PrintTo(const DecodeCase &c, std::ostream *os) { *os << c.file << ":" << c.stream; }
void PrintTo(Io io, std::ostream *os)
{
    *os << (io == Io::url ? "url" : "memory");
}

std::string case_name(const DecodeCase &c)
{
    std::string name = c.file;
    for (char &ch : name)
        if (!isalnum((unsigned char)ch))
            ch = '_';
    return name;
}

// Opens a case's file by name (FFmpeg reads it) or through the host's
// read and seek functions.
struct CaseSource {
    CaseSource(const DecodeCase &c, Io io)
    {
        const std::string path = media_path(c.file);
        if (io == Io::memory)
            memory = std::make_unique<MemorySource>(read_file(path));
        src = std::make_unique<OpenedSource>(path, memory.get());
    }
    std::unique_ptr<MemorySource> memory;
    std::unique_ptr<OpenedSource> src;
};

// Every call's output appended, until the end of input.
std::vector<uint8_t> decode_all(DecodeRec &rec, AudioBuffer *abuf, uint8_t *buf,
                                int *calls = nullptr)
{
    std::vector<uint8_t> pcm;
    for (int n = 0;; n++) {
        int32_t got = ff_decode_audio(&rec, buf, nullptr, abuf, 0, nullptr);
        EXPECT_GE(got, 0);
        if (got <= 0) {
            EXPECT_EQ(rec.end_of_stream, 1);
            if (calls)
                *calls = n;
            return pcm;
        }
        const uint8_t *data = abuf ? abuf->data : buf;
        pcm.insert(pcm.end(), data, data + got);
    }
}

// All of the reference, what the decoder keeps back to the end included.
void expect_reference(const std::vector<uint8_t> &ours, const std::vector<uint8_t> &reference)
{
    ASSERT_FALSE(ours.empty());
    EXPECT_EQ(ours.size(), reference.size());
    EXPECT_TRUE(ours == reference) << "PCM differs from the ffmpeg tool's";
}

class Decode : public testing::TestWithParam<std::tuple<DecodeCase, Io>> {};

TEST_P(Decode, PackedOutputEqualsTheFfmpegTool)
{
    const auto &[c, io] = GetParam();
    CaseSource cs(c, io);
    DecodeRec &rec = cs.src->rec;
    rec.packed_output = 1;
    ASSERT_EQ(cs.src->open(), nullptr);
    rec.audio_stream_index = c.stream;

    HostBuffer buffer;
    const std::vector<uint8_t> ours = decode_all(rec, buffer.get(), nullptr);
    const std::vector<uint8_t> reference =
        ffmpeg_pcm(media_path(c.file), c.stream, c.raw_format);
    expect_reference(ours, reference);

    const AudioInfo &info = rec.audio_info[c.stream];
    const uint64_t samples = ours.size() / (c.bytes_per_sample * info.channels);
    EXPECT_EQ(rec.sample_count, samples);
    EXPECT_DOUBLE_EQ(rec.position, (double)samples / info.sample_rate);

    // Calls after the end keep returning 0 with end_of_stream set.
    EXPECT_EQ(ff_decode_audio(&rec, nullptr, nullptr, buffer.get(), 0, nullptr), 0);
    EXPECT_EQ(rec.end_of_stream, 1);
    EXPECT_EQ(rec.call_status, 0);

    // Back to the start after the end: the decoder resumes and gives the
    // same PCM again.
    rec.position = 0;
    rec.seek_backward = 1;
    ASSERT_EQ(ff_seek4(&rec), 0);
    const std::vector<uint8_t> again = decode_all(rec, buffer.get(), nullptr);
    if (c.seek_restarts)
        EXPECT_TRUE(again == ours) << "second pass: " << again.size() << " bytes";
    else
        EXPECT_NEAR((double)again.size(), (double)ours.size(), 0.01 * ours.size());
}

const DecodeCase kCases[] = {
    {"flac16.flac", 0, "s16le", 2},
    {"flac24.flac", 0, "s32le", 4},
    {"mp3.mp3", 0, "f32le", 4},
    {"vorbis.ogg", 0, "f32le", 4},
    {"opus.opus", 0, "f32le", 4, false},
    {"aac.m4a", 0, "f32le", 4, false},
    {"alac.m4a", 0, "s16le", 2},
    {"alac24.m4a", 0, "s32le", 4},
    {"wmav2.wma", 0, "f32le", 4},
    {"stereo_s16.wav", 0, "s16le", 2},
    {"stereo_s24.wav", 0, "s32le", 4},
    {"surround51.flac", 0, "s16le", 2},
    {"video_audio.mkv", 1, "s16le", 2},
};

INSTANTIATE_TEST_SUITE_P(
    Files, Decode,
    testing::Combine(testing::ValuesIn(kCases),
                     testing::Values(Io::url, Io::memory)),
    [](const testing::TestParamInfo<Decode::ParamType> &info) {
        const Io io = std::get<1>(info.param);
        return case_name(std::get<0>(info.param)) + (io == Io::url ? "_url" : "_memory");
    });

// Planar decoders: the same PCM plane by plane, into a buffer that starts
// empty and grows on request.
class PlanarDecode : public testing::TestWithParam<DecodeCase> {};

TEST_P(PlanarDecode, PlanesHoldTheSamePcm)
{
    const DecodeCase &c = GetParam();
    OpenedSource src(media_path(c.file));
    ASSERT_EQ(src.open(), nullptr);
    src.rec.audio_stream_index = c.stream;
    const int channels = src.rec.audio_info[c.stream].channels;

    HostBuffer buffer(channels);
    AudioBuffer *abuf = buffer.get();
    std::vector<std::vector<uint8_t>> planes(channels);
    size_t expected_requests = 0;
    for (;;) {
        const int32_t capacity_before = abuf->capacity;
        int32_t got = ff_decode_audio(&src.rec, nullptr, nullptr, abuf, 0, nullptr);
        ASSERT_GE(got, 0);
        if (got == 0)
            break;
        ASSERT_EQ(abuf->planar, 1);
        ASSERT_EQ(abuf->channels, channels);
        ASSERT_EQ(got % channels, 0);
        const int32_t per_plane = got / channels;
        // The buffer grows exactly when it holds less than a plane needs.
        if (capacity_before < per_plane) {
            ASSERT_EQ(buffer.grow_requests().size(), ++expected_requests);
            EXPECT_EQ(buffer.grow_requests().back(), per_plane);
        }
        for (int ch = 0; ch < channels; ch++) {
            const std::vector<uint8_t> p = buffer.plane(ch, per_plane);
            planes[ch].insert(planes[ch].end(), p.begin(), p.end());
        }
    }
    EXPECT_EQ(buffer.grow_requests().size(), expected_requests);
    EXPECT_GE(expected_requests, 1u);
    EXPECT_EQ(buffer.non_null_first_arguments(), 0);
    EXPECT_EQ(src.rec.swr_context, nullptr) << "no converter without packed output";

    std::vector<uint8_t> interleaved;
    const size_t samples = planes[0].size() / c.bytes_per_sample;
    for (size_t s = 0; s < samples; s++)
        for (int ch = 0; ch < channels; ch++)
            interleaved.insert(interleaved.end(),
                               planes[ch].begin() + s * c.bytes_per_sample,
                               planes[ch].begin() + (s + 1) * c.bytes_per_sample);
    expect_reference(interleaved,
                               ffmpeg_pcm(media_path(c.file), c.stream, c.raw_format));
}

INSTANTIATE_TEST_SUITE_P(
    Files, PlanarDecode,
    testing::Values(DecodeCase{"mp3.mp3", 0, "f32le", 4},
                    DecodeCase{"aac.m4a", 0, "f32le", 4},
                    DecodeCase{"vorbis.ogg", 0, "f32le", 4},
                    DecodeCase{"alac.m4a", 0, "s16le", 2},
                    DecodeCase{"alac24.m4a", 0, "s32le", 4},
                    DecodeCase{"wmav2.wma", 0, "f32le", 4}),
    [](const testing::TestParamInfo<DecodeCase> &info) { return case_name(info.param); });

TEST(DecodeInto, CallerBuffersWithoutAudioBuffer)
{
    // Packed into buf, all packets.
    OpenedSource packed(media_path("mp3.mp3"));
    packed.rec.packed_output = 1;
    ASSERT_EQ(packed.open(), nullptr);
    packed.rec.audio_stream_index = 0;
    std::vector<uint8_t> buf(1 << 16);
    expect_reference(decode_all(packed.rec, nullptr, buf.data()),
                               ffmpeg_pcm(media_path("mp3.mp3"), 0, "f32le"));

    // Plane by plane into planes: buf only has to be non-null.
    OpenedSource planar(media_path("aac.m4a"));
    ASSERT_EQ(planar.open(), nullptr);
    planar.rec.audio_stream_index = 0;
    std::vector<uint8_t> left(1 << 16), right(1 << 16);
    uint8_t *planes[2] = {left.data(), right.data()};
    uint8_t unused = 0;
    ASSERT_EQ(ff_decode_audio(&planar.rec, &unused, planes, nullptr, 0, nullptr), 2 * 1024 * 4);
    const std::vector<uint8_t> reference = ffmpeg_pcm(media_path("aac.m4a"), 0, "f32le");
    for (int s = 0; s < 1024; s++) {
        ASSERT_EQ(std::memcmp(&left[s * 4], &reference[s * 8], 4), 0) << s;
        ASSERT_EQ(std::memcmp(&right[s * 4], &reference[s * 8 + 4], 4), 0) << s;
    }
}

TEST(DecodeInto, FloatPlanarBecomesS32WhenTheHostDeclaresS32P)
{
    OpenedSource src(media_path("aac.m4a"));
    src.rec.packed_output = 1;
    src.rec.orig_sample_fmt = AV_SAMPLE_FMT_S32P;
    ASSERT_EQ(src.open(), nullptr);
    src.rec.audio_stream_index = 0;
    HostBuffer buffer;
    const std::vector<uint8_t> ours = decode_all(src.rec, buffer.get(), nullptr);
    expect_reference(ours, ffmpeg_pcm(media_path("aac.m4a"), 0, "s32le"));
}

TEST(DecodeInto, SelectedStreamOnlyIsCounted)
{
    OpenedSource src(media_path("video_audio.mkv"));
    ASSERT_EQ(src.open(), nullptr);
    src.rec.audio_stream_index = 1;
    HostBuffer buffer;
    int calls = 0;
    decode_all(src.rec, buffer.get(), nullptr, &calls);
    int status = 0;
    const std::vector<uint8_t> count = run_capture(
        "ffprobe -v error -select_streams 1 -count_packets -show_entries "
        "stream=nb_read_packets -of csv=p=0 " +
            shell_quote(media_path("video_audio.mkv")),
        &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(src.rec.packet_count, std::stoi(std::string(count.begin(), count.end())));
    EXPECT_EQ(src.rec.packet_count, calls) << "one FLAC packet, one frame";
    EXPECT_GT(src.rec.pkt_pos, 0);
}

}  // namespace
