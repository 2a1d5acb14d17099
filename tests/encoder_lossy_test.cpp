// Lossy encoders through flatav: the ffprobe duration is within one frame of
// the input's and the decoded signal is still the input's sine. Planar input
// through plane pointers gives what the same samples give in one block.
#include <string>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/samplefmt.h>
}

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "encode_host.h"
#include "media.h"

using namespace flatav_test;

namespace {

struct LossyCase {
    const char *file_name;
    const char *codec_name;
    int32_t (*codec_id)();
    Pcm pcm;
    int sample_rate;
};

void PrintTo(const LossyCase &c, std::ostream *os) { *os << c.file_name; }

class Lossy : public testing::TestWithParam<LossyCase> {};

// Decoded by the ffmpeg tool, each channel still correlates with the input's
// sine (the encoder's delay allowed for).
void expect_signal_survives(const std::string &path, const Signal &signal)
{
    const Signal reference(Pcm::flt, signal.sample_rate, signal.samples);
    const auto in = deinterleave_f32(reference.bytes(), 2);
    const auto out = deinterleave_f32(ffmpeg_pcm(path, 0, "f32le"), 2);
    ASSERT_EQ(out.size(), 2u);
    for (int ch = 0; ch < 2; ch++) {
        SCOPED_TRACE("channel " + std::to_string(ch));
        EXPECT_GT(best_correlation(in[ch], out[ch], 2048), 0.95);
    }
}

TEST_P(Lossy, DurationWithinOneFrameAndTheSineSurvives)
{
    const LossyCase &c = GetParam();
    const int64_t samples = c.sample_rate * 3 + 777;
    const Signal signal(c.pcm, c.sample_rate, samples);
    Output output(c.file_name, c.codec_name, c.codec_id ? c.codec_id() : 0);
    output.rec.bit_rate = 128000;
    ASSERT_EQ(output.open(signal), nullptr) << testing::PrintToString(output.recorder.errors);
    const int frame = output.rec.audio_input_frame_size;
    ASSERT_GT(frame, 0);
    ASSERT_TRUE(output.encode(signal)) << testing::PrintToString(output.recorder.errors);
    EXPECT_TRUE(output.recorder.errors.empty());

    // An MP3 stream starts at the encoder's delay, which its LAME header
    // tells the decoder to skip; its duration counts from 0.
    const std::string &path = output.saved();
    const double start = std::atof(ffprobe_stream_field(path, "start_time").c_str());
    EXPECT_NEAR(ffprobe_duration(path) - start, (double)samples / c.sample_rate,
                (double)frame / c.sample_rate);
    expect_signal_survives(path, signal);

    // The ffmpeg tool with the same samples, encoder and settings.
    ScratchFile raw("input.raw");
    raw.write(signal.interleaved());
    ScratchFile reference(std::string("reference_") + c.file_name);
    int status = 0;
    run_capture("ffmpeg -nostdin -v error -y -f " + std::string(signal.raw_format()) +
                    " -ar " + std::to_string(c.sample_rate) + " -ac 2 -i " +
                    shell_quote(raw.path) + " -c:a " +
                    avcodec_find_encoder((AVCodecID)output.rec.av_codec_context->codec_id)->name +
                    " -b:a 128k -compression_level 0 -sample_fmt " +
                    av_get_sample_fmt_name((AVSampleFormat)output.rec.sample_fmt) + " " +
                    shell_quote(reference.path),
                &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(packet_md5(path), packet_md5(reference.path));
}

const LossyCase kLossy[] = {
    {"out.mp3", nullptr, ff_get_encoder_06, Pcm::s16p, 44100},
    {"out.m4a", "aac", nullptr, Pcm::fltp, 44100},
    {"out.opus", nullptr, ff_get_encoder_07, Pcm::s16, 48000},
    {"out.ogg", nullptr, ff_get_encoder_10, Pcm::fltp, 44100},
    {"out.ac3", nullptr, ff_get_encoder_02, Pcm::fltp, 48000},
    {"out.mp2", nullptr, ff_get_encoder_09, Pcm::s16, 44100},
};

INSTANTIATE_TEST_SUITE_P(Encoders, Lossy, testing::ValuesIn(kLossy),
                         [](const testing::TestParamInfo<LossyCase> &info) {
                             std::string name = info.param.file_name;
                             for (char &ch : name)
                                 if (!isalnum((unsigned char)ch))
                                     ch = '_';
                             return name;
                         });

}  // namespace
