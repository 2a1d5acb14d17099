// decode_audio_frame: moves the position and copies one decoded frame into
// the host's memory, packed as it came, converted from planar to packed, or
// plane by plane.
#include <cinttypes>
#include <cstring>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "common/ffmpeg_util.h"
#include "common/report.h"
#include "decoder.h"

namespace flatav {
namespace {

constexpr const char *kName = "decode_audio_frame";

void advance_position(DecodeRec *avrec, const AVCodecContext *dec, int nb_samples)
{
    if (avrec->position_reset) {
        avrec->position_reset = 0;
        avrec->sample_count = (uint64_t)nb_samples;
    } else {
        avrec->sample_count += (uint64_t)nb_samples;
    }
    if (dec->sample_rate > 0)
        avrec->position =
            (double)avrec->sample_count / dec->sample_rate + avrec->position_base;
}

// Makes sure abuf holds need bytes (per plane for planar output), asking the
// host to grow it. The host sizes its buffers for the output it last saw:
// when the output switches between packed and planar, or planar output has
// more channels than before, it is asked as well, even if the capacity would
// do, so that it can give the other buffer or the extra planes. False when
// the host left it too small: writing would run past its memory.
bool grow(const DecodeRec *avrec, AudioBuffer *abuf, int32_t need, bool reshaped)
{
    if (abuf->capacity < need || reshaped) {
        const HostCallbacks *callbacks = avrec->callbacks;
        if (callbacks && callbacks->grow_buffer_cb)
            callbacks->grow_buffer_cb(nullptr, abuf, need);
    }
    if (abuf->capacity < need) {
        report_error(avrec->callbacks, "%s AudioBuffer holds %d bytes, %d needed", kName,
                     abuf->capacity, need);
        return false;
    }
    return true;
}

// A decoder that learns its format or layout only from the data, or a
// stream that changes them, is described by the frames it delivers.
void describe_delivery(AudioInfo &info, const AVFrame *frame)
{
    info.output_sample_fmt = frame->format;
    info.channel_layout = native_mask(frame->ch_layout);
}

AVSampleFormat converter_output_format(const DecodeRec *avrec, AVSampleFormat in)
{
    if (avrec->orig_sample_fmt == AV_SAMPLE_FMT_S32P && in == AV_SAMPLE_FMT_FLTP)
        return AV_SAMPLE_FMT_S32;
    return av_get_packed_sample_fmt(in);
}

// The planar-to-packed converter: same rate and layout on both sides.
bool set_up_converter(DecodeRec *avrec, const AVFrame *frame, int channels)
{
    const AVSampleFormat in_fmt = (AVSampleFormat)frame->format;
    AVChannelLayout layout{};
    if (frame->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC &&
        frame->ch_layout.nb_channels == channels)
        av_channel_layout_copy(&layout, &frame->ch_layout);
    else
        av_channel_layout_default(&layout, channels);

    const AudioInfo &info = avrec->audio_info[avrec->audio_stream_index];
    char layout_name[256] = "";
    av_channel_layout_describe(&layout, layout_name, sizeof layout_name);
    console_log("%s(): frame channel_layout=0x%" PRIx64 "\n", kName,
                native_mask(frame->ch_layout));
    console_log("%s(): frame format=%d (%s), orig_sample_fmt=%d (%s), packed=%s\n",
                kName, in_fmt, sample_format_name(in_fmt), avrec->orig_sample_fmt,
                sample_format_name(avrec->orig_sample_fmt),
                sample_format_name(av_get_packed_sample_fmt(in_fmt)));
    console_log("%s(): time_base=%d/%d, layout=%s\n", kName, info.time_base.num,
                info.time_base.den, layout_name);

    const AVSampleFormat out_fmt = converter_output_format(avrec, in_fmt);
    SwrContext *swr = swr_alloc();
    if (swr) {
        av_opt_set_chlayout(swr, "in_chlayout", &layout, 0);
        av_opt_set_int(swr, "in_sample_rate", frame->sample_rate, 0);
        av_opt_set_sample_fmt(swr, "in_sample_fmt", in_fmt, 0);
        av_opt_set_chlayout(swr, "out_chlayout", &layout, 0);
        av_opt_set_int(swr, "out_sample_rate", frame->sample_rate, 0);
        av_opt_set_sample_fmt(swr, "out_sample_fmt", out_fmt, 0);
        console_log("%s(): [1] output_sample_fmt=%d (%s)\n", kName, out_fmt,
                    sample_format_name(out_fmt));
    }
    av_channel_layout_uninit(&layout);
    if (!swr || swr_init(swr) < 0) {
        swr_free(&swr);
        report_error(avrec->callbacks, "%s Failed to initialize the resampling context",
                     kName);
        return false;
    }
    avrec->swr_context = swr;
    return true;
}

// Where a SwrContext keeps its input format and layout, found once through
// the public option table: reading them there costs two loads per frame, a
// lookup by name would cost thousands of instructions.
struct ConverterInputFields {
    int sample_fmt_offset = -1;
    int layout_offset = -1;
};

const ConverterInputFields &converter_input_fields()
{
    static const ConverterInputFields fields = [] {
        ConverterInputFields f;
        const AVClass *swr_class = swr_get_class();
        const AVOption *fmt = av_opt_find(&swr_class, "in_sample_fmt", nullptr, 0,
                                          AV_OPT_SEARCH_FAKE_OBJ);
        const AVOption *layout = av_opt_find(&swr_class, "in_chlayout", nullptr, 0,
                                             AV_OPT_SEARCH_FAKE_OBJ);
        if (fmt && fmt->type == AV_OPT_TYPE_SAMPLE_FMT)
            f.sample_fmt_offset = fmt->offset;
        if (layout && layout->type == AV_OPT_TYPE_CHLAYOUT)
            f.layout_offset = layout->offset;
        return f;
    }();
    return fields;
}

// The converter, once made, stays for the life of the record. A frame it was
// not made for (another channel count or sample format, which a stream may
// switch to mid-way) would make it read and write past the buffers, so such
// a frame gets a converter of its own. A libswresample whose option table
// does not say where those fields are gets a new converter for every frame:
// slower, never past the buffers.
bool converter_fits(SwrContext *swr, const AVFrame *frame)
{
    const ConverterInputFields &fields = converter_input_fields();
    if (fields.sample_fmt_offset < 0 || fields.layout_offset < 0)
        return false;
    const auto *base = reinterpret_cast<const uint8_t *>(swr);
    const auto *in_fmt =
        reinterpret_cast<const enum AVSampleFormat *>(base + fields.sample_fmt_offset);
    const auto *in_layout =
        reinterpret_cast<const AVChannelLayout *>(base + fields.layout_offset);
    return *in_fmt == frame->format &&
           in_layout->nb_channels == frame->ch_layout.nb_channels;
}

}  // namespace

int32_t decode_audio_frame(DecodeRec *avrec, AVFrame *frame, uint8_t *buf,
                           uint8_t **planes, AudioBuffer *abuf, CallTotals &totals)
{
    AVCodecContext *dec = selected_decoder(avrec);
    const int nb_samples = frame->nb_samples;
    advance_position(avrec, dec, nb_samples);
    describe_delivery(avrec->audio_info[avrec->audio_stream_index], frame);

    // The decoder describes every frame it returns in its context; a frame
    // that disagrees is measured by itself, never by more than it holds.
    int channels = dec->ch_layout.nb_channels;
    if (frame->ch_layout.nb_channels != channels)
        channels = frame->ch_layout.nb_channels;
    const AVSampleFormat format = (AVSampleFormat)frame->format;

    if (!av_sample_fmt_is_planar(format) || avrec->packed_output) {
        const bool convert = av_sample_fmt_is_planar(format);
        const int size =
            av_samples_get_buffer_size(nullptr, channels, nb_samples, format, 1);
        if (size <= 0)
            return 0;
        uint8_t *dst = buf;
        if (abuf) {
            const bool reshaped = abuf->planar != 0;
            abuf->planar = 0;
            if (!grow(avrec, abuf, totals.need + size, reshaped))
                return 0;
            dst = abuf->data;
        }
        totals.need += size;
        if (convert) {
            if (avrec->swr_context && !converter_fits(avrec->swr_context, frame))
                swr_free(&avrec->swr_context);
            if (!avrec->swr_context && !set_up_converter(avrec, frame, channels))
                return 0;
            uint8_t *out = dst + totals.offset;
            swr_convert(avrec->swr_context, &out, nb_samples,
                        (const uint8_t **)frame->extended_data, nb_samples);
        } else {
            std::memcpy(dst + totals.offset, frame->data[0], (size_t)size);
        }
        totals.offset += size;
        return size;
    }

    const int plane_bytes = av_get_bytes_per_sample(format) * nb_samples;
    uint8_t **dst_planes = planes;
    if (abuf) {
        const bool reshaped = abuf->planar != 1 || abuf->channels < channels;
        abuf->planar = 1;
        abuf->channels = channels;
        if (!grow(avrec, abuf, totals.need + plane_bytes, reshaped))
            return 0;
        dst_planes = abuf->planes;
    }
    if (!dst_planes) {
        report_error(avrec->callbacks, "%s planes = NULL", "ff_decode_audio");
        return FLATAV_DECODE_NO_DESTINATION;
    }
    totals.need += plane_bytes;
    for (int c = 0; c < channels; c++)
        std::memcpy(dst_planes[c] + (totals.need - plane_bytes),
                    frame->extended_data[c], (size_t)plane_bytes);
    totals.offset += plane_bytes * channels;
    return plane_bytes * channels;
}

}  // namespace flatav
