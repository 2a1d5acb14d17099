#include "jobs.h"

#include <algorithm>

extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/samplefmt.h>
}

#include "convert_host.h"
#include "mem_host.h"
#include "test_host.h"

namespace flatav_test {

// Calls of one loop at most: a source that never ends fails the test
// instead of hanging it.
constexpr int kMaxCalls = 200000;

Decoded decode_to_end(DecodeRec &rec, int stream, bool caller)
{
    rec.audio_stream_index = stream;
    Decoded d;
    HostBuffer buffer(8);
    std::vector<std::vector<uint8_t>> room(caller ? 9 : 0, std::vector<uint8_t>(1 << 20));
    uint8_t *planes[8] = {};
    for (size_t i = 1; i < room.size(); i++)
        planes[i - 1] = room[i].data();
    AudioBuffer *abuf = caller ? nullptr : buffer.get();
    uint8_t *buf = caller ? room[0].data() : nullptr;
    for (int calls = 0; calls < kMaxCalls && d.other.size() < 10; calls++) {
        const int32_t got = ff_decode_audio(&rec, buf, caller ? planes : nullptr, abuf, 0, &d.skipped);
        if ((d.ended = got == 0 && rec.end_of_stream == 1))
            break;
        if (got == FLATAV_DECODE_FAILED)
            d.failed_calls++;
        else if (got <= 0)
            d.other.push_back(got);
        if (got <= 0)
            continue;
        const AudioInfo &info = rec.audio_info[stream];
        const auto fmt = (AVSampleFormat)info.output_sample_fmt;
        const bool planar = abuf ? abuf->planar : av_sample_fmt_is_planar(fmt) && !rec.packed_output;
        const int channels = !planar ? 1 : abuf ? abuf->channels : info.channels;
        const int step = planar ? av_get_bytes_per_sample(fmt) : got;
        for (int at = 0; at < got / channels; at += step)
            for (int ch = 0; ch < channels; ch++) {
                const uint8_t *from = !planar ? (abuf ? abuf->data : buf) : abuf ? abuf->planes[ch] : planes[ch];
                d.pcm.insert(d.pcm.end(), from + at, from + at + step);
            }
    }
    return d;
}

bool CopyRun::succeeded() const
{
    return open_error.empty() && trailer == 0 &&
           std::all_of(results.begin(), results.end(), [](int32_t r) { return r == 0; });
}

void copy_stream(const std::string &path, int stream, const std::string &output, CopyRun &run)
{
    OpenedSource src(path);
    src.rec.streamcopy = reinterpret_cast<StreamCopy *>(uintptr_t{1});
    const char *failure = src.open();
    src.rec.read_mode = FLATAV_READ_RAW_PACKET;
    src.rec.raw_pkt = ff_pkt_new();
    src.rec.audio_stream_index = stream;
    EncodeRec rec{};
    rec.output_file_name = output.c_str();
    rec.streamcopy = src.rec.streamcopy;
    run.out.attach(rec);
    if (!failure) {
        src.rec.streamcopy->stream_index = stream;
        failure = ff_open_encoder_raw(&rec);
    }
    run.open_error = failure ? failure : "";
    for (int32_t size, calls = 0; !failure && calls < kMaxCalls &&
                                  (size = ff_decode_audio(&src.rec, nullptr, nullptr, nullptr, 0, nullptr)) >= 0;
         calls++) {
        const AVPacket *pkt = rec.raw_pkt = src.rec.raw_pkt;
        run.handed_out.push_back({pkt->pts, pkt->dts, pkt->duration, pkt->size, md5_hex(pkt->data, pkt->size)});
        run.results.push_back(ff_encode_audio_raw(&rec, size == 0 ? 1 : size));
        ff_pkt_clean(src.rec.raw_pkt);
    }
    if (!failure)
        run.trailer = ff_encode_audio_raw(&rec, 0);
    ff_cleanup_encoder(&rec);
    ff_pkt_free(src.rec.raw_pkt);
}

namespace {

Outcome decode_job(const std::string &name, bool custom_io, bool callbacks)
{
    MemorySource memory(read_file(media_path(name)));
    OpenedSource src(media_path(name), custom_io ? &memory : nullptr);
    src.rec.packed_output = 1;
    src.rec.callbacks = callbacks ? src.rec.callbacks : nullptr;
    if (src.open())
        return {{}, "ff_decoder_open"};
    // Without a callback table the buffer cannot grow: the caller's holds a packet.
    const Decoded d = decode_to_end(src.rec, src.first_audio(), !callbacks);
    return {d.pcm, d.ended && !d.failed_calls && d.other.empty() ? "" : "ff_decode_audio"};
}

Outcome encode_job(const char *file_name, const char *codec_name, AVSampleFormat format)
{
    const Signal signal(format, 44100, 44100);
    Output output(file_name, codec_name, 0);
    output.rec.callbacks = nullptr;
    const bool done = !output.open(signal) && output.encode(signal);
    return {output.out.bytes, done ? "" : "ff_encode_audio2"};
}

Outcome copy_job()
{
    CopyRun run;
    copy_stream(media_path("flac16.flac"), 0, "copy.flac", run);
    return {run.out.bytes, run.succeeded() ? "" : "ff_encode_audio_raw"};
}

// A second of 44.1 kHz stereo S16 to 48 kHz float, 1000 sample frames a call.
Outcome resample_job()
{
    const std::vector<uint8_t> pcm = read_file(media_path("res_44k_s16.raw"));
    ResampleRec rec{};
    rec.in_sample_fmt = FLATAV_SAMPLE_FMT_S16;
    rec.out_sample_fmt = FLATAV_SAMPLE_FMT_FLT;
    rec.in_sample_rate = 44100;
    rec.out_sample_rate = 48000;
    rec.in_channels = rec.out_channels = 2;
    Outcome out{{}, ff_init_resample(&rec, nullptr, 0) == 0 ? "" : "ff_init_resample"};
    std::vector<uint8_t> room(1 << 16);
    // Blocks of 1000 sample frames, then drain calls while they give bytes.
    for (size_t at = 0; out.failure.empty(); at += 4000) {
        const int32_t in = at < pcm.size() ? (int32_t)std::min<size_t>(4000, pcm.size() - at) : 0;
        int32_t capacity = in ? 0 : 4096;
        const int32_t n = ff_resample(&rec, in ? pcm.data() + at : nullptr, in, room.data(), &capacity, !in);
        out.bytes.insert(out.bytes.end(), room.begin(), room.begin() + n);
        if (!in && n <= 0)
            break;
    }
    ff_cleanup_resample(&rec);
    return out;
}

// A highpass over 44.1 kHz stereo S16, 4096 sample frames a call, drained.
Outcome filter_job()
{
    const std::vector<uint8_t> pcm = read_file(media_path("filter_s16le.raw"));
    FilterRec rec = stereo_filter(FLATAV_SAMPLE_FMT_S16);
    FilterRec *handle = &rec;
    PcmSink sink;
    bool done = setup_af("highpass", "f=200", &rec) == 0;
    for (size_t at = 0; done && at < pcm.size(); at += 16384)
        done = run_af(&rec, pcm.data() + at, (int32_t)std::min<size_t>(16384, pcm.size() - at), &sink,
                      PcmSink::write) == FLATAV_ERROR_EAGAIN;
    done = done && run_af(&rec, nullptr, 0, &sink, PcmSink::write) == FLATAV_ERROR_EOF;
    clean_af(&handle);
    return {sink.packed(), done ? "" : "run_af"};
}

// An MLP elementary stream pulled in 3000-byte pieces, then drained.
Outcome mem_decode_job()
{
    MemHost host(read_file(media_path("mlp_s16_stereo.mlp")));
    host.chunk = 3000;
    MemDecodeRec *rec = host.open(1 << 16, 1 << 15);
    bool done = rec != nullptr;
    for (int calls = 0; done && calls < kMaxCalls && !host.ended; calls++)
        done = mem_decode_audio(rec, 0) >= 0;
    done = done && mem_decode_audio(rec, 0) >= 0 && mem_decode_audio(rec, 1) >= 0;
    mem_clean(&rec);
    return {host.output, done ? "" : "mem_decode_audio"};
}

// MLP packets cut by FFmpeg's parser, one per ff_decode_buffer call.
Outcome buffer_decode_job()
{
    static const BufferPackets mlp = buffer_packets(media_path("mlp_s32_stereo.mlp"));
    BufferDecodeRec rec = mlp.rec;
    Outcome out{{}, ff_init_decoder(1, &rec) == 0 ? "" : "ff_init_decoder"};
    std::vector<uint8_t> frame(1 << 16);
    for (size_t i = 0; out.failure.empty() && i < mlp.packets.size(); i++) {
        const int32_t n = ff_decode_buffer(&rec, mlp.packets[i].data(), (int32_t)mlp.packets[i].size(), frame.data());
        out.failure = n >= 0 || n == FLATAV_ERROR_EAGAIN ? "" : "ff_decode_buffer";
        out.bytes.insert(out.bytes.end(), frame.begin(), frame.begin() + std::max(n, 0));
    }
    ff_decoder_cleanup(&rec);
    return out;
}

}  // namespace

std::vector<Job> library_jobs()
{
    return {
        {"decode flac by URL", [] { return decode_job("flac16.flac", false, true); }},
        {"decode mp3 through custom I/O", [] { return decode_job("mp3.mp3", true, true); }},
        {"decode aac m4a without callbacks", [] { return decode_job("aac.m4a", false, false); }},
        {"decode 5.1 flac through custom I/O without callbacks",
         [] { return decode_job("surround51.flac", true, false); }},
        {"encode flac", [] { return encode_job("out.flac", "flac", AV_SAMPLE_FMT_S16); }},
        {"encode aac m4a", [] { return encode_job("out.m4a", "aac", AV_SAMPLE_FMT_FLTP); }},
        {"encode mp3", [] { return encode_job("out.mp3", "libmp3lame", AV_SAMPLE_FMT_FLTP); }},
        {"stream copy", copy_job},
        {"resample", resample_job},
        {"filter", filter_job},
        {"mem_decode_audio", mem_decode_job},
        {"ff_decode_buffer", buffer_decode_job},
    };
}

}  // namespace flatav_test
