#include "tool_run.h"

#include <cstdlib>

#include "media.h"

namespace flatav_test {

namespace {

std::string environment(const std::string &dir)
{
    return "export T=" + shell_quote(FLATAV_TOOL_PATH) + " M=" + shell_quote(media_path("")) +
           " C=" + shell_quote(corpus_dir()) + " S=" + shell_quote(FLATAV_SOURCE_DIR) +
           " D=" + shell_quote(dir) + " O=" + shell_quote(dir + ".out") +
           " E=" + shell_quote(dir + ".err") + "; cd \"$D\" && ";
}

}  // namespace

ToolRun run_tool(const std::string &script, const std::string &dir, const std::string &check,
                 int *check_status)
{
    ToolRun run;
    const std::string env = environment(dir);
    run_capture("bash -c " + shell_quote(env + "{ " + script + "\n} >\"$O\" 2>\"$E\""),
                &run.status);
    const std::vector<uint8_t> out = read_file(dir + ".out"), err = read_file(dir + ".err");
    run.out.assign(out.begin(), out.end());
    run.err.assign(err.begin(), err.end());
    if (!check.empty()) {
        const std::vector<uint8_t> said =
            run_capture("bash -c " + shell_quote(env + check) + " 2>&1", check_status);
        run.check_said.assign(said.begin(), said.end());
    }
    return run;
}

}  // namespace flatav_test
