// One MLP decoding pass through flatav or the direct loop, for callgrind:
//   flatav_mlp_once flatav|direct FILE.mlp
#include <cstdio>
#include <cstring>
#include <vector>

#include "mlp_direct.h"

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    std::vector<uint8_t> stream;
    if (FILE *f = std::fopen(argv[2], "rb")) {
        uint8_t chunk[65536];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
            stream.insert(stream.end(), chunk, chunk + n);
        std::fclose(f);
    }
    const bool direct = std::strcmp(argv[1], "direct") == 0;
    const MlpResult r = direct ? decode_mlp_directly(stream) : decode_mlp_with_flatav(stream);
    std::printf("%s: %lld bytes, checksum %08x\n", argv[1], (long long)r.bytes, r.checksum);
    return r.ok && r.bytes > 0 ? 0 : 1;
}
