#include "fuzz_host.h"

#include <cstdio>
#include <cstdlib>

extern "C" {
#include <libavutil/mem.h>
}

#include "flatav.h"

namespace flatav_fuzz {

void init_target()
{
    if (!std::freopen("/dev/null", "w", stdout))
        std::fprintf(stderr, "fuzz: standard output stays open\n");
    LogSettings settings{1, 1};
    ff_init(&settings);
    av_max_alloc(kMaxAlloc);
}

namespace {
constexpr uint8_t kPattern = 0xa5;
volatile uint32_t g_sink;
}

void GuardedBuffer::resize(size_t size)
{
    bytes_.assign(size + kGuard, 0);
    std::memset(bytes_.data() + size, kPattern, kGuard);
    size_ = size;
}

void GuardedBuffer::check(const char *what) const
{
    if (bytes_.empty())
        return;
    for (size_t i = size_; i < size_ + kGuard; i++) {
        if (bytes_[i] != kPattern) {
            std::fprintf(stderr, "fuzz: %s wrote past its %zu bytes (guard byte %zu)\n",
                         what, size_, i - size_);
            std::abort();
        }
    }
}

uint32_t touch(const uint8_t *data, int32_t size)
{
    uint32_t sum = 0;
    for (int32_t i = 0; i < size; i++)
        sum += data[i];
    g_sink = g_sink + sum;
    return sum;
}

}  // namespace flatav_fuzz
