// `flatav filters` lists the filters that fit the graph's middle stage:
// the ones the ffmpeg tool shows as one audio input to one audio output.
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "media.h"

namespace {

std::set<std::string> first_words(const std::string &text, const std::string &needed_io)
{
    std::set<std::string> names;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string flags, name, io;
        if (needed_io.empty()) {
            if (words >> name)
                names.insert(name);
        } else if (words >> flags >> name >> io && io == needed_io) {
            names.insert(name);
        }
    }
    return names;
}

std::string output_of(const std::string &command)
{
    int status = 0;
    const std::vector<uint8_t> out = flatav_test::run_capture(command, &status);
    EXPECT_EQ(status, 0) << command;
    return std::string(out.begin(), out.end());
}

TEST(FiltersCommand, ListsTheAudioToAudioFilters)
{
    const std::set<std::string> ours = first_words(
        output_of(flatav_test::shell_quote(FLATAV_TOOL_PATH) + " filters 2>/dev/null"), "");
    const std::set<std::string> tool =
        first_words(output_of("ffmpeg -hide_banner -filters 2>/dev/null"), "A->A");
    ASSERT_GT(tool.size(), 50u);
    EXPECT_EQ(ours, tool);
    for (const char *name : {"volume", "highpass", "atempo", "aecho", "loudnorm"})
        EXPECT_TRUE(ours.count(name)) << name;
    for (const char *name : {"amix", "anullsrc", "hflip", "asplit"})
        EXPECT_FALSE(ours.count(name)) << name;
}

}  // namespace
