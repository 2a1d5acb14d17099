// The ffmpeg tool run over raw PCM: the reference for the resampler and the
// filter graph.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace flatav_test {

// How a raw PCM stream is laid out, in the ffmpeg tool's words.
struct RawFormat {
    std::string format;  // raw format name: "s16le", "f32le", "s32le"
    int rate;            // Hz
    std::string layout;  // channel layout name: "stereo", "5.1", "mono"
};

// Runs the ffmpeg tool on a raw input file with `-af filters` (none when
// empty) and further output options, and returns the raw output in
// out_format.
std::vector<uint8_t> ffmpeg_raw(const std::string &input, const RawFormat &in,
                                const std::string &filters,
                                const std::string &out_format,
                                const std::string &output_options = "");

// Interleaves planar output (planes of `bytes` bytes per sample, written
// frame by frame: all planes of one frame, then the next frame) given as the
// sequence of write calls.
std::vector<uint8_t> interleave_planes(const std::vector<std::vector<uint8_t>> &writes,
                                       int channels, int bytes);

}  // namespace flatav_test
