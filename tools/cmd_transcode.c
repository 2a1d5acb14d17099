/* flatav transcode [OPTIONS] IN OUT: decode one audio stream of IN and
 * encode it into OUT (encode_job.c), with IN's tags and chapters. Here: the
 * options, and the choice of container and encoder. */
#include <string.h>

#include "commands.h"
#include "encode_job.h"
#include "pcm.h"
#include "util.h"

static const char kCommand[] = "transcode";

/* The container: --format, else OUT's extension, else (standard output)
 * the container named like the encoder. */
static int choose_container(const char *format, const char *out, const char *codec,
                            MuxerFacts *mux)
{
    char near[256];
    if (format) {
        if (ffr_find_muxer(format, mux) == 0)
            return EXIT_DONE;
        ffr_nearest_muxers(format, near, sizeof near);
        return usage_error(kCommand, "unknown container '%s'; did you mean %s?", format, near);
    }
    if (strcmp(out, "-") != 0 && strchr(out, '.') && ffr_guess_muxer(out, mux) == 0)
        return EXIT_DONE;
    if (strcmp(out, "-") == 0 && codec && ffr_find_muxer(codec, mux) == 0)
        return EXIT_DONE;
    return usage_error(kCommand, "cannot tell the container of '%s' from its name; "
                                 "add --format NAME (such as matroska, ogg, mp3, flac)", out);
}

static int choose_encoder(const char *codec, const MuxerFacts *mux, int strict,
                          EncoderFacts *enc)
{
    char near[256];
    if (codec && ffr_find_encoder(codec, enc) != 0) {
        ffr_nearest_encoders(codec, near, sizeof near);
        return usage_error(kCommand, "unknown encoder '%s'; did you mean %s?", codec, near);
    }
    if (!codec && ffr_default_encoder(mux->audio_codec_id, enc) != 0)
        return usage_error(kCommand, "the %s container has no audio encoder of its own; "
                                     "choose one with --codec NAME", mux->name);
    if (enc->experimental && !strict)
        return usage_error(kCommand, "the %s encoder is experimental; add --strict to use it",
                           enc->name);
    return EXIT_DONE;
}

int cmd_transcode(int argc, char **argv)
{
    JobOptions o;
    memset(&o, 0, sizeof o);
    o.stream = -1;
    o.with_tags = 1;
    const char *codec = NULL, *format = NULL;
    int strict = 0;
    const OptionDef options[] = {
        {"--codec", 0, OPT_TEXT, &codec},
        {"--format", 0, OPT_TEXT, &format},
        {"--bitrate", 0, OPT_BITRATE, &o.bit_rate},
        {"--stream", 0, OPT_INDEX, &o.stream},
        {"--start", 0, OPT_SECONDS, &o.start},
        {"--duration", 't', OPT_SECONDS, &o.duration},
        {"--filter", 0, OPT_TEXT, &o.filter},
        {"--rate", 0, OPT_POSITIVE, &o.rate},
        {"--channels", 0, OPT_POSITIVE, &o.channels},
        {"--sample-format", 0, OPT_TEXT, &o.sample_format},
        {"--strict", 0, OPT_FLAG, &strict},
        OVERWRITE_OPTIONS(o.overwrite),
        OPTIONS_END,
    };
    int status = parse_in_out(kCommand, argc, argv, options, &o.in, &o.out);
    if (status != EXIT_DONE)
        return status;
    if (o.sample_format && sample_format_of(o.sample_format) == FLATAV_SAMPLE_FMT_NONE)
        return usage_error(kCommand, "unknown sample format '%s'; choose u8, s16, s32, flt, "
                                     "dbl, s64 or one of them with p (planar)",
                           o.sample_format);
    if (o.filter && check_filter_name(kCommand, o.filter) != EXIT_DONE)
        return EXIT_USAGE;

    MuxerFacts mux;
    EncoderFacts enc;
    status = choose_container(format, o.out, codec, &mux);
    if (status == EXIT_DONE)
        status = choose_encoder(codec, &mux, strict, &enc);
    if (status == EXIT_DONE)
        status = run_encode_job(kCommand, &o, &enc, &mux);
    return status;
}
