/* flatav filters: the audio filters that a host can name to setup_af: every
 * filter FFmpeg offers with one audio input and one audio output. The
 * library has no listing call of its own, so this command asks libavfilter
 * itself. */
#include <stdio.h>

#include <libavfilter/avfilter.h>

#include "commands.h"

static int audio_in_audio_out(const AVFilter *filter)
{
    return avfilter_filter_pad_count(filter, 0) == 1 &&
           avfilter_filter_pad_count(filter, 1) == 1 &&
           avfilter_pad_get_type(filter->inputs, 0) == AVMEDIA_TYPE_AUDIO &&
           avfilter_pad_get_type(filter->outputs, 0) == AVMEDIA_TYPE_AUDIO;
}

int cmd_filters(int argc, char **argv)
{
    (void)argv;
    if (argc != 0) {
        fprintf(stderr, "usage: flatav filters\n");
        return 2;
    }
    void *state = NULL;
    const AVFilter *filter;
    int count = 0;
    while ((filter = av_filter_iterate(&state))) {
        if (!audio_in_audio_out(filter))
            continue;
        printf("%-20s %s\n", filter->name, filter->description ? filter->description : "");
        count++;
    }
    fprintf(stderr, "%d audio filters; run one with NAME[=ARGS]\n", count);
    return 0;
}
