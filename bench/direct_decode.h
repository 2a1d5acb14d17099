// The two decoding loops the benchmarks compare: through flatav, and the
// same work written directly against FFmpeg.
#pragma once

#include <cstdint>
#include <string>

struct DecodeResult {
    int64_t bytes = 0;   // packed PCM produced
    uint32_t checksum = 0;
    bool ok = false;
};

// Decodes the first audio stream of path to packed PCM through flatav.
DecodeResult decode_with_flatav(const std::string &path);

// The same through libavformat, libavcodec and libswresample directly.
DecodeResult decode_directly(const std::string &path);
