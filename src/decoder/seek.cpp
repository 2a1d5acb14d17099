// ff_seek4 and ff_context_pos: move an opened source to a time, and read or
// set the byte position of its I/O context.
#include <cinttypes>
#include <cmath>

#include "common/report.h"
#include "decoder.h"

namespace flatav {
namespace {

constexpr const char *kName = "do_seek";

// The target in microseconds, truncated toward zero. Values no int64 holds
// (or NaN) are clamped rather than converted, which would be undefined.
int64_t microseconds(double seconds)
{
    const double us = seconds * 1000000.0;
    if (std::isnan(us))
        return 0;
    if (us >= 9.2e18)
        return INT64_MAX / 2;
    if (us <= -9.2e18)
        return INT64_MIN / 2;
    return (int64_t)us;
}

int do_seek(DecodeRec *avrec)
{
    AVFormatContext *fmt_ctx = avrec->av_format_context;
    const int index = avrec->audio_stream_index;
    console_log("%s(): avrec->audio_stream_index=%d\n", kName, index);

    int64_t target = microseconds(avrec->position);
    if (fmt_ctx->start_time != AV_NOPTS_VALUE)
        target += fmt_ctx->start_time;
    avrec->position_base = avrec->position;
    avrec->position_reset = 1;
    const int flags = avrec->seek_backward ? AVSEEK_FLAG_BACKWARD : 0;

    int ret;
    if (index >= 0) {
        if (index >= (int)fmt_ctx->nb_streams)
            return AVERROR(EINVAL);
        AVRational tb{avrec->audio_info[index].time_base.num,
                      avrec->audio_info[index].time_base.den};
        // Only audio elements carry a time base; others take the stream's.
        if (tb.num <= 0 || tb.den <= 0)
            tb = fmt_ctx->streams[index]->time_base;
        const int64_t timestamp = av_rescale_q(target, AV_TIME_BASE_Q, tb);
        const int64_t start_time =
            fmt_ctx->start_time == AV_NOPTS_VALUE ? 0 : fmt_ctx->start_time;
        console_log("%s(): position=%f, seek_target=%" PRId64 ", timestamp=%" PRId64
                    ", start_time=%" PRId64 ",  den=%d, num=%d\n",
                    kName, avrec->position, target, timestamp, start_time, tb.den, tb.num);
        console_log("%s(): av_seek_frame by stream index %d\n", kName, index);
        ret = av_seek_frame(fmt_ctx, index, timestamp, flags);
    } else if (avrec->keep_seek_flags) {
        console_log("%s(): av_seek_frame by stream index %d\n", kName, index);
        ret = av_seek_frame(fmt_ctx, index, target, flags);
    } else {
        console_log("%s(): av_seek_frame by stream index %d\n", kName, -1);
        ret = av_seek_frame(fmt_ctx, -1, target, 0);
    }
    console_log("%s(): use_av_seek_frame=%d, ret=%d\n", kName, 1, ret);
    return ret > 0 ? 0 : ret;
}

}  // namespace
}  // namespace flatav

using namespace flatav;

// A record without an open source has nothing to seek: AVERROR(EINVAL), and
// the record is left as it was.
extern "C" FLATAV_API int32_t ff_seek4(DecodeRec *avrec)
{
    if (!avrec || !avrec->av_format_context || !avrec->audio_info)
        return AVERROR(EINVAL);
    return do_seek(avrec);
}

extern "C" FLATAV_API int64_t ff_context_pos(DecodeRec *avrec, int64_t new_pos)
{
    if (!avrec || !avrec->av_format_context || !avrec->av_format_context->pb)
        return FLATAV_CONTEXT_POS_NONE;
    AVIOContext *io = avrec->av_format_context->pb;
    const int64_t pos = io->pos;
    if (new_pos != FLATAV_CONTEXT_POS_NONE)
        io->pos = new_pos;
    return pos;
}
