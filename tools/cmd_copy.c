/* flatav copy [OPTIONS] IN OUT: copy one audio stream of IN into OUT's
 * container without decoding it, with IN's tags and chapters.
 *
 * The way through the library: the source opens with stream-copy data;
 * ff_decode_audio in raw packet mode leaves each packet in a packet object
 * from ff_pkt_new; ff_encode_audio_raw writes it, retimed, into the output
 * that ff_open_encoder_raw opened; a size of 0 writes the trailer. */
#include <math.h>
#include <string.h>

#include "commands.h"
#include "ffmpeg/registry.h"
#include "pcm.h"
#include "progress.h"
#include "source.h"
#include "util.h"

static const char kCommand[] = "copy";

/* Copies the selected stream's packets that start before limit seconds
 * (0: all). */
static int copy_packets(Source *src, EncodeRec *out, double limit, int64_t *packets)
{
    Progress progress;
    progress_start(&progress, "copying");
    const AudioInfo *info = source_info(src);
    const double total = info->duration > 0 ? info->duration / 1e6 : 0;
    int status = EXIT_DONE;
    for (;;) {
        const double start = src->rec.packet_duration_sum;
        const int32_t size = ff_decode_audio(&src->rec, NULL, NULL, NULL, 0, NULL);
        if (size == FLATAV_DECODE_END_OF_PACKETS)
            break; /* the end of the source (end_of_stream is set) */
        if (size < 0) {
            status = fail("cannot read %s: %s", src->path, failure_reason(NULL));
            break;
        }
        /* An empty packet has nothing to write, and a size of 0 would mean
         * the trailer. */
        if (size > 0 && (limit <= 0 || start < limit)) {
            out->raw_pkt = src->rec.raw_pkt;
            reason_clear();
            if (ff_encode_audio_raw(out, size) != 0)
                status = fail("cannot write %s: %s", out->output_file_name,
                              failure_reason(NULL));
            ++*packets;
        }
        ff_pkt_clean(src->rec.raw_pkt);
        if (status != EXIT_DONE || (limit > 0 && start >= limit))
            break;
        progress_update(&progress, src->rec.position, total);
    }
    progress_finish(&progress);
    reason_clear();
    if (status == EXIT_DONE && ff_encode_audio_raw(out, 0) != 0)
        status = fail("cannot finish %s: %s", out->output_file_name, failure_reason(NULL));
    return status;
}

/* The container: --format, else OUT's extension, else one named like the
 * codec. Its name goes to the writer as a file name hint. */
static int choose_container(const char *format, const char *out, const char *codec,
                            char *hint, size_t size)
{
    MuxerFacts mux;
    char near[256];
    if (format && ffr_find_muxer(format, &mux) != 0) {
        ffr_nearest_muxers(format, near, sizeof near);
        return usage_error(kCommand, "unknown container '%s'; did you mean %s?", format, near);
    }
    if (!format && strcmp(out, "-") != 0 && strchr(out, '.') && ffr_guess_muxer(out, &mux) == 0)
        format = mux.name;
    if (!format && strcmp(out, "-") == 0 && ffr_find_muxer(codec, &mux) == 0)
        format = mux.name;
    if (!format || !mux.extension)
        return usage_error(kCommand, "cannot tell the container of '%s' from its name; "
                                     "add --format NAME (such as matroska, ogg, mp3)", out);
    snprintf(hint, size, "out.%s", mux.extension);
    return EXIT_DONE;
}

int cmd_copy(int argc, char **argv)
{
    const char *format = NULL, *in_path = NULL, *out_path = NULL;
    int stream = -1, overwrite = 0;
    double duration = 0;
    const OptionDef options[] = {
        {"--format", 0, OPT_TEXT, &format},
        {"--stream", 0, OPT_INDEX, &stream},
        {"--duration", 't', OPT_SECONDS, &duration},
        OVERWRITE_OPTIONS(overwrite),
        OPTIONS_END,
    };
    int status = parse_in_out(kCommand, argc, argv, options, &in_path, &out_path);
    if (status != EXIT_DONE)
        return status;

    Source src;
    Output out;
    EncodeRec rec;
    HostCallbacks callbacks;
    char hint[64];
    int64_t packets = 0;
    memset(&src, 0, sizeof src);
    memset(&rec, 0, sizeof rec);
    memset(&callbacks, 0, sizeof callbacks);

    status = output_open(&out, out_path, overwrite, in_path);
    if (status == EXIT_DONE)
        status = source_open(&src, in_path, SOURCE_STREAMCOPY);
    if (status == EXIT_DONE)
        status = source_select(&src, stream, kCommand);
    if (status == EXIT_DONE)
        status = choose_container(format, out_path, ffr_codec_name(source_info(&src)->codec_id),
                                  hint, sizeof hint);
    if (status != EXIT_DONE)
        goto cleanup;
    if (!src.rec.streamcopy || !(src.rec.raw_pkt = ff_pkt_new())) {
        status = fail("out of memory");
        goto cleanup;
    }
    src.rec.streamcopy->stream_index = src.stream;
    src.rec.read_mode = FLATAV_READ_RAW_PACKET;

    set_callbacks(&callbacks);
    rec.output_file_name = hint;
    rec.callbacks = &callbacks;
    rec.streamcopy = src.rec.streamcopy;
    /* The packets keep the source's times: so do the chapters, cut where
     * the packets stop. */
    const int64_t length =
        duration > 0 ? ffr_start_time(src.rec.av_format_context) + llround(duration * 1e6) : -1;
    if (!(rec.tags = source_output_tags(&src, 0, length))) {
        status = fail("out of memory");
        goto cleanup;
    }
    rec.io_opaque = &out.file;
    rec.write_packet = host_file_write;
    rec.seek = out.file.seekable ? host_file_seek : NULL;
    reason_clear();
    const char *failure = ff_open_encoder_raw(&rec);
    if (failure) {
        status = fail("cannot write %s: %s", out_path, failure_reason(failure));
        goto cleanup;
    }
    status = copy_packets(&src, &rec, duration, &packets);
    if (status == EXIT_DONE)
        status = output_commit(&out);
    if (status == EXIT_DONE)
        note("%s -> %s: %lld packets of stream #%d (%s), %.3f s", in_path, out_path,
             (long long)packets, src.stream, ffr_codec_name(source_info(&src)->codec_id),
             src.rec.packet_duration_sum);

cleanup:
    /* The writer reads the stream-copy data to the last packet: it goes
     * first, the source (with its stream-copy data and packet) last. */
    if (status != EXIT_DONE)
        output_abort(&out);
    ff_cleanup_encoder(&rec);
    ff_pkt_free(src.rec.raw_pkt);
    src.rec.raw_pkt = NULL;
    source_close(&src);
    return status;
}
