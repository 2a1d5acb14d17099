// What every benchmark program shares: one pass of work per iteration,
// counted in bytes, and a main that turns the library's trace off.
#pragma once

#include <cstdint>

#include <benchmark/benchmark.h>

#include "flatav.h"

// Runs pass() once per iteration. pass returns a result with ok, bytes (the
// bytes the pass processed) and checksum (kept so the work is not optimised
// away); a failed pass ends the benchmark with an error.
template <typename Pass>
void run_passes(benchmark::State &state, Pass pass)
{
    int64_t bytes = 0;
    for (auto _ : state) {
        auto result = pass();  // mutable: newer Google Benchmark deprecates DoNotOptimize of a const
        if (!result.ok || result.bytes == 0) {
            state.SkipWithError("the pass failed: are the inputs made (bench-media)?");
            return;
        }
        bytes += result.bytes;
        benchmark::DoNotOptimize(result.checksum);
    }
    state.SetBytesProcessed(bytes);
}

#define FLATAV_BENCHMARK_MAIN()                     \
    int main(int argc, char **argv)                 \
    {                                               \
        LogSettings quiet{1, 1};                    \
        ff_init(&quiet);                            \
        benchmark::Initialize(&argc, argv);         \
        benchmark::RunSpecifiedBenchmarks();        \
        benchmark::Shutdown();                      \
        return 0;                                   \
    }
