// Runs the built flatav tool as a user would, through bash.
#pragma once

#include <string>

namespace flatav_test {

struct ToolRun {
    int status = -1;
    std::string out, err; // standard output and standard error
    std::string check_said; // what the check printed
};

// Runs script with bash in dir, with these variables set: T the tool, M the
// generated media, C the corpus ("" without it), S the source tree, D dir.
// The check, when given, runs after it in the same way with O and E naming
// files that hold the script's standard output and error; check_status
// gets its exit status.
ToolRun run_tool(const std::string &script, const std::string &dir,
                 const std::string &check = "", int *check_status = nullptr);

}  // namespace flatav_test
