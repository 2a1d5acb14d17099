// What ff_decode_audio tells the host when something is wrong: no buffer,
// no planes, no decoder, damaged packets under each decode_error_mode, a
// buffer that the host does not grow, a decoder not ready for a packet.
#include <dlfcn.h>

#include <string>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
}

#include "flatav.h"
#include "media.h"
#include "test_host.h"

using namespace flatav_test;

// A decoder refuses a packet (AVERROR(EAGAIN)) while output waits in it,
// which cannot be brought about from outside: calls of this program (the
// library's objects included) go through here, and while g_refuse_every is
// positive every such call of that count refuses a packet without looking.
namespace {
int g_refuse_every = 0;
int g_sends = 0;
}  // namespace

extern "C" int avcodec_send_packet(AVCodecContext *avctx, const AVPacket *avpkt)
{
    using Fn = int (*)(AVCodecContext *, const AVPacket *);
    static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "avcodec_send_packet"));
    if (avpkt && g_refuse_every > 0 && ++g_sends % g_refuse_every == 0)
        return AVERROR(EAGAIN);
    return real(avctx, avpkt);
}

namespace {

TEST(DecodeErrors, NoDestinationAtAll)
{
    OpenedSource src(media_path("flac16.flac"));
    ASSERT_EQ(src.open(), nullptr);
    src.rec.audio_stream_index = 0;
    EXPECT_EQ(ff_decode_audio(&src.rec, nullptr, nullptr, nullptr, 0, nullptr),
              FLATAV_DECODE_NO_DESTINATION);
    ASSERT_EQ(src.recorder.errors.size(), 1u);
    EXPECT_EQ(src.recorder.errors[0], "ff_decode_audio buf = NULL");
    EXPECT_EQ(src.rec.packet_count, 1) << "the packet is read, then dropped";
    EXPECT_EQ(src.rec.end_of_stream, 0);

    // At the end of input the same text and code.
    while (ff_decode_audio(&src.rec, nullptr, nullptr, nullptr, 0, nullptr) ==
               FLATAV_DECODE_NO_DESTINATION &&
           !src.rec.end_of_stream) {
    }
    EXPECT_EQ(src.rec.end_of_stream, 1);
    EXPECT_EQ(ff_decode_audio(&src.rec, nullptr, nullptr, nullptr, 0, nullptr),
              FLATAV_DECODE_NO_DESTINATION);
}

TEST(DecodeErrors, PlanarOutputWithoutPlanes)
{
    OpenedSource src(media_path("aac.m4a"));
    ASSERT_EQ(src.open(), nullptr);
    src.rec.audio_stream_index = 0;
    uint8_t buf[16];
    EXPECT_EQ(ff_decode_audio(&src.rec, buf, nullptr, nullptr, 0, nullptr),
              FLATAV_DECODE_NO_DESTINATION);
    EXPECT_EQ(src.recorder.errors, std::vector<std::string>{"ff_decode_audio planes = NULL"});
    EXPECT_EQ(src.rec.packet_count, 0) << "no packet is read for nothing";
}

TEST(DecodeErrors, PacketTheDecoderIsNotReadyForIsSentAgain)
{
    const std::string path = media_path("mp3.mp3");
    OpenedSource src(path);
    src.rec.packed_output = 1;
    ASSERT_EQ(src.open(), nullptr);
    src.rec.audio_stream_index = 0;
    HostBuffer buffer;
    std::vector<uint8_t> pcm;
    int32_t got;
    g_refuse_every = 3;
    g_sends = 0;
    while ((got = ff_decode_audio(&src.rec, nullptr, nullptr, buffer.get(), 0, nullptr)) > 0)
        pcm.insert(pcm.end(), buffer.get()->data, buffer.get()->data + got);
    g_refuse_every = 0;
    EXPECT_EQ(got, 0);
    EXPECT_GT(g_sends, 30);
    EXPECT_TRUE(pcm == ffmpeg_pcm(path, 0, "f32le")) << "no packet dropped";
}

TEST(DecodeErrors, StreamWithoutDecoderContext)
{
    OpenedSource src(media_path("video_audio.mkv"));
    ASSERT_EQ(src.open(), nullptr);
    HostBuffer buffer;
    for (int index : {0, -1, 2, 1000}) {
        SCOPED_TRACE(index);
        src.recorder.errors.clear();
        src.rec.audio_stream_index = index;
        src.rec.end_of_stream = 7;
        EXPECT_EQ(ff_decode_audio(&src.rec, nullptr, nullptr, buffer.get(), 0, nullptr),
                  FLATAV_DECODE_NO_DECODER);
        EXPECT_EQ(src.rec.end_of_stream, 7);
        ASSERT_EQ(src.recorder.errors.size(), 1u);
        EXPECT_EQ(src.recorder.errors[0],
                  "ff_decode_audio Internal error: av_codec_context is NULL for "
                  "audio_stream_index " +
                      std::to_string(index));
    }
}

TEST(DecodeErrors, RecordThatNeverOpened)
{
    DecodeRec rec{};
    HostBuffer buffer;
    EXPECT_EQ(ff_decode_audio(&rec, nullptr, nullptr, buffer.get(), 0, nullptr),
              FLATAV_DECODE_NO_DECODER);
    ff_cleanup_decoder(&rec);
    ff_cleanup_decoder(&rec);
}

TEST(DecodeErrors, UnopenedDecoderFailsTheCall)
{
    OpenedSource src(media_path("unknown_codec.wav"));
    ASSERT_EQ(src.open(), nullptr);
    src.rec.audio_stream_index = 0;
    HostBuffer buffer;
    // The context exists but has no decoder behind it.
    EXPECT_EQ(ff_decode_audio(&src.rec, nullptr, nullptr, buffer.get(), 0, nullptr),
              FLATAV_DECODE_FAILED);
    EXPECT_TRUE(src.recorder.has_error_containing("ff_decode_audio Error while decoding ("));
}

// The ffmpeg tool's count of packets it could not decode.
int ffmpeg_error_count(const std::string &path)
{
    int status = 0;
    std::vector<uint8_t> out = run_capture(
        "ffmpeg -nostdin -v error -i " + shell_quote(path) + " -f null - 2>&1", &status);
    return tool_decode_errors(std::string(out.begin(), out.end()));
}

TEST(DecodeErrors, DamagedPacketFailsTheCallByDefault)
{
    OpenedSource src(media_path("damaged.aac"));
    ASSERT_EQ(src.open(), nullptr);
    src.rec.audio_stream_index = 0;
    src.rec.packed_output = 1;
    HostBuffer buffer;
    int32_t got;
    int good_calls = 0;
    while ((got = ff_decode_audio(&src.rec, nullptr, nullptr, buffer.get(), 0, nullptr)) > 0)
        good_calls++;
    EXPECT_EQ(got, FLATAV_DECODE_FAILED);
    EXPECT_GT(good_calls, 0);
    EXPECT_EQ(src.rec.end_of_stream, 0);
    ASSERT_EQ(src.recorder.errors.size(), 1u);
    EXPECT_EQ(src.recorder.errors[0].rfind("ff_decode_audio Error while decoding (", 0), 0u)
        << src.recorder.errors[0];
    // The record stays usable: the next call goes on with the next packet.
    EXPECT_NE(ff_decode_audio(&src.rec, nullptr, nullptr, buffer.get(), 0, nullptr),
              FLATAV_DECODE_NO_DECODER);
}

TEST(DecodeErrors, SkippedDamagedPacketsGiveTheFfmpegToolsPcm)
{
    const std::string path = media_path("damaged.aac");
    const std::vector<uint8_t> reference = ffmpeg_pcm(path, 0, "f32le");
    const int reference_errors = ffmpeg_error_count(path);
    ASSERT_GT(reference_errors, 0);

    for (int mode : {FLATAV_DECODE_ERRORS_COUNT_AND_SKIP, FLATAV_DECODE_ERRORS_SKIP}) {
        SCOPED_TRACE(mode);
        OpenedSource src(path);
        src.rec.decode_error_mode = mode;
        src.rec.packed_output = 1;
        ASSERT_EQ(src.open(), nullptr);
        src.rec.audio_stream_index = 0;
        HostBuffer buffer;
        int32_t errors = 0;
        std::vector<uint8_t> pcm;
        int32_t got;
        while ((got = ff_decode_audio(&src.rec, nullptr, nullptr, buffer.get(), 0, &errors)) > 0)
            pcm.insert(pcm.end(), buffer.get()->data, buffer.get()->data + got);
        EXPECT_EQ(got, 0);
        EXPECT_EQ(src.rec.end_of_stream, 1);
        EXPECT_TRUE(src.recorder.errors.empty());
        EXPECT_EQ(errors, mode == FLATAV_DECODE_ERRORS_COUNT_AND_SKIP ? reference_errors : 0);
        EXPECT_EQ(pcm, reference);
    }
}

TEST(DecodeErrors, BufferTheHostDoesNotGrowIsNotOverrun)
{
    OpenedSource src(media_path("flac16.flac"));
    src.recorder.callbacks.grow_buffer_cb = nullptr;
    ASSERT_EQ(src.open(), nullptr);
    src.rec.audio_stream_index = 0;
    HostBuffer buffer(0, 16);
    EXPECT_EQ(ff_decode_audio(&src.rec, nullptr, nullptr, buffer.get(), 0, nullptr), 0);
    EXPECT_EQ(src.rec.end_of_stream, 0);
    EXPECT_TRUE(src.recorder.has_error_containing("AudioBuffer holds 16 bytes"));
}

}  // namespace
