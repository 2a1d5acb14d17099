// Stream copy: the selected stream's packets, handed out in raw packet mode,
// written into a new container by the stream-copy writer.
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/packet.h>
#include <libavformat/avformat.h>
}

#include "encode_host.h"
#include "flatav.h"
#include "media.h"
#include "test_host.h"

using namespace flatav_test;

namespace {

// The packets of a file's first audio stream.
std::vector<DemuxedPacket> packets_of(const std::string &path)
{
    return demuxed_packets(path, "a:0").packets;
}

// Copies the first audio stream of a source into output_name in memory.
struct Copy {
    Copy(const std::string &source, const char *output_name, int64_t pts_offset = 0)
        : src(media_path(source)), output(output_name)
    {
        src.rec.streamcopy = reinterpret_cast<StreamCopy *>(uintptr_t{1});
        if ((open_error = src.open()) != nullptr)
            return;
        const int index = src.first_audio();
        sc = src.rec.streamcopy;
        sc->stream_index = index;
        sc->data[index].pts_offset = pts_offset;
        src.rec.audio_stream_index = index;
        src.rec.read_mode = FLATAV_READ_RAW_PACKET;
        src.rec.raw_pkt = ff_pkt_new();

        rec.output_file_name = output_name;
        rec.callbacks = &recorder.callbacks;
        rec.streamcopy = sc;
        out.attach(rec);
        open_error = ff_open_encoder_raw(&rec);
    }
    ~Copy()
    {
        ff_cleanup_encoder(&rec);
        ff_pkt_free(src.rec.raw_pkt);
    }

    // Writes every packet (at most limit, when it is not negative) and the
    // trailer; returns the packets written.
    int run(int limit = -1)
    {
        int written = 0;
        int32_t size;
        while (written != limit &&
               (size = ff_decode_audio(&src.rec, nullptr, nullptr, nullptr, 0, nullptr)) > 0) {
            rec.raw_pkt = src.rec.raw_pkt;
            results.push_back(ff_encode_audio_raw(&rec, size));
            ff_pkt_clean(src.rec.raw_pkt);
            written++;
        }
        trailer = ff_encode_audio_raw(&rec, 0);
        return written;
    }

    const std::string &saved()
    {
        if (!file) {
            file = std::make_unique<ScratchFile>(output);
            file->write(out.bytes);
        }
        return file->path;
    }

    OpenedSource src;
    std::string output;
    const char *open_error = nullptr;
    StreamCopy *sc = nullptr;
    Recorder recorder;
    MemoryOutput out;
    EncodeRec rec{};
    std::vector<int32_t> results;
    int32_t trailer = -100;
    std::unique_ptr<ScratchFile> file;
};

struct CopyCase {
    const char *source;
    const char *output;
    const char *raw_format;
    // Samples the output's decode has at its start that the source's has
    // not: Matroska cannot say "skip AAC's encoder delay" (1024 samples), so
    // the ffmpeg tool's own remux decodes with the same extra samples.
    int extra_leading_samples;
    int packets = -1;  // the packets copied, -1: all
};

void PrintTo(const CopyCase &c, std::ostream *os) { *os << c.source << " -> " << c.output; }

class StreamCopyTo : public testing::TestWithParam<CopyCase> {};

TEST_P(StreamCopyTo, PacketsArriveUnchangedInOrderAndPlay)
{
    const CopyCase &c = GetParam();
    Copy copy(c.source, c.output);
    ASSERT_EQ(copy.open_error, nullptr);
    EXPECT_EQ(copy.rec.opened, 1);
    const int written = copy.run(c.packets);
    EXPECT_EQ(copy.trailer, 0);
    for (int32_t r : copy.results)
        ASSERT_EQ(r, 0);
    EXPECT_TRUE(copy.recorder.errors.empty());
    if (c.packets == 0) {
        // What the ffmpeg tool's remux of no packet writes: the same bytes
        // but for the muxer's random ids, so as long, and as ffprobe sees it
        // (FFmpeg reads no Matroska file without a packet).
        ScratchFile ref(std::string("ref_") + c.output);
        const std::string probe = "ffprobe -show_entries stream=codec_name -of csv ";
        int status = 0;
        run_capture("ffmpeg -nostdin -v error -y -i " + shell_quote(media_path(c.source)) +
                        " -map 0:a:0 -c copy -frames:a 0 " + shell_quote(ref.path), &status);
        ASSERT_EQ(status, 0);
        int ours = 0, theirs = 0;
        EXPECT_EQ(run_capture(probe + shell_quote(copy.saved()) + " 2>/dev/null", &ours),
                  run_capture(probe + shell_quote(ref.path) + " 2>/dev/null", &theirs));
        EXPECT_EQ(ours, theirs);
        EXPECT_EQ(read_file(copy.saved()).size(), read_file(ref.path).size());
        return;
    }

    const std::vector<DemuxedPacket> source = packets_of(media_path(c.source));
    const std::vector<DemuxedPacket> output = packets_of(copy.saved());
    EXPECT_EQ((int)source.size(), written);
    ASSERT_EQ(output.size(), source.size());
    for (size_t i = 0; i < source.size(); i++) {
        ASSERT_EQ(output[i], source[i]) << "packet " << i;
        if (i > 0) {
            EXPECT_GT(output[i].dts, output[i - 1].dts) << "packet " << i;
        }
    }

    // The copy decodes to the source's PCM, behind what the container adds.
    const std::vector<uint8_t> want = ffmpeg_pcm(media_path(c.source), copy.src.rec.audio_stream_index, c.raw_format);
    const std::vector<uint8_t> got = ffmpeg_pcm(copy.saved(), 0, c.raw_format);
    const size_t skip = (size_t)c.extra_leading_samples * 8;
    ASSERT_GE(got.size(), skip + want.size() - (want.size() / 100));
    const size_t common = std::min(want.size(), got.size() - skip);
    EXPECT_TRUE(std::equal(want.begin(), want.begin() + common, got.begin() + skip));
}

INSTANTIATE_TEST_SUITE_P(
    Containers, StreamCopyTo,
    testing::Values(CopyCase{"sweep.mp3", "copy.mp3", "f32le", 0},
                    CopyCase{"sweep.flac", "copy.flac", "s16le", 0},
                    CopyCase{"sweep.flac", "copy.mka", "s16le", 0},
                    CopyCase{"sweep.m4a", "copy.mkv", "f32le", 1024},
                    CopyCase{"sweep.m4a", "copy.m4a", "f32le", 0},
                    CopyCase{"opus.opus", "copy.mka", "f32le", 0},
                    CopyCase{"sweep.flac", "empty.mka", "s16le", 0, 0},
                    CopyCase{"sweep.flac", "empty.flac", "s16le", 0, 0}),
    [](const testing::TestParamInfo<CopyCase> &info) {
        std::string name = std::string(info.param.source) + "_to_" + info.param.output;
        if (info.param.packets >= 0)
            name += "_" + std::to_string(info.param.packets) + "_packets";
        for (char &ch : name)
            if (!isalnum((unsigned char)ch))
                ch = '_';
        return name;
    });

TEST(StreamCopy, OffsetsSkipsAndUnsetTimestamps)
{
    // With an offset, packets at or before 0 (FLAC's first has pts and dts
    // 0; an unset dts counts as negative) are skipped, the others shifted.
    // Without one, an unset dts is passed on unset.
    for (int64_t offset : {4410, 0}) {
        SCOPED_TRACE(offset);
        Copy copy("sweep.flac", "copy.flac", offset);
        ASSERT_EQ(copy.open_error, nullptr);
        StreamCopyData &data = copy.sc->data[0];
        AVPacket *pkt = copy.src.rec.raw_pkt;
        copy.rec.raw_pkt = pkt;
        const AVRational in_tb{data.time_base.num, data.time_base.den};
        const AVRational out_tb = copy.rec.audio_st->time_base;
        ASSERT_EQ(out_tb.den, 44100) << "the output stream counts samples";
        for (int i = 0; i < 3; i++) {
            SCOPED_TRACE(i);
            data.last_pts = data.last_dts = -7;
            ASSERT_GT(ff_decode_audio(&copy.src.rec, nullptr, nullptr, nullptr, 0, nullptr), 0);
            const int64_t pts = pkt->pts;
            if (i == 2)
                pkt->dts = AV_NOPTS_VALUE;
            EXPECT_EQ(ff_encode_audio_raw(&copy.rec, pkt->size), 0);
            const bool skipped = offset != 0 && i != 1;
            EXPECT_EQ(data.last_pts, skipped ? -7 : av_rescale_q(pts, in_tb, out_tb) + offset);
            if (!skipped) {
                EXPECT_EQ(data.last_dts, i == 2 ? AV_NOPTS_VALUE : pts);
            }
            EXPECT_EQ(pkt->stream_index, 0);
            ff_pkt_clean(pkt);
        }
        EXPECT_EQ(ff_encode_audio_raw(&copy.rec, 0), 0);
    }
}

TEST(StreamCopy, RawBytesWithoutStreamCopyData)
{
    // The packets of an MP3 source, copied out as bytes (copy mode), become
    // an MP3 file through a writer that knows nothing of the source.
    OpenedSource src(media_path("sweep.mp3"));
    ASSERT_EQ(src.open(), nullptr);
    src.rec.audio_stream_index = 0;
    src.rec.read_mode = FLATAV_READ_COPY;

    Recorder recorder;
    MemoryOutput out;
    EncodeRec rec{};
    rec.output_file_name = "raw.mp3";
    rec.callbacks = &recorder.callbacks;
    out.attach(rec);
    ASSERT_EQ(ff_open_encoder_raw(&rec), nullptr);
    // The header declares MP3, stereo, 44100 Hz, 1152 samples per frame.
    const AVCodecParameters *par = rec.audio_st->codecpar;
    EXPECT_EQ(par->codec_id, AV_CODEC_ID_MP3);
    EXPECT_EQ(par->ch_layout.nb_channels, 2);
    EXPECT_EQ(par->sample_rate, 44100);
    EXPECT_EQ(par->frame_size, 1152);
    EXPECT_EQ(rec.av_codec_context, nullptr) << "the writer makes no encoder";

    std::vector<uint8_t> buf(1 << 16);
    rec.raw_codec_id = AV_CODEC_ID_MP3;
    rec.raw_frame_size = 1152;
    rec.raw_channels = 2;
    rec.raw_sample_rate = 44100;
    int32_t size;
    int packets = 0;
    while ((size = ff_decode_audio(&src.rec, buf.data(), nullptr, nullptr, (int32_t)buf.size(),
                                   nullptr)) > 0) {
        rec.raw_data = buf.data();
        rec.raw_size = size;
        ASSERT_EQ(ff_encode_audio_raw(&rec, size), 0);
        packets++;
    }
    EXPECT_EQ(ff_encode_audio_raw(&rec, 0), 0);
    ff_cleanup_encoder(&rec);

    ScratchFile file("raw.mp3");
    file.write(out.bytes);
    const std::vector<DemuxedPacket> written = packets_of(file.path);
    const std::vector<DemuxedPacket> source = packets_of(media_path("sweep.mp3"));
    EXPECT_EQ((int)written.size(), packets);
    EXPECT_EQ(written, source);
}

TEST(StreamCopy, BadRecordsAndSources)
{
    Recorder recorder;
    MemoryOutput out;

    // Never opened: packet and trailer calls fail without touching anything.
    EncodeRec unopened{};
    unopened.callbacks = &recorder.callbacks;
    EXPECT_EQ(ff_encode_audio_raw(&unopened, 10), FLATAV_RAW_WRITE_FAILED);
    EXPECT_EQ(ff_encode_audio_raw(&unopened, 0), FLATAV_RAW_WRITE_FAILED);
    EXPECT_EQ(ff_encode_audio_raw(nullptr, 0), FLATAV_RAW_WRITE_FAILED);
    ff_cleanup_encoder(&unopened);

    // No muxer for the name.
    EncodeRec nameless{};
    nameless.output_file_name = "copy.nosuchextension";
    out.attach(nameless);
    EXPECT_STREQ(ff_open_encoder_raw(&nameless), "avformat_alloc_output_context2 failed");
    EXPECT_EQ(nameless.opened, 0);
    EXPECT_EQ(nameless.av_format_context, nullptr);
    EXPECT_EQ(nameless.io_buffer, nullptr);

    // A source element without a decoder has no parameters to copy.
    OpenedSource src(media_path("unknown_codec.wav"));
    src.rec.streamcopy = reinterpret_cast<StreamCopy *>(uintptr_t{1});
    ASSERT_EQ(src.open(), nullptr);
    EncodeRec rec{};
    rec.output_file_name = "copy.wav";
    rec.callbacks = &recorder.callbacks;
    rec.streamcopy = src.rec.streamcopy;
    out.attach(rec);
    EXPECT_STREQ(ff_open_encoder_raw(&rec), "avcodec_parameters_copy failed");
    EXPECT_EQ(rec.opened, 0);
    EXPECT_EQ(rec.av_format_context, nullptr) << "a failed open releases what it made";
    ff_cleanup_encoder(&rec);

    // An index outside the data, chosen after a good open.
    Copy copy("sweep.flac", "copy.flac");
    ASSERT_EQ(copy.open_error, nullptr);
    copy.sc->stream_index = 5;
    ASSERT_GT(ff_decode_audio(&copy.src.rec, nullptr, nullptr, nullptr, 0, nullptr), 0);
    copy.rec.raw_pkt = copy.src.rec.raw_pkt;
    EXPECT_EQ(ff_encode_audio_raw(&copy.rec, 100), FLATAV_RAW_WRITE_FAILED);
    EXPECT_TRUE(copy.recorder.has_error_containing("no stream-copy data"));
    ff_pkt_clean(copy.src.rec.raw_pkt);
    copy.sc->stream_index = 0;
}

}  // namespace
