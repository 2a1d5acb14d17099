// ff_init_resample, ff_buffer_size, ff_res_get_buffer, ff_resample and
// ff_cleanup_resample with arbitrary (bounded) formats, rates, layouts,
// options, remix matrices and block sizes.
//
// Input: 22 option bytes, then the PCM.
//   0, 1: in / out sample_fmt - 1 (AV_SAMPLE_FMT_NONE to one past the last)
//   2-3, 4-5: in / out rate: below 24 a common rate, else value * 3
//             (at most 192 kHz)
//   6, 7: in / out layout: bits 0-3 a mask (a standard layout or 0), bits
//         4-6 channels counted for the sizes (0: as the mask says, else
//         that value - 1), bit 7 sets user_*_ch_count to the channels
//   8: dither_method (0 to 71 as libswresample numbers them)
//   9: precision: 0 unset, else value (20 to 28 are soxr's)
//   10: resampler: 0 default, 1 "swr", 2 "soxr", 3 a name no engine has
//   11: bit 0 a remix matrix (values from the PCM bytes), bit 1 the output
//       buffer kept in the record (ff_res_get_buffer), bit 2 the host's own
//       capacity in out_samples, bit 3 free_buffer, bit 4 ff_set_matrix
//       after the set-up
//   12-13: block size in bytes
//   14-15: host capacity in samples (bit 2 of byte 11)
//   16, 17: non-zero: user_in_ch_count / user_out_ch_count = value % 10,
//           whatever the channels counted for the sizes
//   18-21: unused, 0
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/common.h>
#include <libavutil/mathematics.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include "flatav.h"
#include "fuzz_host.h"

using namespace flatav_fuzz;

namespace {

constexpr size_t kMaxPcmBytes = 256 * 1024;
constexpr int kMaxBlocks = 64;
constexpr int kMaxFlushes = 8;

const uint64_t kMasks[16] = {
    0,
    AV_CH_LAYOUT_MONO,
    AV_CH_LAYOUT_STEREO,
    AV_CH_LAYOUT_2POINT1,
    AV_CH_LAYOUT_SURROUND,
    AV_CH_LAYOUT_QUAD,
    AV_CH_LAYOUT_5POINT0,
    AV_CH_LAYOUT_5POINT1,
    AV_CH_LAYOUT_7POINT1,
    AV_CH_LAYOUT_5POINT1_BACK,
    AV_CH_LAYOUT_6POINT1,
    AV_CH_LAYOUT_STEREO_DOWNMIX,
    AV_CH_LAYOUT_7POINT1_WIDE,
    AV_CH_LAYOUT_HEXADECAGONAL,
    AV_CH_LOW_FREQUENCY,
    AV_CH_LAYOUT_OCTAGONAL,
};

const int32_t kRates[24] = {44100, 48000, 8000,  11025, 16000, 22050, 32000, 88200,
                            96000, 192000, 1,    0,     -1,    7350,  64000, 176400,
                            44099, 12000, 24000, 37800, 100,   1000,  5,     128000};

int32_t pick_rate(uint16_t v)
{
    return v < 24 ? kRates[v] : std::min<int32_t>((int32_t)v * 3, 192000);
}

void pick_layout(uint8_t v, uint64_t *mask, int32_t *channels, int32_t *user_count)
{
    *mask = kMasks[v & 15];
    const int counted = (v >> 4) & 7;
    *channels = counted ? counted - 1 : av_popcount64(*mask);
    *user_count = (v & 0x80) ? *channels : 0;
}

const char *const kResamplers[4] = {"", "swr", "soxr", "linear"};

// libsoxr (0.1.3, through libswresample 4) dereferences a null pointer when
// the converter is drained after a conversion that was given less output
// room than the block makes: FFmpeg alone shows it (soxr, 44100 to 48000 Hz,
// swr_convert of 2 blocks of 1024 samples into room for 1000 each, then
// swr_convert with no input; or 1 to 44100 Hz, 10 samples into room for
// 48767). The library passes the host's capacity on as it is; with soxr this
// target gives at least the room the block makes, counted in 64 bits (a
// steep upsampling overflows ff_buffer_size's 32-bit count), and leaves out
// a block whose room it cannot give. libswresample's own engine gets every
// capacity.
bool is_soxr(const ResampleRec &rec)
{
    return std::strcmp(rec.resampler_name, "soxr") == 0;
}

// Output samples per channel that a block of in_bytes makes, as
// ff_buffer_size counts them before its 32-bit truncation.
int64_t samples_made(const ResampleRec &rec, int32_t in_bytes)
{
    if (rec.in_bytes_per_sample <= 0 || rec.in_channels <= 0 || in_bytes <= 0 ||
        !rec.swr || !swr_is_initialized(rec.swr))
        return 0;
    const int64_t in_samples = in_bytes / rec.in_bytes_per_sample / rec.in_channels;
    if (in_samples == 0)
        return 0;
    return av_rescale_rnd(swr_get_delay(rec.swr, rec.in_sample_rate) + in_samples,
                          rec.out_sample_rate, rec.in_sample_rate, AV_ROUND_UP);
}

constexpr int64_t kMaxRoom = 64 << 20;

// One conversion into a guarded output block of the capacity asked for.
int32_t convert(ResampleRec &rec, const uint8_t *pcm, int32_t bytes, bool flush,
                uint8_t flags, int32_t host_capacity, GuardedBuffer &out)
{
    int32_t capacity = (flags & 4) ? host_capacity : 0;
    const int32_t count_bytes = flush ? 0 : ff_buffer_size(&rec, bytes);
    // The bytes the library will write at most: the capacity it is given
    // (or works out, as ff_buffer_size does) in whole output sample frames.
    const int64_t frame = (int64_t)std::max(rec.out_bytes_per_sample, 0) *
                          std::max(rec.out_channels, 0);
    if (is_soxr(rec) && !flush && frame > 0) {
        const int64_t made = samples_made(rec, bytes);
        if (made < 0 || made * frame > kMaxRoom)
            return 0;
        // With no capacity the library counts the same room itself.
        if (capacity > 0 && capacity < made)
            capacity = (int32_t)made;
    }
    const int64_t room = capacity > 0 ? capacity * frame : count_bytes;
    if (room < 0 || room > kMaxRoom)
        return 0;
    uint8_t *dst;
    if (flags & 2) {
        if (ff_res_get_buffer(&rec, (int32_t)room) != 0)
            return 0;
        dst = rec.buffer;
    } else {
        out.resize((size_t)room);
        dst = out.data();
    }
    int32_t out_samples = capacity;
    const int32_t r = ff_resample(&rec, pcm, bytes, dst, &out_samples, flush ? 1 : 0);
    out.check("ff_resample output");
    if (r < 0 || r > room)
        __builtin_trap();  // more bytes than the capacity holds
    return r;
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
    ResampleRec rec{};
    HostCallbacks callbacks{};
    rec.callbacks = &callbacks;
    rec.in_sample_fmt = (int32_t)(in.u8() % (AV_SAMPLE_FMT_NB + 2)) - 1;
    rec.out_sample_fmt = (int32_t)(in.u8() % (AV_SAMPLE_FMT_NB + 2)) - 1;
    rec.in_sample_rate = pick_rate(in.u16());
    rec.out_sample_rate = pick_rate(in.u16());
    pick_layout(in.u8(), &rec.in_channel_layout, &rec.in_channels, &rec.user_in_ch_count);
    pick_layout(in.u8(), &rec.out_channel_layout, &rec.out_channels,
                &rec.user_out_ch_count);
    rec.dither_method = in.u8() % 72;
    rec.precision = in.u8();
    const char *engine = kResamplers[in.u8() & 3];
    std::memcpy(rec.resampler_name, engine, std::strlen(engine));
    const uint8_t flags = in.u8();
    const size_t block = in.u16();
    const int32_t host_capacity = in.u16();
    if (const uint8_t v = in.u8())
        rec.user_in_ch_count = v % 10;
    if (const uint8_t v = in.u8())
        rec.user_out_ch_count = v % 10;
    size_t unused = 0;
    in.take(4, &unused);

    // A matrix of out x in coefficients in -2..2, from the PCM bytes, large
    // enough for every channel count the record names.
    std::vector<double> matrix;
    const int stride = std::max({rec.in_channels, rec.user_in_ch_count, 1});
    if (flags & 1) {
        const int rows = std::max({rec.out_channels, rec.user_out_ch_count, 1});
        for (int i = 0; i < rows * stride; i++)
            matrix.push_back((in.u8() - 128) / 64.0);
    }
    if (ff_init_resample(&rec, matrix.empty() ? nullptr : matrix.data(), stride) == 0) {
        if (flags & 16)
            ff_set_matrix(&rec, matrix.empty() ? nullptr : matrix.data(), stride);
        rec.free_buffer = (flags & 8) ? 1 : 0;
        GuardedBuffer out;
        size_t pushed = 0;
        for (int i = 0; i < kMaxBlocks && in.left() > 0 && pushed < kMaxPcmBytes; i++) {
            size_t got = 0;
            const uint8_t *pcm = in.take(std::min(block, kMaxPcmBytes - pushed), &got);
            std::vector<uint8_t> copy(pcm, pcm + got);
            pushed += got;
            convert(rec, copy.data(), (int32_t)copy.size(), false, flags, host_capacity,
                    out);
        }
        for (int i = 0; i < kMaxFlushes; i++)
            if (convert(rec, nullptr, 0, true, flags | 4, std::max(host_capacity, 1024),
                        out) <= 0)
                break;
    }
    ff_cleanup_resample(&rec);
    // A buffer the library kept but was not told to free is the host's.
    ff_free(rec.buffer);
    ff_cleanup_resample(&rec);
    return 0;
}
