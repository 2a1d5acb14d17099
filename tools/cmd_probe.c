/* flatav probe FILE: the container format, guessed from the first bytes
 * (ff_probe) and found by reading the source (ff_probe2). */
#include <stdlib.h>
#include <string.h>

#include "commands.h"
#include "flatav.h"
#include "host_io.h"
#include "util.h"

enum { kProbeBytes = 4096 };

const char *input_format_name(const struct AVInputFormat *format)
{
    return format ? *(const char *const *)format : NULL;
}

/* The source read again from its start: the bytes the guess took first,
 * then the rest of the file (standard input cannot rewind). */
typedef struct Replay {
    HostFile *file;
    const uint8_t *head;
    size_t size, pos;
} Replay;

static int32_t replay_read(void *opaque, uint8_t *buf, int32_t size)
{
    Replay *r = (Replay *)opaque;
    if (r->pos < r->size) {
        size_t n = r->size - r->pos < (size_t)size ? r->size - r->pos : (size_t)size;
        memcpy(buf, r->head + r->pos, n);
        r->pos += n;
        return (int32_t)n;
    }
    return host_file_read(r->file, buf, size);
}

int cmd_probe(int argc, char **argv)
{
    const OptionSpec specs[] = {{NULL, 0, OPT_FLAG, NULL}};
    const char *args[1];
    int nb_args = 0;
    int status = parse_options("probe", argc, argv, specs, args, 1, &nb_args);
    if (status != EXIT_DONE)
        return status < 0 ? EXIT_DONE : status;
    if (nb_args != 1)
        return usage_error("probe", "wants one FILE");
    const char *path = args[0];

    HostCallbacks callbacks;
    DecodeRec rec;
    HostFile file;
    Replay replay;
    unsigned char *head = NULL;
    memset(&callbacks, 0, sizeof callbacks);
    memset(&rec, 0, sizeof rec);
    memset(&file, 0, sizeof file);
    set_callbacks(&callbacks);
    rec.file_name = strcmp(path, "-") == 0 ? "" : path;
    rec.callbacks = &callbacks;
    FILE *to = tool_stdout;

    if (is_url(path)) {
        rec.is_url = 1;
    } else {
        status = host_file_open_input(&file, path) == 0 ? EXIT_DONE : EXIT_FAILED;
        if (status != EXIT_DONE)
            goto cleanup;
        head = calloc(1, kProbeBytes + FLATAV_PROBE_PADDING);
        if (!head) {
            status = fail("out of memory");
            goto cleanup;
        }
        FlatavProbeData probe;
        memset(&probe, 0, sizeof probe);
        probe.filename = rec.file_name;
        probe.buf = head;
        probe.buf_size = (int32_t)fread(head, 1, kProbeBytes, file.file);
        if (probe.buf_size == 0) {
            status = fail("%s is empty", path);
            goto cleanup;
        }
        if (ff_probe(&rec, (struct AVProbeData *)&probe))
            fprintf(to, "first %d bytes: %s (%s)\n", probe.buf_size, rec.format_name,
                    rec.format_long_name ? rec.format_long_name : "");
        else
            fprintf(to, "first %d bytes: no format\n", probe.buf_size);
        replay.file = &file;
        replay.head = head;
        replay.size = (size_t)probe.buf_size;
        replay.pos = 0;
        rec.io_opaque = &replay;
        rec.read_packet = replay_read;
    }

    const char *format = input_format_name(ff_probe2(&rec));
    fprintf(to, "whole source: %s\n", format ? format : "no format");
    if (!format)
        status = EXIT_FAILED;

cleanup:
    ff_cleanup_decoder(&rec);
    free(head);
    host_file_close(&file);
    return status;
}
