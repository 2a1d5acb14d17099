// ff_decoder_open and ff_decode_audio over arbitrary bytes read through
// custom I/O, in decode mode and in the three packet modes.
//
// Input: 7 option bytes, then the source.
//   0: bits 0-1 read_mode, bit 2 packed_output, bits 3-4 decode_error_mode,
//      bit 5 output to an AudioBuffer (else to buf), bit 6 try_seek,
//      bit 7 the source can seek
//   1: stream: 0xff the first audio stream that opened, else index % streams
//   2: bit 0 orig_sample_fmt S32P, bit 1 ask for stream-copy data,
//      bit 2 packet_cb takes the packets (copy mode), bit 3 a seek,
//      bits 4-7 request_sample_fmt - 1
//   3: largest read the I/O function returns (0: as asked; else n * 97)
//   4: copy mode capacity (expected_size = n * 64), seek target (n / 16 s)
//   5: call after which the seek happens
//   6: the container: 0 probed by the open, 1 named by ff_probe over the
//      bytes, 2 by ff_probe2 through the I/O functions, else a demuxer
//      forced by index (n - 3 among those that read the source)
//
// Demuxers that open further resources named inside the bytes (playlists,
// manifests, session descriptions: network or local files) are left out,
// whether forced or probed, and so are device inputs: the target reads the
// bytes it is given and nothing else.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/avutil.h>
#include <libavutil/error.h>
#include <libavutil/samplefmt.h>
}

#include "flatav.h"
#include "fuzz_host.h"

using namespace flatav_fuzz;

namespace {

// Calls per input: enough to decode a short source to its end.
constexpr int kMaxCalls = 400;
// The host buffer grows to at most this many bytes (per plane).
constexpr int32_t kMaxPcm = 16 << 20;
// Without an AudioBuffer the host promises room for one packet's PCM.
constexpr size_t kBufBytes = 32u << 20;

struct Source {
    const uint8_t *data;
    int64_t size;
    int64_t pos = 0;
    int32_t max_read = 0;     // 0: as much as asked
    int32_t packet_answer = 1;  // what packet_cb answers (0: taken)
};

int32_t read_source(void *opaque, uint8_t *buf, int32_t buf_size)
{
    auto *src = static_cast<Source *>(opaque);
    int64_t n = std::min<int64_t>(buf_size, src->size - src->pos);
    if (src->max_read > 0)
        n = std::min<int64_t>(n, src->max_read);
    if (n <= 0)
        return AVERROR_EOF;
    std::memcpy(buf, src->data + src->pos, (size_t)n);
    src->pos += n;
    return (int32_t)n;
}

int64_t seek_source(void *opaque, int64_t offset, int32_t whence)
{
    auto *src = static_cast<Source *>(opaque);
    int64_t target;
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE: return src->size;
    case SEEK_SET: target = offset; break;
    case SEEK_CUR: target = src->pos + offset; break;
    case SEEK_END: target = src->size + offset; break;
    default: return AVERROR(EINVAL);
    }
    if (target < 0 || target > src->size)
        return AVERROR(EINVAL);
    src->pos = target;
    return target;
}

// A host AudioBuffer that gives exactly what the library asked for last:
// packed output only data, planar output only abuf->channels planes, the
// other pointers null. A write into a buffer the host was not asked for
// (after the output changed between packed and planar, or planar output
// gained channels) goes through a null pointer.
struct Host {
    AudioBuffer abuf{};
    GuardedBuffer data;
    std::vector<GuardedBuffer> planes;
    std::vector<uint8_t *> plane_ptrs;

    void check() const
    {
        data.check("packed AudioBuffer");
        for (const GuardedBuffer &p : planes)
            p.check("AudioBuffer plane");
    }

    static void grow(void *, AudioBuffer *abuf, int32_t need)
    {
        Host *host = reinterpret_cast<Host *>(abuf);
        if (need <= 0 || need > kMaxPcm)
            return;  // refused: the library must notice the buffer is too small
        host->check();
        const size_t nb_planes = abuf->planar ? (size_t)std::max(abuf->channels, 1) : 0;
        host->data.resize(abuf->planar ? 0 : (size_t)need);
        host->planes.resize(nb_planes);
        // Room for every channel FFmpeg can have; those not asked for are null.
        host->plane_ptrs.assign(nb_planes + 1024, nullptr);
        for (size_t i = 0; i < nb_planes; i++) {
            host->planes[i].resize((size_t)need);
            host->plane_ptrs[i] = host->planes[i].data();
        }
        abuf->data = abuf->planar ? nullptr : host->data.data();
        abuf->planes = host->plane_ptrs.data();
        abuf->capacity = need;
    }
};

int32_t offer_packet(void *opaque, const uint8_t *data, int32_t size, int32_t)
{
    touch(data, size);
    // The opaque value is io_opaque, the I/O functions' source.
    return static_cast<Source *>(opaque)->packet_answer;
}

int first_open_audio_stream(const DecodeRec &rec)
{
    for (int i = 0; i < rec.nb_streams; i++) {
        const AudioInfo &info = rec.audio_info[i];
        if (info.codec_type == AVMEDIA_TYPE_AUDIO && info.status &&
            std::strcmp(info.status, "OK") == 0)
            return i;
    }
    return -1;
}

const char *const kExcludedDemuxers[] = {"hls", "dash", "concat", "imf", "sdp",
                                         "rtp", "rtsp", "sap"};

bool reads_only_the_source(const AVInputFormat *format)
{
    if (!format)
        return true;
    if (format->flags & AVFMT_NOFILE)
        return false;  // a device, or a format that opens its own input
    for (const char *name : kExcludedDemuxers)
        if (std::strcmp(format->name, name) == 0)
            return false;
    return true;
}

const std::vector<const AVInputFormat *> &forcible_demuxers()
{
    static const std::vector<const AVInputFormat *> formats = [] {
        std::vector<const AVInputFormat *> v;
        void *it = nullptr;
        while (const AVInputFormat *f = av_demuxer_iterate(&it))
            if (reads_only_the_source(f))
                v.push_back(f);
        return v;
    }();
    return formats;
}

// The format avformat_open_input will probe for these bytes: the same
// probing over the same bytes.
const AVInputFormat *probed_format(const uint8_t *data, int64_t size)
{
    Source src{data, size};
    auto *block = (uint8_t *)av_malloc(4096);
    AVIOContext *io = block ? avio_alloc_context(block, 4096, 0, &src, read_source,
                                                 nullptr, seek_source)
                            : nullptr;
    if (!io) {
        av_free(block);
        return nullptr;
    }
    const AVInputFormat *format = nullptr;
    if (av_probe_input_buffer(io, &format, "", nullptr, 0, 0) < 0)
        format = nullptr;
    av_freep(&io->buffer);
    avio_context_free(&io);
    return format;
}

GuardedBuffer &plain_buffer()
{
    static GuardedBuffer buf;
    if (buf.size() == 0)
        buf.resize(kBufBytes);
    return buf;
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
    const uint8_t mode = in.u8();
    const uint8_t stream_choice = in.u8();
    const uint8_t flags = in.u8();
    const uint8_t max_read = in.u8();
    const uint8_t capacity = in.u8();
    const uint8_t seek_call = in.u8();
    const uint8_t container = in.u8();

    Source src{in.rest(), (int64_t)in.left()};
    src.max_read = max_read * 97;
    Host host;
    HostCallbacks callbacks{};
    callbacks.packet_cb = offer_packet;
    callbacks.grow_buffer_cb = Host::grow;
    src.packet_answer = (flags & 4) ? 0 : 1;

    DecodeRec rec{};
    rec.callbacks = &callbacks;
    rec.io_opaque = &src;
    rec.read_packet = read_source;
    rec.seek = (mode & 0x80) ? seek_source : nullptr;
    rec.file_name = "";
    rec.read_mode = mode & 3;
    rec.packed_output = (mode >> 2) & 1;
    rec.decode_error_mode = (mode >> 3) & 3;
    rec.try_seek = (mode >> 6) & 1;
    rec.orig_sample_fmt = (flags & 1) ? AV_SAMPLE_FMT_S32P : AV_SAMPLE_FMT_NONE;
    rec.request_sample_fmt = (flags >> 4) - 1;
    rec.raw_buffer_size = capacity * 32;
    // Any non-null value asks for stream-copy data; the library replaces it.
    StreamCopy *const asked = reinterpret_cast<StreamCopy *>(&rec);
    if (flags & 2)
        rec.streamcopy = asked;
    double packet_times[2] = {0, 0};
    rec.packet_times = packet_times;

    // The container, chosen as a host would; inputs that would make FFmpeg
    // open anything but the bytes given are not run.
    if (container == 1) {
        std::vector<uint8_t> probe(src.data, src.data + std::min<int64_t>(src.size, 1 << 16));
        probe.resize(probe.size() + FLATAV_PROBE_PADDING, 0);
        FlatavProbeData pd{"", probe.data(), (int32_t)(probe.size() - FLATAV_PROBE_PADDING),
                           0, nullptr};
        rec.input_format = ff_probe(&rec, reinterpret_cast<AVProbeData *>(&pd));
    } else if (container == 2) {
        rec.input_format = ff_probe2(&rec);
        src.pos = 0;
    } else if (container > 2 && !forcible_demuxers().empty()) {
        rec.input_format = forcible_demuxers()[(container - 3) % forcible_demuxers().size()];
    }
    const AVInputFormat *format =
        rec.input_format ? rec.input_format : probed_format(src.data, src.size);
    if (!reads_only_the_source(format)) {
        ff_cleanup_decoder(&rec);
        return 0;
    }

    if (ff_decoder_open(&rec) == nullptr) {
        rec.audio_stream_index = stream_choice == 0xff ? first_open_audio_stream(rec)
                                 : rec.nb_streams > 0 ? stream_choice % rec.nb_streams
                                                      : 0;
        AVPacket *pkt = rec.read_mode == FLATAV_READ_RAW_PACKET ? ff_pkt_new() : nullptr;
        rec.raw_pkt = pkt;
        const bool use_abuf = (mode >> 5) & 1;
        GuardedBuffer &buf = plain_buffer();
        int32_t error_count = 0;
        for (int call = 0; call < kMaxCalls; call++) {
            if ((flags & 8) && call == seek_call) {
                rec.position = capacity / 16.0;
                ff_seek4(&rec);
            }
            const int32_t r = ff_decode_audio(
                &rec, use_abuf ? nullptr : buf.data(), nullptr,
                use_abuf ? &host.abuf : nullptr, capacity * 64, &error_count);
            host.check();
            // The host gives every buffer it is asked for: there is always
            // somewhere to write.
            if (use_abuf && rec.read_mode == FLATAV_READ_DECODE &&
                r == FLATAV_DECODE_NO_DESTINATION)
                __builtin_trap();
            if (rec.read_mode == FLATAV_READ_RAW_PACKET && r >= 0)
                ff_pkt_clean(pkt);
            // FLATAV_DECODE_NO_DECODER has the same value as the end of the
            // packets: either ends the run.
            if (r == FLATAV_DECODE_END_OF_PACKETS ||
                (rec.read_mode == FLATAV_READ_DECODE && r == 0 && rec.end_of_stream))
                break;
        }
        buf.check("buf");
        ff_pkt_clean(pkt);
        ff_pkt_free(pkt);
    }
    if (rec.streamcopy && rec.streamcopy != asked) {
        rec.streamcopy->active = 1;
        ff_clean_streamcopy(&rec.streamcopy);
    }
    ff_cleanup_decoder(&rec);
    return 0;
}
