// Test inputs, and the ffmpeg and ffprobe tools as the independent reference.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "flatav.h"

namespace flatav_test {

// A generated input of the build tree's media directory.
std::string media_path(const std::string &name);

// The real-world corpus directory, or "" when it is absent.
std::string corpus_dir();

std::vector<uint8_t> read_file(const std::string &path);

// Runs a shell command and returns its standard output; exit_status gets
// its exit status.
std::vector<uint8_t> run_capture(const std::string &command, int *exit_status);

// Single-quotes a word for the shell.
std::string shell_quote(const std::string &word);

// What the ffmpeg tool decodes from stream stream_index of path, as raw PCM
// in format (an ffmpeg raw format name such as "s16le" or "f32le"). With
// errors, which gets how many packets it could not decode, the tool may
// fail (it gives up after too many); without, it must succeed.
std::vector<uint8_t> ffmpeg_pcm(const std::string &path, int stream_index,
                                const std::string &format, int *errors = nullptr);

// The packets of one stream as the ffmpeg tool demuxes and copies them
// (frame checksums), timestamps in the time base tb_num/tb_den it reports.
struct DemuxedPacket {
    int64_t pts, dts, duration;
    int size;
    std::string md5;
    bool operator==(const DemuxedPacket &o) const { return size == o.size && md5 == o.md5; }
};
struct DemuxedPackets {
    std::vector<DemuxedPacket> packets;
    int64_t tb_num = 1, tb_den = 1;
    double total_seconds() const;
};
// stream: an ffmpeg stream specifier such as "0" or "a:0".
DemuxedPackets demuxed_packets(const std::string &path, const std::string &stream);
// The checksum of bytes as demuxed_packets writes it.
std::string md5_hex(const uint8_t *data, int size);

// The packets of stream 0 as libavformat hands them to the ffmpeg tool (for
// a raw .mlp file: cut by FFmpeg's MLP parser), with a packet buffer
// decoder record of the stream's format. No packets when the file cannot be
// read.
struct BufferPackets {
    std::vector<std::vector<uint8_t>> packets;
    BufferDecodeRec rec{};
};
BufferPackets buffer_packets(const std::string &path);

// A JSON value as ffprobe writes it: numbers, strings and booleans keep
// their text; members keep their order. A missing member or element reads
// as null.
struct Json {
    enum Kind { null, scalar, array, object } kind = null;
    std::string text;
    std::vector<std::pair<std::string, Json>> items;  // array: empty keys

    const Json &operator[](const std::string &key) const;
    const Json &operator[](size_t index) const;
    size_t size() const { return items.size(); }
};
Json parse_json(const std::string &text);

// ffprobe -of json with the given options (such as "-show_entries ...") for
// path; status gets its exit status.
Json ffprobe_json(const std::string &path, const std::string &options, int *status);

}  // namespace flatav_test
