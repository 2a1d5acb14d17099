// With the quiet switch on, the library writes nothing to standard output or
// standard error, whatever the job. The test program runs again as a child
// that does every kind of job (its main hands "--quiet-jobs" to
// run_quiet_jobs), and the parent reads both of the child's streams.
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/channel_layout.h>
}

#include "convert_host.h"
#include "encode_host.h"
#include "flatav.h"
#include "media.h"
#include "mem_host.h"
#include "test_host.h"

using namespace flatav_test;

namespace {

struct QuietJob {
    const char *name;
    std::function<bool()> run;  // true when the job did its work
};

// Decodes the first audio stream of rec, opened, into abuf; true when PCM came.
bool decode_to_end(DecodeRec &rec, AudioBuffer *abuf)
{
    rec.audio_stream_index = 0;
    int32_t total = 0, n;
    while ((n = ff_decode_audio(&rec, nullptr, nullptr, abuf, 0, nullptr)) > 0)
        total += n;
    return n == 0 && rec.end_of_stream == 1 && total > 0;
}

// The source reports to a callback table, the writer has none.
bool stream_copy()
{
    OpenedSource src(media_path("flac16.flac"));
    src.rec.streamcopy = reinterpret_cast<StreamCopy *>(uintptr_t{1});
    if (src.open())
        return false;
    src.rec.audio_stream_index = 0;
    src.rec.read_mode = FLATAV_READ_RAW_PACKET;
    src.rec.raw_pkt = ff_pkt_new();
    EncodeRec out{};
    MemoryOutput memory;
    memory.attach(out);
    out.output_file_name = "copy.mka";
    out.streamcopy = src.rec.streamcopy;
    bool copied = ff_open_encoder_raw(&out) == nullptr;
    for (int32_t size; copied && (size = ff_decode_audio(&src.rec, nullptr, nullptr, nullptr,
                                                          0, nullptr)) > 0;) {
        out.raw_pkt = src.rec.raw_pkt;
        copied = ff_encode_audio_raw(&out, size) == 0;
        ff_pkt_clean(src.rec.raw_pkt);
    }
    copied = copied && ff_encode_audio_raw(&out, 0) == 0 && !memory.bytes.empty();
    ff_cleanup_encoder(&out);
    ff_pkt_free(src.rec.raw_pkt);
    return copied;
}

bool resample()
{
    ResampleRec rec{};
    rec.in_sample_fmt = AV_SAMPLE_FMT_S16;
    rec.in_sample_rate = 44100;
    rec.in_channels = 2;
    rec.out_sample_fmt = AV_SAMPLE_FMT_FLT;
    rec.out_sample_rate = 48000;
    rec.out_channels = 2;
    const std::vector<uint8_t> pcm = read_file(media_path("res_44k_s16.raw"));
    std::vector<uint8_t> out(1 << 20);
    int32_t capacity = 0, flushed = 4096;
    const bool done = ff_init_resample(&rec, nullptr, 0) == 0 &&
                      ff_resample(&rec, pcm.data(), 40000, out.data(), &capacity, 0) > 0 &&
                      ff_resample(&rec, nullptr, 0, out.data(), &flushed, 1) > 0;
    ff_cleanup_resample(&rec);
    return done;
}

bool filter(const char *name)
{
    FilterRec rec = stereo_filter(AV_SAMPLE_FMT_S16);
    FilterRec *handle = &rec;
    PcmSink sink;
    const std::vector<uint8_t> block(4096 * 4, 7);
    const bool done = setup_af(name, nullptr, &rec) == 0 &&
                      run_af(&rec, block.data(), (int32_t)block.size(), &sink,
                             PcmSink::write) == FLATAV_ERROR_EAGAIN &&
                      run_af(&rec, nullptr, 0, &sink, PcmSink::write) == FLATAV_ERROR_EOF;
    clean_af(&handle);
    return done && !sink.writes.empty();
}

bool memory_source_decoder()
{
    MemHost host(read_file(media_path("mlp_s16_stereo.mlp")));
    MemDecodeRec *rec = host.open(1 << 16, 1 << 15);
    while (rec && !host.ended)
        mem_decode_audio(rec, 0);
    const bool done = rec && mem_decode_audio(rec, 1) >= 0 && !host.output.empty();
    mem_clean(&rec);
    return done && !mem_init(nullptr, MemHost::read, MemHost::write, 0, 16, 16);
}

bool packet_buffer_decoder()
{
    BufferPackets mlp = buffer_packets(media_path("mlp_s16_stereo.mlp"));
    std::vector<uint8_t> frame(1 << 16);
    int32_t total = 0;
    if (ff_init_decoder(1, &mlp.rec) != 0)
        return false;
    for (const std::vector<uint8_t> &packet : mlp.packets)
        total += std::max(0, ff_decode_buffer(&mlp.rec, packet.data(), (int32_t)packet.size(),
                                              frame.data()));
    ff_decoder_cleanup(&mlp.rec);
    return total > 0;
}

bool probe()
{
    const std::string missing = media_path("missing.mp3");
    DecodeRec rec{};
    rec.is_url = 1;
    rec.file_name = missing.c_str();
    std::vector<uint8_t> bytes = read_file(media_path("flac16.flac"));
    bytes.resize(bytes.size() + FLATAV_PROBE_PADDING);
    FlatavProbeData data{"", bytes.data(), (int32_t)bytes.size() - FLATAV_PROBE_PADDING, 0,
                         nullptr};
    const bool done = !ff_probe2(&rec) && ff_probe(&rec, (AVProbeData *)&data);
    ff_cleanup_decoder(&rec);
    return done;
}

const QuietJob kJobs[] = {
    {"decode with a callback table, custom I/O",
     [] {
         MemorySource memory(read_file(media_path("mp3.mp3")));
         OpenedSource src(media_path("mp3.mp3"), &memory);
         HostBuffer buffer;
         src.rec.packed_output = 1;
         return !src.open() && decode_to_end(src.rec, buffer.get());
     }},
    {"decode without a callback table",
     [] {
         const std::string path = media_path("wmav2.wma");
         DecodeRec rec{};
         rec.file_name = path.c_str();
         rec.is_url = 1;
         HostBuffer buffer(2, 1 << 20);
         const bool done = !ff_decoder_open(&rec) && decode_to_end(rec, buffer.get());
         ff_cleanup_decoder(&rec);
         return done;
     }},
    {"encode without a callback table",
     [] {
         const Signal signal(AV_SAMPLE_FMT_S16, 44100, 44100);
         Output output("out.flac", "flac", 0);
         output.rec.callbacks = nullptr;
         return !output.open(signal) && output.encode(signal);
     }},
    {"stream copy", stream_copy},
    {"resample", resample},
    {"filter", [] { return filter("volume"); }},
    {"filter that fails to set up", [] { return !filter("no_such_filter"); }},
    {"memory-source decoder, and a refused one", memory_source_decoder},
    {"packet buffer decoder", packet_buffer_decoder},
    {"probe a missing file and a block of bytes", probe},
    {"list the muxers", [] { ff_dumpf(); return true; }},
};

// FFmpeg's own log goes to the host, through the library's bridge.
void drop_line(int32_t, const char *) {}

TEST(Quiet, EveryKindOfJobWritesNothingToStandardOutputOrError)
{
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(length, 0);
    self[length] = '\0';
    ScratchFile errors("quiet_stderr.txt");
    int status = -1;
    const std::vector<uint8_t> out =
        run_capture(shell_quote(self) + " --quiet-jobs 2>" + shell_quote(errors.path), &status);
    const std::vector<uint8_t> err = read_file(errors.path);
    const size_t failed = status > 0 ? (size_t)status - 1 : 0;
    EXPECT_EQ(status, 0) << "the child failed at: "
                         << (failed < std::size(kJobs) ? kJobs[failed].name : "(no job)");
    EXPECT_EQ(std::string(out.begin(), out.end()), "");
    EXPECT_EQ(std::string(err.begin(), err.end()), "");
}

}  // namespace

// The child: every job with the quiet switch on. The exit status names the
// first job that did not do its work (1 + its index), since the child itself
// must stay silent.
int run_quiet_jobs()
{
    LogSettings quiet{1, 0};
    ff_init(&quiet);
    ff_set_log_callback(drop_line);
    for (size_t i = 0; i < std::size(kJobs); i++)
        if (!kJobs[i].run())
            return (int)i + 1;
    return 0;
}
