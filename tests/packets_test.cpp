// Packet hand-out: durations, copies and raw packets of the selected stream,
// compared with the packets the ffmpeg tool copies from the same file.
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/packet.h>
#include <libavformat/avformat.h>
#include <libavutil/md5.h>
}

#include "flatav.h"
#include "media.h"
#include "test_host.h"

using namespace flatav_test;

namespace {

std::string md5_of(const uint8_t *data, int size)
{
    uint8_t digest[16];
    av_md5_sum(digest, data, size);
    char hex[33];
    for (int i = 0; i < 16; i++)
        std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
}

struct PacketCase {
    const char *file;
    int stream;
};

void PrintTo(const PacketCase &c, std::ostream *os) { *os << c.file; }

class PacketModes : public testing::TestWithParam<PacketCase> {};

TEST_P(PacketModes, DurationsSumToTheStreamDuration)
{
    const PacketCase &c = GetParam();
    const DemuxedPackets ref = demuxed_packets(media_path(c.file), std::to_string(c.stream));
    OpenedSource src(media_path(c.file));
    ASSERT_EQ(src.open(), nullptr);
    src.rec.audio_stream_index = c.stream;
    src.rec.read_mode = FLATAV_READ_PACKET_DURATIONS;
    src.rec.position = 123.0;
    double times[2] = {0, 0};
    src.rec.packet_times = times;

    size_t packets = 0;
    int32_t got;
    while ((got = ff_decode_audio(&src.rec, nullptr, nullptr, nullptr, 0, nullptr)) == 0)
        packets++;
    EXPECT_EQ(got, FLATAV_DECODE_END_OF_PACKETS);
    EXPECT_EQ(src.rec.end_of_stream, 1);
    EXPECT_EQ(packets, ref.packets.size());
    EXPECT_EQ(src.rec.packet_count, (int)packets);
    EXPECT_NEAR(times[1], ref.total_seconds(), 1e-6);
    EXPECT_EQ(src.rec.position, 123.0) << "durations mode leaves the position";
    EXPECT_EQ(src.rec.packet_duration_sum, 0.0);
    EXPECT_FALSE(src.recorder.messages.empty());
}

TEST_P(PacketModes, CopiesAndRawPacketsAreTheSourcePackets)
{
    const PacketCase &c = GetParam();
    const DemuxedPackets ref = demuxed_packets(media_path(c.file), std::to_string(c.stream));
    ASSERT_FALSE(ref.packets.empty());

    OpenedSource copy(media_path(c.file)), raw(media_path(c.file));
    ASSERT_EQ(copy.open(), nullptr);
    ASSERT_EQ(raw.open(), nullptr);
    copy.rec.audio_stream_index = raw.rec.audio_stream_index = c.stream;
    copy.rec.read_mode = FLATAV_READ_COPY;
    raw.rec.read_mode = FLATAV_READ_RAW_PACKET;
    raw.rec.raw_pkt = ff_pkt_new();
    ASSERT_NE(raw.rec.raw_pkt, nullptr);
    std::vector<uint8_t> buf(1 << 16);

    for (size_t i = 0; i < ref.packets.size(); i++) {
        SCOPED_TRACE(i);
        const int32_t copied = ff_decode_audio(&copy.rec, buf.data(), nullptr, nullptr,
                                               (int32_t)buf.size(), nullptr);
        ASSERT_EQ(copied, ref.packets[i].size);
        EXPECT_EQ(md5_of(buf.data(), copied), ref.packets[i].md5);

        const int32_t size = ff_decode_audio(&raw.rec, nullptr, nullptr, nullptr, 0, nullptr);
        ASSERT_EQ(size, ref.packets[i].size);
        EXPECT_EQ(md5_of(raw.rec.raw_pkt->data, size), ref.packets[i].md5);
        EXPECT_EQ(raw.rec.raw_pkt->stream_index, c.stream);
        EXPECT_EQ(copy.rec.position, raw.rec.position) << "both from the packet's pts";
        ff_pkt_clean(raw.rec.raw_pkt);
    }
    EXPECT_EQ(ff_decode_audio(&copy.rec, buf.data(), nullptr, nullptr, (int32_t)buf.size(),
                              nullptr),
              FLATAV_DECODE_END_OF_PACKETS);
    EXPECT_EQ(ff_decode_audio(&raw.rec, nullptr, nullptr, nullptr, 0, nullptr),
              FLATAV_DECODE_END_OF_PACKETS);
    EXPECT_EQ(raw.rec.end_of_stream, 1);
    EXPECT_EQ(raw.rec.raw_packet_count, (int64_t)ref.packets.size());
    EXPECT_EQ(raw.rec.packet_count, 0) << "raw mode does not count packets read";
    EXPECT_NEAR(raw.rec.packet_duration_sum, ref.total_seconds(), 1e-6);
    EXPECT_NEAR(copy.rec.packet_duration_sum, ref.total_seconds(), 1e-6);
    ff_pkt_free(raw.rec.raw_pkt);
}

INSTANTIATE_TEST_SUITE_P(Files, PacketModes,
                         testing::Values(PacketCase{"sweep.mp3", 0}, PacketCase{"sweep.flac", 0},
                                         PacketCase{"sweep.m4a", 0}, PacketCase{"sweep.ogg", 0},
                                         PacketCase{"video_audio.mkv", 1}),
                         [](const testing::TestParamInfo<PacketCase> &info) {
                             std::string name = info.param.file;
                             for (char &ch : name)
                                 if (!isalnum((unsigned char)ch))
                                     ch = '_';
                             return name;
                         });

TEST(CopyMode, CapacityBoundsAndThePacketCallback)
{
    const std::string path = media_path("sweep.mp3");
    const DemuxedPacket first = demuxed_packets(path, "0").packets.at(0);
    const int32_t size = first.size;
    static int32_t answer;
    static std::vector<int32_t> offered;
    const HostPacketFn offer = [](void *opaque, const uint8_t *, int32_t sz,
                                  int32_t capacity) -> int32_t {
        EXPECT_EQ(opaque, &offered);
        offered.push_back(sz);
        offered.push_back(capacity);
        return answer;
    };

    struct Case {
        int32_t expected_size, raw_buffer_size, answer;
        bool callback;
        int32_t result;
        bool copied, counted;
    } cases[] = {
        {size, 0, 1, false, size, true, true},         // fits expected_size
        {size - 1, size, 1, false, size, true, true},  // fits raw_buffer_size
        // fits neither: still counted
        {size - 1, size - 1, 1, false, FLATAV_DECODE_PACKET_TOO_LARGE, false, true},
        // the host takes it
        {size, 0, FLATAV_PACKET_CB_TAKEN, true, FLATAV_DECODE_PACKET_TAKEN, false, false},
        {size, 0, 5, true, size, true, true},  // the host lets it be copied
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(testing::Message() << k.expected_size << "/" << k.raw_buffer_size
                                        << " callback " << k.callback);
        OpenedSource src(path);
        ASSERT_EQ(src.open(), nullptr);
        src.rec.audio_stream_index = 0;
        src.rec.read_mode = FLATAV_READ_COPY;
        src.rec.raw_buffer_size = k.raw_buffer_size;
        src.rec.position = -1;
        answer = k.answer;
        offered.clear();
        if (k.callback) {
            src.recorder.callbacks.packet_cb = offer;
            src.rec.io_opaque = &offered;
        }
        std::vector<uint8_t> buf(size, 0);
        EXPECT_EQ(ff_decode_audio(&src.rec, buf.data(), nullptr, nullptr, k.expected_size,
                                  nullptr),
                  k.result);
        EXPECT_EQ(md5_of(buf.data(), size) == first.md5, k.copied);
        EXPECT_EQ(src.rec.packet_duration_sum > 0, k.counted);
        EXPECT_NE(src.rec.position, -1) << "the position follows the pts in every case";
        if (k.callback) {
            EXPECT_EQ(offered, (std::vector<int32_t>{size, k.expected_size}));
        }
    }
    // A null buf cannot take the packet: it counts as too small.
    OpenedSource src(path);
    ASSERT_EQ(src.open(), nullptr);
    src.rec.audio_stream_index = 0;
    src.rec.read_mode = FLATAV_READ_COPY;
    EXPECT_EQ(ff_decode_audio(&src.rec, nullptr, nullptr, nullptr, 1 << 20, nullptr),
              FLATAV_DECODE_PACKET_TOO_LARGE);
}

TEST(RawMode, PositionsAreLessTheWholeSecondsOfTheStartTime)
{
    // MPEG-TS starts at 1.4 s: positions are pts seconds less 1, not 1.4.
    OpenedSource src(media_path("sweep.ts"));
    ASSERT_EQ(src.open(), nullptr);
    ASSERT_EQ(src.rec.av_format_context->start_time, 1400000);
    src.rec.audio_stream_index = 0;
    src.rec.read_mode = FLATAV_READ_RAW_PACKET;
    src.rec.raw_pkt = ff_pkt_new();
    ASSERT_GT(ff_decode_audio(&src.rec, nullptr, nullptr, nullptr, 0, nullptr), 0);
    const int64_t pts = src.rec.raw_pkt->pts;
    EXPECT_EQ(src.rec.position, (double)((float)(pts / 90000.0) - 1.0f));
    EXPECT_NEAR(src.rec.position, 0.4, 1e-3);
    ff_pkt_free(src.rec.raw_pkt);
}

TEST(RawMode, EndOfStreamStaysUntilAnotherModeClearsIt)
{
    OpenedSource src(media_path("sweep.flac"));
    ASSERT_EQ(src.open(), nullptr);
    src.rec.audio_stream_index = 0;
    src.rec.read_mode = FLATAV_READ_RAW_PACKET;
    src.rec.raw_pkt = ff_pkt_new();
    while (ff_decode_audio(&src.rec, nullptr, nullptr, nullptr, 0, nullptr) > 0)
        ff_pkt_clean(src.rec.raw_pkt);
    EXPECT_EQ(src.rec.end_of_stream, 1);

    src.rec.position = 0;
    ASSERT_EQ(ff_seek4(&src.rec), 0);
    EXPECT_GT(ff_decode_audio(&src.rec, nullptr, nullptr, nullptr, 0, nullptr), 0);
    EXPECT_EQ(src.rec.end_of_stream, 1) << "raw mode only ever sets it";

    src.rec.read_mode = FLATAV_READ_PACKET_DURATIONS;
    double times[2] = {};
    src.rec.packet_times = times;
    EXPECT_EQ(ff_decode_audio(&src.rec, nullptr, nullptr, nullptr, 0, nullptr), 0);
    EXPECT_EQ(src.rec.end_of_stream, 0);
    ff_pkt_free(src.rec.raw_pkt);
}

TEST(RawMode, WithoutPacketObjectOrSource)
{
    OpenedSource src(media_path("sweep.flac"));
    ASSERT_EQ(src.open(), nullptr);
    src.rec.audio_stream_index = 0;
    src.rec.read_mode = FLATAV_READ_RAW_PACKET;
    EXPECT_EQ(ff_decode_audio(&src.rec, nullptr, nullptr, nullptr, 0, nullptr),
              FLATAV_DECODE_NO_DECODER);
    EXPECT_EQ(src.recorder.errors.size(), 1u);

    DecodeRec never_opened{};
    never_opened.read_mode = FLATAV_READ_RAW_PACKET;
    never_opened.raw_pkt = ff_pkt_new();
    EXPECT_EQ(ff_decode_audio(&never_opened, nullptr, nullptr, nullptr, 0, nullptr),
              FLATAV_DECODE_NO_DECODER);
    ff_pkt_free(never_opened.raw_pkt);

    // The packet object: its size, and clean and free that take null.
    EXPECT_EQ(ff_pkt_size(), (int32_t)sizeof(AVPacket));
    AVPacket *pkt = ff_pkt_new();
    ff_pkt_clean(pkt);  // safe before any read
    ff_pkt_free(pkt);
    ff_pkt_clean(nullptr);
    ff_pkt_free(nullptr);
}

}  // namespace
