/* flatav info FILE: what the library learns when it opens a source. */
#include <stdio.h>
#include <string.h>

#include "commands.h"
#include "source.h"

static const char *media_type_name(int type)
{
    switch (type) {
    case 0: return "video";
    case 1: return "audio";
    case 2: return "data";
    case 3: return "subtitle";
    case 4: return "attachment";
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
    /* The source's format: ff_probe2 reads the source afresh. */
    DecodeRec probe;
    memset(&probe, 0, sizeof probe);
    probe.file_name = rec->file_name;
    probe.is_url = rec->is_url;
    probe.io_opaque = rec->io_opaque;
    probe.read_packet = rec->read_packet;
    probe.seek = rec->seek;
    if (!probe.is_url)
        rewind(src.file.file);
    const char *format = input_format_name(ff_probe2(&probe));
    printf("format: %s\n", format ? format : "unknown");
    printf("seekable: %s\n", rec->seekable ? "yes" : "no");
    printf("DTS audio: %s\n", ff_is_dca(&src.rec) ? "yes" : "no");
    printf("streams: %d (%d audio)\n", rec->nb_streams, rec->nb_audio_streams);
    for (int i = 0; i < rec->nb_streams; i++) {
        const AudioInfo *info = &rec->audio_info[i];
        if (info->codec_type != 1) {
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
