// Round trips: host PCM through flatav into a container, checked with the
// ffmpeg tools. Every encoder's packets are those the ffmpeg tool makes from
// the same samples with the same settings, and ffprobe finds the right
// duration; lossless output decodes to exactly the input, lossy output still
// carries the input's sine. Containers that go back to their header do so
// through the host's seek, and planar input gives what packed input gives.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "encode_host.h"
#include "media.h"

using namespace flatav_test;

namespace {

constexpr AVSampleFormat S16 = AV_SAMPLE_FMT_S16, S16P = AV_SAMPLE_FMT_S16P,
                         S32 = AV_SAMPLE_FMT_S32, S32P = AV_SAMPLE_FMT_S32P,
                         FLTP = AV_SAMPLE_FMT_FLTP;

// The ffmpeg tool encoding signal's samples: "ffmpeg ... -i RAW args".
void ffmpeg_encode(const Signal &signal, const std::string &args)
{
    ScratchFile raw("input.raw");
    raw.write(signal.interleaved());
    int status = 0;
    run_capture("ffmpeg -nostdin -v error -y -f " + std::string(signal.raw_format()) + " -ar " +
                    std::to_string(signal.sample_rate) + " -ac 2 -i " + shell_quote(raw.path) +
                    " " + args,
                &status);
    EXPECT_EQ(status, 0) << args;
}

// The audio packets of path as the ffmpeg tool demuxes them, one framecrc
// line each: "stream, dts, pts, duration, size, crc" (side data left out).
std::vector<std::string> packet_list(const std::string &path)
{
    int status = 0;
    std::istringstream in(run_text("ffmpeg -nostdin -v error -i " + shell_quote(path) +
                                       " -map 0:a:0 -c copy -f framecrc -",
                                   &status));
    EXPECT_EQ(status, 0) << path;
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#')
            lines.push_back(line.substr(0, line.find(", S=")));
    return lines;
}

// The two channels of stereo f32le PCM.
std::vector<std::vector<float>> channels(const std::vector<uint8_t> &pcm)
{
    std::vector<std::vector<float>> out(2, std::vector<float>(pcm.size() / 8));
    for (size_t i = 0; i < out[0].size() * 2; i++)
        std::memcpy(&out[i % 2][i / 2], pcm.data() + i * 4, 4);
    return out;
}

std::vector<std::vector<float>> decoded_channels(const std::string &path)
{
    return channels(ffmpeg_pcm(path, 0, "f32le"));
}

// The input's channels, to compare decoded output with.
std::vector<std::vector<float>> input_channels(const Signal &signal)
{
    return channels(Signal(AV_SAMPLE_FMT_FLT, signal.sample_rate, signal.samples).data);
}

// The best normalised correlation of b against a over lags -max_lag..max_lag:
// a window from the middle of a, slid over b around the same place.
double best_correlation(const std::vector<float> &a, const std::vector<float> &b, int max_lag)
{
    const size_t window = 8192;
    if (a.size() < window * 2 || b.size() < window * 2 + (size_t)max_lag)
        return 0;
    const size_t start = a.size() / 2 - window / 2;
    double best = 0;
    for (int lag = -max_lag; lag <= max_lag; lag++) {
        double ab = 0, aa = 0, bb = 0;
        for (size_t i = 0; i < window; i++) {
            const double x = a[start + i], y = b[start + i + lag];
            ab += x * y;
            aa += x * x;
            bb += y * y;
        }
        if (aa > 0 && bb > 0)
            best = std::max(best, ab / std::sqrt(aa * bb));
    }
    return best;
}

struct CodecCase {
    const char *name;        // the output file's name
    const char *codec_name;  // null: the codec id chooses
    int32_t (*codec_id)();   // null: 0
    AVSampleFormat format;
    int sample_rate;
    bool lossless;
    bool delay;  // the encoder keeps its first frame: its first call returns 0
    // The encoder puts bytes of uninitialised memory into its first packet
    // (valgrind shows it in the ffmpeg tool too): that one's CRC varies.
    bool first_crc_varies = false;
};

void PrintTo(const CodecCase &c, std::ostream *os) { *os << c.name; }

class RoundTrip : public testing::TestWithParam<CodecCase> {};

TEST_P(RoundTrip, AsTheFfmpegToolEncodesAndTheSignalSurvives)
{
    const CodecCase &c = GetParam();
    const int64_t samples = c.sample_rate * 3 + 777;  // not a whole number of frames
    const Signal signal(c.format, c.sample_rate, samples);
    Output output(c.name, c.codec_name, c.codec_id ? c.codec_id() : 0);
    output.rec.bit_rate = c.lossless ? 0 : 128000;
    ASSERT_EQ(output.open(signal), nullptr) << testing::PrintToString(output.recorder.errors);
    ASSERT_TRUE(output.encode(signal)) << testing::PrintToString(output.recorder.errors);
    EXPECT_TRUE(output.recorder.errors.empty());
    EXPECT_EQ(output.rec.next_pts, samples);
    const int frame = output.rec.audio_input_frame_size;

    const std::string &path = output.saved();
    if (c.lossless) {
        const std::vector<uint8_t> decoded = ffmpeg_pcm(path, 0, signal.raw_format());
        EXPECT_EQ(decoded.size(), signal.data.size());
        EXPECT_TRUE(decoded == signal.interleaved()) << "decoded samples differ from the input";
        EXPECT_NEAR(ffprobe_duration(path), (double)samples / c.sample_rate,
                    0.5 / c.sample_rate);
    } else {
        // An MP3 stream starts at the encoder's delay, which its LAME header
        // tells the decoder to skip; its duration counts from 0.
        ASSERT_GT(frame, 0);
        const double start = std::atof(ffprobe_stream_field(path, "start_time").c_str());
        EXPECT_NEAR(ffprobe_duration(path) - start, (double)samples / c.sample_rate,
                    (double)frame / c.sample_rate);
        // Each decoded channel still correlates with the input's sine, the
        // encoder's delay allowed for.
        const auto in = input_channels(signal), out = decoded_channels(path);
        for (int ch = 0; ch < 2; ch++)
            EXPECT_GT(best_correlation(in[ch], out[ch], 2048), 0.95) << "channel " << ch;
    }

    // The ffmpeg tool with the same samples, the encoder named (or the id's
    // default) and the record's settings (compression level 0) makes the
    // same packets, with the same timestamps. (Side data is left out: the
    // tool names itself in the stream's encoder tag, which Ogg hands on with
    // the first packet.)
    std::vector<std::string> ours = packet_list(path);
    ScratchFile reference(std::string("reference_") + c.name);
    const char *encoder =
        c.codec_name ? c.codec_name : avcodec_find_encoder((AVCodecID)c.codec_id())->name;
    ffmpeg_encode(signal, std::string("-c:a ") + encoder +
                              (c.lossless ? "" : " -b:a 128k") +
                              " -strict -2 -compression_level 0 -sample_fmt " +
                              av_get_sample_fmt_name((AVSampleFormat)output.rec.sample_fmt) +
                              " " + shell_quote(reference.path));
    std::vector<std::string> tool = packet_list(reference.path);
    if (c.first_crc_varies && !ours.empty() && !tool.empty()) {
        ours[0].erase(ours[0].rfind(','));
        tool[0].erase(tool[0].rfind(','));
    }
    EXPECT_EQ(ours, tool);

    // Each call wrote at most one packet and returned its size, in order; an
    // encoder with a delay leaves packets to the drain. (The demuxer of PCM
    // cuts its own packets.)
    EXPECT_EQ(output.results.front() == 0, c.delay);
    if (frame == 0)
        return;
    size_t packet = 0;
    for (size_t i = 0; i + 1 < output.results.size(); i++) {
        if (output.results[i] == 0)
            continue;
        ASSERT_LT(packet, ours.size());
        int size = -1;
        std::sscanf(ours[packet++].c_str(), "%*d, %*d, %*d, %*d, %d", &size);
        EXPECT_EQ(output.results[i], size) << "call " << i;
    }
    if (c.delay) {
        EXPECT_LT(packet, ours.size());
    }
}

const CodecCase kCodecs[] = {
    {"out.flac", nullptr, ff_get_encoder_03, S16, 44100, true, false},
    {"out24.flac", "flac", nullptr, S32, 44100, true, false},
    {"out.m4a", "alac", nullptr, S16P, 44100, true, false},
    {"out24.m4a", nullptr, ff_get_encoder_01, S32P, 44100, true, false},
    {"out.wv", "wavpack", nullptr, S16P, 44100, true, false},
    {"out.tta", "tta", nullptr, S16, 44100, true, false},
    {"out.wav", nullptr, ff_get_encoder_05, S16, 44100, true, false},
    {"out24.wav", "pcm_s24le", nullptr, S32, 44100, true, false},
    {"out.mp3", nullptr, ff_get_encoder_06, S16P, 44100, false, true},
    {"aac.m4a", "aac", nullptr, FLTP, 44100, false, true},
    // Opus in planar float through planes to the native encoder, and packed
    // to libopus: both decode to the input's sine.
    {"out.opus", nullptr, ff_get_encoder_07, AV_SAMPLE_FMT_FLT, 48000, false, false},
    {"native.opus", "opus", nullptr, FLTP, 48000, false, true, true},
    {"out.ogg", nullptr, ff_get_encoder_10, FLTP, 44100, false, true},
    {"out.ac3", nullptr, ff_get_encoder_02, FLTP, 48000, false, false},
    {"out.mp2", nullptr, ff_get_encoder_09, S16, 44100, false, false},
};

INSTANTIATE_TEST_SUITE_P(Codecs, RoundTrip, testing::ValuesIn(kCodecs), CaseName());

uint32_t le32(const std::vector<uint8_t> &b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | (uint32_t)b[at + 3] << 24;
}

size_t find_tag(const std::vector<uint8_t> &b, const char *tag)
{
    return std::string(b.begin(), b.end()).find(tag);
}

// A short signal encoded into file_name, seekable or not.
struct SmallOutput : Output {
    SmallOutput(const char *file_name, const char *codec, AVSampleFormat format, bool seekable)
        : Output(file_name, codec, 0, seekable), signal(format, 44100, 10000)
    {
        EXPECT_EQ(open(signal), nullptr);
        EXPECT_TRUE(encode(signal));
    }
    Signal signal;
};

// Containers that go back to their header at the end do so through the
// host's seek; without one they keep what a stream can carry, and the
// ffmpeg tool still reads every sample.
TEST(SeekableOutput, HeaderCountsAreFilledInOnlyWithASeek)
{
    // FLAC's STREAMINFO follows "fLaC" and its block header; the sample
    // count is the low 36 bits of its bytes 13 to 17.
    auto total_samples = [](const std::vector<uint8_t> &b) {
        return (uint64_t)(b[8 + 13] & 0x0f) << 32 | (uint64_t)b[8 + 14] << 24 |
               (uint64_t)b[8 + 15] << 16 | (uint64_t)b[8 + 16] << 8 | b[8 + 17];
    };
    for (bool seekable : {true, false}) {
        SCOPED_TRACE(seekable ? "seekable" : "not seekable");
        SmallOutput wav("out.wav", "pcm_s16le", S16, seekable);
        SmallOutput flac("out.flac", "flac", S16, seekable);
        const std::vector<uint8_t> &b = wav.out.bytes;
        const size_t data = find_tag(b, "data");
        ASSERT_NE(data, std::string::npos);
        // WAV's RIFF and data sizes; all ones when unknown.
        EXPECT_EQ(le32(b, 4), seekable ? b.size() - 8 : 0xffffffffu);
        EXPECT_EQ(le32(b, data + 4), seekable ? 10000u * 4 : 0xffffffffu);
        EXPECT_EQ(total_samples(flac.out.bytes), seekable ? 10000u : 0u);
        if (seekable) {
            EXPECT_GT(wav.out.seeks, 0);
        }
        EXPECT_EQ(ffmpeg_pcm(wav.saved(), 0, "s16le"), wav.signal.data);
        EXPECT_EQ(ffmpeg_pcm(flac.saved(), 0, "s16le"), flac.signal.data);
    }
}

TEST(SeekableOutput, Mp4IndexFollowsItsData)
{
    SmallOutput m4a("out.m4a", "alac", S16P, true);
    const std::vector<uint8_t> &b = m4a.out.bytes;
    const size_t mdat = find_tag(b, "mdat"), moov = find_tag(b, "moov");
    ASSERT_NE(mdat, std::string::npos);
    ASSERT_NE(moov, std::string::npos);
    EXPECT_LT(mdat, moov);
    // The mdat box's size, filled in through a seek, reaches the index.
    const size_t mdat_size = b[mdat - 4] << 24 | b[mdat - 3] << 16 | b[mdat - 2] << 8 | b[mdat - 1];
    EXPECT_EQ(mdat - 4 + mdat_size, moov - 4);
    EXPECT_EQ(ffmpeg_pcm(m4a.saved(), 0, "s16le"), m4a.signal.interleaved());
}

// The same samples as plane pointers, and as one block holding plane after
// plane (the layout avcodec_fill_audio_frame gives a planar format), make
// the same file.
TEST(PlanarInput, PlanesAndOneBlockMakeTheSameFile)
{
    const Signal signal(FLTP, 44100, 44100 * 2);
    Output planes("out.m4a", "aac", 0);
    ASSERT_EQ(planes.open(signal), nullptr);
    ASSERT_EQ(planes.rec.planar, 1);
    ASSERT_TRUE(planes.encode(signal));

    Output block("out.m4a", "aac", 0);
    // A packed host format: one block per call.
    ASSERT_EQ(block.open(signal, 2, AV_SAMPLE_FMT_FLT), nullptr);
    ASSERT_EQ(block.rec.planar, 0);
    const int frame = block.rec.audio_input_frame_size;
    std::vector<uint8_t> one(frame * 8);
    for (int64_t start = 0; start < signal.samples; start += frame) {
        const int64_t n = std::min<int64_t>(frame, signal.samples - start);
        std::memcpy(one.data(), signal.data.data() + start * 4, n * 4);
        std::memcpy(one.data() + n * 4, signal.data.data() + (signal.samples + start) * 4, n * 4);
        ASSERT_GE(ff_encode_audio2(&block.rec, one.data(), nullptr, (int32_t)(n * 8)), 0);
    }
    ASSERT_EQ(ff_encode_audio2(&block.rec, nullptr, nullptr, 0), 0);
    EXPECT_TRUE(planes.out.bytes == block.out.bytes);
}

}  // namespace
