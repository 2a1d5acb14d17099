// One encoding pass through flatav or the direct loop, for callgrind:
//   flatav_encode_once flatav|direct flac|mp3 FILE.s16
#include <cstdio>
#include <cstring>

#include "direct_encode.h"
#include "flatav.h"

int main(int argc, char **argv)
{
    if (argc != 4)
        return 2;
    LogSettings quiet{1, 1};
    ff_init(&quiet);
    const EncodeInput input = load_pcm(argv[3]);
    if (input.samples == 0)
        return 1;
    const EncodeCodec codec = std::strcmp(argv[2], "mp3") == 0 ? EncodeCodec::mp3 : EncodeCodec::flac;
    const bool direct = std::strcmp(argv[1], "direct") == 0;
    const EncodeResult r = direct ? encode_directly(input, codec) : encode_with_flatav(input, codec);
    std::printf("%s %s: %lld bytes, checksum %08x\n", argv[1], argv[2], (long long)r.bytes,
                r.checksum);
    return r.ok ? 0 : 1;
}
