// The shared library exports the public functions of the header and
// nothing else.
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "media.h"

namespace {

std::set<std::string> declared_functions()
{
    // Every declaration in the header starts its line with FLATAV_API.
    std::ifstream header(FLATAV_HEADER_PATH);
    std::stringstream text;
    text << header.rdbuf();
    std::set<std::string> names;
    const std::regex declaration(R"(^FLATAV_API\s+[^;(]*?\b(\w+)\s*\()");
    std::string line;
    std::smatch match;
    while (std::getline(text, line))
        if (std::regex_search(line, match, declaration))
            names.insert(match[1]);
    return names;
}

std::set<std::string> exported_functions()
{
    int status = 0;
    const std::vector<uint8_t> out = flatav_test::run_capture(
        "nm -D --defined-only " + flatav_test::shell_quote(FLATAV_LIBRARY_PATH), &status);
    EXPECT_EQ(status, 0);
    std::istringstream lines(std::string(out.begin(), out.end()));
    std::set<std::string> names;
    std::string address, type, name;
    while (lines >> address >> type >> name)
        if (type == "T" || type == "W" || type == "D" || type == "B" || type == "V")
            names.insert(name);
    return names;
}

TEST(Exports, HeaderDeclaresTheWholeInterface)
{
    EXPECT_EQ(declared_functions().size(), 61u);
}

TEST(Exports, ExactlyThePublicFunctionsLeaveTheLibrary)
{
    const std::set<std::string> declared = declared_functions();
    const std::set<std::string> exported = exported_functions();
    for (const std::string &name : exported)
        EXPECT_TRUE(declared.count(name)) << name << " is exported but not public";
    for (const std::string &name : declared)
        EXPECT_TRUE(exported.count(name)) << name << " is public but not exported";
}

}  // namespace
