#include "pcm_sink.h"

namespace flatav_test {

int32_t PcmSink::write(void *user, const uint8_t *data, int32_t size)
{
    auto *sink = static_cast<PcmSink *>(user);
    sink->writes.emplace_back(data, data + size);
    // The library ignores the result.
    return -1;
}

std::vector<uint8_t> PcmSink::joined() const
{
    std::vector<uint8_t> all;
    for (const std::vector<uint8_t> &w : writes)
        all.insert(all.end(), w.begin(), w.end());
    return all;
}

}  // namespace flatav_test
