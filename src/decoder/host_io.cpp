// The I/O context through which FFmpeg reads a source from the host's read
// and seek functions (custom-I/O mode of opening and probing).
#include "decoder.h"

namespace flatav {
namespace {

// A read that returns 0 is outside FFmpeg's contract (the end is
// AVERROR_EOF), yet it is what many hosts' stream APIs return at their end.
// FFmpeg 5.1's reader then asks again at once, without end, and the open or
// decoding call would never return: here 0 is the end of the source.
int read_host(void *opaque, uint8_t *buf, int size)
{
    const auto *avrec = static_cast<const DecodeRec *>(opaque);
    const int32_t got = avrec->read_packet(avrec->io_opaque, buf, size);
    return got == 0 ? AVERROR_EOF : got;
}

int64_t seek_host(void *opaque, int64_t offset, int whence)
{
    const auto *avrec = static_cast<const DecodeRec *>(opaque);
    return avrec->seek(avrec->io_opaque, offset, whence);
}

}  // namespace

AVIOContext *host_io_context(const DecodeRec *avrec, uint8_t *buffer)
{
    // The host's functions get io_opaque as ever; the context holds the
    // record, which outlives it (clean-up of the record frees it).
    return avio_alloc_context(buffer, kIoBufferSize, 0, const_cast<DecodeRec *>(avrec),
                              avrec->read_packet ? read_host : nullptr, nullptr,
                              avrec->seek ? seek_host : nullptr);
}

}  // namespace flatav
