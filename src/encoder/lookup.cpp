// The fixed codec ids of the encoders a host offers, ff_get_encoder, and
// ff_format_supported: whether FFmpeg can encode one of two codec ids.
#include "common/report.h"
#include "encoder.h"

namespace flatav {

const AVCodec *encoder_for_id(int32_t codec_id)
{
    if (codec_id <= 0)
        return nullptr;
    return avcodec_find_encoder(static_cast<AVCodecID>(codec_id));
}

}  // namespace flatav

using namespace flatav;

extern "C" {

FLATAV_API int32_t ff_get_encoder_01(void) { return AV_CODEC_ID_ALAC; }
FLATAV_API int32_t ff_get_encoder_02(void) { return AV_CODEC_ID_AC3; }
FLATAV_API int32_t ff_get_encoder_03(void) { return AV_CODEC_ID_FLAC; }
FLATAV_API int32_t ff_get_encoder_05(void) { return AV_CODEC_ID_PCM_S16LE; }
FLATAV_API int32_t ff_get_encoder_06(void) { return AV_CODEC_ID_MP3; }
FLATAV_API int32_t ff_get_encoder_07(void) { return AV_CODEC_ID_OPUS; }
FLATAV_API int32_t ff_get_encoder_08(void) { return AV_CODEC_ID_WAVPACK; }
FLATAV_API int32_t ff_get_encoder_09(void) { return AV_CODEC_ID_MP2; }
FLATAV_API int32_t ff_get_encoder_10(void) { return AV_CODEC_ID_VORBIS; }
FLATAV_API int32_t ff_get_encoder_11(void) { return AV_CODEC_ID_FLV1; }
FLATAV_API int32_t ff_get_encoder_12(void) { return AV_CODEC_ID_AAC; }
FLATAV_API int32_t ff_get_encoder_13(void) { return AV_CODEC_ID_TTA; }
FLATAV_API int32_t ff_get_encoder_14(void) { return AV_CODEC_ID_DTS; }
FLATAV_API int32_t ff_get_encoder_15(void) { return AV_CODEC_ID_TRUEHD; }
FLATAV_API int32_t ff_get_encoder_16(void) { return AV_CODEC_ID_WMAV1; }
FLATAV_API int32_t ff_get_encoder_17(void) { return AV_CODEC_ID_WMAV2; }
FLATAV_API int32_t ff_get_encoder_18(void) { return AV_CODEC_ID_PCM_MULAW; }
FLATAV_API int32_t ff_get_encoder_19(void) { return AV_CODEC_ID_PCM_ALAW; }

// Looks nothing up: the result is null for every name. The console shows
// the name and which encoder FFmpeg has for AAC.
FLATAV_API const AVCodec *ff_get_encoder(const char *name)
{
    constexpr const char *kName = "ff_get_encoder";
    console_log("%s: name=%s\n", kName, text_or_null(name));
    if (const AVCodec *aac = avcodec_find_encoder(AV_CODEC_ID_AAC))
        console_log("%s: codec->id=%d\n", kName, (int)aac->id);
    if (name) {
        console_log("%s: 01\n", "xxavcodec_find_encoder_by_name");
        console_log("%s: 02\n", "xxavcodec_find_encoder_by_name");
    }
    return nullptr;
}

FLATAV_API int32_t ff_format_supported(int32_t codec1, int32_t codec2)
{
    const bool c1 = encoder_for_id(codec1) != nullptr;
    const bool c2 = encoder_for_id(codec2) != nullptr;
    console_log("%s(): codec1=%u, codec2=%u, c1=%d, c2=%d\n", "ff_format_supported",
                (unsigned)codec1, (unsigned)codec2, (int)c1, (int)c2);
    return c1 || c2 ? 1 : 0;
}

}  // extern "C"
