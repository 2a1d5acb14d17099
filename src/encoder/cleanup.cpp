// ff_cleanup_encoder, and what an open puts into a record and how it goes
// again: start_open, release_output (after a failed open) and the clean-up
// at the end of the job. The stream-copy writer's records too.
extern "C" {
#include <libavutil/mem.h>
}

#include "common/report.h"
#include "encoder.h"

namespace flatav {

void start_open(EncodeRec *avrec)
{
    avrec->opened = 0;
    avrec->av_format_context = nullptr;
    avrec->io_buffer = nullptr;
}

void release_output(EncodeRec *avrec)
{
    AVFormatContext *fmt_ctx = avrec->av_format_context;
    AVIOContext *pb = fmt_ctx ? fmt_ctx->pb : nullptr;
    // Frees the streams too, but leaves the host's I/O context alone.
    avformat_free_context(fmt_ctx);
    avrec->av_format_context = nullptr;
    avrec->audio_st = nullptr;
    avrec->output_format = nullptr;
    if (pb) {
        // The I/O context may have replaced the buffer it was given, which
        // then is no longer io_buffer.
        av_freep(&pb->buffer);
        avio_context_free(&pb);
        avrec->io_buffer = nullptr;
    } else {
        av_freep(&avrec->io_buffer);
    }
    avcodec_free_context(&avrec->av_codec_context);
}

}  // namespace flatav

using namespace flatav;

extern "C" FLATAV_API void ff_cleanup_encoder(EncodeRec *avrec)
{
    constexpr const char *kName = "ff_cleanup_encoder";
    if (!avrec)
        return;
    report_message(avrec->callbacks, "%s begin", kName);
    // A record never opened, or whose open failed, holds nothing.
    if (!avrec->opened)
        return;

    // No trailer is written here: a host that skips the drain gets a
    // container without one. The released fields are cleared, so a second
    // clean-up finds nothing left to release.
    console_log("%s(): 01\n", kName);
    release_output(avrec);
    console_log("%s(): 02\n", kName);
    av_frame_free(&avrec->frame);
    report_message(avrec->callbacks, "%s end", kName);
}
