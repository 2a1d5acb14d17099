/* flatav decode IN OUT [--stream N]: decode one audio stream to raw packed
 * PCM in the decoder's own sample format. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "commands.h"
#include "progress.h"
#include "source.h"

int cmd_decode(int argc, char **argv)
{
    const char *in_path = NULL, *out_path = NULL;
    int stream = -1;
    for (int i = 0; i < argc; i++) {
        if (strcmp(argv[i], "--stream") == 0 && i + 1 < argc)
            stream = atoi(argv[++i]);
        else if (!in_path)
            in_path = argv[i];
        else if (!out_path)
            out_path = argv[i];
        else
            in_path = NULL, i = argc; /* too many: show usage */
    }
    if (!in_path || !out_path) {
        fprintf(stderr, "usage: flatav decode IN OUT.raw [--stream N]\n");
        return 2;
    }

    Source src;
    if (source_open(&src, in_path, 0) != 0) {
        source_close(&src);
        return 1;
    }
    if (stream < 0)
        stream = source_first_audio(&src);
    if (stream < 0 || stream >= src.rec.nb_streams ||
        strcmp(src.rec.audio_info[stream].status, "OK") != 0) {
        fprintf(stderr, "flatav: %s has no decodable audio stream%s\n", in_path,
                stream >= 0 ? " with that index" : "");
        source_close(&src);
        return 1;
    }
    const AudioInfo *info = &src.rec.audio_info[stream];
    src.rec.audio_stream_index = stream;
    src.callbacks.grow_buffer_cb = grow_audio_buffer;

    HostFile out;
    if (host_file_open(&out, out_path, "wb") != 0) {
        source_close(&src);
        return 1;
    }

    AudioBuffer abuf;
    memset(&abuf, 0, sizeof abuf);
    Progress progress;
    progress_start(&progress, "decoding");
    const double total = info->duration > 0 ? info->duration / 1e6 : 0;
    int64_t bytes = 0;
    int status = 0;
    int format = -1;
    int32_t n = decode_first(&src, &abuf, NULL, &format);
    for (;;) {
        if (n < 0) {
            fprintf(stderr, "flatav: decoding stopped with code %d\n", n);
            status = 1;
            break;
        }
        if (n == 0 && src.rec.end_of_stream)
            break;
        if (n > 0 && fwrite(abuf.data, 1, (size_t)n, out.file) != (size_t)n) {
            fprintf(stderr, "flatav: cannot write %s\n", out_path);
            status = 1;
            break;
        }
        bytes += n;
        progress_update(&progress, src.rec.position, total);
        n = ff_decode_audio(&src.rec, NULL, NULL, &abuf, 0, NULL);
    }
    progress_finish(&progress);

    const int frame_bytes = bytes_per_sample(format) * info->channels;
    const int64_t samples = frame_bytes > 0 ? bytes / frame_bytes : 0;
    printf("stream #%d: decoded %lld samples per channel (%.3f s) as %s, %d Hz, %d ch"
           " -> %s (%lld bytes)\n",
           stream, (long long)samples,
           info->sample_rate > 0 ? (double)samples / info->sample_rate : 0.0,
           sample_format_name(format), info->sample_rate, info->channels, out_path,
           (long long)bytes);

    free_audio_buffer(&abuf);
    host_file_close(&out);
    source_close(&src);
    return status;
}
