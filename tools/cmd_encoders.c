/* flatav encoders: the codecs of the library's fixed encoder ids, whether
 * this FFmpeg can encode each, and the sample format the library picks for
 * 16-bit and for 24-bit input, as flatav transcode asks for them: decoders
 * hand 16-bit PCM out as s16 and 24-bit PCM as s32, and the chooser matches
 * bits per sample as stored (16 and 32). */
#include <stdio.h>

#include "commands.h"
#include "encoders.h"
#include "source.h"

int cmd_encoders(int argc, char **argv)
{
    (void)argv;
    if (argc != 0) {
        fprintf(stderr, "usage: flatav encoders\n");
        return 2;
    }
    printf("%-3s %-7s %-13s %-7s %-7s %s\n", "nr", "id", "codec", "encode", "16-bit",
           "24-bit");
    for (size_t i = 0; i < kEncoderTableSize; i++) {
        const EncoderEntry *e = &kEncoderTable[i];
        const int32_t id = e->id();
        const int can_encode = ff_format_supported(id, 0);
        const int fmt16 = ff_get_encoder_sample_format(id, 16, 1 /* s16 */);
        const int fmt24 = ff_get_encoder_sample_format(id, 32, 2 /* s32 */);
        printf("%-3s %-7d %-13s %-7s %-7s %s\n", e->number, (int)id, e->name,
               can_encode ? "yes" : "no", can_encode ? sample_format_name(fmt16) : "-",
               can_encode ? sample_format_name(fmt24) : "-");
    }
    return 0;
}
