// Encoding 10 minutes of stereo 44.1 kHz PCM to FLAC and to MP3: flatav
// against a direct FFmpeg loop doing the same work in the same process.
// Run `cmake --build BUILD --target bench-media` first.
#include "bench_main.h"
#include "direct_encode.h"

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
    // Counted in bytes of PCM taken in.
    run_passes(state, [&] {
        EncodeResult r = encode_pcm(pcm, codec);
        r.bytes = (int64_t)pcm.interleaved.size();
        return r;
    });
}

BENCHMARK_CAPTURE(encode, flac_flatav, encode_with_flatav, EncodeCodec::flac)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(encode, flac_direct, encode_directly, EncodeCodec::flac)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(encode, mp3_flatav, encode_with_flatav, EncodeCodec::mp3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(encode, mp3_direct, encode_directly, EncodeCodec::mp3)->Unit(benchmark::kMillisecond);

}  // namespace

FLATAV_BENCHMARK_MAIN()
