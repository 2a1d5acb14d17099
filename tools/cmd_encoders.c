/* flatav encoders [--all]: the codecs of the library's fixed encoder ids,
 * whether each truly opens on this FFmpeg (tried through ff_open_encoder
 * into FFmpeg's null container), and the sample format the library picks
 * for 16-bit and for 24-bit sources (decoded as s16 and s32). --all lists
 * every FFmpeg audio encoder instead. */
#include <string.h>

#include "commands.h"
#include "ffmpeg/registry.h"
#include "pcm.h"
#include "util.h"

typedef struct FixedEncoder {
    const char *number;  /* the function's number: "01" ... "19" */
    int32_t (*id)(void); /* ff_get_encoder_NN */
} FixedEncoder;

static const FixedEncoder kFixed[] = {
    {"01", ff_get_encoder_01}, {"02", ff_get_encoder_02}, {"03", ff_get_encoder_03},
    {"05", ff_get_encoder_05}, {"06", ff_get_encoder_06}, {"07", ff_get_encoder_07},
    {"08", ff_get_encoder_08}, {"09", ff_get_encoder_09}, {"10", ff_get_encoder_10},
    {"11", ff_get_encoder_11}, {"12", ff_get_encoder_12}, {"13", ff_get_encoder_13},
    {"14", ff_get_encoder_14}, {"15", ff_get_encoder_15}, {"16", ff_get_encoder_16},
    {"17", ff_get_encoder_17}, {"18", ff_get_encoder_18}, {"19", ff_get_encoder_19},
};

static int32_t discard(void *opaque, uint8_t *buf, int32_t size)
{
    (void)opaque;
    (void)buf;
    return size;
}

/* Whether the encoder opens for stereo near 48 kHz in fmt, with its own bit
 * rate or the one the tool would give it. */
static int opens(const EncoderFacts *enc, int fmt)
{
    HostCallbacks callbacks;
    EncodeRec rec;
    memset(&callbacks, 0, sizeof callbacks);
    memset(&rec, 0, sizeof rec);
    set_callbacks(&callbacks);
    rec.callbacks = &callbacks;
    rec.codec_name = "null"; /* the container that writes nothing */
    rec.codec_id = enc->codec_id;
    rec.encode = 1;
    rec.compression_level = -1;
    rec.sample_fmt = rec.requested_sample_fmt = fmt;
    rec.channels = 2;
    rec.channel_layout = ffr_encoder_layout(enc, 0, &rec.channels);
    rec.sample_rate = ffr_nearest_rate(enc, 48000);
    rec.write_packet = discard;
    int ok = ff_open_encoder(&rec) == NULL;
    if (!ok) {
        rec.bit_rate = 128000;
        ok = ff_open_encoder(&rec) == NULL;
    }
    ff_cleanup_encoder(&rec);
    return ok;
}

int cmd_encoders(int argc, char **argv)
{
    int all = 0;
    const OptionDef options[] = {{"--all", 0, OPT_FLAG, &all}, OPTIONS_END};
    int nb_args = 0;
    const int status = parse_options("encoders", argc, argv, options, NULL, 0, &nb_args);
    if (status != EXIT_DONE)
        return options_exit(status);
    FILE *to = tool_stdout;
    if (all) {
        ffr_list_all_encoders(to);
        return EXIT_DONE;
    }
    fprintf(to, "%-3s %-7s %-10s %-12s %-7s %-7s %s\n", "nr", "id", "codec", "encoder", "16-bit",
            "24-bit", "opens");
    for (size_t i = 0; i < sizeof kFixed / sizeof kFixed[0]; i++) {
        const int32_t id = kFixed[i].id();
        EncoderFacts enc;
        if (ffr_default_encoder(id, &enc) != 0) {
            fprintf(to, "%-3s %-7d %-10s %-12s %-7s %-7s %s\n", kFixed[i].number, (int)id,
                    ffr_codec_name(id), "-", "-", "-", "no (no audio encoder)");
            continue;
        }
        const int fmt16 = ff_get_encoder_sample_format(id, 16, FLATAV_SAMPLE_FMT_S16);
        const int fmt24 = ff_get_encoder_sample_format(id, 32, FLATAV_SAMPLE_FMT_S32);
        const int ok = opens(&enc, fmt16);
        fprintf(to, "%-3s %-7d %-10s %-12s %-7s %-7s %s\n", kFixed[i].number, (int)id,
                enc.codec_name, enc.name, sample_format_name(fmt16), sample_format_name(fmt24),
                !ok ? "no" : enc.experimental ? "experimental (--strict)" : "yes");
    }
    return EXIT_DONE;
}
