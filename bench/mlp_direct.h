// The two MLP decoding loops the MLP benchmarks compare: through flatav's
// memory-source decoder, and the same work written directly against
// FFmpeg's parser and decoder. Both read the stream from memory through the
// same read function, in refills of the same size, and hand every packed
// frame to the same sink.
#pragma once

#include <cstdint>
#include <vector>

struct MlpResult {
    int64_t bytes = 0;  // packed PCM produced
    uint32_t checksum = 0;
    bool ok = false;
};

// Refill target and input buffer of both loops.
constexpr int32_t kMlpRefillSize = 16384;
constexpr int32_t kMlpBufferAlloc = 32768;

MlpResult decode_mlp_with_flatav(const std::vector<uint8_t> &stream);
MlpResult decode_mlp_directly(const std::vector<uint8_t> &stream);
