/* flatav filters: the audio filters that --filter can run, every filter
 * FFmpeg offers with one audio input and one audio output. The library has
 * no listing call of its own: the registry asks libavfilter. */
#include "commands.h"
#include "ffmpeg/registry.h"
#include "util.h"

int cmd_filters(int argc, char **argv)
{
    const OptionDef options[] = {OPTIONS_END};
    int nb_args = 0;
    const int status = parse_options("filters", argc, argv, options, NULL, 0, &nb_args);
    if (status != EXIT_DONE)
        return options_exit(status);
    const int count = ffr_list_filters(tool_stdout);
    note("%d audio filters; run one with --filter NAME[=ARGS]", count);
    return EXIT_DONE;
}
