// One decoding pass through flatav or the direct loop, for callgrind:
//   flatav_decode_once flatav|direct FILE
#include <cstdio>
#include <cstring>

#include "direct_decode.h"
#include "flatav.h"

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    LogSettings quiet{1, 1};
    ff_init(&quiet);
    const bool direct = std::strcmp(argv[1], "direct") == 0;
    DecodeResult r = direct ? decode_directly(argv[2]) : decode_with_flatav(argv[2]);
    std::printf("%s: %lld bytes, checksum %08x\n", argv[1], (long long)r.bytes, r.checksum);
    return r.ok ? 0 : 1;
}
