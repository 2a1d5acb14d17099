/* flatav: a command-line host of the flatav library. */
#include <string.h>

#include "commands.h"
#include "ffmpeg/registry.h"
#include "flatav.h"
#include "platform.h"
#include "util.h"

#ifndef FLATAV_VERSION
#define FLATAV_VERSION "unknown"
#endif

typedef struct Command {
    const char *name;
    int (*run)(int argc, char **argv);
} Command;

static const Command kCommands[] = {
    {"info", cmd_info},         {"probe", cmd_probe},       {"decode", cmd_decode},
    {"transcode", cmd_transcode}, {"copy", cmd_copy},       {"mlp", cmd_mlp},
    {"encoders", cmd_encoders}, {"filters", cmd_filters},
};
enum { kCommandCount = sizeof kCommands / sizeof kCommands[0] };

int main(int argc, char **argv)
{
    platform_utf8_args(&argc, &argv);
    int arg = 1, trace = 0;
    for (; arg < argc; arg++) {
        if (strcmp(argv[arg], "--trace") == 0)
            trace = 1;
        else if (strcmp(argv[arg], "--allow-nested") == 0)
            tool_allow_nested = 1;
        else
            break;
    }
    tool_setup(trace);
    if (arg >= argc)
        return usage_error(NULL, "wants a command");
    const char *name = argv[arg];
    if (strcmp(name, "--help") == 0 || strcmp(name, "-h") == 0) {
        print_help(tool_stdout, NULL);
        return tool_finish(EXIT_DONE);
    }
    if (strcmp(name, "--version") == 0) {
        char versions[256];
        fprintf(tool_stdout, "flatav %s\n%s\n", FLATAV_VERSION,
                ffr_versions(versions, sizeof versions));
        return tool_finish(EXIT_DONE);
    }
    for (int i = 0; i < kCommandCount; i++)
        if (strcmp(name, kCommands[i].name) == 0)
            return tool_finish(kCommands[i].run(argc - arg - 1, argv + arg + 1));

    const char *names[kCommandCount + 5];
    for (int i = 0; i < kCommandCount; i++)
        names[i] = kCommands[i].name;
    names[kCommandCount] = "--help";
    names[kCommandCount + 1] = "--version";
    names[kCommandCount + 2] = "--trace";
    names[kCommandCount + 3] = "--allow-nested";
    names[kCommandCount + 4] = NULL;
    char near[256];
    nearest_names(name, names, near, sizeof near);
    return usage_error(NULL, "unknown command '%s'; did you mean %s?", name, near);
}
