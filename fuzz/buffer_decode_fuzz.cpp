// ff_init_decoder and ff_decode_buffer: MLP and DST packets decoded one
// frame per call into a destination that holds one frame of the record's
// channels and format.
//
// Input: 5 option bytes, then packets, each a 2-byte little-endian length
// and that many bytes.
//   0: bit 0 MLP (else DST), bit 1 clean up and open again half way
//   1: channels (0 to 31)
//   2: sample_fmt - 1 (AV_SAMPLE_FMT_NONE to one past the last)
//   3-4: sample rate: below 16 a common rate, else that value * 1024
#include <cstdint>

extern "C" {
#include <libavutil/samplefmt.h>
}

#include "flatav.h"
#include "fuzz_host.h"

using namespace flatav_fuzz;

namespace {

constexpr int kMaxPackets = 256;

const int32_t kRates[16] = {0,      8000,   44100,   48000,   88200,   96000,
                            176400, 192000, 2822400, 5644800, 11289600, 1,
                            -1,     22050,  32000,   705600};

// The destination the host keeps: room for the largest frame of the
// record's channels in the widest format. A DST frame holds 1/75 s of DSD
// samples (588 per 44100 Hz of the rate); an MLP frame at most 160 samples
// (40 per 48 kHz, up to 192 kHz).
GuardedBuffer &destination(const BufferDecodeRec &rec, bool is_mlp)
{
    static GuardedBuffer dst;
    const size_t samples =
        is_mlp ? 160 : (size_t)(588 * (int64_t)rec.sample_rate / 44100) + 1;
    const size_t bytes = samples * (size_t)(rec.channels > 0 ? rec.channels : 1) * 8;
    if (dst.size() != bytes)
        dst.resize(bytes);
    return dst;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    init_target();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Reader in(data, size);
    const uint8_t flags = in.u8();
    BufferDecodeRec rec{};
    rec.channels = in.u8() % 32;
    rec.sample_fmt = (int32_t)(in.u8() % (AV_SAMPLE_FMT_NB + 2)) - 1;
    const uint16_t rate = in.u16();
    rec.sample_rate = rate < 16 ? kRates[rate] : (int32_t)rate * 1024;

    const int32_t is_mlp = flags & 1;
    if (ff_init_decoder(is_mlp, &rec) != 0) {
        ff_decoder_cleanup(&rec);
        return 0;
    }
    GuardedBuffer &dst = destination(rec, is_mlp);
    // Each call copies one whole frame in the record's channels and format,
    // or refuses the packet and writes nothing.
    const int sample_bytes = av_get_bytes_per_sample((AVSampleFormat)rec.sample_fmt);
    const int32_t frame_bytes = rec.channels * (sample_bytes > 0 ? sample_bytes : 1);
    for (int i = 0; i < kMaxPackets && in.left() > 0; i++) {
        if ((flags & 2) && i == kMaxPackets / 2) {
            ff_decoder_cleanup(&rec);
            if (ff_init_decoder(is_mlp, &rec) != 0)
                break;
        }
        size_t got = 0;
        const uint8_t *packet = in.take(in.u16(), &got);
        dst.data()[0] = 0xa5;
        const int32_t n = ff_decode_buffer(&rec, packet, (int32_t)got, dst.data());
        if (n > 0 && ((size_t)n > dst.size() || n % frame_bytes != 0))
            __builtin_trap();  // more than one frame, or part of a sample frame
        if (n < 0 && dst.data()[0] != 0xa5)
            __builtin_trap();  // a refused packet wrote

        dst.check("ff_decode_buffer destination");
    }
    ff_decoder_cleanup(&rec);
    ff_decoder_cleanup(&rec);
    return 0;
}
