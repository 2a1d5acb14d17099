// ff_alloc and ff_free: FFmpeg's allocator for the host, for memory that
// the library may release or reallocate (ResampleRec.buffer).
#include <cstdint>

extern "C" {
#include <libavutil/mem.h>
}

#include "flatav.h"

extern "C" FLATAV_API void *ff_alloc(int32_t size)
{
    // A negative size widens to a size FFmpeg refuses, so the result is null.
    return av_malloc(static_cast<size_t>(static_cast<int64_t>(size)));
}

extern "C" FLATAV_API void ff_free(void *p)
{
    if (p)
        av_free(p);
}
