/* flatav probe FILE: the container format, guessed from the first bytes
 * (ff_probe) and found by reading the source (ff_probe2, then opened with
 * that format, which names it in the record). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "commands.h"
#include "flatav.h"
#include "host_io.h"

enum { kProbeBytes = 4096 };

int cmd_probe(int argc, char **argv)
{
    if (argc != 1) {
        fprintf(stderr, "usage: flatav probe FILE\n");
        return 2;
    }
    const char *path = argv[0];
    /* A table without a message function keeps the trace off the output. */
    HostCallbacks callbacks;
    memset(&callbacks, 0, sizeof callbacks);
    DecodeRec rec;
    memset(&rec, 0, sizeof rec);
    rec.file_name = path;
    rec.callbacks = &callbacks;

    HostFile file;
    int status = 0;
    if (is_url(path)) {
        rec.is_url = 1;
    } else {
        if (host_file_open(&file, path, "rb") != 0)
            return 1;
        unsigned char *head = calloc(1, kProbeBytes + FLATAV_PROBE_PADDING);
        if (!head) {
            host_file_close(&file);
            return 1;
        }
        FlatavProbeData probe;
        memset(&probe, 0, sizeof probe);
        probe.filename = path;
        probe.buf = head;
        probe.buf_size = (int32_t)fread(head, 1, kProbeBytes, file.file);
        const struct AVInputFormat *guess = ff_probe(&rec, (struct AVProbeData *)&probe);
        if (guess)
            printf("first %d bytes: %s (%s)\n", probe.buf_size, rec.format_name,
                   rec.format_long_name ? rec.format_long_name : "");
        else
            printf("first %d bytes: no format\n", probe.buf_size);
        free(head);
        /* ff_probe2 reads the source from its start. */
        rewind(file.file);
        rec.io_opaque = &file;
        rec.read_packet = host_file_read;
        rec.seek = host_file_seek;
    }

    const struct AVInputFormat *format = ff_probe2(&rec);
    const char *failure = "no format";
    if (format) {
        /* The names of the first bytes' guess would stay: drop them. */
        ff_cleanup_decoder(&rec);
        if (!rec.is_url) {
            rewind(file.file);
            rec.input_format = format;
        }
        failure = ff_decoder_open(&rec);
    }
    if (failure) {
        printf("whole source: %s\n", failure);
        status = 1;
    } else {
        printf("whole source: %s\n", rec.format_name);
    }
    ff_cleanup_decoder(&rec);
    if (!rec.is_url)
        host_file_close(&file);
    return status;
}
