// Distinct records on several threads at once. Decoding (from a file and
// through custom I/O), encoding, resampling, filtering and in-memory MLP
// decoding run side by side, several copies of each, and every job gives the
// same bytes as it gave run alone. The library keeps no state between
// records apart from the process-wide logging switches and the one text
// buffer of returned error texts; every job here succeeds, so none of them
// touches that buffer. Built with -fsanitize=thread (make test-tsan), this
// program is also the race check of that promise.
#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

#include "convert_host.h"
#include "encode_host.h"
#include "common/ffmpeg_util.h"
#include "flatav.h"
#include "media.h"
#include "mem_host.h"
#include "memdecode/memdecode.h"
#include "test_host.h"

using namespace flatav_test;

namespace {

// What one job produced, or why it stopped.
struct Outcome {
    std::vector<uint8_t> bytes;
    std::string failure;
};

struct Job {
    std::string name;
    std::function<Outcome()> run;
};

// ---- decoding -------------------------------------------------------------

// Opens path (through custom I/O over its bytes when custom_io) and decodes
// the first audio stream to packed PCM.
Outcome decode_job(const std::string &path, bool custom_io)
{
    Outcome out;
    MemorySource memory(custom_io ? read_file(path) : std::vector<uint8_t>{});
    OpenedSource source(path, custom_io ? &memory : nullptr);
    HostBuffer buffer;
    source.recorder.callbacks.grow_buffer_cb = HostBuffer::grow;
    source.rec.packed_output = 1;
    if (const char *error = source.open()) {
        out.failure = std::string("open: ") + error;
        return out;
    }
    source.rec.audio_stream_index = source.first_audio();
    if (source.rec.audio_stream_index < 0) {
        out.failure = "no audio stream";
        return out;
    }
    for (int guard = 0; guard < 1000000; guard++) {
        const int32_t n = ff_decode_audio(&source.rec, nullptr, nullptr, buffer.get(), 0, nullptr);
        if (n < 0) {
            out.failure = "ff_decode_audio " + std::to_string(n);
            return out;
        }
        if (n == 0 && source.rec.end_of_stream)
            return out;
        const std::vector<uint8_t> block = buffer.packed(n);
        out.bytes.insert(out.bytes.end(), block.begin(), block.end());
    }
    out.failure = "no end of input";
    return out;
}

// ---- encoding -------------------------------------------------------------

Outcome encode_job(const char *file_name, const char *codec_name, AVSampleFormat format)
{
    Outcome out;
    const Signal signal(format, 44100, 44100);
    Output output(file_name, codec_name, 0);
    if (const char *error = output.open(signal)) {
        out.failure = std::string("open: ") + error;
        return out;
    }
    if (!output.encode(signal)) {
        out.failure = "ff_encode_audio2 " + std::to_string(output.results.back());
        return out;
    }
    out.bytes = output.out.bytes;
    return out;
}

// ---- resampling -----------------------------------------------------------

struct PcmFormat {
    AVSampleFormat format;
    int rate;
    uint64_t mask;
    int channels() const { return av_popcount64(mask); }
    int frame_bytes() const { return channels() * av_get_bytes_per_sample(format); }
};

// Converts a raw file in blocks of 1000 sample frames, then drains.
Outcome resample_job(const std::string &input, PcmFormat in, PcmFormat to)
{
    Outcome out;
    const std::vector<uint8_t> pcm = read_file(media_path(input));
    ResampleRec rec{};
    rec.in_sample_fmt = in.format;
    rec.in_sample_rate = in.rate;
    rec.in_channels = in.channels();
    rec.in_channel_layout = in.mask;
    rec.out_sample_fmt = to.format;
    rec.out_sample_rate = to.rate;
    rec.out_channels = to.channels();
    rec.out_channel_layout = to.mask;
    rec.free_buffer = 1;
    const int32_t init = ff_init_resample(&rec, nullptr, 0);
    if (init != 0) {
        out.failure = "ff_init_resample " + std::to_string(init);
        ff_cleanup_resample(&rec);
        return out;
    }
    const size_t block = 1000 * (size_t)in.frame_bytes();
    for (size_t at = 0; at < pcm.size() && out.failure.empty(); at += block) {
        const int32_t in_bytes = (int32_t)std::min(block, pcm.size() - at);
        int32_t capacity = 0;
        if (ff_res_get_buffer(&rec, ff_buffer_size(&rec, in_bytes)) != 0) {
            out.failure = "ff_res_get_buffer";
            break;
        }
        const int32_t n = ff_resample(&rec, pcm.data() + at, in_bytes, rec.buffer, &capacity, 0);
        out.bytes.insert(out.bytes.end(), rec.buffer, rec.buffer + n);
    }
    if (out.failure.empty() && ff_res_get_buffer(&rec, 4096 * to.frame_bytes()) == 0) {
        for (int32_t n = 1, capacity; n > 0;) {
            capacity = 4096;
            n = ff_resample(&rec, nullptr, 0, rec.buffer, &capacity, 1);
            out.bytes.insert(out.bytes.end(), rec.buffer, rec.buffer + std::max(n, 0));
        }
    }
    ff_cleanup_resample(&rec);
    return out;
}

// ---- filtering ------------------------------------------------------------

// Runs one filter over a 44.1 kHz stereo raw file of format in blocks of
// 4096 sample frames, then drains.
Outcome filter_job(const char *input, AVSampleFormat format, const char *filter,
                   const char *args)
{
    Outcome out;
    const std::vector<uint8_t> pcm = read_file(media_path(input));
    FilterRec rec = stereo_filter(format);
    FilterRec *handle = &rec;
    PcmSink sink;
    const int32_t setup = setup_af(filter, args, &rec);
    if (setup != 0) {
        out.failure = "setup_af " + std::to_string(setup);
        clean_af(&handle);
        return out;
    }
    const size_t block = 4096 * 2 * (size_t)av_get_bytes_per_sample(format);
    for (size_t at = 0; at < pcm.size(); at += block) {
        const int32_t n = run_af(&rec, pcm.data() + at, (int32_t)std::min(block, pcm.size() - at),
                                 &sink, PcmSink::write);
        if (n != FLATAV_ERROR_EAGAIN) {
            out.failure = "run_af " + std::to_string(n);
            break;
        }
    }
    if (out.failure.empty()) {
        const int32_t n = run_af(&rec, nullptr, 0, &sink, PcmSink::write);
        if (n != FLATAV_ERROR_EOF)
            out.failure = "run_af drain " + std::to_string(n);
    }
    clean_af(&handle);
    out.bytes = sink.packed();
    return out;
}

// ---- in-memory MLP ----------------------------------------------------------

// An elementary stream pulled through the host's read function in 3000-byte
// pieces, then drained.
Outcome mem_decode_job(const std::string &input)
{
    Outcome out;
    MemHost host(read_file(media_path(input)));
    host.chunk = 3000;
    MemDecodeRec *rec = host.open(1 << 16, 1 << 15);
    if (!rec) {
        out.failure = "mem_init";
        return out;
    }
    for (int guard = 0; guard < 1000000 && (!host.ended || rec->pending > 0); guard++) {
        const int32_t n = mem_decode_audio(rec, 0);
        if (n < 0) {
            out.failure = "mem_decode_audio " + std::to_string(n);
            break;
        }
    }
    if (out.failure.empty()) {
        const int32_t n = mem_decode_audio(rec, 1);
        if (n < 0)
            out.failure = "mem_decode_audio drain " + std::to_string(n);
    }
    mem_clean(&rec);
    out.bytes = std::move(host.output);
    return out;
}

// One packet per ff_decode_buffer call.
Outcome buffer_decode_job(const BufferPackets &mlp)
{
    Outcome out;
    BufferDecodeRec rec = mlp.rec;
    const int32_t init = ff_init_decoder(1, &rec);
    if (init != 0) {
        out.failure = "ff_init_decoder " + std::to_string(init);
        ff_decoder_cleanup(&rec);
        return out;
    }
    std::vector<uint8_t> frame(1 << 16);
    for (const std::vector<uint8_t> &packet : mlp.packets) {
        const int32_t n = ff_decode_buffer(&rec, packet.data(), (int32_t)packet.size(),
                                           frame.data());
        if (n < 0 && n != FLATAV_ERROR_EAGAIN) {
            out.failure = "ff_decode_buffer " + std::to_string(n);
            break;
        }
        out.bytes.insert(out.bytes.end(), frame.begin(), frame.begin() + std::max(n, 0));
    }
    ff_decoder_cleanup(&rec);
    return out;
}

// ---- the jobs ---------------------------------------------------------------

std::vector<Job> all_jobs(const BufferPackets &mlp)
{
    constexpr uint64_t kStereo = AV_CH_LAYOUT_STEREO;
    constexpr uint64_t k51 = AV_CH_LAYOUT_5POINT1;
    const AVSampleFormat S16 = AV_SAMPLE_FMT_S16, FLT = AV_SAMPLE_FMT_FLT;
    return {
        {"decode flac file", [] { return decode_job(media_path("flac16.flac"), false); }},
        {"decode mp3 custom I/O", [] { return decode_job(media_path("mp3.mp3"), true); }},
        {"decode aac m4a file", [] { return decode_job(media_path("aac.m4a"), false); }},
        {"decode vorbis custom I/O", [] { return decode_job(media_path("vorbis.ogg"), true); }},
        {"decode 5.1 flac custom I/O",
         [] { return decode_job(media_path("surround51.flac"), true); }},
        {"encode flac", [] { return encode_job("out.flac", "flac", AV_SAMPLE_FMT_S16); }},
        {"encode aac m4a", [] { return encode_job("out.m4a", "aac", AV_SAMPLE_FMT_FLTP); }},
        {"encode mp3", [] { return encode_job("out.mp3", "libmp3lame", AV_SAMPLE_FMT_FLTP); }},
        {"resample 44.1 kHz s16 to 48 kHz flt",
         [=] { return resample_job("res_44k_s16.raw", {S16, 44100, kStereo}, {FLT, 48000, kStereo}); }},
        {"resample 5.1 flt to stereo s16",
         [=] { return resample_job("res_48k_51_flt.raw", {FLT, 48000, k51}, {S16, 44100, kStereo}); }},
        {"filter highpass s16",
         [] { return filter_job("filter_s16le.raw", AV_SAMPLE_FMT_S16, "highpass", "f=200"); }},
        {"filter acompressor flt",
         [] { return filter_job("filter_f32le.raw", AV_SAMPLE_FMT_FLT, "acompressor", "ratio=4"); }},
        {"mem_decode_audio mlp", [] { return mem_decode_job("mlp_s16_stereo.mlp"); }},
        {"ff_decode_buffer mlp", [&mlp] { return buffer_decode_job(mlp); }},
    };
}

// Holds every thread until all have started, so that the jobs overlap.
class StartLine {
public:
    explicit StartLine(size_t threads) : waiting_(threads) {}
    void arrive_and_wait()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (--waiting_ == 0)
            go_.notify_all();
        else
            go_.wait(lock, [this] { return waiting_ == 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable go_;
    size_t waiting_;
};

// Runs copies of every job at once, one thread each; results[i * copies + c]
// is copy c of job i.
std::vector<Outcome> run_together(const std::vector<Job> &jobs, int copies)
{
    const size_t count = jobs.size() * copies;
    std::vector<Outcome> results(count);
    StartLine start(count);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < count; t++)
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            results[t] = jobs[t / copies].run();
        });
    for (std::thread &thread : threads)
        thread.join();
    return results;
}

TEST(Concurrency, DistinctRecordsOnThreadsGiveTheBytesOfAloneRuns)
{
    const BufferPackets mlp = buffer_packets(media_path("mlp_s32_stereo.mlp"));
    ASSERT_GT(mlp.packets.size(), 100u);
    const std::vector<Job> jobs = all_jobs(mlp);
    constexpr int kCopies = 2;

    std::vector<Outcome> alone;
    for (const Job &job : jobs)
        alone.push_back(job.run());
    const std::vector<Outcome> together = run_together(jobs, kCopies);

    for (size_t i = 0; i < jobs.size(); i++) {
        SCOPED_TRACE(jobs[i].name);
        if (!alone[i].failure.empty()) {
            ADD_FAILURE() << "alone: " << alone[i].failure;
            continue;
        }
        // Far more than any header: each job produces about a second of audio.
        EXPECT_GT(alone[i].bytes.size(), 10000u);
        for (int c = 0; c < kCopies; c++) {
            const Outcome &got = together[i * kCopies + c];
            SCOPED_TRACE("copy " + std::to_string(c));
            EXPECT_EQ(got.failure, "");
            EXPECT_EQ(got.bytes.size(), alone[i].bytes.size());
            EXPECT_TRUE(got.bytes == alone[i].bytes);
        }
    }
}

// Many copies of one job at once: the records share every FFmpeg codec,
// format and table, and only the records differ.
class SameJobOnManyThreads : public testing::TestWithParam<const char *> {};

TEST_P(SameJobOnManyThreads, GivesTheBytesOfTheAloneRun)
{
    const BufferPackets mlp = buffer_packets(media_path("mlp_s32_stereo.mlp"));
    std::vector<Job> jobs = all_jobs(mlp);
    jobs.erase(std::remove_if(jobs.begin(), jobs.end(),
                              [](const Job &job) { return job.name != GetParam(); }),
               jobs.end());
    ASSERT_EQ(jobs.size(), 1u);
    constexpr int kCopies = 6;

    const Outcome alone = jobs[0].run();
    const std::vector<Outcome> together = run_together(jobs, kCopies);

    ASSERT_EQ(alone.failure, "");
    ASSERT_GT(alone.bytes.size(), 10000u);
    for (int c = 0; c < kCopies; c++) {
        SCOPED_TRACE("copy " + std::to_string(c));
        EXPECT_EQ(together[c].failure, "");
        EXPECT_TRUE(together[c].bytes == alone.bytes);
    }
}

// One job of each kind.
INSTANTIATE_TEST_SUITE_P(Kinds, SameJobOnManyThreads,
                         testing::Values("decode flac file", "decode mp3 custom I/O",
                                         "encode flac", "encode aac m4a",
                                         "resample 44.1 kHz s16 to 48 kHz flt",
                                         "filter highpass s16", "mem_decode_audio mlp",
                                         "ff_decode_buffer mlp"),
                         [](const testing::TestParamInfo<const char *> &info) {
                             std::string name = info.param;
                             for (char &ch : name)
                                 if (!std::isalnum((unsigned char)ch))
                                     ch = '_';
                             return name;
                         });

}  // namespace
