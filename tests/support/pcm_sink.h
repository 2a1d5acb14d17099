// A host write function that keeps every call's bytes, for the filter graph
// tests and tools.
#pragma once

#include <cstdint>
#include <vector>

namespace flatav_test {

struct PcmSink {
    std::vector<std::vector<uint8_t>> writes;  // one element per call

    // The PcmWriteFn to pass with this sink as user.
    static int32_t write(void *user, const uint8_t *data, int32_t size);
    std::vector<uint8_t> joined() const;
};

}  // namespace flatav_test
