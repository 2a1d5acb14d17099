// ff_get_encoder_sample_format: the sample format a host should feed an
// encoder, from the encoder's list, the host's format and its bit depth.
#include "common/report.h"
#include "encoder.h"

namespace flatav {
namespace {

bool contains(const AVSampleFormat *list, int32_t sample_fmt)
{
    for (; *list != AV_SAMPLE_FMT_NONE; list++)
        if (*list == sample_fmt)
            return true;
    return false;
}

// Float input prefers planar float; then the host's own format; then the
// first format of the wanted bit depth, else the last one listed.
int32_t choose_sample_fmt(const AVSampleFormat *list, int32_t best_bits_per_sample,
                          int32_t sample_fmt)
{
    if (*list == AV_SAMPLE_FMT_NONE)
        return AV_SAMPLE_FMT_NONE;
    if ((sample_fmt == AV_SAMPLE_FMT_FLT || sample_fmt == AV_SAMPLE_FMT_FLTP) &&
        contains(list, AV_SAMPLE_FMT_FLTP))
        return AV_SAMPLE_FMT_FLTP;
    if (contains(list, sample_fmt))
        return sample_fmt;
    // No bit depth asked for: the format the encoder lists first, which is
    // the one it prefers.
    if (best_bits_per_sample <= 0)
        return list[0];

    AVSampleFormat last = AV_SAMPLE_FMT_NONE;
    for (int i = 0; list[i] != AV_SAMPLE_FMT_NONE; i++) {
        console_log(" .... best_bits_per_sample=%d, [%d]=%d\n", best_bits_per_sample,
                    i, (int)list[i]);
        if (av_get_bytes_per_sample(list[i]) * 8 == best_bits_per_sample)
            return list[i];
        last = list[i];
    }
    return last;
}

}  // namespace

const AVSampleFormat *supported_sample_fmts(const AVCodec *codec)
{
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(61, 13, 100)
    const void *list = nullptr;
    int count = 0;
    if (avcodec_get_supported_config(nullptr, codec, AV_CODEC_CONFIG_SAMPLE_FORMAT,
                                     0, &list, &count) < 0)
        return nullptr;
    return static_cast<const AVSampleFormat *>(list);
#else
    return codec->sample_fmts;
#endif
}

}  // namespace flatav

using namespace flatav;

extern "C" FLATAV_API int32_t ff_get_encoder_sample_format(int32_t codec_id,
                                                           int32_t best_bits_per_sample,
                                                           int32_t sample_fmt)
{
    constexpr const char *kStep = "helper_get_encoder_sample_format";
    console_log("%s(): start\n", kStep);
    const AVCodec *codec = encoder_for_id(codec_id);
    if (!codec) {
        console_log("%s(): codec %x not found\n", kStep, (unsigned)codec_id);
        return AV_SAMPLE_FMT_NONE;
    }
    const AVSampleFormat *list = supported_sample_fmts(codec);
    if (!list)
        return AV_SAMPLE_FMT_NONE;
    return choose_sample_fmt(list, best_bits_per_sample, sample_fmt);
}
