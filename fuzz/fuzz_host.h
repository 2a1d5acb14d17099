// Pieces every fuzz target shares: a quiet library, a reader that takes the
// target's option bytes from the front of the input (the rest is the
// target's stream), and guarded buffers that show a write past their end
// even when the writer is FFmpeg's own, uninstrumented code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace flatav_fuzz {

// Largest single allocation FFmpeg may make in a target: what a fuzzed
// header asks for beyond it fails cleanly (ENOMEM) instead of tripping the
// fuzzer's memory limit, so the library's failure paths get exercised too.
constexpr size_t kMaxAlloc = 64u << 20;

// Silences the library's and FFmpeg's output and caps FFmpeg's allocations.
// The in-memory decoders and the filter print their trace lines to standard
// output unconditionally: it goes to /dev/null, so that neither the
// fuzzer's speed nor its log suffers.
void init_target();

// Reads option values from the front of the input; past the end every value
// is 0. rest() gives what the options left over.
class Reader {
public:
    Reader(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    uint8_t u8() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t u16()
    {
        const uint16_t lo = u8();
        return (uint16_t)(lo | (u8() << 8));
    }
    uint32_t u32()
    {
        const uint32_t lo = u16();
        return lo | ((uint32_t)u16() << 16);
    }
    uint64_t u64()
    {
        const uint64_t lo = u32();
        return lo | ((uint64_t)u32() << 32);
    }
    // Up to max bytes, ended early by a zero byte (which is consumed).
    std::string text(size_t max)
    {
        std::string s;
        while (pos_ < size_ && s.size() < max) {
            const char c = (char)data_[pos_++];
            if (c == '\0')
                break;
            s += c;
        }
        return s;
    }
    // Up to n bytes; *got receives how many there were.
    const uint8_t *take(size_t n, size_t *got)
    {
        const size_t left = size_ - pos_;
        *got = n < left ? n : left;
        const uint8_t *p = data_ + pos_;
        pos_ += *got;
        return p;
    }
    size_t left() const { return size_ - pos_; }
    const uint8_t *rest() const { return data_ + pos_; }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

// Heap bytes followed by a guard pattern: check() aborts when anything
// wrote into the guard. ASan sees writes of instrumented code and of the
// C library; libswresample's and the decoders' own loops it does not.
class GuardedBuffer {
public:
    static constexpr size_t kGuard = 64;

    void resize(size_t size);
    uint8_t *data() { return bytes_.data(); }
    size_t size() const { return size_; }
    void check(const char *what) const;

private:
    std::vector<uint8_t> bytes_;
    size_t size_ = 0;
};

// Reads every byte handed to a host write function, so that ASan checks the
// whole range the library claims is valid; the sum keeps the reads alive.
uint32_t touch(const uint8_t *data, int32_t size);

}  // namespace flatav_fuzz
