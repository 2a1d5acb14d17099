/* flatav: a command-line host of the flatav library. */
#include <stdio.h>
#include <string.h>

#include "commands.h"
#include "flatav.h"

typedef struct Command {
    const char *name;
    int (*run)(int argc, char **argv);
    const char *usage;
} Command;

static const Command kCommands[] = {
    {"info", cmd_info, "info FILE                  streams, tags and chapters of a source"},
    {"decode", cmd_decode, "decode IN OUT [--stream N] decode audio to raw packed PCM"},
    {"probe", cmd_probe, "probe FILE                 container format from the first bytes and from the source"},
    {"mlp", cmd_mlp, "mlp IN.mlp OUT.raw         decode an MLP elementary stream to raw PCM"},
    {"transcode", cmd_transcode,
     "transcode IN OUT [--codec NAME] [--bitrate N] [--start SECONDS]\n"
     "          [--filter NAME[=ARGS]] [--rate HZ] [--channels N]\n"
     "                             decode IN's audio and encode it into OUT"},
    {"copy", cmd_copy, "copy IN OUT                copy IN's audio into OUT's container without re-encoding"},
    {"encoders", cmd_encoders, "encoders                   the encoders and the sample formats they take"},
    {"filters", cmd_filters, "filters                    the audio filters FFmpeg offers"},
};

static void usage(void)
{
    fprintf(stderr, "usage: flatav [--trace] COMMAND ARGS...\n\ncommands:\n");
    for (size_t i = 0; i < sizeof kCommands / sizeof kCommands[0]; i++)
        fprintf(stderr, "  %s\n", kCommands[i].usage);
    fprintf(stderr, "\n--trace shows the library's console trace and FFmpeg's log.\n");
}

int main(int argc, char **argv)
{
    int arg = 1;
    LogSettings settings = {1, 1};
    if (arg < argc && strcmp(argv[arg], "--trace") == 0) {
        settings.quiet = 0;
        settings.ffmpeg_quiet = 0;
        arg++;
    }
    ff_init(&settings);
    if (arg >= argc) {
        usage();
        return 2;
    }
    for (size_t i = 0; i < sizeof kCommands / sizeof kCommands[0]; i++)
        if (strcmp(argv[arg], kCommands[i].name) == 0)
            return kCommands[i].run(argc - arg - 1, argv + arg + 1);
    fprintf(stderr, "flatav: unknown command '%s'\n\n", argv[arg]);
    usage();
    return 2;
}
