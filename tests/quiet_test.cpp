// Every kind of job, alone and three copies of it on threads at once, with
// the quiet switch on: the copies give the bytes of the alone run, and the
// library writes nothing to standard output or standard error. Distinct
// records share no state apart from the process-wide logging switches and
// the one text buffer of returned error texts, which jobs that succeed never
// touch. Built with -fsanitize=thread (make test-tsan), this is also the race
// check of that promise: a report goes to standard error.
//
// The test program runs again as a child (its main hands "--quiet-jobs" to
// run_quiet_jobs), and the parent reads both of the child's streams. The
// child's exit status names the first job that did not do its work, since
// the child itself must stay silent.
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "convert_host.h"
#include "jobs.h"
#include "mem_host.h"

using namespace flatav_test;

namespace {

constexpr size_t kCopies = 3;

// Every kind of job, and last those that print their failures (alone only:
// failures write the shared error text): a filter and a memory-source
// decoder refused, probes, the muxer list.
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
                        return Outcome{{}, done ? "" : "a failure did not fail"};
                    }});
    return jobs;
}

TEST(Jobs, OnThreadsAsAloneAndQuiet)
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
    const int n = (int)jobs.size();
    EXPECT_EQ(status, 0) << (status > n ? "copies on threads differ from the alone run of: " : "failed alone: ")
                         << (status > 0 && status <= 2 * n ? jobs[(status - 1) % n].name : "?");
    EXPECT_EQ(std::string(out.begin(), out.end()), "");
    EXPECT_EQ(std::string(err.begin(), err.end()), "");
}

}  // namespace

// The child: 1 + a job's index when it failed or gave less than about a
// second of audio alone, n + 1 + its index when a copy on a thread gave
// other bytes.
int run_quiet_jobs()
{
    LogSettings quiet{1, 0};
    ff_init(&quiet);
    ff_set_log_callback([](int32_t, const char *) {});
    const std::vector<Job> jobs = quiet_jobs();
    const size_t threaded = jobs.size() - 1;
    std::vector<Outcome> alone, together(threaded * kCopies);
    for (size_t i = 0; i < jobs.size(); i++) {
        alone.push_back(jobs[i].run());
        if (!alone[i].failure.empty() || (i < threaded && alone[i].bytes.size() <= 10000))
            return (int)i + 1;
    }
    // Every thread waits until all have started, so that the jobs overlap.
    std::mutex mutex;
    std::condition_variable go;
    size_t waiting = together.size();
    std::vector<std::thread> threads;
    for (size_t t = 0; t < together.size(); t++)
        threads.emplace_back([&, t] {
            {
                std::unique_lock<std::mutex> lock(mutex);
                if (--waiting == 0)
                    go.notify_all();
                go.wait(lock, [&] { return waiting == 0; });
            }
            together[t] = jobs[t % threaded].run();
        });
    for (std::thread &thread : threads)
        thread.join();
    for (size_t t = 0; t < together.size(); t++)
        if (!together[t].failure.empty() || together[t].bytes != alone[t % threaded].bytes)
            return (int)(jobs.size() + t % threaded) + 1;
    return 0;
}
