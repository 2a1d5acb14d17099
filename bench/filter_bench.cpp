// Filtering a minute of stereo s16 audio in blocks of 1024 frames: flatav
// against the same libavfilter graph built and fed directly. The library's
// teardown checkpoint lines go to standard output once per iteration.
#include "bench_main.h"
#include "convert_work.h"

namespace {

void filter(benchmark::State &state, ConvertResult (*run)(const std::string &, const Stream &),
            const char *name)
{
    Stream stream;
    run_passes(state, [&] { return run(name, stream); });
}

BENCHMARK_CAPTURE(filter, volume_flatav, filter_with_flatav, "volume")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(filter, volume_direct, filter_directly, "volume")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(filter, highpass_flatav, filter_with_flatav, "highpass")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(filter, highpass_direct, filter_directly, "highpass")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(filter, loudnorm_flatav, filter_with_flatav, "loudnorm")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(filter, loudnorm_direct, filter_directly, "loudnorm")->Unit(benchmark::kMillisecond);

}  // namespace

FLATAV_BENCHMARK_MAIN()
