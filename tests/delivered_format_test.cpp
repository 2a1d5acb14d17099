// What a host learns on opening without FFmpeg's headers, against ffprobe,
// for every generated input and every corpus file, opened by URL and
// through the host's read and seek functions: the container's name, the
// sample format and channel layout of the frames the decoder delivers, and
// PCM of that format from ff_decode_audio (packed, or plane by plane).
#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

#include "encode_host.h"
#include "flatav.h"
#include "media.h"
#include "test_host.h"

using namespace flatav_test;

namespace {

struct FirstFrame {
    std::string sample_fmt, channel_layout;
};

// ffprobe's format name and the first decoded frame of each audio stream;
// status non-zero when ffprobe cannot open the file.
struct ProbedFile {
    int status = -1;
    std::string format_name;
    std::map<int, FirstFrame> frames;
};

ProbedFile ffprobe_frames(const std::string &path)
{
    ProbedFile probed;
    std::istringstream lines(run_text(
        "ffprobe -v quiet -select_streams a -show_entries "
        "format=format_name:frame=stream_index,sample_fmt,channel_layout -of compact=p=0 " +
            shell_quote(path),
        &probed.status));
    std::string line;
    while (std::getline(lines, line)) {
        std::map<std::string, std::string> entry;
        std::istringstream fields(line);
        std::string field;
        while (std::getline(fields, field, '|'))
            if (field.find('=') != std::string::npos)
                entry[field.substr(0, field.find('='))] = field.substr(field.find('=') + 1);
        if (entry.count("format_name"))
            probed.format_name = entry["format_name"];
        else if (entry.count("stream_index"))
            probed.frames.emplace(std::stoi(entry["stream_index"]),
                                  FirstFrame{entry["sample_fmt"], entry["channel_layout"]});
    }
    return probed;
}

// The channel mask of a layout ffprobe names, 0 when it is not a native one.
uint64_t native_mask(const std::string &name)
{
    AVChannelLayout layout{};
    uint64_t mask = 0;
    if (av_channel_layout_from_string(&layout, name.c_str()) >= 0 &&
        layout.order == AV_CHANNEL_ORDER_NATIVE)
        mask = layout.u.mask;
    av_channel_layout_uninit(&layout);
    return mask;
}

std::string format_name(int32_t fmt)
{
    const char *name = av_get_sample_fmt_name((AVSampleFormat)fmt);
    return name ? name : "none";
}

// The first call that gives PCM: its size must be that of whole sample
// frames in the reported format, packed or in planes as the record asked.
void check_delivery(DecodeRec &rec, int stream, const FirstFrame &frame)
{
    const AudioInfo &info = rec.audio_info[stream];
    rec.audio_stream_index = stream;
    rec.decode_error_mode = FLATAV_DECODE_ERRORS_SKIP;
    HostBuffer buffer(8);
    const uint64_t before = rec.sample_count;
    int32_t got = 0;
    for (int calls = 0; calls < 1000 && got == 0 && !rec.end_of_stream; calls++)
        got = ff_decode_audio(&rec, nullptr, nullptr, buffer.get(), 0, nullptr);
    ASSERT_GT(got, 0) << "no PCM";
    EXPECT_EQ(format_name(info.output_sample_fmt), frame.sample_fmt);
    EXPECT_EQ(info.channel_layout, native_mask(frame.channel_layout)) << frame.channel_layout;

    const AVSampleFormat fmt = (AVSampleFormat)info.output_sample_fmt;
    const bool planar = av_sample_fmt_is_planar(fmt) && !rec.packed_output;
    EXPECT_EQ(buffer.get()->planar, planar ? 1 : 0);
    const int channels = planar ? buffer.get()->channels : info.channels;
    EXPECT_EQ((uint64_t)got,
              (rec.sample_count - before) * channels * av_get_bytes_per_sample(fmt));
}

void check_file(const std::string &path)
{
    const ProbedFile probed = ffprobe_frames(path);
    if (probed.status != 0)
        return;  // not a source ffprobe opens: the corpus test covers those
    MemorySource memory(read_file(path));
    for (MemorySource *io : {(MemorySource *)nullptr, &memory}) {
        SCOPED_TRACE(io ? "custom I/O, planes" : "URL, packed");
        OpenedSource src(path, io);
        src.rec.packed_output = io ? 0 : 1;
        ASSERT_EQ(src.open(), nullptr);
        ASSERT_NE(src.rec.format_name, nullptr);
        EXPECT_EQ(src.rec.format_name, probed.format_name);
        for (const auto &[stream, frame] : probed.frames) {
            SCOPED_TRACE("stream " + std::to_string(stream));
            const AudioInfo &info = src.rec.audio_info[stream];
            ASSERT_STREQ(info.status, "OK");
            EXPECT_EQ(format_name(info.output_sample_fmt), frame.sample_fmt) << "on opening";
            EXPECT_EQ(info.channel_layout, native_mask(frame.channel_layout)) << "on opening";
            check_delivery(src.rec, stream, frame);
        }
    }
}

struct Inputs {
    const char *name;
    std::string (*dir)();
};

void PrintTo(const Inputs &inputs, std::ostream *os) { *os << inputs.name; }

class DeliveredFormat : public testing::TestWithParam<Inputs> {};

TEST_P(DeliveredFormat, MatchesFfprobeInBothOpeningModes)
{
    const std::string dir = GetParam().dir();
    if (dir.empty())
        GTEST_SKIP() << "no real-world corpus";
    int files = 0;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(dir)) {
        if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.')
            continue;
        SCOPED_TRACE(entry.path().string());
        check_file(entry.path().string());
        files++;
    }
    EXPECT_GT(files, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, DeliveredFormat,
    testing::Values(Inputs{"fixtures", [] { return media_path(""); }}, Inputs{"corpus", corpus_dir}),
    [](const testing::TestParamInfo<Inputs> &info) { return std::string(info.param.name); });

}  // namespace
