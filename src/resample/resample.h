// Internal steps of the resampler.
#pragma once

#include <cstdint>

#include "flatav.h"

namespace flatav {

// Bytes a block of the output buffer holds beyond its recorded usable size.
constexpr int32_t kBufferSlack = 64;

// The resampler's release function for a set-up: frees the converter and
// clears swr; the output buffer is ff_cleanup_resample's to release.
void release_converter(ResampleRec *rec);

// Whole input samples per channel in in_bytes; 0 when the record cannot say
// (no bytes per sample yet, no channels, or a negative count).
int32_t input_samples(const ResampleRec *rec, int32_t in_bytes);

// Output samples per channel that in_samples give at most, counting what the
// converter still holds: 0 for no input or a record that is not live.
int32_t output_samples(const ResampleRec *rec, int32_t in_samples);

// count samples per channel of the output format, in bytes, as a 32-bit
// product.
int32_t output_bytes(const ResampleRec *rec, int32_t count);

}  // namespace flatav
