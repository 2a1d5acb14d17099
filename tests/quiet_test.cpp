// With the quiet switch on, the library writes nothing to standard output or
// standard error, whatever the job. The test program runs again as a child
// that does every kind of job (its main hands "--quiet-jobs" to
// run_quiet_jobs), and the parent reads both of the child's streams.
#include <unistd.h>

#include <gtest/gtest.h>

#include "convert_host.h"
#include "jobs.h"
#include "mem_host.h"

using namespace flatav_test;

namespace {

// Every kind of job, and those that print their failures: a filter and a
// memory-source decoder refused, probes, the muxer list.
std::vector<Job> quiet_jobs()
{
    std::vector<Job> jobs = library_jobs();
    jobs.push_back({"failures and lists", [] {
                        FilterRec rec = stereo_filter(FLATAV_SAMPLE_FMT_S16);
                        FilterRec *handle = &rec;
                        bool done = setup_af("no_such_filter", nullptr, &rec) != 0;
                        clean_af(&handle);
                        done = done && !mem_init(nullptr, MemHost::read, MemHost::write, 0, 16, 16);
                        const std::string missing = media_path("missing.mp3");
                        DecodeRec source{};
                        source.is_url = 1;
                        source.file_name = missing.c_str();
                        std::vector<uint8_t> bytes = read_file(media_path("flac16.flac"));
                        bytes.resize(bytes.size() + FLATAV_PROBE_PADDING);
                        FlatavProbeData data{"", bytes.data(), (int32_t)bytes.size() - FLATAV_PROBE_PADDING, 0, nullptr};
                        done = done && !ff_probe2(&source) && ff_probe(&source, (AVProbeData *)&data);
                        ff_cleanup_decoder(&source);
                        ff_dumpf();
                        return Outcome{{1}, done ? "" : "a failure did not fail"};
                    }});
    return jobs;
}

TEST(Quiet, EveryKindOfJobWritesNothingToStandardOutputOrError)
{
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(length, 0);
    self[length] = '\0';
    ScratchFile errors("quiet_stderr.txt");
    int status = -1;
    const std::vector<uint8_t> out = run_capture(shell_quote(self) + " --quiet-jobs 2>" + shell_quote(errors.path), &status);
    const std::vector<uint8_t> err = read_file(errors.path);
    const std::vector<Job> jobs = quiet_jobs();
    EXPECT_EQ(status, 0) << "the child failed at: " << (status > 0 && status <= (int)jobs.size() ? jobs[status - 1].name : "?");
    EXPECT_EQ(std::string(out.begin(), out.end()), "");
    EXPECT_EQ(std::string(err.begin(), err.end()), "");
}

}  // namespace

// The child: every job with the quiet switch on, FFmpeg's own log going to
// the host through the library's bridge. The exit status names the first
// job that did not do its work (1 + its index), since the child itself must
// stay silent.
int run_quiet_jobs()
{
    LogSettings quiet{1, 0};
    ff_init(&quiet);
    ff_set_log_callback([](int32_t, const char *) {});
    const std::vector<Job> jobs = quiet_jobs();
    for (size_t i = 0; i < jobs.size(); i++) {
        const Outcome done = jobs[i].run();
        if (!done.failure.empty() || done.bytes.empty())
            return (int)i + 1;
    }
    return 0;
}
