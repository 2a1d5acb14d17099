// The tool's filter and resampler front: `flatav filters` lists the
// filters that fit the graph's middle stage (the ones the ffmpeg tool shows
// as one audio input to one audio output), and `flatav transcode` runs
// --filter, --rate and --channels as the ffmpeg tool runs the same chain.
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "encode_host.h"
#include "media.h"

namespace {

using flatav_test::media_path;
using flatav_test::shell_quote;

// What a shell command prints, and its exit status.
std::string output_of(const std::string &command, int *status)
{
    const std::vector<uint8_t> out = flatav_test::run_capture(command, status);
    return std::string(out.begin(), out.end());
}

std::string transcode(const std::string &in, const std::string &out, const std::string &options,
                      int *status)
{
    return output_of(shell_quote(FLATAV_TOOL_PATH) + " transcode " + shell_quote(in) + " " +
                         out + " " + options + " 2>&1",
                     status);
}

// The first group of line_pattern in each line that a command prints.
std::set<std::string> names(const std::string &command, const char *line_pattern)
{
    int status = -1;
    std::istringstream text(output_of(command + " 2>/dev/null", &status));
    EXPECT_EQ(status, 0) << command;
    const std::regex pattern(line_pattern);
    std::set<std::string> found;
    std::smatch m;
    for (std::string line; std::getline(text, line);)
        if (std::regex_search(line, m, pattern))
            found.insert(m[1]);
    return found;
}

TEST(FiltersCommand, ListsTheAudioToAudioFilters)
{
    // Ours: the name first on each line; the tool's: flags, name, then its
    // inputs and outputs.
    const std::set<std::string> ours =
        names(shell_quote(FLATAV_TOOL_PATH) + " filters", R"(^(\S+))");
    const std::set<std::string> tool =
        names("ffmpeg -hide_banner -filters", R"(^ *\S+ +(\S+) +A->A )");
    ASSERT_GT(tool.size(), 50u);
    EXPECT_EQ(ours, tool);
    for (const char *name : {"volume", "highpass", "atempo", "aecho", "loudnorm"})
        EXPECT_TRUE(ours.count(name)) << name;
    for (const char *name : {"amix", "anullsrc", "hflip", "asplit"})
        EXPECT_FALSE(ours.count(name)) << name;
}

// Transcodes to FLAC with the chain options; the ffmpeg tool runs the same
// chain: the filter, the library's format stage, then aresample with the
// same output rate and channel count (FFmpeg's default layout for it).
struct ChainCase {
    const char *name;
    const char *input;
    const char *options;
    const char *tool_chain;  // -af of the ffmpeg tool
};

void PrintTo(const ChainCase &c, std::ostream *os) { *os << c.name; }

const ChainCase kChains[] = {
    {"filter_rate_channels", "stereo_s16.wav", "--filter volume=0.5 --rate 48000 --channels 1",
     "volume=0.5,aformat=sample_fmts=s16:sample_rates=44100:channel_layouts=0x3,"
     "aresample=osr=48000:ochl=mono:osf=s16"},
    {"rate", "stereo_s16.wav", "--rate 22050", "aresample=osr=22050:osf=s16"},
    {"remix_51_to_stereo", "filter_51.flac", "--channels 2", "aresample=ochl=stereo:osf=s16"},
    {"filter_with_latency", "stereo_s16.wav", "--filter loudnorm",
     "loudnorm,aformat=sample_fmts=s16:sample_rates=44100:channel_layouts=0x3"},
};

class TranscodeChain : public testing::TestWithParam<ChainCase> {};

TEST_P(TranscodeChain, MatchesTheToolsChain)
{
    const ChainCase &c = GetParam();
    SCOPED_TRACE(c.name);
    const std::string in = media_path(c.input);
    flatav_test::ScratchFile out(std::string(c.name) + ".flac");
    int status = -1;
    const std::string text = transcode(in, shell_quote(out.path), c.options, &status);
    EXPECT_EQ(status, 0) << text;
    EXPECT_NE(text.find("samples per channel"), std::string::npos) << text;
    const std::vector<uint8_t> ours = flatav_test::ffmpeg_pcm(out.path, 0, "s16le");
    const std::vector<uint8_t> tool = flatav_test::run_capture(
        "ffmpeg -nostdin -v error -i " + shell_quote(in) + " -af " +
            shell_quote(c.tool_chain) + " -f s16le -",
        nullptr);
    ASSERT_FALSE(tool.empty());
    EXPECT_EQ(ours.size(), tool.size());
    EXPECT_TRUE(ours == tool);
}

INSTANTIATE_TEST_SUITE_P(Options, TranscodeChain, testing::ValuesIn(kChains),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(TranscodeChainOptions, BadValuesFailWithAMessage)
{
    struct Case {
        const char *options, *message;
        int status;
        bool to_stdout;
    };
    const Case cases[] = {
        {"--rate 0", "--rate wants samples per second", 2, false},
        {"--rate fast", "--rate wants samples per second", 2, false},
        {"--channels 65", "--channels wants a count from 1 to 64", 2, false},
        {"--filter no_such_filter",
         "cannot set up the filter 'no_such_filter' (code -1279870712)", 1, false},
        {"--filter volume=loud", "cannot set up the filter 'volume=loud' (code -12)", 1, false},
        {"--filter =0.5", "--filter wants NAME or NAME=ARGS", 1, false},
        // The filter's trace would mix with a container on standard output.
        {"--codec flac --filter volume=0.5", "cannot write to standard output", 2, true},
    };
    const std::string in = media_path("stereo_s16.wav");
    flatav_test::ScratchFile out("bad.flac");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.options);
        int status = 0;
        const std::string text =
            transcode(in, c.to_stdout ? "-" : shell_quote(out.path), c.options, &status);
        EXPECT_EQ(status, c.status) << text;
        EXPECT_NE(text.find(c.message), std::string::npos) << text;
    }
}

}  // namespace
