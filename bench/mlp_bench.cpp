// Decoding 3 minutes of stereo 48 kHz MLP (16- and 24-bit) to packed PCM:
// flatav's memory-source decoder against FFmpeg's parser and decoder driven
// directly, reading from memory in the same refills.
// Run `cmake --build BUILD --target bench-media` first.
#include <string>

#include "bench_main.h"
#include "mlp_direct.h"

namespace {

std::vector<uint8_t> load(const char *name)
{
    const std::string path = std::string(FLATAV_BENCH_MEDIA_DIR) + "/" + name;
    std::vector<uint8_t> bytes;
    if (FILE *f = std::fopen(path.c_str(), "rb")) {
        uint8_t chunk[65536];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
            bytes.insert(bytes.end(), chunk, chunk + n);
        std::fclose(f);
    }
    return bytes;
}

void decode(benchmark::State &state, MlpResult (*decode_stream)(const std::vector<uint8_t> &),
            const char *name)
{
    const std::vector<uint8_t> stream = load(name);
    run_passes(state, [&] { return decode_stream(stream); });
}

BENCHMARK_CAPTURE(decode, mlp16_flatav, decode_mlp_with_flatav, "long16.mlp")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decode, mlp16_direct, decode_mlp_directly, "long16.mlp")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decode, mlp24_flatav, decode_mlp_with_flatav, "long24.mlp")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decode, mlp24_direct, decode_mlp_directly, "long24.mlp")
    ->Unit(benchmark::kMillisecond);

}  // namespace

FLATAV_BENCHMARK_MAIN()
