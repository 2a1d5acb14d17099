// Host I/O functions that misbehave: a read function that fails, ends
// early or delivers a few bytes at a time, a seek function that refuses
// everything, and a write function that refuses bytes during the header,
// mid-stream and at the trailer, for the encoder and the stream-copy
// writer. Every job ends with its documented code and its record cleans up.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "convert_host.h"
#include "encode_host.h"
#include "flatav.h"
#include "media.h"
#include "test_host.h"

using namespace flatav_test;

namespace {

constexpr int kMaxCalls = 200000;

bool starts_with(const std::string &text, const std::string &prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// ---------------------------------------------------------------------------
// Reading.

// A MemorySource whose read function hands out at most `most` bytes a call
// and whose seek function, when refusing, fails every request (the size
// query too).
struct UnrulySource : MemorySource {
    explicit UnrulySource(const std::string &name) : MemorySource(read_file(media_path(name))) {}

    // OpenedSource attaches the plain functions; these replace them.
    void attach(DecodeRec &rec)
    {
        MemorySource::attach(rec);
        rec.read_packet = [](void *opaque, uint8_t *buf, int32_t size) {
            auto *self = static_cast<UnrulySource *>(static_cast<MemorySource *>(opaque));
            const int32_t most = self->most > 0 ? std::min(size, self->most) : size;
            return MemorySource::read(opaque, buf, most);
        };
        if (refuse_seek)
            rec.seek = [](void *, int64_t, int32_t) -> int64_t { return -1; };
    }

    int32_t most = 0;
    bool refuse_seek = false;
};

// What a whole decode gave, and how it ended.
struct Decoded {
    std::vector<uint8_t> pcm;
    int32_t last = 0;       // bytes of the last call that gave PCM
    int failed_calls = 0;   // results FLATAV_DECODE_FAILED: the packet did not decode
    bool ended = false;     // result 0 with end_of_stream 1
    std::vector<int32_t> other;
};

Decoded decode_to_end(DecodeRec &rec)
{
    Decoded d;
    rec.audio_stream_index = 0;
    rec.packed_output = 1;
    HostBuffer buffer;
    for (int calls = 0; calls < kMaxCalls && d.other.size() < 5; calls++) {
        const int32_t got = ff_decode_audio(&rec, nullptr, nullptr, buffer.get(), 0, nullptr);
        if (got > 0) {
            d.pcm.insert(d.pcm.end(), buffer.get()->data, buffer.get()->data + got);
            d.last = got;
        } else if (got == FLATAV_DECODE_FAILED) {
            d.failed_calls++;
        } else if (got == 0 && rec.end_of_stream == 1) {
            d.ended = true;
            return d;
        } else {
            d.other.push_back(got);
        }
    }
    return d;
}

// The record after ff_cleanup_decoder holds nothing, and a second clean-up
// finds nothing to release.
void expect_clean(OpenedSource &src)
{
    ff_cleanup_decoder(&src.rec);
    EXPECT_EQ(src.rec.av_format_context, nullptr);
    EXPECT_EQ(src.rec.avio_context, nullptr);
    EXPECT_EQ(src.rec.audio_info, nullptr);
    EXPECT_EQ(src.rec.swr_context, nullptr);
    ff_cleanup_decoder(&src.rec);
}

const char *const kSources[] = {"flac16.flac", "mp3.mp3", "aac.aac", "stereo_s16.wav",
                                "vorbis.ogg", "aac.m4a"};

class ReadMisbehaves : public testing::TestWithParam<const char *> {
protected:
    // The PCM of the whole source read the ordinary way.
    std::vector<uint8_t> whole()
    {
        UnrulySource source(GetParam());
        OpenedSource src(media_path(GetParam()), &source);
        source.attach(src.rec);
        EXPECT_EQ(src.open(), nullptr);
        const Decoded d = decode_to_end(src.rec);
        EXPECT_TRUE(d.ended);
        EXPECT_EQ(d.failed_calls, 0);
        EXPECT_FALSE(d.pcm.empty());
        return d.pcm;
    }
};

// However few bytes each read delivers, FFmpeg asks again: the PCM is
// that of ordinary reads.
TEST_P(ReadMisbehaves, ShortReadsGiveTheSamePcm)
{
    const std::vector<uint8_t> reference = whole();
    for (int32_t most : {1, 7, 1000}) {
        SCOPED_TRACE(most);
        UnrulySource source(GetParam());
        source.most = most;
        OpenedSource src(media_path(GetParam()), &source);
        source.attach(src.rec);
        ASSERT_EQ(src.open(), nullptr);
        const Decoded d = decode_to_end(src.rec);
        EXPECT_TRUE(d.ended);
        EXPECT_TRUE(d.pcm == reference) << d.pcm.size() << " bytes, not " << reference.size();
        EXPECT_GT(source.reads, (int)(source.bytes.size() / most) - 1);
        expect_clean(src);
    }
}

// A read that fails (or, against the contract, returns 0) from some point
// on: before the open has what it needs, the open fails with its
// documented text; after, decoding delivers the PCM of the bytes before the
// cut, the call with the cut packet may fail with FLATAV_DECODE_FAILED, and
// then it ends with 0 and end_of_stream 1, again on every further call.
// FLATAV_READ_RAW_PACKET ends with FLATAV_DECODE_END_OF_PACKETS.
TEST_P(ReadMisbehaves, ReadFailureEndsTheSource)
{
    const size_t size = read_file(media_path(GetParam())).size();
    for (int32_t code : {-5, 0}) {
        for (size_t at : {(size_t)0, size / 2}) {
            SCOPED_TRACE("read returns " + std::to_string(code) + " from byte " +
                         std::to_string(at));
            UnrulySource source(GetParam());
            source.fail_at = (int64_t)at;
            source.fail_code = code;
            OpenedSource src(media_path(GetParam()), &source);
            source.attach(src.rec);
            if (const char *failure = src.open()) {
                const std::string text = failure;
                EXPECT_TRUE(starts_with(text, "(1)avformat_open_input failed -") ||
                            starts_with(text, "avformat_find_stream_info failed -"))
                    << text;
                if (at == 0 && code < 0) {
                    EXPECT_EQ(text, "(1)avformat_open_input failed " + std::to_string(code) +
                                        ", file=" + media_path(GetParam()))
                        << "the host's own code comes back";
                }
                expect_clean(src);
                continue;
            }
            // FFmpeg may take the demuxer the file name suggests and find
            // no stream in nothing.
            if (src.first_audio() < 0) {
                EXPECT_EQ(at, 0u);
                expect_clean(src);
                continue;
            }
            const Decoded d = decode_to_end(src.rec);
            EXPECT_TRUE(d.ended);
            EXPECT_TRUE(d.other.empty());
            EXPECT_LE(d.failed_calls, 1);
            // The source ends at the cut: its PCM is what the tool decodes
            // from the bytes before it (nothing, from none).
            std::vector<uint8_t> tool;
            if (at > 0) {
                ScratchFile cut(std::string("cut_") + GetParam());
                const std::vector<uint8_t> bytes = read_file(media_path(GetParam()));
                cut.write(std::vector<uint8_t>(bytes.begin(), bytes.begin() + (long)at));
                const AVCodecContext *dec = src.rec.audio_info[0].av_codec_context;
                tool = ffmpeg_pcm(cut.path, 0, raw_format(dec->sample_fmt));
            }
            EXPECT_TRUE(d.pcm == tool) << d.pcm.size() << " bytes against " << tool.size();
            HostBuffer buffer;
            EXPECT_EQ(ff_decode_audio(&src.rec, nullptr, nullptr, buffer.get(), 0, nullptr), 0);
            EXPECT_EQ(src.rec.end_of_stream, 1);

            src.rec.read_mode = FLATAV_READ_RAW_PACKET;
            src.rec.raw_pkt = ff_pkt_new();
            EXPECT_EQ(ff_decode_audio(&src.rec, nullptr, nullptr, nullptr, 0, nullptr),
                      FLATAV_DECODE_END_OF_PACKETS);
            ff_pkt_free(src.rec.raw_pkt);
            src.rec.raw_pkt = nullptr;
            expect_clean(src);
        }
    }
}

// A seek function that refuses everything: sources that need it to open
// fail with the documented text; for the others ff_seek4 passes FFmpeg's
// negative code on, or FFmpeg reaches the target by reading forward and
// decoding goes on to the source's own end. Either way decoding ends with
// documented results.
TEST_P(ReadMisbehaves, RefusedSeeks)
{
    const std::vector<uint8_t> reference = whole();
    UnrulySource source(GetParam());
    source.refuse_seek = true;
    OpenedSource src(media_path(GetParam()), &source);
    source.attach(src.rec);
    src.rec.try_seek = 1;
    if (const char *failure = src.open()) {
        EXPECT_TRUE(starts_with(failure, "(1)avformat_open_input failed -")) << failure;
        expect_clean(src);
        return;
    }
    src.rec.audio_stream_index = 0;
    src.rec.position = 1.5;
    const int32_t sought = ff_seek4(&src.rec);
    EXPECT_LE(sought, 0);
    EXPECT_EQ(src.rec.position_reset, 1);
    const Decoded d = decode_to_end(src.rec);
    EXPECT_TRUE(d.ended);
    EXPECT_TRUE(d.other.empty());
    if (sought == 0) {
        ASSERT_GT(d.last, 0);
        EXPECT_LT(d.pcm.size(), reference.size());
        EXPECT_TRUE(std::equal(d.pcm.end() - d.last, d.pcm.end(), reference.end() - d.last));
    }
    expect_clean(src);
}

// Probing reads through the same functions: a read that fails or returns 0
// from the start gives no format and returns (a name without an extension,
// from which FFmpeg would guess one otherwise).
TEST(ReadMisbehavesProbe, NothingToReadGivesNoFormat)
{
    for (int32_t code : {-5, 0}) {
        SCOPED_TRACE(code);
        UnrulySource source("flac16.flac");
        source.fail_at = 0;
        source.fail_code = code;
        DecodeRec rec{};
        rec.file_name = "source";
        source.attach(rec);
        EXPECT_EQ(ff_probe2(&rec), nullptr);
        EXPECT_GT(source.reads, 0);
    }
}

// A host may move its record between calls (marshalling copies a struct):
// reads and seeks still reach the host's functions after the record the
// open saw is zeroed.
TEST(HostRecord, MovedAfterTheOpenReadsAndSeeks)
{
    const std::string path = media_path("stereo_s16.wav");
    const std::vector<uint8_t> reference = ffmpeg_pcm(path, 0, "s16le");
    MemorySource memory(read_file(path));
    HostCallbacks callbacks{};
    callbacks.grow_buffer_cb = HostBuffer::grow;
    auto opened = std::make_unique<DecodeRec>();
    opened->file_name = path.c_str();
    opened->callbacks = &callbacks;
    memory.attach(*opened);
    ASSERT_EQ(ff_decoder_open(opened.get()), nullptr);
    DecodeRec moved = *opened;
    std::memset(opened.get(), 0, sizeof(DecodeRec));
    const int reads_at_open = memory.reads;

    moved.packed_output = 1;
    moved.seek_backward = 1;
    for (int pass = 0; pass < 2; pass++) {
        SCOPED_TRACE(pass == 0 ? "from the open" : "after a seek back");
        const Decoded d = decode_to_end(moved);
        EXPECT_TRUE(d.ended);
        EXPECT_TRUE(d.pcm == reference) << d.pcm.size() << " bytes, not " << reference.size();
        moved.position = 0;
        EXPECT_EQ(ff_seek4(&moved), 0);
    }
    EXPECT_GT(memory.reads, reads_at_open + 2);
    ff_cleanup_decoder(&moved);
    opened.reset();
}

INSTANTIATE_TEST_SUITE_P(Sources, ReadMisbehaves, testing::ValuesIn(kSources),
                         [](const testing::TestParamInfo<const char *> &info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '.', '_');
                             return name;
                         });

// ---------------------------------------------------------------------------
// Writing.

// One output job, encoder or stream-copy writer, on a MemoryOutput.
struct WriteCase {
    const char *name;
    const char *output;      // output file name: the container
    int32_t codec_id;        // encoder; 0: stream copy of `source`
    AVSampleFormat format;   // of the PCM given to the encoder
    const char *source;      // the copied source (stream copy only)
    bool writes_as_it_goes;  // packets reach the host during the packet calls
    bool trailer_appends;    // the trailer adds bytes at the end
};

void PrintTo(const WriteCase &c, std::ostream *os) { *os << c.name; }

// What one run of a job did.
struct WriteJob {
    const char *open_text = nullptr;   // of the open; null on success
    std::vector<int32_t> results;      // of the packet calls
    int32_t last = -100;               // of the drain or the trailer call
    size_t bytes_after_open = 0;       // stored when the open returned
    size_t bytes_before_last = 0;      // stored when the last call began
    Recorder recorder;
    MemoryOutput out;
    EncodeRec rec{};

    int first_failure() const
    {
        for (size_t i = 0; i < results.size(); i++)
            if (results[i] < 0)
                return (int)i;
        return -1;
    }
};

// Encodes 1.5 s of the test signal in blocks of the encoder's size, drains
// and writes the trailer, going on after failures as a careless host would;
// then cleans up.
void encode_job(const WriteCase &c, WriteJob &job)
{
    const Signal signal(c.format, 44100, 66150);
    job.rec.output_file_name = c.output;
    job.rec.codec_id = c.codec_id;
    job.rec.encode = 1;
    job.rec.sample_fmt = job.rec.requested_sample_fmt = c.format;
    job.rec.sample_rate = 44100;
    job.rec.channels = 2;
    job.rec.callbacks = &job.recorder.callbacks;
    job.out.attach(job.rec);
    job.open_text = ff_open_encoder(&job.rec);
    if (!job.open_text) {
        job.bytes_after_open = job.out.bytes.size();
        const int bps = signal.bytes_per_sample();
        uint8_t *data = const_cast<uint8_t *>(signal.data.data());
        const int64_t block =
            job.rec.audio_input_frame_size > 0 ? job.rec.audio_input_frame_size : 1024;
        for (int64_t start = 0; start < signal.samples; start += block) {
            const int64_t n = std::min(block, signal.samples - start);
            uint8_t *planes[2] = {data + start * bps, data + (signal.samples + start) * bps};
            uint8_t *packed = data + start * bps * 2;
            job.results.push_back(ff_encode_audio2(&job.rec, signal.planar() ? planes[0] : packed,
                                                   signal.planar() ? planes : nullptr,
                                                   (int32_t)(n * bps * 2)));
        }
        job.bytes_before_last = job.out.bytes.size();
        job.last = ff_encode_audio2(&job.rec, nullptr, nullptr, 0);
    }
    ff_cleanup_encoder(&job.rec);
}

// Copies the first audio stream of c.source through read mode 3 and the
// stream-copy writer, the same way.
void copy_job(const WriteCase &c, WriteJob &job)
{
    OpenedSource src(media_path(c.source));
    src.rec.streamcopy = reinterpret_cast<StreamCopy *>(uintptr_t{1});
    ASSERT_EQ(src.open(), nullptr);
    src.rec.streamcopy->stream_index = 0;
    src.rec.audio_stream_index = 0;
    src.rec.read_mode = FLATAV_READ_RAW_PACKET;
    src.rec.raw_pkt = ff_pkt_new();
    job.rec.output_file_name = c.output;
    job.rec.callbacks = &job.recorder.callbacks;
    job.rec.streamcopy = src.rec.streamcopy;
    job.out.attach(job.rec);
    job.open_text = ff_open_encoder_raw(&job.rec);
    if (!job.open_text) {
        job.bytes_after_open = job.out.bytes.size();
        int32_t size;
        for (int calls = 0;
             calls < kMaxCalls &&
             (size = ff_decode_audio(&src.rec, nullptr, nullptr, nullptr, 0, nullptr)) > 0;
             calls++) {
            job.rec.raw_pkt = src.rec.raw_pkt;
            job.results.push_back(ff_encode_audio_raw(&job.rec, size));
            ff_pkt_clean(src.rec.raw_pkt);
        }
        job.bytes_before_last = job.out.bytes.size();
        job.last = ff_encode_audio_raw(&job.rec, 0);
    }
    ff_cleanup_encoder(&job.rec);
    ff_pkt_free(src.rec.raw_pkt);
}

void run_job(const WriteCase &c, WriteJob &job)
{
    if (c.codec_id)
        encode_job(c, job);
    else
        copy_job(c, job);
}

// After clean-up the record holds nothing that a second clean-up could
// release twice.
void expect_released(WriteJob &job)
{
    EXPECT_EQ(job.rec.av_format_context, nullptr);
    EXPECT_EQ(job.rec.io_buffer, nullptr);
    EXPECT_EQ(job.rec.av_codec_context, nullptr);
    EXPECT_EQ(job.rec.frame, nullptr);
    ff_cleanup_encoder(&job.rec);
}

class WriteMisbehaves : public testing::TestWithParam<WriteCase> {
protected:
    // The same job with a write function that takes everything.
    void SetUp() override
    {
        run_job(GetParam(), clean);
        ASSERT_EQ(clean.open_text, nullptr);
        ASSERT_EQ(clean.first_failure(), -1);
        ASSERT_EQ(clean.last, 0);
        ASSERT_GT(clean.out.bytes.size(), 0u);
    }
    WriteJob clean;
};

// The host refuses the first byte: the header is not written, the open
// fails with its documented text and leaves nothing to clean up.
TEST_P(WriteMisbehaves, DuringTheHeader)
{
    WriteJob job;
    job.out.fail_after = 0;
    run_job(GetParam(), job);
    ASSERT_NE(job.open_text, nullptr);
    EXPECT_STREQ(job.open_text, "avformat_write_header failed -5");
    EXPECT_EQ(job.rec.opened, 0);
    EXPECT_TRUE(job.out.bytes.empty());
    expect_released(job);
}

// What every job with a refused write shows once its header is out: the
// first call that meets the refusal fails (FLATAV_ENCODE_FAILED,
// FLATAV_RAW_WRITE_FAILED) with its documented text,
// every call before it succeeded, no packet counts as written after it,
// the last call (drain or trailer) fails too, and nothing beyond the
// refused byte is stored.
void expect_one_documented_failure(const WriteCase &c, const WriteJob &job)
{
    ASSERT_EQ(job.open_text, nullptr);
    ASSERT_FALSE(job.recorder.errors.empty());
    const std::string &text = job.recorder.errors[0];
    const int32_t failure = c.codec_id ? FLATAV_ENCODE_FAILED : FLATAV_RAW_WRITE_FAILED;
    const int failed = job.first_failure();
    if (failed >= 0) {
        EXPECT_EQ(job.results[failed], failure);
        EXPECT_EQ(text, "av_write_frame failed -5\n");
        for (size_t k = failed + 1; k < job.results.size(); k++)
            EXPECT_LE(job.results[k], 0) << "call " << k << ": nothing is written once refused";
    } else if (c.codec_id) {
        EXPECT_TRUE(text == "av_write_frame failed -5 : Input/output error\n" ||
                    text == "av_write_trailer failed -5 : Input/output error")
            << text;
    } else {
        EXPECT_EQ(text, "av_write_trailer failed -5");
    }
    EXPECT_EQ(job.last, failure);
    EXPECT_LE(job.out.bytes.size(), (size_t)job.out.fail_after);
}

// The host refuses bytes from the middle of the packets on. Containers
// that write as they go fail in a packet call; Matroska keeps these 1.5 s
// in one cluster and meets the refusal at the trailer.
TEST_P(WriteMisbehaves, MidStream)
{
    WriteJob job;
    const size_t header = clean.bytes_after_open;
    job.out.fail_after = (int64_t)(header + (clean.bytes_before_last - header) / 2);
    run_job(GetParam(), job);
    expect_one_documented_failure(GetParam(), job);
    if (GetParam().writes_as_it_goes) {
        EXPECT_GE(job.first_failure(), 1);
        EXPECT_LT(job.first_failure(), (int)job.results.size() - 1);
    } else {
        EXPECT_EQ(job.first_failure(), -1);
    }
    expect_released(job);
}

// The host refuses the last byte of the file: where the trailer appends
// (an index, the MP4 header) the trailer call is the one that fails; WAV
// and FLAC only rewrite their header at the end, so the last packet fails.
TEST_P(WriteMisbehaves, AtTheTrailer)
{
    WriteJob job;
    job.out.fail_after = (int64_t)clean.out.bytes.size() - 1;
    run_job(GetParam(), job);
    expect_one_documented_failure(GetParam(), job);
    if (GetParam().trailer_appends) {
        ASSERT_GT(clean.out.bytes.size(), clean.bytes_before_last);
        EXPECT_EQ(job.first_failure(), -1);
        EXPECT_TRUE(starts_with(job.recorder.errors[0], "av_write_trailer failed -5"))
            << job.recorder.errors[0];
    } else {
        EXPECT_EQ(job.first_failure(), (int)job.results.size() - 1);
    }
    expect_released(job);
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, WriteMisbehaves,
    testing::Values(
        WriteCase{"encode_wav", "out.wav", AV_CODEC_ID_PCM_S16LE, AV_SAMPLE_FMT_S16, nullptr,
                  true, false},
        WriteCase{"encode_flac", "out.flac", AV_CODEC_ID_FLAC, AV_SAMPLE_FMT_S16, nullptr, true,
                  false},
        WriteCase{"encode_mka", "out.mka", AV_CODEC_ID_FLAC, AV_SAMPLE_FMT_S16, nullptr, false,
                  true},
        WriteCase{"encode_m4a", "out.m4a", AV_CODEC_ID_ALAC, AV_SAMPLE_FMT_S16P, nullptr, true,
                  true},
        WriteCase{"copy_wav", "copy.wav", 0, AV_SAMPLE_FMT_NONE, "stereo_s16.wav", true, false},
        WriteCase{"copy_flac", "copy.flac", 0, AV_SAMPLE_FMT_NONE, "flac16.flac", true, false},
        WriteCase{"copy_mka", "copy.mka", 0, AV_SAMPLE_FMT_NONE, "flac16.flac", false, true},
        WriteCase{"copy_m4a", "copy.m4a", 0, AV_SAMPLE_FMT_NONE, "aac.m4a", true, true}),
    CaseName());

}  // namespace
