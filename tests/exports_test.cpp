// The shared library exports the 61 public functions of the header and
// nothing else.
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "media.h"

namespace {

TEST(Exports, ExactlyThePublicFunctionsLeaveTheLibrary)
{
    // Every declaration in the header starts its line with FLATAV_API.
    std::ifstream header(FLATAV_HEADER_PATH);
    std::set<std::string> declared, exported;
    const std::regex declaration(R"(^FLATAV_API\s+[^;(]*?\b(\w+)\s*\()");
    std::smatch match;
    for (std::string line; std::getline(header, line);)
        if (std::regex_search(line, match, declaration))
            declared.insert(match[1]);
    int status = 0;
    const std::vector<uint8_t> out = flatav_test::run_capture(
        "nm -D --defined-only " + flatav_test::shell_quote(FLATAV_LIBRARY_PATH), &status);
    ASSERT_EQ(status, 0);
    std::istringstream symbols(std::string(out.begin(), out.end()));
    for (std::string address, type, name; symbols >> address >> type >> name;)
        if (std::string("TWDBV").find(type) != std::string::npos)
            exported.insert(name);
    EXPECT_EQ(declared.size(), 61u);
    EXPECT_EQ(exported, declared);
}

}  // namespace
