/* flatav info FILE: what the library learns when it opens a source. */
#include <stdio.h>
#include <string.h>

#include "commands.h"
#include "source.h"

static const char *media_type_name(int type)
{
    switch (type) {
    case FLATAV_MEDIA_VIDEO: return "video";
    case FLATAV_MEDIA_AUDIO: return "audio";
    case FLATAV_MEDIA_DATA: return "data";
    case FLATAV_MEDIA_SUBTITLE: return "subtitle";
    case FLATAV_MEDIA_ATTACHMENT: return "attachment";
    default: return "unknown";
    }
}

int cmd_info(int argc, char **argv)
{
    if (argc != 1) {
        fprintf(stderr, "usage: flatav info FILE\n");
        return 2;
    }
    printf("%s\n", argv[0]);
    Source src;
    if (source_open(&src, argv[0], SOURCE_PRINT_TAGS | SOURCE_TRY_SEEK) != 0) {
        source_close(&src);
        return 1;
    }
    const DecodeRec *rec = &src.rec;
    printf("format: %s\n", rec->format_name ? rec->format_name : "unknown");
    printf("seekable: %s\n", rec->seekable ? "yes" : "no");
    printf("DTS audio: %s\n", ff_is_dca(&src.rec) ? "yes" : "no");
    printf("streams: %d (%d audio)\n", rec->nb_streams, rec->nb_audio_streams);
    for (int i = 0; i < rec->nb_streams; i++) {
        const AudioInfo *info = &rec->audio_info[i];
        if (info->codec_type != FLATAV_MEDIA_AUDIO) {
            printf("  #%d %s\n", i, media_type_name(info->codec_type));
            continue;
        }
        printf("  #%d audio %s, %d Hz, %d ch, %s", i,
               info->codec_name ? info->codec_name : "(no decoder)", info->sample_rate,
               info->channels, sample_format_name(info->sample_fmt));
        if (info->bits_per_raw_sample)
            printf(" (%d bit)", info->bits_per_raw_sample);
        if (info->bit_rate > 0)
            printf(", %d kb/s", info->bit_rate / 1000);
        if (info->duration > 0)
            printf(", %.3f s", info->duration / (double)info->duration_scale);
        printf(", time base %d/%d: %s\n", info->time_base.num, info->time_base.den,
               info->status);
    }
    source_close(&src);
    return 0;
}
