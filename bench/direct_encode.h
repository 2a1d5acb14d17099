// The two encoding loops the benchmarks compare: through flatav, and the
// same work written directly against FFmpeg. Both write the container to the
// same in-memory sink through custom I/O.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Stereo 16-bit PCM, interleaved and as two planes.
struct EncodeInput {
    std::vector<uint8_t> interleaved;
    std::vector<uint8_t> left, right;
    int64_t samples = 0;  // per channel
    int sample_rate = 44100;
};

// Reads raw s16le stereo PCM; samples is 0 when the file cannot be read.
EncodeInput load_pcm(const std::string &path);

enum class EncodeCodec { flac, mp3 };

struct EncodeResult {
    int64_t bytes = 0;  // bytes the container handed to the sink
    uint32_t checksum = 0;
    bool ok = false;
};

// FLAC (level 5) from the interleaved samples into a .flac container, or MP3
// (libmp3lame, 192 kb/s) from the planes into a .mp3 container.
EncodeResult encode_with_flatav(const EncodeInput &input, EncodeCodec codec);
EncodeResult encode_directly(const EncodeInput &input, EncodeCodec codec);
