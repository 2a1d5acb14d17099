// ff_init_resample and ff_set_matrix: configure the libswresample context of
// a record, with an optional remix matrix.
#include <cstring>

#include <cstdint>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/common.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include "common/ffmpeg_util.h"
#include "common/report.h"
#include "resample.h"

namespace flatav {
namespace {

constexpr const char *kName = "ff_init_resample";

// libswresample 4 checks a format only against the top of the range:
// swr_init accepts AV_SAMPLE_FMT_NONE (or any negative value) as the output
// format when both rates are equal, and swr_convert then divides by its zero
// bytes per sample. Every value it would be handed must name a format.
bool is_sample_format(int32_t format)
{
    return sample_format(format) != AV_SAMPLE_FMT_NONE;
}

// Whether libswresample would stay inside the host's blocks: it is handed
// one pointer each way, so a planar format must carry one channel, and the
// mask must name as many channels as the size arithmetic counts with.
bool fits_one_plane(int32_t format, uint64_t mask, int32_t channels)
{
    if (mask != 0 && av_popcount64(mask) != channels)
        return false;
    return channels <= 1 || !av_sample_fmt_is_planar(static_cast<AVSampleFormat>(format));
}

// A channel count beside the layout: libswresample would read (or write)
// that many channels per sample, while the sizes of the host's blocks count
// in_channels (out_channels). Only the same count keeps the two in step.
bool count_agrees(int32_t count, int32_t channels)
{
    return count == 0 || count == channels;
}

// The host's channel count under libswresample's own option name. FFmpeg 7
// has no such option any more; the layout set from the same count already
// says it there.
void set_channel_count(SwrContext *swr, const char *option, int32_t count)
{
    if (count != 0 && av_opt_find(swr, option, nullptr, 0, 0))
        av_opt_set_int(swr, option, count, 0);
}

// The converter's layout for a channel mask. A zero mask names no channels,
// so the count the host gave for its size arithmetic picks FFmpeg's default
// layout instead.
void set_layout(SwrContext *swr, const char *option, uint64_t mask, int32_t channels)
{
    AVChannelLayout layout{};
    if (mask == 0 || av_channel_layout_from_mask(&layout, mask) < 0)
        av_channel_layout_default(&layout, channels);
    av_opt_set_chlayout(swr, option, &layout, 0);
    av_channel_layout_uninit(&layout);
}

// The host's options, in the order libswresample is meant to see them. The
// results are not checked: a refused value shows up at swr_init.
void set_options(ResampleRec *rec)
{
    SwrContext *swr = rec->swr;
    if (rec->resampler_name[0] != '\0') {
        // The field need not end in a zero when the host filled all of it.
        char name[sizeof rec->resampler_name + 1];
        std::memcpy(name, rec->resampler_name, sizeof rec->resampler_name);
        name[sizeof rec->resampler_name] = '\0';
        av_opt_set(swr, "resampler", name, 0);
    }
    console_log("%s(): input_sample_format=%s, output_sample_format=%s\n", kName,
                sample_format_name(rec->in_sample_fmt),
                sample_format_name(rec->out_sample_fmt));
    set_channel_count(swr, "in_channel_count", rec->user_in_ch_count);
    set_channel_count(swr, "out_channel_count", rec->user_out_ch_count);

    set_layout(swr, "in_chlayout", rec->in_channel_layout, rec->in_channels);
    av_opt_set_int(swr, "in_sample_rate", rec->in_sample_rate, 0);
    av_opt_set_sample_fmt(swr, "in_sample_fmt",
                          static_cast<AVSampleFormat>(rec->in_sample_fmt), 0);
    set_layout(swr, "out_chlayout", rec->out_channel_layout, rec->out_channels);
    av_opt_set_int(swr, "out_sample_rate", rec->out_sample_rate, 0);
    av_opt_set_sample_fmt(swr, "out_sample_fmt",
                          static_cast<AVSampleFormat>(rec->out_sample_fmt), 0);

    // A NaN is not 0.0 either and goes to libswresample as it is.
    if (rec->precision != 0.0)
        av_opt_set_double(swr, "precision", rec->precision, 0);
    if (rec->dither_method != 0)
        av_opt_set_int(swr, "dither_method", rec->dither_method, 0);
}

}  // namespace
}  // namespace flatav

using namespace flatav;

extern "C" FLATAV_API int32_t ff_init_resample(ResampleRec *rec, const double *matrix,
                                               int32_t stride)
{
    if (!rec)
        return AVERROR(EINVAL);
    // Already set up, or left allocated by a refused matrix: the host calls
    // ff_cleanup_resample before it initialises again.
    if (rec->swr)
        return 0;
    if (!is_sample_format(rec->in_sample_fmt) || !is_sample_format(rec->out_sample_fmt))
        return AVERROR(EINVAL);
    if (!fits_one_plane(rec->in_sample_fmt, rec->in_channel_layout, rec->in_channels) ||
        !fits_one_plane(rec->out_sample_fmt, rec->out_channel_layout, rec->out_channels) ||
        !count_agrees(rec->user_in_ch_count, rec->in_channels) ||
        !count_agrees(rec->user_out_ch_count, rec->out_channels))
        return AVERROR(EINVAL);
    rec->swr = swr_alloc();
    if (!rec->swr)
        return AVERROR(ENOMEM);
    set_options(rec);

    if (matrix && stride != 0) {
        const int r = swr_set_matrix(rec->swr, matrix, stride);
        if (r != 0) {
            report_error(rec->callbacks, "%s swr_set_matrix failed %d", kName, r);
            return r;
        }
    }

    // A refused converter leaves the record as it was, ready for another
    // set-up; a refused matrix (above) keeps it for ff_cleanup_resample, as
    // the header says.
    const int r = swr_init(rec->swr);
    if (r < 0) {
        release_converter(rec);
        return r;
    }
    rec->in_bytes_per_sample =
        av_get_bytes_per_sample(static_cast<AVSampleFormat>(rec->in_sample_fmt));
    rec->out_bytes_per_sample =
        av_get_bytes_per_sample(static_cast<AVSampleFormat>(rec->out_sample_fmt));
    return 0;
}

extern "C" FLATAV_API int32_t ff_set_matrix(ResampleRec *rec, const double *matrix,
                                            int32_t stride)
{
    // libswresample reads the matrix without a null test.
    if (!rec || !matrix)
        return AVERROR(EINVAL);
    return swr_set_matrix(rec->swr, matrix, stride);
}
