// ff_cleanup_resample: releases the converter, and the output buffer when
// the host handed it to the library.
#include <cstdint>

extern "C" {
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
}

#include "resample.h"

extern "C" FLATAV_API void ff_cleanup_resample(ResampleRec *rec)
{
    if (!rec)
        return;
    swr_free(&rec->swr);
    // With free_buffer 0 the buffer stays the host's, untouched.
    if (rec->free_buffer && rec->buffer) {
        av_freep(&rec->buffer);
        rec->free_buffer = 0;
        rec->buffer_size = 0;
    }
}
