// A test host for the encoder: an output in memory behind the write and seek
// functions (seekable or not), an EncodeRec opened on it, a test signal in
// the sample formats hosts deliver.
#pragma once

#include <cctype>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/samplefmt.h>
}

#include "flatav.h"
#include "test_host.h"

namespace flatav_test {

// The container's bytes as the host's write and seek functions receive them.
struct MemoryOutput {
    explicit MemoryOutput(bool seekable = true) : seekable(seekable) {}
    // Sets io_opaque, write_packet and seek (null when not seekable).
    void attach(EncodeRec &rec);

    std::vector<uint8_t> bytes;
    int64_t pos = 0;
    bool seekable;
    // Writes fail with EIO (-5) once this many bytes were taken (-1: never).
    int64_t fail_after = -1;
};

// A file in the test's temporary directory, removed with this object.
struct ScratchFile {
    explicit ScratchFile(const std::string &name);
    ~ScratchFile();
    ScratchFile(const ScratchFile &) = delete;
    ScratchFile &operator=(const ScratchFile &) = delete;
    void write(const std::vector<uint8_t> &bytes) const;
    std::string path;
};

// Stereo test signal: a 440 Hz sine on the left, 660 Hz on the right, at
// amplitudes 0.5 and 0.4, in S16, S32 (24 significant bits, as 24-bit hosts
// deliver them) or FLT, packed or planar (plane after plane).
struct Signal {
    Signal(AVSampleFormat format, int sample_rate, int64_t samples);
    bool planar() const { return av_sample_fmt_is_planar(format); }
    int bytes_per_sample() const { return av_get_bytes_per_sample(format); }
    // The same samples interleaved: what a lossless round trip decodes to.
    std::vector<uint8_t> interleaved() const;

    AVSampleFormat format;
    int sample_rate;
    int64_t samples;
    std::vector<uint8_t> data;
};

// An EncodeRec on a MemoryOutput, cleaned up with this object.
struct Output {
    Output(const char *file_name, const char *codec_name, int32_t codec_id, bool seekable = true);
    ~Output();
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;

    // Sets the format fields for signal (requested_sample_fmt the signal's
    // unless given) and opens. Returns the open's text, null on success.
    const char *open(const Signal &signal, int channels = 2,
                     AVSampleFormat requested = AV_SAMPLE_FMT_NONE);
    // Encodes the whole signal in blocks of audio_input_frame_size (1000
    // samples when the encoder takes any length), then drains. Returns false
    // after a failed call; results get every call's result.
    bool encode(const Signal &signal);
    // The encoded bytes in a scratch file for the ffmpeg tools.
    const std::string &saved();

    std::string file_name;
    std::string codec_name;
    Recorder recorder;
    MemoryOutput out;
    EncodeRec rec{};
    std::vector<int32_t> results;
    std::unique_ptr<ScratchFile> file;
};

// A command's standard output as text; status gets its exit status.
std::string run_text(const std::string &command, int *status);

// Test names of a parameter table from each case's name field.
struct CaseName {
    template <typename Case> std::string operator()(const testing::TestParamInfo<Case> &info) const
    {
        std::string name = info.param.name;
        for (char &ch : name)
            if (!std::isalnum((unsigned char)ch))
                ch = '_';
        return name;
    }
};

}  // namespace flatav_test
