// Resampling a minute of stereo audio in blocks of 1024 frames: flatav
// against libswresample driven directly in the same process.
#include "bench_main.h"
#include "convert_work.h"

namespace {

void resample(benchmark::State &state, ConvertResult (*run)(const std::string &, const Stream &),
              const char *name)
{
    Stream stream;
    run_passes(state, [&] { return run(name, stream); });
}

BENCHMARK_CAPTURE(resample, up_44k_48k_flatav, resample_with_flatav, "up_44k_48k")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(resample, up_44k_48k_direct, resample_directly, "up_44k_48k")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(resample, s16_to_flt_flatav, resample_with_flatav, "s16_to_flt")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(resample, s16_to_flt_direct, resample_directly, "s16_to_flt")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(resample, down_48k_44k_flt_s16_flatav, resample_with_flatav, "down_48k_44k_flt_s16")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(resample, down_48k_44k_flt_s16_direct, resample_directly, "down_48k_44k_flt_s16")->Unit(benchmark::kMillisecond);

}  // namespace

FLATAV_BENCHMARK_MAIN()
