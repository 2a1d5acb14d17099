// ff_probe, ff_probe2 and ff_is_dca: questions about a source that need no
// decoding.
#include <cinttypes>
#include <cstdio>

extern "C" {
#include <libavutil/mem.h>
}

#include "common/report.h"
#include "decoder.h"

namespace flatav {
namespace {

const AVInputFormat *probe_url(const DecodeRec *avrec)
{
    constexpr const char *kName = "ff_probe2";
    // Paired so that repeated probes do not pile up network references.
    avformat_network_init();
    console_log("%s(): avrec->file_name=%s\n", kName, text_or_null(avrec->file_name));

    // The probe opens what an open would, and nothing more.
    AVFormatContext *fmt_ctx = avformat_alloc_context();
    AVDictionary *options = nullptr;
    NestedRefusal refusal;
    char text[kErrorTextSize];
    const AVInputFormat *format = nullptr;
    int ret = AVERROR(ENOMEM);
    const char *refused = nullptr;
    if (fmt_ctx && !(refused = confine_source(avrec, fmt_ctx, &refusal, &options, kName)))
        ret = avformat_open_input(&fmt_ctx, avrec->file_name, nullptr, &options);
    av_dict_free(&options);
    if (refused) {
        console_print(stderr, "%s\n", refused);
    } else if (ret < 0) {
        console_print(stderr, "avformat_open_input failed (error '%s')\n",
                      error_text(ret, text));
    } else if ((ret = avformat_find_stream_info(fmt_ctx, nullptr)) < 0) {
        console_print(stderr, "avformat_find_stream_info failed (error '%s')\n",
                      error_text(ret, text));
    } else {
        format = fmt_ctx->iformat;
    }
    avformat_close_input(&fmt_ctx);
    avformat_network_deinit();
    return format;
}

const AVInputFormat *probe_custom_io(const DecodeRec *avrec)
{
    constexpr const char *kName = "ff_probe2";
    AVIOContext *io = nullptr;
    if (host_io_context(avrec, &io) != nullptr)
        return nullptr;  // no I/O context: nothing to probe through
    console_log("%s(): 03, avrec->file_name=%s\n", kName, text_or_null(avrec->file_name));
    const AVInputFormat *format = nullptr;
    const int ret = av_probe_input_buffer(io, &format, avrec->file_name, nullptr, 0, 0);
    console_log("%s(): 04, ret=%d, fmt=%u, avrec->file_name=%s\n", kName, ret,
                (unsigned)(uintptr_t)format, text_or_null(avrec->file_name));
    free_host_io_context(&io);
    if (ret != 0) {
        char text[kErrorTextSize];
        console_log("%s(): %s", kName, error_text(ret, text));
        return nullptr;
    }
    return format;
}

}  // namespace
}  // namespace flatav

using namespace flatav;

extern "C" FLATAV_API const AVInputFormat *ff_probe(DecodeRec *avrec, AVProbeData *probe_data)
{
    constexpr const char *kName = "ff_probe";
    if (!avrec)
        return nullptr;
    report_message(avrec->callbacks, "%s begin", kName);
    console_log("%s(): 01, buff_size=%d\n", kName, probe_data ? probe_data->buf_size : 0);
    const AVInputFormat *format = probe_data ? av_probe_input_format(probe_data, 1) : nullptr;
    console_log("%s(): 02\n", kName);

    // Texts an earlier probe left are released, not leaked.
    av_freep(&avrec->format_name);
    av_freep(&avrec->format_long_name);
    if (format) {
        avrec->format_name = av_strdup(format->name);
        avrec->format_long_name = av_strdup(format->long_name);
    }
    report_message(avrec->callbacks, "%s end", kName);
    return format;
}

extern "C" FLATAV_API const AVInputFormat *ff_probe2(DecodeRec *avrec)
{
    if (!avrec)
        return nullptr;
    return avrec->is_url ? probe_url(avrec) : probe_custom_io(avrec);
}

extern "C" FLATAV_API int32_t ff_is_dca(DecodeRec *avrec)
{
    if (!avrec || avrec->nb_streams < 1 || !avrec->audio_info)
        return 0;
    for (int i = 0; i < avrec->nb_streams; i++)
        if (avrec->audio_info[i].codec_id == AV_CODEC_ID_DTS)
            return 1;
    return 0;
}
