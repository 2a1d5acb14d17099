/* flatav probe FILE: the container format, guessed from the first bytes
 * (ff_probe) and found by reading the source (ff_probe2, then opened with
 * that format, which names it in the record). */
#include <stdlib.h>
#include <string.h>

#include "commands.h"
#include "flatav.h"
#include "host_io.h"
#include "util.h"

enum { kProbeBytes = 4096 };

/* The source, read three times from its start (the guess, ff_probe2, the
 * open) though standard input cannot rewind: what was read is kept. */
typedef struct Replay {
    HostFile *file;
    uint8_t *data;
    size_t size, capacity, pos;
} Replay;

static int32_t replay_read(void *opaque, uint8_t *buf, int32_t size)
{
    Replay *r = (Replay *)opaque;
    if (r->pos == r->size) {
        if (r->size + (size_t)size > r->capacity) {
            const size_t capacity = (r->size + (size_t)size) * 2;
            uint8_t *bigger = realloc(r->data, capacity);
            if (!bigger)
                return host_file_read(r->file, buf, size);
            r->data = bigger;
            r->capacity = capacity;
        }
        const int32_t n = host_file_read(r->file, r->data + r->size, size);
        if (n <= 0)
            return n;
        r->size += (size_t)n;
    }
    const size_t n = r->size - r->pos < (size_t)size ? r->size - r->pos : (size_t)size;
    memcpy(buf, r->data + r->pos, n);
    r->pos += n;
    return (int32_t)n;
}

int cmd_probe(int argc, char **argv)
{
    const OptionDef options[] = {OPTIONS_END};
    const char *args[1];
    int nb_args = 0;
    int status = parse_options("probe", argc, argv, options, args, 1, &nb_args);
    if (status != EXIT_DONE)
        return options_exit(status);
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
    memset(&replay, 0, sizeof replay);
    replay.file = &file;
    set_callbacks(&callbacks);
    rec.file_name = strcmp(path, "-") == 0 ? "" : path;
    rec.callbacks = &callbacks;
    FILE *to = tool_stdout;

    if (is_url(path)) {
        rec.is_url = 1;
        rec.allow_nested_opens = tool_allow_nested;
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
        probe.buf_size = replay_read(&replay, head, kProbeBytes);
        if (probe.buf_size < 0)
            probe.buf_size = 0;
        if (probe.buf_size == 0) {
            status = fail("%s is empty", path);
            goto cleanup;
        }
        if (ff_probe(&rec, (struct AVProbeData *)&probe))
            fprintf(to, "first %d bytes: %s (%s)\n", probe.buf_size, rec.format_name,
                    rec.format_long_name ? rec.format_long_name : "");
        else
            fprintf(to, "first %d bytes: no format\n", probe.buf_size);
        replay.pos = 0;
        rec.io_opaque = &replay;
        rec.read_packet = replay_read;
    }

    const struct AVInputFormat *format = ff_probe2(&rec);
    const char *failure = "no format";
    if (format) {
        /* The names of the first bytes' guess would stay: drop them. */
        ff_cleanup_decoder(&rec);
        replay.pos = 0;
        rec.input_format = format;
        reason_clear();
        failure = ff_decoder_open(&rec);
    }
    if (failure) {
        fprintf(to, "whole source: no format\n");
        status = fail("%s: %s", path, failure_reason(failure));
    } else {
        fprintf(to, "whole source: %s\n", rec.format_name);
    }

cleanup:
    ff_cleanup_decoder(&rec);
    free(head);
    free(replay.data);
    host_file_close(&file);
    return status;
}
