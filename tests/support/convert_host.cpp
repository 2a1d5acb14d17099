#include "convert_host.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

#include "media.h"

namespace flatav_test {
const char *raw_format(int sample_fmt)
{
    const AVSampleFormat packed = av_get_packed_sample_fmt(static_cast<AVSampleFormat>(sample_fmt));
    return packed == AV_SAMPLE_FMT_U8    ? "u8"
           : packed == AV_SAMPLE_FMT_S16 ? "s16le"
           : packed == AV_SAMPLE_FMT_S32 ? "s32le"
                                         : "f32le";
}

std::string tool_raw_input(const std::string &path, int in_format, int rate, uint64_t layout)
{
    char mask[32];
    std::snprintf(mask, sizeof mask, "0x%" PRIx64, layout);
    return std::string(" -f ") + raw_format(in_format) + " -sample_rate " + std::to_string(rate) +
           " -ch_layout " + mask + " -i " + shell_quote(path);
}

std::vector<uint8_t> ffmpeg_raw(const std::string &input, int in_format, int rate, uint64_t layout,
                                const std::string &filters, int out_format)
{
    const std::string command = "ffmpeg -nostdin -v error" +
                                tool_raw_input(input, in_format, rate, layout) + " -af " +
                                shell_quote(filters) + " -f " + raw_format(out_format) + " -";
    int status = 0;
    std::vector<uint8_t> out = run_capture(command, &status);
    EXPECT_EQ(status, 0) << command;
    return out;
}

int32_t PcmSink::write(void *user, const uint8_t *data, int32_t size)
{
    static_cast<PcmSink *>(user)->writes.emplace_back(data, data + size);
    return -1;  // the library ignores the result
}

std::vector<uint8_t> PcmSink::packed(int planes, int bytes) const
{
    std::vector<uint8_t> out;
    for (size_t first = 0; first + planes <= writes.size(); first += planes) {
        const size_t size = writes[first].size(), step = planes > 1 ? bytes : size;
        for (int p = 1; p < planes; p++)  // the planes of one frame have one length
            EXPECT_EQ(writes[first + p].size(), size) << "write call " << first + p;
        for (size_t s = 0; step > 0 && s + step <= size; s += step)
            for (int p = 0; p < planes; p++)
                out.insert(out.end(), &writes[first + p][s], &writes[first + p][s] + step);
    }
    return out;
}

FilterRec stereo_filter(int32_t sample_fmt)
{
    FilterRec rec{};
    rec.sample_fmt = sample_fmt;
    rec.channel_layout = AV_CH_LAYOUT_STEREO;
    rec.sample_rate = 44100;
    rec.channels = 2;
    return rec;
}

}  // namespace flatav_test
