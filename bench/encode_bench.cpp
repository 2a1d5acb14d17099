// Encoding 10 minutes of stereo 44.1 kHz PCM to FLAC and to MP3: flatav
// against a direct FFmpeg loop doing the same work in the same process.
// Run `cmake --build BUILD --target bench-media` first.
#include <benchmark/benchmark.h>

#include "direct_encode.h"
#include "flatav.h"

namespace {

const EncodeInput &input()
{
    static const EncodeInput pcm = load_pcm(std::string(FLATAV_BENCH_MEDIA_DIR) + "/long.s16");
    return pcm;
}

void encode(benchmark::State &state, EncodeResult (*encode_pcm)(const EncodeInput &, EncodeCodec),
            EncodeCodec codec)
{
    const EncodeInput &pcm = input();
    if (pcm.samples == 0) {
        state.SkipWithError("no input: build the bench-media target");
        return;
    }
    for (auto _ : state) {
        EncodeResult r = encode_pcm(pcm, codec);
        if (!r.ok) {
            state.SkipWithError("encoding failed");
            return;
        }
        benchmark::DoNotOptimize(r.checksum);
    }
    state.SetBytesProcessed(state.iterations() * (int64_t)pcm.interleaved.size());
}

BENCHMARK_CAPTURE(encode, flac_flatav, encode_with_flatav, EncodeCodec::flac)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(encode, flac_direct, encode_directly, EncodeCodec::flac)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(encode, mp3_flatav, encode_with_flatav, EncodeCodec::mp3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(encode, mp3_direct, encode_directly, EncodeCodec::mp3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv)
{
    LogSettings quiet{1, 1};
    ff_init(&quiet);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
