// Opening a source: stream descriptions, tags and chapters, stream-copy
// data, and the failures the host sees.
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "flatav.h"
#include "media.h"
#include "test_host.h"

using namespace flatav_test;

namespace {

// True when every byte of the element outside the listed fields is zero.
bool only_fields_set(const AudioInfo &info, std::initializer_list<std::pair<size_t, size_t>> fields)
{
    const auto *bytes = reinterpret_cast<const uint8_t *>(&info);
    for (size_t i = 0; i < sizeof info; i++) {
        bool inside = false;
        for (const auto &f : fields)
            inside |= i >= f.first && i < f.first + f.second;
        if (!inside && bytes[i] != 0)
            return false;
    }
    return true;
}

#define FIELD(name) std::pair<size_t, size_t>(offsetof(AudioInfo, name), sizeof(AudioInfo::name))

TEST(DecoderOpen, DescribesVideoAndAudioStreams)
{
    OpenedSource src(media_path("video_audio.mkv"));
    src.rec.request_sample_fmt = AV_SAMPLE_FMT_S16;
    ASSERT_EQ(src.open(), nullptr);
    const DecodeRec &rec = src.rec;
    ASSERT_EQ(rec.nb_streams, 2);
    EXPECT_EQ(rec.nb_audio_streams, 1);
    ASSERT_NE(rec.av_format_context, nullptr);

    const AudioInfo &video = rec.audio_info[0];
    EXPECT_STREQ(video.status, "N/A");
    EXPECT_EQ(video.codec_type, AVMEDIA_TYPE_VIDEO);
    EXPECT_EQ(video.stream_index, 0);
    EXPECT_EQ(video.request_sample_fmt, AV_SAMPLE_FMT_S16);
    EXPECT_EQ(video.codecpar, rec.av_format_context->streams[0]->codecpar);
    EXPECT_TRUE(only_fields_set(video, {FIELD(stream_index), FIELD(request_sample_fmt),
                                        FIELD(status), FIELD(codecpar)}));

    const AudioInfo &audio = rec.audio_info[1];
    EXPECT_STREQ(audio.status, "OK");
    EXPECT_EQ(audio.codec_type, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(audio.stream_index, 1);
    EXPECT_EQ(audio.codec_id, AV_CODEC_ID_FLAC);
    EXPECT_STREQ(audio.codec_name, "flac");
    EXPECT_EQ(audio.sample_rate, 44100);
    EXPECT_EQ(audio.channels, 2);
    EXPECT_EQ(audio.sample_fmt, AV_SAMPLE_FMT_S16);
    EXPECT_EQ(audio.bits_per_raw_sample, 16);
    EXPECT_EQ(audio.duration_scale, 1000000);
    EXPECT_EQ(audio.duration, rec.av_format_context->duration);
    EXPECT_EQ(audio.duration_seconds, 2.0);
    EXPECT_EQ(audio.time_base.num, 1);
    EXPECT_EQ(audio.time_base.den, 1000);
    EXPECT_NE(audio.codec, nullptr);
    ASSERT_NE(audio.av_codec_context, nullptr);
    EXPECT_TRUE(avcodec_is_open(audio.av_codec_context));
    EXPECT_EQ(audio.av_codec_context->request_sample_fmt, AV_SAMPLE_FMT_S16);
    EXPECT_EQ(audio.codecpar, rec.av_format_context->streams[1]->codecpar);
    EXPECT_EQ(rec.streamcopy, nullptr) << "no stream-copy data unless asked";
}

TEST(DecoderOpen, ReportsContainerTagsThenChaptersThenStreamTags)
{
    OpenedSource src(media_path("tags_chapters.mka"));
    ASSERT_EQ(src.open(), nullptr);
    const Recorder &r = src.recorder;

    // Container tags first, then every chapter entry, then the stream's.
    ASSERT_GE(r.events.size(), 4u);
    size_t i = 0;
    while (i < r.events.size() && r.events[i] == "tag")
        i++;
    const size_t container_tags = i;
    while (i < r.events.size() && r.events[i] == "chapter")
        i++;
    EXPECT_EQ(i - container_tags, 2u);
    while (i < r.events.size() && r.events[i] == "tag")
        i++;
    EXPECT_EQ(i, r.events.size());

    bool title = false, language = false;
    for (size_t t = 0; t < r.tags.size(); t++) {
        if (t < container_tags) {
            EXPECT_EQ(r.tags[t].stream, FLATAV_METADATA_CONTAINER);
            title |= r.tags[t].key == "title" && r.tags[t].value == "Fixture Album";
        } else {
            EXPECT_EQ(r.tags[t].stream, 0);
            language |= r.tags[t].key == "language" && r.tags[t].value == "eng";
        }
    }
    EXPECT_TRUE(title);
    EXPECT_TRUE(language);

    ASSERT_EQ(r.chapters.size(), 2u);
    EXPECT_EQ(r.chapters[0].key, "title");
    EXPECT_EQ(r.chapters[0].value, "First");
    EXPECT_FLOAT_EQ(r.chapters[0].start, 0.5f);
    EXPECT_FLOAT_EQ(r.chapters[0].end, 0.75f);
    EXPECT_EQ(r.chapters[1].value, "Second");
    EXPECT_FLOAT_EQ(r.chapters[1].start, 0.75f);
    EXPECT_FLOAT_EQ(r.chapters[1].end, 2.0f);
    // The chapter's own id, not its position.
    EXPECT_EQ(r.chapters[0].id,
              (int)src.rec.av_format_context->chapters[0]->id);
}

// Ogg Opus stores chapter starts only; FFmpeg ends each chapter where the next
// one starts and the last at the end of the file while it reads the stream
// information, and those are the ends the host gets (not an unset end
// times the time base), as ffprobe shows them.
TEST(DecoderOpen, ChaptersStoredWithoutEndsEndWhereFfprobeEndsThem)
{
    const std::string path = media_path("chapters_open_end.opus");
    OpenedSource src(path);
    ASSERT_EQ(src.open(), nullptr);
    int status = 0;
    const std::vector<uint8_t> out = run_capture(
        "ffprobe -v error -show_entries chapter=end_time -of csv=p=0 " + shell_quote(path),
        &status);
    ASSERT_EQ(status, 0);
    std::vector<float> ends;
    std::istringstream lines(std::string(out.begin(), out.end()));
    for (std::string line; std::getline(lines, line);)
        ends.push_back((float)std::atof(line.c_str()));
    ASSERT_EQ(ends.size(), 2u);
    ASSERT_EQ(src.recorder.chapters.size(), 2u);
    for (size_t i = 0; i < ends.size(); i++) {
        EXPECT_FLOAT_EQ(src.recorder.chapters[i].end, ends[i]) << "chapter " << i;
        EXPECT_GT(src.recorder.chapters[i].end, src.recorder.chapters[i].start);
    }
    EXPECT_FLOAT_EQ(src.recorder.chapters[0].end, src.recorder.chapters[1].start);
}

TEST(DecoderOpen, SourceWithoutStreamsGivesChaptersInItsTimeBase)
{
    // FFmpeg's metadata format: chapters in 1/1000 s, no streams at all.
    OpenedSource src(media_path("chapters.txt"));
    ASSERT_EQ(src.open(), nullptr);
    EXPECT_EQ(src.rec.nb_streams, 0);
    EXPECT_EQ(src.rec.nb_audio_streams, 0);
    ASSERT_EQ(src.recorder.chapters.size(), 2u);
    EXPECT_EQ(src.recorder.chapters[0].start, 0.5f);
    EXPECT_EQ(src.recorder.chapters[0].end, 0.75f);
}

TEST(DecoderOpen, DurationsInWholeSecondsOrUnknown)
{
    OpenedSource src(media_path("tone_3_7.wav"));
    ASSERT_EQ(src.open(), nullptr);
    EXPECT_EQ(src.rec.audio_info[0].duration, 3700000);
    EXPECT_EQ(src.rec.audio_info[0].duration_seconds, 3.0);

    // Without a seek function the size of an ADTS stream is unknown, and
    // with it the duration.
    MemorySource memory(read_file(media_path("aac.aac")), false);
    OpenedSource unknown("aac.aac", &memory);
    ASSERT_EQ(unknown.open(), nullptr);
    ASSERT_EQ(unknown.rec.av_format_context->duration, AV_NOPTS_VALUE);
    EXPECT_EQ(unknown.rec.audio_info[0].duration, 0);
    EXPECT_EQ(unknown.rec.audio_info[0].duration_seconds, -1.0);
    EXPECT_STREQ(unknown.rec.audio_info[0].status, "OK");
}

TEST(DecoderOpen, TrialSeekOnlyForTrySeekOne)
{
    for (int try_seek : {0, 1, 2}) {
        SCOPED_TRACE(try_seek);
        OpenedSource src(media_path("flac16.flac"));
        src.rec.try_seek = try_seek;
        src.rec.seekable = 7;
        ASSERT_EQ(src.open(), nullptr);
        EXPECT_EQ(src.rec.seekable, try_seek == 1 ? 1 : 0);
    }
    MemorySource memory(read_file(media_path("mp3.mp3")), false);
    OpenedSource unseekable("mp3.mp3", &memory);
    unseekable.rec.try_seek = 1;
    ASSERT_EQ(unseekable.open(), nullptr);
    EXPECT_EQ(unseekable.rec.seekable, 0);
}

TEST(DecoderOpen, StreamCopyDataForDecodableAudio)
{
    OpenedSource src(media_path("video_audio.mkv"));
    // Any non-null value asks for stream-copy data.
    src.rec.streamcopy = reinterpret_cast<StreamCopy *>(uintptr_t{1});
    ASSERT_EQ(src.open(), nullptr);
    StreamCopy *sc = src.rec.streamcopy;
    ASSERT_NE(sc, nullptr);
    ASSERT_NE(sc, reinterpret_cast<StreamCopy *>(uintptr_t{1}));
    EXPECT_EQ(sc->active, 0);
    EXPECT_EQ(sc->nb_streams, 2);
    ASSERT_NE(sc->data, nullptr);

    const StreamCopyData &video = sc->data[0];
    EXPECT_EQ(video.codecpar, nullptr);
    EXPECT_EQ(video.codec_context, nullptr);

    const StreamCopyData &audio = sc->data[1];
    ASSERT_NE(audio.codecpar, nullptr);
    EXPECT_NE(audio.codecpar, src.rec.audio_info[1].codecpar);
    EXPECT_EQ(audio.codecpar->codec_id, AV_CODEC_ID_FLAC);
    EXPECT_EQ(audio.codecpar->extradata_size, src.rec.audio_info[1].codecpar->extradata_size);
    EXPECT_EQ(audio.codec_context, src.rec.audio_info[1].av_codec_context);
    EXPECT_EQ(audio.time_base.num, 1);
    EXPECT_EQ(audio.time_base.den, 1000);
    EXPECT_EQ(audio.pts_offset, 0);
    EXPECT_EQ(audio.dts_offset, 0);
}

TEST(DecoderOpen, AudioStreamWithoutDecoder)
{
    OpenedSource src(media_path("unknown_codec.wav"));
    src.rec.streamcopy = reinterpret_cast<StreamCopy *>(uintptr_t{1});
    ASSERT_EQ(src.open(), nullptr);
    ASSERT_NE(src.rec.streamcopy, nullptr);
    EXPECT_EQ(src.rec.streamcopy->nb_streams, 0) << "no stream to copy";
    ASSERT_EQ(src.rec.nb_streams, 1);
    EXPECT_EQ(src.rec.nb_audio_streams, 1);
    const AudioInfo &info = src.rec.audio_info[0];
    EXPECT_STREQ(info.status, "avcodec_find_decoder for codec_id 0 failed");
    EXPECT_EQ(info.codec, nullptr);
    EXPECT_NE(info.av_codec_context, nullptr);
    EXPECT_EQ(info.time_base.den, 44100);
    EXPECT_EQ(info.sample_rate, 0) << "not described without a decoder";
    EXPECT_EQ(src.first_audio(), -1);
}

TEST(DecoderOpen, MissingFileInUrlMode)
{
    OpenedSource src(media_path("no_such_file.flac"));
    const char *failure = src.open();
    ASSERT_NE(failure, nullptr);
    const std::string expected = "(1)avformat_open_input failed " +
                                 std::to_string(AVERROR(ENOENT)) +
                                 ", file=" + media_path("no_such_file.flac");
    EXPECT_EQ(std::string(failure), expected);
    EXPECT_EQ(src.rec.av_format_context, nullptr);
    EXPECT_EQ(src.rec.audio_info, nullptr);
}

TEST(DecoderOpen, GarbageThroughCustomIo)
{
    std::vector<uint8_t> garbage(10000);
    uint32_t x = 12345;
    for (uint8_t &b : garbage) {
        x = x * 1103515245u + 12345u;
        b = (uint8_t)(x >> 24);
    }
    MemorySource memory(garbage);
    OpenedSource src("garbage.bin", &memory);
    const char *failure = src.open();
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(std::string(failure),
              "(1)avformat_open_input failed " + std::to_string(AVERROR_INVALIDDATA) +
                  ", file=garbage.bin");
    EXPECT_EQ(src.rec.av_format_context, nullptr);
    EXPECT_NE(src.rec.avio_context, nullptr);
    EXPECT_NE(src.rec.avio_buffer, nullptr);
    ff_cleanup_decoder(&src.rec);
    EXPECT_EQ(src.rec.avio_context, nullptr);

    MemorySource empty({});
    OpenedSource nothing("empty", &empty);
    EXPECT_NE(nothing.open(), nullptr);
    EXPECT_EQ(nothing.rec.av_format_context, nullptr);
}

TEST(DecoderOpen, ZeroFilledRecordFailsCleanly)
{
    // Custom-I/O mode without a read function or a file name.
    DecodeRec rec{};
    const char *failure = ff_decoder_open(&rec);
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(std::string(failure).rfind("(1)avformat_open_input failed ", 0), 0u) << failure;
    EXPECT_NE(std::string(failure).find("file=(null)"), std::string::npos) << failure;
    ff_cleanup_decoder(&rec);
    EXPECT_EQ(rec.avio_context, nullptr);
    EXPECT_NE(ff_decoder_open(nullptr), nullptr);
    ff_cleanup_decoder(nullptr);
    EXPECT_EQ(ff_decode_audio(nullptr, nullptr, nullptr, nullptr, 0, nullptr),
              FLATAV_DECODE_NO_DECODER);
}

TEST(DecoderOpen, ForcedInputFormatInCustomIoMode)
{
    // Raw PCM has no header to probe: only a forced format opens it.
    std::vector<uint8_t> pcm(44100 * 4, 0);
    MemorySource memory(pcm);
    OpenedSource src("pcm.raw", &memory);
    src.rec.input_format = av_find_input_format("s16le");
    ASSERT_EQ(src.open(), nullptr);
    ASSERT_EQ(src.rec.nb_streams, 1);
    EXPECT_EQ(src.rec.audio_info[0].codec_id, AV_CODEC_ID_PCM_S16LE);
}

}  // namespace
