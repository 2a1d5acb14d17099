/* flatav copy IN OUT: copy the first audio stream of IN into OUT's
 * container without decoding it.
 *
 * The way through the library: the source opens with stream-copy data;
 * ff_decode_audio in raw packet mode leaves each packet in a packet object
 * from ff_pkt_new; ff_encode_audio_raw writes it, retimed, into the output
 * that ff_open_encoder_raw opened; a size of 0 writes the trailer. */
#include <stdio.h>
#include <string.h>

#include "commands.h"
#include "progress.h"
#include "source.h"

static void print_error(void *user, const char *text)
{
    (void)user;
    fprintf(stderr, "flatav: %s\n", text);
}

/* Copies every packet of the selected stream; 0 or -1. */
static int copy_packets(Source *src, EncodeRec *out, int64_t *packets)
{
    Progress progress;
    progress_start(&progress, "copying");
    const AudioInfo *info = &src->rec.audio_info[src->rec.audio_stream_index];
    const double total = info->duration > 0 ? info->duration / 1e6 : 0;
    int status = 0;
    for (;;) {
        const int32_t size = ff_decode_audio(&src->rec, NULL, NULL, NULL, 0, NULL);
        if (size < 0)
            break; /* the end of the source (end_of_stream is set) */
        /* An empty packet has nothing to write, and a size of 0 would mean
         * the trailer. */
        if (size > 0) {
            out->raw_pkt = src->rec.raw_pkt;
            if (ff_encode_audio_raw(out, size) != 0)
                status = -1;
            ++*packets;
        }
        ff_pkt_clean(src->rec.raw_pkt);
        if (status != 0)
            break;
        progress_update(&progress, src->rec.position, total);
    }
    progress_finish(&progress);
    if (status == 0 && ff_encode_audio_raw(out, 0) != 0)
        status = -1;
    return status;
}

int cmd_copy(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: flatav copy IN OUT\n");
        return 2;
    }
    const char *in_path = argv[0], *out_path = argv[1];

    Source src;
    if (source_open(&src, in_path, SOURCE_STREAMCOPY) != 0) {
        source_close(&src);
        return 1;
    }
    StreamCopy *sc = src.rec.streamcopy;
    const int stream = source_first_audio(&src);
    if (stream < 0 || !sc) {
        fprintf(stderr, "flatav: %s has no audio stream to copy\n", in_path);
        source_close(&src);
        return 1;
    }
    sc->active = 1;
    sc->stream_index = stream;
    src.rec.audio_stream_index = stream;
    src.rec.read_mode = 3;
    src.rec.raw_pkt = ff_pkt_new();

    HostFile file;
    if (!src.rec.raw_pkt || host_file_open(&file, out_path, "wb") != 0) {
        ff_pkt_free(src.rec.raw_pkt);
        ff_clean_streamcopy(&src.rec.streamcopy);
        source_close(&src);
        return 1;
    }

    HostCallbacks callbacks;
    memset(&callbacks, 0, sizeof callbacks);
    callbacks.error_cb = print_error;
    EncodeRec out;
    memset(&out, 0, sizeof out);
    out.output_file_name = out_path;
    out.callbacks = &callbacks;
    out.streamcopy = sc;
    out.io_opaque = &file;
    out.write_packet = host_file_write;
    out.seek = host_file_seek;

    int status = -1;
    int64_t packets = 0;
    const char *failure = ff_open_encoder_raw(&out);
    if (failure)
        fprintf(stderr, "flatav: cannot write %s: %s\n", out_path, failure);
    else
        status = copy_packets(&src, &out, &packets);

    /* The writer reads the stream-copy data to the last packet: it goes
     * first, the stream-copy data next, the source last. */
    ff_cleanup_encoder(&out);
    ff_pkt_free(src.rec.raw_pkt);
    ff_clean_streamcopy(&src.rec.streamcopy);
    host_file_close(&file);
    if (status == 0)
        printf("%s -> %s: %lld packets of stream #%d (%s), %.3f s\n", in_path, out_path,
               (long long)packets, stream, src.rec.audio_info[stream].codec_name,
               src.rec.packet_duration_sum);
    else
        remove(out_path);
    source_close(&src);
    return status == 0 ? 0 : 1;
}
