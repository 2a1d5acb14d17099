// The resampling and filtering loops the benchmarks compare: through
// flatav, and the same work written directly against libswresample and
// libavfilter. Input is a synthetic stereo signal made in memory and pushed
// in blocks of equal length, looping over ten seconds of it.
#pragma once

#include <cstdint>
#include <string>

struct ConvertResult {
    int64_t bytes = 0;  // PCM produced
    uint32_t checksum = 0;
    bool ok = false;
};

// A stream to convert: its length and how it is cut.
struct Stream {
    double seconds = 60;
    int block_frames = 1024;
    // Called after every block with the seconds pushed so far (may be null).
    void (*progress)(double seconds) = nullptr;
};

// Resampler cases: "up_44k_48k" (s16 stereo 44.1 -> 48 kHz), "s16_to_flt"
// (44.1 kHz stereo), "down_48k_44k_flt_s16" (flt 48 kHz -> s16 44.1 kHz).
ConvertResult resample_with_flatav(const std::string &name, const Stream &stream);
ConvertResult resample_directly(const std::string &name, const Stream &stream);

// Filter cases over s16 stereo 44.1 kHz: "volume", "highpass", "loudnorm".
ConvertResult filter_with_flatav(const std::string &name, const Stream &stream);
ConvertResult filter_directly(const std::string &name, const Stream &stream);
