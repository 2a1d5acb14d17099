// ff_buff_size: FFmpeg's sample buffer size for a byte count of PCM in the
// output stream's format.
#include "encoder.h"

extern "C" {
#include <libavutil/samplefmt.h>
}

using namespace flatav;

extern "C" FLATAV_API int32_t ff_buff_size(EncodeRec *avrec, int32_t byte_count)
{
    // Without an output stream, channels or a sample size there is no sample
    // frame to count: the same answer as FFmpeg's for invalid sizes.
    if (!avrec || !avrec->audio_st)
        return AVERROR(EINVAL);
    const AVCodecParameters *par = avrec->audio_st->codecpar;
    const int channels = par->ch_layout.nb_channels;
    const AVSampleFormat format = sample_format(par->format);
    const int frame_bytes = channels * av_get_bytes_per_sample(format);
    if (frame_bytes <= 0)
        return AVERROR(EINVAL);
    // Alignment 0 rounds the sample count up to a multiple of 32.
    return av_samples_get_buffer_size(nullptr, channels, byte_count / frame_bytes,
                                      format, 0);
}
