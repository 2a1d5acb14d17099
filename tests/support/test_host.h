// A reusable test host: callback tables that record what the library
// reports, a growable AudioBuffer, and custom-I/O sources over memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "flatav.h"

namespace flatav_test {

// Records every call of the HostCallbacks slots in order.
struct Recorder {
    Recorder();
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    HostCallbacks callbacks{};
    std::vector<std::string> errors;
    std::vector<std::string> messages;
    // Tags ("stream|key|value") and chapter tags ("chapter id|start|end|key|
    // value", times with 9 digits) in the order they arrived.
    std::vector<std::string> metadata;

    bool has_error_containing(const std::string &part) const;
};

// An AudioBuffer whose memory this object owns and grows on request. The
// AudioBuffer is the first member, so the growth callback finds its owner.
class HostBuffer {
public:
    // planes: number of plane buffers for planar output (0: packed only).
    explicit HostBuffer(int planes = 0, int32_t capacity = 0);
    HostBuffer(const HostBuffer &) = delete;
    HostBuffer &operator=(const HostBuffer &) = delete;

    AudioBuffer *get() { return &abuf_; }
    // The growth function to put into HostCallbacks.grow_buffer_cb.
    static void grow(void *always_null, AudioBuffer *abuf, int32_t need);

    const std::vector<int32_t> &grow_requests() const { return grow_requests_; }
    std::vector<uint8_t> packed(int32_t bytes) const;
    std::vector<uint8_t> plane(int index, int32_t bytes) const;

private:
    void resize(int32_t capacity);

    AudioBuffer abuf_{};  // first: grow() casts the AudioBuffer back
    std::vector<uint8_t> data_;
    std::vector<std::vector<uint8_t>> planes_;
    std::vector<uint8_t *> plane_ptrs_;
    std::vector<int32_t> grow_requests_;
};

// Custom-I/O source over bytes in memory. Its read returns 0 at the end, as
// many hosts' stream functions do (the library takes that for the end).
struct MemorySource {
    explicit MemorySource(std::vector<uint8_t> bytes, bool seekable = true);
    // Sets io_opaque, read_packet, seek (null when not seekable), is_url 0.
    void attach(DecodeRec &rec);

    static int32_t read(void *opaque, uint8_t *buf, int32_t size);
    static int64_t seek(void *opaque, int64_t offset, int32_t whence);

    std::vector<uint8_t> bytes;
    int64_t pos = 0;
    bool seekable;
    int32_t most = 0;  // bytes a read hands out at most (0: as many as asked)
};

// A DecodeRec opened on construction and cleaned up on destruction.
struct OpenedSource {
    // URL mode when memory is null; custom I/O through it otherwise.
    explicit OpenedSource(const std::string &path, MemorySource *memory = nullptr);
    ~OpenedSource();
    OpenedSource(const OpenedSource &) = delete;
    OpenedSource &operator=(const OpenedSource &) = delete;

    // Returns the error text of the open (null on success).
    const char *open();
    // The first audio stream whose status is "OK", or -1.
    int first_audio() const;

    std::string path;
    Recorder recorder;
    DecodeRec rec{};
};

}  // namespace flatav_test
