// A test host for the encoder: an output in memory behind the write and seek
// functions (seekable or not), an EncodeRec opened on it, test signals in
// the sample formats hosts deliver, and checks of the result through the
// ffmpeg and ffprobe tools.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "flatav.h"
#include "test_host.h"

namespace flatav_test {

// The container's bytes as the host's write and seek functions receive them.
struct MemoryOutput {
    explicit MemoryOutput(bool seekable = true) : seekable(seekable) {}
    // Sets io_opaque, write_packet and seek (null when not seekable).
    void attach(EncodeRec &rec);

    static int32_t write(void *opaque, uint8_t *buf, int32_t size);
    static int64_t seek(void *opaque, int64_t offset, int32_t whence);

    std::vector<uint8_t> bytes;
    int64_t pos = 0;
    bool seekable;
    int writes = 0;
    int seeks = 0;
    // Writes fail with fail_code once this many bytes were taken (-1: never).
    int64_t fail_after = -1;
    int32_t fail_code = -5;
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
// amplitudes 0.5 and 0.4. Samples per channel, in one of the sample formats
// below.
enum class Pcm { s16, s32_24bit, flt, s16p, s32p_24bit, fltp };
struct Signal {
    Signal(Pcm format, int sample_rate, int64_t samples);
    int sample_fmt() const;   // AVSampleFormat value
    int bytes_per_sample() const;
    bool planar() const;
    // Interleaved bytes, or plane after plane for planar formats.
    const std::vector<uint8_t> &bytes() const { return data; }
    // The bytes of the interleaved equivalent in the ffmpeg tool's raw
    // format: what a lossless round trip must decode to.
    std::vector<uint8_t> interleaved() const;
    const char *raw_format() const;  // "s16le", "s32le" or "f32le"

    Pcm format;
    int sample_rate;
    int64_t samples;
    std::vector<uint8_t> data;
};

// An EncodeRec on a MemoryOutput, cleaned up with this object.
struct Output {
    Output(const char *file_name, const char *codec_name, int32_t codec_id,
           bool seekable = true);
    ~Output();
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;

    // Sets the format fields for signal (sample_fmt and requested_sample_fmt
    // both its format) and opens. Returns the open's text, null on success.
    const char *open(const Signal &signal, int channels = 2);
    // Encodes the whole signal in blocks of audio_input_buffer_size (or
    // any_length_block samples per channel when the encoder takes any
    // length), then drains. Returns false after a failed call; results get
    // every call's result.
    bool encode(const Signal &signal, int any_length_block = 1000);
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

// What ffprobe says about stream 0 of path: its duration in seconds (from
// the stream, else the container), -1 when it gives none.
double ffprobe_duration(const std::string &path);
// One field of ffprobe's -show_streams for stream 0 ("" when absent).
std::string ffprobe_stream_field(const std::string &path, const std::string &field);

// MD5 of the audio packets of path as the ffmpeg tool demuxes them.
std::string packet_md5(const std::string &path);

// Samples of interleaved f32le PCM, channel by channel.
std::vector<std::vector<float>> deinterleave_f32(const std::vector<uint8_t> &pcm,
                                                 int channels);
// The best normalised correlation of b against a over lags 0..max_lag of b
// behind a.
double best_correlation(const std::vector<float> &a, const std::vector<float> &b,
                        int max_lag);

}  // namespace flatav_test
