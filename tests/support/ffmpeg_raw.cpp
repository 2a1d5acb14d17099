#include "ffmpeg_raw.h"

#include <gtest/gtest.h>

#include "media.h"

namespace flatav_test {

std::vector<uint8_t> ffmpeg_raw(const std::string &input, const RawFormat &in,
                                const std::string &filters,
                                const std::string &out_format,
                                const std::string &output_options)
{
    std::string command = "ffmpeg -nostdin -v error -f " + in.format +
                          " -sample_rate " + std::to_string(in.rate) +
                          " -ch_layout " + in.layout + " -i " + shell_quote(input);
    if (!filters.empty())
        command += " -af " + shell_quote(filters);
    command += " " + output_options + " -f " + out_format + " -";
    int status = 0;
    std::vector<uint8_t> out = run_capture(command, &status);
    EXPECT_EQ(status, 0) << command;
    return out;
}

std::vector<uint8_t> interleave_planes(const std::vector<std::vector<uint8_t>> &writes,
                                       int channels, int bytes)
{
    std::vector<uint8_t> packed;
    for (size_t first = 0; first + channels <= writes.size(); first += channels) {
        const size_t samples = writes[first].size() / bytes;
        for (size_t s = 0; s < samples; s++)
            for (int ch = 0; ch < channels; ch++) {
                const uint8_t *sample = writes[first + ch].data() + s * bytes;
                packed.insert(packed.end(), sample, sample + bytes);
            }
    }
    return packed;
}

}  // namespace flatav_test
