// The output sample count rule, ff_buffer_size and ff_resample: one packed
// block in, one packed block out, and the drain at the end of the stream.
#include <cstdint>

extern "C" {
#include <libavutil/mathematics.h>
#include <libswresample/swresample.h>
}

#include "common/report.h"
#include "resample.h"

namespace flatav {

int32_t input_samples(const ResampleRec *rec, int32_t in_bytes)
{
    // Both divisors come from the host or from a failed set-up; a zero or
    // negative one means there is nothing to count.
    if (rec->in_bytes_per_sample <= 0 || rec->in_channels <= 0 || in_bytes <= 0)
        return 0;
    return in_bytes / rec->in_bytes_per_sample / rec->in_channels;
}

int32_t output_samples(const ResampleRec *rec, int32_t in_samples)
{
    // A context that a refused matrix left uninitialised would divide by its
    // own input rate inside swr_get_delay.
    if (in_samples <= 0 || !rec->swr || !swr_is_initialized(rec->swr))
        return 0;
    // The delay is asked in input samples, so what the converter still holds
    // counts along with the new block.
    const int64_t pending = swr_get_delay(rec->swr, rec->in_sample_rate) + in_samples;
    const int64_t count = av_rescale_rnd(pending, rec->out_sample_rate,
                                         rec->in_sample_rate, AV_ROUND_UP);
    // av_rescale_rnd answers INT64_MIN for rates it cannot use.
    return count < 0 ? 0 : static_cast<int32_t>(count);
}

int32_t output_bytes(const ResampleRec *rec, int32_t count)
{
    const int64_t bytes = static_cast<int64_t>(rec->out_bytes_per_sample) * count *
                          rec->out_channels;
    return static_cast<int32_t>(bytes);
}

}  // namespace flatav

using namespace flatav;

extern "C" FLATAV_API int32_t ff_buffer_size(ResampleRec *rec, int32_t in_bytes)
{
    if (!rec)
        return 0;
    return output_bytes(rec, output_samples(rec, input_samples(rec, in_bytes)));
}

extern "C" FLATAV_API int32_t ff_resample(ResampleRec *rec, const uint8_t *in,
                                          int32_t in_bytes, uint8_t *out,
                                          int32_t *out_samples, int32_t flush)
{
    if (!rec || !out_samples)
        return 0;
    const int32_t in_samples = input_samples(rec, in_bytes);
    int32_t capacity = *out_samples;
    if (capacity == 0 && in_samples != 0)
        capacity = output_samples(rec, in_samples);
    // The host sees the capacity that was used.
    *out_samples = capacity;
    if (!rec->swr || !out || capacity < 0)
        return 0;

    // One plane each way: packed formats, or planar mono.
    int converted;
    if (!flush) {
        // Without input bytes there is nothing to read, only output to take.
        const int32_t count = in ? in_samples : 0;
        converted = swr_convert(rec->swr, &out, capacity, &in, count);
    } else {
        // No input: libswresample gives out what it still holds.
        converted = swr_convert(rec->swr, &out, capacity, nullptr, in_samples);
        console_log("%s():converted_out_samples=%d\n", "ff_resample", converted);
    }
    if (converted < 0)
        return 0;
    return output_bytes(rec, converted);
}
