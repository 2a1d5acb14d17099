// Decoding 10 minutes of stereo 44.1 kHz FLAC and MP3 to packed PCM: flatav
// against a direct FFmpeg loop doing the same work in the same process.
// Run `cmake --build BUILD --target bench-media` first.
#include "bench_main.h"
#include "direct_decode.h"

namespace {

std::string input(const char *name) { return std::string(FLATAV_BENCH_MEDIA_DIR) + "/" + name; }

void decode(benchmark::State &state, DecodeResult (*decode_file)(const std::string &),
            const char *name)
{
    const std::string path = input(name);
    run_passes(state, [&] { return decode_file(path); });
}

BENCHMARK_CAPTURE(decode, flac_flatav, decode_with_flatav, "long.flac")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decode, flac_direct, decode_directly, "long.flac")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decode, mp3_flatav, decode_with_flatav, "long.mp3")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decode, mp3_direct, decode_directly, "long.mp3")->Unit(benchmark::kMillisecond);

}  // namespace

FLATAV_BENCHMARK_MAIN()
