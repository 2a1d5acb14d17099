// A host for the resampler and filter graph tests: raw PCM through the
// ffmpeg tool as the reference, a write function that keeps what it is
// given, and the filter record most tests start from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "flatav.h"

namespace flatav_test {

// The ffmpeg tool's raw format name of a sample format's packed twin:
// "u8", "s16le", "s32le" or "f32le".
const char *raw_format(int sample_fmt);

// The ffmpeg tool's options that read path as raw packed PCM in in_format
// (an AVSampleFormat; a planar one names its packed twin).
std::string tool_raw_input(const std::string &path, int in_format, int rate, uint64_t layout);

// The ffmpeg tool's output, as packed raw PCM in out_format, for a packed raw
// input in in_format with `-af filters`.
std::vector<uint8_t> ffmpeg_raw(const std::string &input, int in_format, int rate, uint64_t layout,
                                const std::string &filters, int out_format);

// The user of PcmSink::write: every call's bytes.
struct PcmSink {
    std::vector<std::vector<uint8_t>> writes;

    static int32_t write(void *user, const uint8_t *data, int32_t size);
    // The calls joined; with planes > 1, each run of that many calls holds
    // the planes of one frame, interleaved here sample by sample (of bytes).
    std::vector<uint8_t> packed(int planes = 1, int bytes = 0) const;
};

// Stereo at 44.1 kHz in sample_fmt, not set up.
FilterRec stereo_filter(int32_t sample_fmt);

}  // namespace flatav_test
