// ff_cleanup_decoder and ff_clean_streamcopy: release what opening,
// decoding and probing put into a record, and the stream-copy data.
extern "C" {
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
}

#include "common/report.h"
#include "decoder.h"

using namespace flatav;

extern "C" FLATAV_API void ff_cleanup_decoder(DecodeRec *avrec)
{
    constexpr const char *kName = "ff_cleanup_decoder";
    if (!avrec)
        return;
    const HostCallbacks *callbacks = avrec->callbacks;
    report_message(callbacks, "%s begin", kName);

    // A custom I/O context is not the format context's to close.
    avformat_close_input(&avrec->av_format_context);
    report_message(callbacks, "%s, 01", kName);

    free_host_io_context(&avrec->avio_context);
    report_message(callbacks, "%s, 02", kName);

    if (avrec->audio_info) {
        for (int i = 0; i < avrec->nb_streams; i++)
            avcodec_free_context(&avrec->audio_info[i].av_codec_context);
        av_freep(&avrec->audio_info);
    }
    report_message(callbacks, "%s, 03", kName);

    av_freep(&avrec->format_name);
    av_freep(&avrec->format_long_name);
    release_source_tags(avrec);
    swr_free(&avrec->swr_context);
    report_message(callbacks, "%s end", kName);
}

extern "C" FLATAV_API void ff_clean_streamcopy(StreamCopy **field)
{
    if (!field || !*field || !(*field)->active)
        return;
    StreamCopy *sc = *field;
    console_log("%s() s->nb_streams=%d\n", "ff_clean_streamcopy", sc->nb_streams);
    if (sc->data) {
        for (int i = 0; i < sc->nb_streams; i++)
            avcodec_parameters_free(&sc->data[i].codecpar);
        av_freep(&sc->data);
    }
    av_freep(field);
}
