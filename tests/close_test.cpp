// Releasing a source and its stream-copy data: after failures, twice, and
// reopening.
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/codec_par.h>
}

#include "flatav.h"
#include "media.h"
#include "test_host.h"

using namespace flatav_test;

namespace {

TEST(Close, CleanupReleasesEverythingOnceAndTheRecordOpensAgain)
{
    MemorySource memory(read_file(media_path("mp3.mp3")));
    OpenedSource src("mp3.mp3", &memory);
    src.rec.packed_output = 1;
    ASSERT_EQ(src.open(), nullptr);
    src.rec.audio_stream_index = 0;
    HostBuffer buffer;
    ASSERT_GT(ff_decode_audio(&src.rec, nullptr, nullptr, buffer.get(), 0, nullptr), 0);
    ASSERT_NE(src.rec.swr_context, nullptr);
    ASSERT_NE(src.rec.avio_context, nullptr);

    ff_cleanup_decoder(&src.rec);
    EXPECT_EQ(src.rec.av_format_context, nullptr);
    EXPECT_EQ(src.rec.avio_context, nullptr);
    EXPECT_EQ(src.rec.audio_info, nullptr);
    EXPECT_EQ(src.rec.swr_context, nullptr);
    EXPECT_EQ(src.rec.nb_streams, 1) << "counters keep their values";
    ff_cleanup_decoder(&src.rec);

    memory.pos = 0;
    ASSERT_EQ(src.open(), nullptr);
    EXPECT_STREQ(src.rec.audio_info[0].status, "OK");

    DecodeRec zeroed{};
    ff_cleanup_decoder(&zeroed);
    ff_cleanup_decoder(&zeroed);
}

TEST(Close, StreamCopyReleasedOnlyWhenActiveAndOutlivesTheDecoder)
{
    OpenedSource src(media_path("flac16.flac"));
    src.rec.streamcopy = reinterpret_cast<StreamCopy *>(uintptr_t{1});
    ASSERT_EQ(src.open(), nullptr);
    StreamCopy *sc = src.rec.streamcopy;
    ASSERT_NE(sc, nullptr);

    ff_clean_streamcopy(&src.rec.streamcopy);
    EXPECT_EQ(src.rec.streamcopy, sc) << "inactive: left alone";

    ff_cleanup_decoder(&src.rec);
    ASSERT_NE(sc->data[0].codecpar, nullptr);
    EXPECT_EQ(sc->data[0].codecpar->sample_rate, 44100);

    sc->active = 1;
    ff_clean_streamcopy(&src.rec.streamcopy);
    EXPECT_EQ(src.rec.streamcopy, nullptr);
    ff_clean_streamcopy(&src.rec.streamcopy);
    ff_clean_streamcopy(nullptr);
}

}  // namespace
