// Distinct records on several threads at once: every kind of job runs side
// by side, in several copies, and gives the bytes it gave run alone. The
// library keeps no state between records apart from the process-wide
// logging switches and the one text buffer of returned error texts, which
// jobs that succeed never touch. Built with -fsanitize=thread (make
// test-tsan), this program is also the race check of that promise.
#include <condition_variable>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "jobs.h"

using namespace flatav_test;

namespace {

struct Case {
    const char *name;  // the job to run, "" for every one
    int copies;
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name << " x" << c.copies; }

class Concurrency : public testing::TestWithParam<Case> {};

TEST_P(Concurrency, ThreadsGiveTheBytesOfAloneRuns)
{
    std::vector<Job> jobs = library_jobs();
    const std::string only = GetParam().name;
    jobs.erase(std::remove_if(jobs.begin(), jobs.end(),
                              [&](const Job &j) { return !only.empty() && j.name != only; }),
               jobs.end());
    ASSERT_FALSE(jobs.empty());
    const int copies = GetParam().copies;
    std::vector<Outcome> alone, together(jobs.size() * copies);
    for (const Job &job : jobs)
        alone.push_back(job.run());

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
            together[t] = jobs[t / copies].run();
        });
    for (std::thread &thread : threads)
        thread.join();

    for (size_t i = 0; i < jobs.size(); i++) {
        SCOPED_TRACE(jobs[i].name);
        EXPECT_EQ(alone[i].failure, "");
        EXPECT_GT(alone[i].bytes.size(), 10000u) << "about a second of audio";
        for (int c = 0; c < copies; c++) {
            EXPECT_EQ(together[i * copies + c].failure, "");
            EXPECT_TRUE(together[i * copies + c].bytes == alone[i].bytes) << "copy " << c;
        }
    }
}

// Every job twice at once, then many copies of one job of each kind: those
// share every FFmpeg codec, format and table, only the records differ.
INSTANTIATE_TEST_SUITE_P(
    Jobs, Concurrency,
    testing::Values(Case{"", 2}, Case{"decode flac by URL", 6}, Case{"decode mp3 through custom I/O", 6},
                    Case{"encode flac", 6}, Case{"encode aac m4a", 6}, Case{"stream copy", 6},
                    Case{"resample", 6}, Case{"filter", 6}, Case{"mem_decode_audio", 6},
                    Case{"ff_decode_buffer", 6}),
    [](const testing::TestParamInfo<Case> &info) {
        std::string name = *info.param.name ? info.param.name : "every_job";
        for (char &ch : name)
            if (!std::isalnum((unsigned char)ch))
                ch = '_';
        return name;
    });

}  // namespace
