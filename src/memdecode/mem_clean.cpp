// mem_clean: destroys a memory-source decoder and clears the host's handle.
extern "C" {
#include <libavutil/mem.h>
}

#include "memdecode.h"

namespace flatav {

void destroy_mem_decoder(MemDecodeRec *rec)
{
    if (!rec)
        return;
    av_freep(&rec->input_buffer);
    avcodec_free_context(&rec->codec_context);
    av_parser_close(rec->parser);
    rec->parser = nullptr;
    av_frame_free(&rec->frame);
    // The packet only ever pointed into the input buffer or the parser's
    // buffer: it owns nothing.
    av_packet_free(&rec->packet);
    av_free(rec);
}

}  // namespace flatav

extern "C" FLATAV_API void mem_clean(MemDecodeRec **handle)
{
    if (!handle || !*handle)
        return;
    flatav::destroy_mem_decoder(*handle);
    *handle = nullptr;
}
