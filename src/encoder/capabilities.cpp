// ff_gvc and ff_dumpf: FFmpeg's video codecs into a host buffer, and its
// muxers onto the console trace.
#include <cstring>

#include "common/report.h"
#include "encoder.h"

namespace flatav {
namespace {

// Appends text at *pos; with no buffer only the length is counted.
void put(char *buffer, int32_t &pos, const char *text)
{
    const std::size_t length = std::strlen(text);
    if (buffer)
        std::memcpy(buffer + pos, text, length);
    pos += static_cast<int32_t>(length);
}

}  // namespace
}  // namespace flatav

using namespace flatav;

// Entries "E:" (encodes), "D:" (decodes), "|", name, ",", in FFmpeg's
// registry order, without a terminating zero. A null buffer only measures
// the list, so a host can size its buffer first.
extern "C" FLATAV_API int32_t ff_gvc(char *buffer)
{
    int32_t pos = 0;
    void *iter = nullptr;
    while (const AVCodec *codec = av_codec_iterate(&iter)) {
        if (codec->type != AVMEDIA_TYPE_VIDEO)
            continue;
        if (av_codec_is_encoder(codec))
            put(buffer, pos, "E:");
        if (av_codec_is_decoder(codec))
            put(buffer, pos, "D:");
        put(buffer, pos, "|");
        put(buffer, pos, codec->name);
        put(buffer, pos, ",");
    }
    return pos;
}

extern "C" FLATAV_API void ff_dumpf(void)
{
    void *iter = nullptr;
    while (const AVOutputFormat *fmt = av_muxer_iterate(&iter)) {
        console_log("!!! long_name=%s\n", text_or_null(fmt->long_name));
        console_log("!!! mime_type=%s\n", text_or_null(fmt->mime_type));
        console_log("!!! extensions=%s\n", text_or_null(fmt->extensions));
        console_log("!!! audio_codec=%d\n", (int)fmt->audio_codec);
        console_log("!!! video_codec=%d\n", (int)fmt->video_codec);
        console_log("!!! subtitle_codec=%d\n", (int)fmt->subtitle_codec);
        console_log("=====================\n");
    }
}
