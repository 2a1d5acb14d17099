/* flatav decode [OPTIONS] IN OUT: decode one audio stream of IN to PCM, a
 * WAV file when OUT ends in .wav, raw interleaved PCM otherwise. The job is
 * transcode's (encode_job.c) with a PCM encoder: FFmpeg's wav and raw PCM
 * containers write exactly what the ffmpeg tool writes. */
#include <ctype.h>
#include <string.h>

#include "commands.h"
#include "encode_job.h"
#include "pcm.h"
#include "util.h"

static const char kCommand[] = "decode";

static int ends_in_wav(const char *path)
{
    const size_t n = strlen(path);
    return n > 4 && path[n - 4] == '.' && tolower((unsigned char)path[n - 3]) == 'w' &&
           tolower((unsigned char)path[n - 2]) == 'a' && tolower((unsigned char)path[n - 1]) == 'v';
}

/* The PCM codec for --sample-format or for the decoded format: FFmpeg's raw
 * containers are named as the codecs without "pcm_". */
static int choose_pcm(const JobOptions *o, int fmt, int bits_per_raw_sample, EncoderFacts *enc,
                      MuxerFacts *mux)
{
    const char *codec = "pcm_s16le";
    const char *wanted = o->pcm_format;
    if (!wanted) {
        switch (fmt) {
        case FLATAV_SAMPLE_FMT_U8: wanted = "u8"; break;
        case FLATAV_SAMPLE_FMT_S32: wanted = bits_per_raw_sample == 24 ? "s24" : "s32"; break;
        case FLATAV_SAMPLE_FMT_FLT: wanted = "flt"; break;
        case FLATAV_SAMPLE_FMT_DBL: wanted = "dbl"; break;
        default: wanted = "s16"; break;
        }
    }
    if (strcmp(wanted, "u8") == 0)
        codec = "pcm_u8";
    else if (strcmp(wanted, "s24") == 0)
        codec = "pcm_s24le";
    else if (strcmp(wanted, "s32") == 0)
        codec = "pcm_s32le";
    else if (strcmp(wanted, "flt") == 0)
        codec = "pcm_f32le";
    else if (strcmp(wanted, "dbl") == 0)
        codec = "pcm_f64le";
    if (ffr_find_encoder(codec, enc) != 0 ||
        ffr_find_muxer(ends_in_wav(o->out) ? "wav" : codec + 4, mux) != 0)
        return fail("this FFmpeg cannot write %s", codec);
    return EXIT_DONE;
}

int cmd_decode(int argc, char **argv)
{
    JobOptions o;
    memset(&o, 0, sizeof o);
    o.stream = -1;
    o.choose = choose_pcm;
    const OptionDef options[] = {
        {"--stream", 0, OPT_INDEX, &o.stream},
        {"--sample-format", 0, OPT_TEXT, &o.pcm_format},
        {"--rate", 0, OPT_POSITIVE, &o.rate},
        {"--channels", 0, OPT_POSITIVE, &o.channels},
        {"--duration", 't', OPT_SECONDS, &o.duration},
        OVERWRITE_OPTIONS(o.overwrite),
        OPTIONS_END,
    };
    const int status = parse_in_out(kCommand, argc, argv, options, &o.in, &o.out);
    if (status != EXIT_DONE)
        return status;
    static const char *const kFormats[] = {"s16", "s24", "s32", "flt", NULL};
    if (o.pcm_format) {
        int known = 0;
        for (const char *const *f = kFormats; *f; f++)
            known |= strcmp(*f, o.pcm_format) == 0;
        if (!known)
            return usage_error(kCommand, "--sample-format wants s16, s24, s32 or flt, not '%s'",
                               o.pcm_format);
    }
    return run_encode_job(kCommand, &o, NULL, NULL);
}
