// A host of the memory-source decoder: delivers a byte vector through a
// MemReadFn in chunks, with reads that fail on request, and collects what
// the PcmWriteFn receives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "console.h"
#include "flatav.h"

namespace flatav_test {

struct MemHost {
    std::vector<uint8_t> input;
    size_t pos = 0;
    int32_t chunk = INT32_MAX;  // at most this many bytes per read
    // Every nth read delivers nothing and returns failure_code instead
    // (0: never). failure_code 0 means "nothing available now".
    int fail_every = 0;
    int32_t failure_code = -5;

    int reads = 0;
    int32_t largest_request = 0;  // the largest max a read was given
    bool ended = false;           // a read found the input exhausted
    std::vector<uint8_t> output;

    MemHost() = default;
    explicit MemHost(std::vector<uint8_t> bytes) : input(std::move(bytes)) {}

    static int32_t read(void *user, uint8_t *dst, int32_t max);
    static int32_t write(void *user, const uint8_t *data, int32_t size);

    // mem_init with this host as the user value, MLP.
    MemDecodeRec *open(int32_t buffer_alloc, int32_t refill_size);
};

}  // namespace flatav_test
