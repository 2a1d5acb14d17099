// ff_res_get_buffer, the output buffer kept in the record, and ff_alloc /
// ff_free, FFmpeg's allocator for the host.
#include <cstdint>

extern "C" {
#include <libavutil/mem.h>
}

#include "resample.h"

using namespace flatav;

extern "C" FLATAV_API int32_t ff_res_get_buffer(ResampleRec *rec, int32_t size)
{
    if (!rec)
        return -1;
    // The buffer never shrinks: a stream of equal blocks allocates once.
    if (rec->buffer_size >= size || size <= 0)
        return 0;
    void *grown = av_realloc(rec->buffer, static_cast<size_t>(size) + kBufferSlack);
    if (!grown) {
        // av_realloc kept the old block; the record gives it up so that the
        // next call starts afresh instead of leaking it.
        av_freep(&rec->buffer);
        rec->buffer_size = 0;
        return -1;
    }
    rec->buffer = static_cast<uint8_t *>(grown);
    rec->buffer_size = size;
    return 0;
}

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
