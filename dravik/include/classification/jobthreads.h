#pragma once
// Worker threads that take numbered jobs from a shared record, one thread per processor.

#include "classification/progress.h"
#include "platform/clock.h"

#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include <exception>
#include <vector>

namespace classification {

// What the workers of one stage share: the next job and whether one of them was cancelled or
// failed. Every field is read and written under the mutex.
class JobRecord {
public:
    // Before the workers start: jobs are handed out as firstJob, firstJob - 1, ..., 0.
    void reset(int firstJob);
    // The next job, or -1 when none is left or a worker was cancelled or failed.
    int take();
    void recordCancel();
    void recordFailure();
    // After every worker has been joined: throws DvExCancel after a cancel, else
    // std::runtime_error("Unhandled exception in worker thread.") after a failure.
    void rethrow();

private:
    boost::mutex m_mutex;
    int m_next = -1;
    bool m_cancelled = false;
    bool m_failed = false;
};

// Runs work(job) for every job firstJob..0 on platform::processorCount() threads; each thread
// works on its own copy of `work`. Joins every thread before it returns or throws; a worker's
// DvExCancel or other exception stops the hand-out and is rethrown through JobRecord::rethrow.
template <typename Work>
void runJobsOnWorkerThreads(JobRecord& record, int firstJob, const Work& work);

template <typename Work>
void runJobsOnWorkerThreads(JobRecord& record, int firstJob, const Work& work)
{
    record.reset(firstJob);
    const unsigned count = platform::processorCount();
    std::vector<boost::thread> threads;
    std::exception_ptr startFailure;
    try {
        threads.reserve(count);
        for (unsigned t = 0; t < count; ++t) {
            threads.emplace_back([&record, mine = Work(work)]() mutable {
                try {
                    for (int job = record.take(); job >= 0; job = record.take())
                        mine(job);
                } catch (const DvExCancel&) {
                    record.recordCancel();
                } catch (...) {
                    record.recordFailure();
                }
            });
        }
    } catch (...) {
        // No thread may outlive this call: stop the ones already running, then report why.
        startFailure = std::current_exception();
        record.recordFailure();
    }
    for (boost::thread& t : threads)
        t.join();
    if (startFailure)
        std::rethrow_exception(startFailure);
    record.rethrow();
}

} // namespace classification
