// The I/O context through which FFmpeg reads a source from the host's read
// and seek functions (custom-I/O mode of opening and probing).
#include "decoder.h"

extern "C" {
#include <libavutil/mem.h>
}

namespace flatav {
namespace {

// What the wrappers need of the host, copied out of the record at open: a
// host may move or copy its record between calls (C# marshals a struct with
// delegates that way), and FFmpeg keeps calling with the opaque value it was
// given. The I/O context owns the block.
struct HostIo {
    IoReadFn read;
    IoSeekFn seek;
    void *opaque;  // the host's io_opaque
};

// A read that returns 0 is outside FFmpeg's contract (the end is
// AVERROR_EOF), yet it is what many hosts' stream APIs return at their end.
// FFmpeg 5.1's reader then asks again at once, without end, and the open or
// decoding call would never return: here 0 is the end of the source.
int read_host(void *opaque, uint8_t *buf, int size)
{
    const auto *io = static_cast<const HostIo *>(opaque);
    const int32_t got = io->read(io->opaque, buf, size);
    return got == 0 ? AVERROR_EOF : got;
}

int64_t seek_host(void *opaque, int64_t offset, int whence)
{
    const auto *io = static_cast<const HostIo *>(opaque);
    return io->seek(io->opaque, offset, whence);
}

}  // namespace

const char *host_io_context(const DecodeRec *avrec, AVIOContext **io)
{
    *io = nullptr;
    auto *buffer = static_cast<uint8_t *>(av_malloc(kIoBufferAlloc));
    if (!buffer)
        return "av_malloc for buffer failed";
    auto *host = static_cast<HostIo *>(av_malloc(sizeof(HostIo)));
    if (host) {
        *host = HostIo{avrec->read_packet, avrec->seek, avrec->io_opaque};
        *io = avio_alloc_context(buffer, kIoBufferSize, 0, host,
                                 host->read ? read_host : nullptr, nullptr,
                                 host->seek ? seek_host : nullptr);
    }
    if (!*io) {
        // Nothing was handed over: both blocks are still this call's.
        av_free(host);
        av_free(buffer);
        return "avio_alloc_context failed";
    }
    return nullptr;
}

void free_host_io_context(AVIOContext **io)
{
    if (!*io)
        return;
    // The I/O context may have replaced the buffer it was given.
    av_freep(&(*io)->buffer);
    av_freep(&(*io)->opaque);
    avio_context_free(io);
}

}  // namespace flatav
