#include "common/jobthreads.h"
#include "platform/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

using classification::JobRecord;
using classification::runJobsOnWorkerThreads;

namespace {

class JobThreads : public ::testing::Test {
protected:
    void TearDown() override { platform::setProcessorCountOverride(0); }
    JobRecord record;
};

// Records which jobs ran, in order, from any thread.
struct Log {
    std::mutex mutex;
    std::vector<int> jobs;
    void add(int job)
    {
        std::lock_guard<std::mutex> lock(mutex);
        jobs.push_back(job);
    }
};

} // namespace

TEST_F(JobThreads, OneThreadTakesTheJobsFromTheTopDown)
{
    platform::setProcessorCountOverride(1);
    Log log;
    runJobsOnWorkerThreads(record, 6, [&log](int job) { log.add(job); });
    EXPECT_EQ(log.jobs, (std::vector<int>{6, 5, 4, 3, 2, 1, 0}));
    EXPECT_EQ(record.take(), -1) << "every later request gets no job";
}

TEST_F(JobThreads, MoreThreadsThanJobsRunEachJobOnce)
{
    platform::setProcessorCountOverride(12);
    Log log;
    runJobsOnWorkerThreads(record, 6, [&log](int job) { log.add(job); });
    std::sort(log.jobs.begin(), log.jobs.end());
    EXPECT_EQ(log.jobs, (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
}

TEST_F(JobThreads, AFailureSurfacesAfterEveryThreadHasFinished)
{
    platform::setProcessorCountOverride(8);
    std::atomic<bool> slowJobDone{false};
    auto work = [&](int job) {
        if (job == 6) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            slowJobDone = true;
        } else if (job == 5) {
            throw std::logic_error("broken level");
        }
    };
    try {
        runJobsOnWorkerThreads(record, 6, work);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Unhandled exception in worker thread.");
    }
    EXPECT_TRUE(slowJobDone) << "thrown before the slow worker was joined";
}

TEST_F(JobThreads, AFailureStopsTheHandOutAndACancelWinsOverIt)
{
    platform::setProcessorCountOverride(1);
    Log log;
    EXPECT_THROW(runJobsOnWorkerThreads(record, 6,
                                        [&log](int job) {
                                            log.add(job);
                                            if (job == 4)
                                                throw 42;
                                        }),
                 std::runtime_error);
    EXPECT_EQ(log.jobs, (std::vector<int>{6, 5, 4}));

    platform::setProcessorCountOverride(2);
    std::atomic<int> arrived{0};
    auto work = [&](int job) {
        // Both threads hold a job before either throws, so both flags get set.
        ++arrived;
        while (arrived < 2)
            std::this_thread::yield();
        if (job == 6)
            throw DvExCancel();
        throw std::bad_alloc();
    };
    EXPECT_THROW(runJobsOnWorkerThreads(record, 6, work), DvExCancel);
}

TEST_F(JobThreads, AnAllocationFailureSurfacesAsOutOfMemoryOverAFailure)
{
    platform::setProcessorCountOverride(2);
    std::atomic<int> arrived{0};
    auto work = [&](int job) {
        ++arrived;
        while (arrived < 2)
            std::this_thread::yield();
        if (job == 6)
            throw std::bad_alloc();
        throw std::logic_error("broken");
    };
    EXPECT_THROW(runJobsOnWorkerThreads(record, 6, work), std::bad_alloc);

    // The flags of one run do not reach the next.
    Log log;
    runJobsOnWorkerThreads(record, 1, [&log](int job) { log.add(job); });
    EXPECT_EQ(log.jobs.size(), 2u);
}

TEST_F(JobThreads, TheTakeHookSeesEveryJobInHandOutOrderAndMayCancel)
{
    platform::setProcessorCountOverride(8);
    std::vector<int> taken;  // written only under the record's mutex
    runJobsOnWorkerThreads(record, 20, [](int) {}, [&taken](int job) { taken.push_back(job); });
    ASSERT_GE(taken.size(), 21u);
    for (int k = 0; k <= 20; ++k)
        EXPECT_EQ(taken[std::size_t(k)], 20 - k);
    for (std::size_t k = 21; k < taken.size(); ++k)
        EXPECT_EQ(taken[k], -1) << "an exhausted record hands out -1 to every asker";

    Log log;
    EXPECT_THROW(runJobsOnWorkerThreads(record, 20, [&log](int job) { log.add(job); },
                                        [](int job) {
                                            if (job == 15)
                                                throw DvExCancel();
                                        }),
                 DvExCancel);
    for (int job : log.jobs)
        EXPECT_GT(job, 15) << "the job whose hand-out was cancelled never ran";
}
