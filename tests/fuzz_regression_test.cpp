// What fuzzing found in the library, each case rebuilt from the input that
// showed it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

#include "decoder/decoder.h"
#include "flatav.h"
#include "media.h"
#include "test_host.h"

using namespace flatav_test;

namespace {

// A host AudioBuffer that sizes exactly what the library last reported:
// packed output gets only data, planar output only abuf->channels planes.
// A write into a buffer the host was never asked for lands outside this
// host's vectors, which ASan reports.
struct ShapedHost {
    AudioBuffer abuf{};  // first: grow() casts the AudioBuffer back
    std::vector<uint8_t> data;
    std::vector<std::vector<uint8_t>> planes;
    std::vector<uint8_t *> plane_ptrs;
    struct Request {
        int32_t need, planar, channels;
    };
    std::vector<Request> requests;

    static void grow(void *, AudioBuffer *abuf, int32_t need)
    {
        auto *self = reinterpret_cast<ShapedHost *>(abuf);
        self->requests.push_back({need, abuf->planar, abuf->channels});
        const size_t size = (size_t)std::max(need, abuf->capacity);
        if (abuf->planar) {
            self->data.clear();
            self->planes.resize((size_t)abuf->channels);
            self->plane_ptrs.resize((size_t)abuf->channels);
            for (size_t i = 0; i < self->planes.size(); i++) {
                self->planes[i].resize(size);
                self->plane_ptrs[i] = self->planes[i].data();
            }
        } else {
            self->planes.clear();
            self->plane_ptrs.clear();
            self->data.resize(size);
        }
        abuf->data = self->data.empty() ? nullptr : self->data.data();
        abuf->planes = self->plane_ptrs.empty() ? nullptr : self->plane_ptrs.data();
        abuf->capacity = (int32_t)size;
    }
};

TEST(FuzzRegressions, PlanarOutputAsksForMorePlanesWhenChannelsRise)
{
    // The fuzzer's input: a mono ADTS stream followed by a stereo one. The
    // stereo frames need no more bytes per plane than the mono ones, so the
    // library used to write the second plane without asking the host, past
    // the one plane it had been given.
    OpenedSource src(media_path("aac_mono_then_stereo.aac"));
    ShapedHost host;
    src.recorder.callbacks.grow_buffer_cb = ShapedHost::grow;
    ASSERT_EQ(src.open(), nullptr);
    src.rec.audio_stream_index = 0;

    std::vector<uint8_t> mono, stereo_left;
    for (;;) {
        const int32_t got = ff_decode_audio(&src.rec, nullptr, nullptr, &host.abuf, 0, nullptr);
        ASSERT_GE(got, 0);
        if (got == 0)
            break;
        ASSERT_EQ(host.abuf.planar, 1);
        ASSERT_EQ(host.planes.size(), (size_t)host.abuf.channels)
            << "the host was not asked for the planes it is written to";
        const size_t per_plane = (size_t)got / (size_t)host.abuf.channels;
        std::vector<uint8_t> &dst = host.abuf.channels == 1 ? mono : stereo_left;
        dst.insert(dst.end(), host.planes[0].begin(), host.planes[0].begin() + per_plane);
    }
    ASSERT_FALSE(stereo_left.empty()) << "the stereo part was not decoded";

    // The host was asked once for the mono plane and once more when the
    // second channel came, although the capacity sufficed.
    ASSERT_EQ(host.requests.size(), 2u);
    EXPECT_EQ(host.requests[0].channels, 1);
    EXPECT_EQ(host.requests[1].channels, 2);
    EXPECT_LE(host.requests[1].need, host.requests[0].need);

    // The mono part decodes as the ffmpeg tool decodes it on its own.
    EXPECT_EQ(mono, ffmpeg_pcm(media_path("aac_mono_part.aac"), 0, "f32le"));
}

// The same rule frame by frame, without a source: a sequence of frames of
// changing shape goes through decode_audio_frame into a host that sizes
// only what it was asked for.
struct FrameShape {
    AVSampleFormat format;
    int channels;
    int nb_samples;
};
struct ShapeCase {
    const char *name;
    int packed_output;
    std::vector<FrameShape> frames;
    // Whether each frame asks the host (capacity short or shape changed).
    std::vector<bool> asks;
};

void PrintTo(const ShapeCase &c, std::ostream *os) { *os << c.name; }

class ShapeChanges : public testing::TestWithParam<ShapeCase> {};

TEST_P(ShapeChanges, HostIsAskedBeforeANewShapeIsWritten)
{
    const ShapeCase &c = GetParam();
    SCOPED_TRACE(c.name);
    AVCodecContext *dec = avcodec_alloc_context3(nullptr);
    ASSERT_NE(dec, nullptr);
    dec->sample_rate = 48000;
    AudioInfo info{};
    info.av_codec_context = dec;
    Recorder recorder;
    ShapedHost host;
    recorder.callbacks.grow_buffer_cb = ShapedHost::grow;
    DecodeRec rec{};
    rec.nb_streams = 1;
    rec.audio_info = &info;
    rec.callbacks = &recorder.callbacks;
    rec.packed_output = c.packed_output;

    for (size_t i = 0; i < c.frames.size(); i++) {
        SCOPED_TRACE(i);
        const FrameShape &shape = c.frames[i];
        AVFrame *frame = av_frame_alloc();
        ASSERT_NE(frame, nullptr);
        frame->format = shape.format;
        frame->nb_samples = shape.nb_samples;
        frame->sample_rate = 48000;
        av_channel_layout_default(&frame->ch_layout, shape.channels);
        av_channel_layout_uninit(&dec->ch_layout);
        av_channel_layout_default(&dec->ch_layout, shape.channels);
        ASSERT_GE(av_frame_get_buffer(frame, 0), 0);
        for (int p = 0; p < (av_sample_fmt_is_planar(shape.format) ? shape.channels : 1); p++)
            std::memset(frame->extended_data[p], 0x11 * (p + 1), (size_t)frame->linesize[0]);

        const size_t before = host.requests.size();
        flatav::CallTotals totals;
        const int32_t written =
            flatav::decode_audio_frame(&rec, frame, nullptr, nullptr, &host.abuf, totals);
        EXPECT_EQ(host.requests.size() - before, c.asks[i] ? 1u : 0u);
        // The stream's description follows what its frames deliver.
        EXPECT_EQ(info.output_sample_fmt, shape.format);
        EXPECT_EQ(info.channel_layout, frame->ch_layout.u.mask);
        const int bytes = av_get_bytes_per_sample(shape.format) * shape.nb_samples;
        EXPECT_EQ(written, bytes * shape.channels);
        if (host.abuf.planar) {
            ASSERT_GE(host.planes.size(), (size_t)shape.channels);
            for (int p = 0; p < shape.channels; p++)
                EXPECT_EQ(host.planes[p][(size_t)bytes - 1], 0x11 * (p + 1)) << "plane " << p;
        } else {
            ASSERT_GE(host.data.size(), (size_t)bytes * shape.channels);
        }
        av_frame_free(&frame);
    }
    swr_free(&rec.swr_context);
    avcodec_free_context(&dec);
}

INSTANTIATE_TEST_SUITE_P(
    FuzzRegressions, ShapeChanges,
    testing::Values(
        ShapeCase{"planar channels rise within the capacity", 0,
                  {{AV_SAMPLE_FMT_FLTP, 1, 1024}, {AV_SAMPLE_FMT_FLTP, 2, 512},
                   {AV_SAMPLE_FMT_FLTP, 2, 512}, {AV_SAMPLE_FMT_FLTP, 1, 512},
                   {AV_SAMPLE_FMT_FLTP, 2, 512}},
                  // A rise after a drop asks again: the library only knows
                  // the count it reported last.
                  {true, true, false, false, true}},
        ShapeCase{"packed output turns planar within the capacity", 0,
                  {{AV_SAMPLE_FMT_S16, 2, 1024}, {AV_SAMPLE_FMT_S16P, 2, 256},
                   {AV_SAMPLE_FMT_S16P, 2, 256}},
                  {true, true, false}},
        ShapeCase{"planar output turns packed within the capacity", 0,
                  {{AV_SAMPLE_FMT_FLTP, 2, 1024}, {AV_SAMPLE_FMT_FLT, 2, 256},
                   {AV_SAMPLE_FMT_FLT, 2, 256}},
                  {true, true, false}},
        ShapeCase{"converted planar output stays packed", 1,
                  {{AV_SAMPLE_FMT_FLTP, 2, 1024}, {AV_SAMPLE_FMT_FLTP, 2, 256},
                   {AV_SAMPLE_FMT_S16, 2, 256}},
                  {true, false, false}}),
    [](const testing::TestParamInfo<ShapeCase> &info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

// libswresample's swr_init accepts AV_SAMPLE_FMT_NONE as the output format
// when both rates are equal, and swr_convert then divides by zero. The
// fuzzer's record: 16-bit 7.1 (wide) in, no output format, 107,940 Hz both
// ways, user channel counts 2 and 6, soxr, rectangular dither.
TEST(FuzzRegressions, SetUpRefusesAnOutputFormatThatIsNone)
{
    for (const int32_t format : {(int32_t)AV_SAMPLE_FMT_NONE, -7}) {
        for (const bool output : {true, false}) {
            SCOPED_TRACE(testing::Message() << "format " << format
                                            << (output ? " out" : " in"));
            ResampleRec rec{};
            rec.in_sample_fmt = output ? AV_SAMPLE_FMT_S16 : format;
            rec.out_sample_fmt = output ? format : AV_SAMPLE_FMT_S16;
            rec.in_sample_rate = rec.out_sample_rate = 107940;
            rec.in_channel_layout = rec.out_channel_layout = AV_CH_LAYOUT_7POINT1_WIDE;
            rec.in_channels = rec.out_channels = 8;
            rec.user_in_ch_count = 2;
            rec.user_out_ch_count = 6;
            rec.dither_method = 1;
            rec.precision = 140;
            std::strcpy(rec.resampler_name, "soxr");

            EXPECT_EQ(ff_init_resample(&rec, nullptr, 0), AVERROR(EINVAL));
            EXPECT_EQ(rec.swr, nullptr);
            std::vector<uint8_t> in(25964, 0x8c), out(1 << 16);
            int32_t capacity = 2000;
            EXPECT_EQ(ff_resample(&rec, in.data(), (int32_t)in.size(), out.data(),
                                  &capacity, 0),
                      0);
            ff_cleanup_resample(&rec);
        }
    }
}

}  // namespace
