#include "mem_host.h"

#include <algorithm>
#include <cstring>

namespace flatav_test {

int32_t MemHost::read(void *user, uint8_t *dst, int32_t max)
{
    auto *host = static_cast<MemHost *>(user);
    host->largest_request = std::max(host->largest_request, max);
    if (host->fail_every > 0 && ++host->reads % host->fail_every == 0)
        return host->failure_code;
    const size_t left = host->input.size() - host->pos;
    if (left == 0) {
        host->ended = true;
        return 0;
    }
    const size_t n = std::min({left, (size_t)max, (size_t)host->chunk});
    std::memcpy(dst, host->input.data() + host->pos, n);
    host->pos += n;
    return (int32_t)n;
}

int32_t MemHost::write(void *user, const uint8_t *data, int32_t size)
{
    auto *host = static_cast<MemHost *>(user);
    host->output.insert(host->output.end(), data, data + size);
    return size;
}

MemDecodeRec *MemHost::open(int32_t buffer_alloc, int32_t refill_size)
{
    return mem_init(this, read, write, FLATAV_MEM_CODEC_MLP, buffer_alloc, refill_size);
}

}  // namespace flatav_test
