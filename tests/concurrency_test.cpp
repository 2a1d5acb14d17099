// Distinct records on several threads at once: three copies of every kind of
// job run side by side and give the bytes each gave run alone. The library
// keeps no state between records apart from the process-wide logging
// switches and the one text buffer of returned error texts, which jobs that
// succeed never touch. Built with -fsanitize=thread (make test-tsan), this
// program is also the race check of that promise.
#include <condition_variable>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "jobs.h"

using namespace flatav_test;

namespace {

TEST(Concurrency, ThreadsGiveTheBytesOfAloneRuns)
{
    const std::vector<Job> jobs = library_jobs();
    constexpr size_t kCopies = 3;
    std::vector<Outcome> alone, together(jobs.size() * kCopies);
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
            together[t] = jobs[t % jobs.size()].run();
        });
    for (std::thread &thread : threads)
        thread.join();
    for (size_t t = 0; t < together.size(); t++) {
        SCOPED_TRACE(jobs[t % jobs.size()].name);
        const Outcome &first = alone[t % jobs.size()];
        EXPECT_TRUE(first.failure.empty() && first.bytes.size() > 10000) << "about a second of audio";
        EXPECT_EQ(together[t].failure, "");
        EXPECT_TRUE(together[t].bytes == first.bytes) << "copy " << t / jobs.size();
    }
}

}  // namespace
