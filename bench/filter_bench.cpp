// Filtering a minute of stereo s16 audio in blocks of 1024 frames: flatav
// against the same libavfilter graph built and fed directly. The library's
// teardown checkpoint lines go to standard output once per iteration.
#include <benchmark/benchmark.h>

#include "convert_work.h"
#include "flatav.h"

namespace {

void filter(benchmark::State &state, ConvertResult (*run)(const std::string &, const Stream &),
            const char *name)
{
    Stream stream;
    int64_t bytes = 0;
    for (auto _ : state) {
        ConvertResult r = run(name, stream);
        if (!r.ok) {
            state.SkipWithError("filtering failed");
            return;
        }
        bytes += r.bytes;
        benchmark::DoNotOptimize(r.checksum);
    }
    state.SetBytesProcessed(bytes);
}

BENCHMARK_CAPTURE(filter, volume_flatav, filter_with_flatav, "volume")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(filter, volume_direct, filter_directly, "volume")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(filter, highpass_flatav, filter_with_flatav, "highpass")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(filter, highpass_direct, filter_directly, "highpass")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(filter, loudnorm_flatav, filter_with_flatav, "loudnorm")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(filter, loudnorm_direct, filter_directly, "loudnorm")->Unit(benchmark::kMillisecond);

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
