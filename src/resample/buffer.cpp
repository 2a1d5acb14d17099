// ff_res_get_buffer and ff_cleanup_resample: the output buffer kept in the
// record, and the release of what the record holds.
#include <cstdint>

extern "C" {
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
}

#include "resample.h"

namespace flatav {

void release_converter(ResampleRec *rec) { swr_free(&rec->swr); }

}  // namespace flatav

using namespace flatav;

extern "C" FLATAV_API int32_t ff_res_get_buffer(ResampleRec *rec, int32_t size)
{
    if (!rec)
        return FLATAV_RES_BUFFER_FAILED;
    // The buffer never shrinks: a stream of equal blocks allocates once.
    if (rec->buffer_size >= size || size <= 0)
        return 0;
    void *grown = av_realloc(rec->buffer, static_cast<size_t>(size) + kBufferSlack);
    if (!grown) {
        // av_realloc kept the old block; the record gives it up so that the
        // next call starts afresh instead of leaking it.
        av_freep(&rec->buffer);
        rec->buffer_size = 0;
        return FLATAV_RES_BUFFER_FAILED;
    }
    rec->buffer = static_cast<uint8_t *>(grown);
    rec->buffer_size = size;
    return 0;
}

extern "C" FLATAV_API void ff_cleanup_resample(ResampleRec *rec)
{
    if (!rec)
        return;
    release_converter(rec);
    // With free_buffer 0 the buffer stays the host's, untouched.
    if (rec->free_buffer && rec->buffer) {
        av_freep(&rec->buffer);
        rec->free_buffer = 0;
        rec->buffer_size = 0;
    }
}
