#pragma once
// Worker threads that take numbered jobs from a shared record, and how a stage turns the way
// its workers stopped into its own exception after the join.

#include "common/threadstart.h"
#include "session/progress.h"
#include "platform/clock.h"

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include <atomic>
#include <exception>
#include <functional>
#include <new>
#include <vector>

namespace classification {

// The text of the exception that a stage throws after a worker failed.
extern const char* const kWorkerFailureText;  // "Unhandled exception in worker thread."

// What the workers of one stage share: the next job and whether one of them was cancelled,
// ran out of memory or failed. The job counter is read and written under the mutex; the
// stop flags are set under it and read without it.
class JobRecord {
public:
    // Runs under the mutex for every take that no stop refuses, with the job handed out (-1
    // once none is left), so reports made there reach the client in hand-out order. May throw.
    using TakeHook = std::function<void(int job)>;

    // Only while no worker runs: jobs are handed out as firstJob, firstJob - 1, ..., 0, and
    // every stop flag is cleared.
    void reset(int firstJob, TakeHook onTake = TakeHook());
    // The next job, or -1 when none is left or a worker has stopped.
    int take();
    // Lock-free, for polling between pieces of work.
    bool stopped() const;

    void recordCancel() noexcept;
    void recordOutOfMemory() noexcept;
    void recordFailure() noexcept;

    // Runs body on a worker thread and records how it ended: a cancel, an allocation failure
    // or any other exception. Never throws; body must hold no lock of this record when it
    // throws (all its locks are scoped).
    template <typename Body>
    void guard(Body&& body) noexcept;

    // After every worker has been joined: DvExCancel after a cancel, else std::bad_alloc
    // after an allocation failure, else std::runtime_error(kWorkerFailureText) after any
    // other failure; nothing when all ended normally.
    void rethrow() const;

private:
    void raise(std::atomic<bool>& flag) noexcept;

    boost::mutex m_mutex;
    int m_next = -1;
    TakeHook m_onTake;
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_outOfMemory{false};
    std::atomic<bool> m_failed{false};
};

template <typename Body>
void JobRecord::guard(Body&& body) noexcept
{
    try {
        body();
    } catch (const DvExCancel&) {
        recordCancel();
    } catch (const std::bad_alloc&) {
        recordOutOfMemory();
    } catch (...) {
        recordFailure();
    }
}

// Runs work(job) for every job firstJob..0 on platform::processorCount() threads; each thread
// works on its own copy of `work`. Joins every thread before it returns or throws; a worker's
// exception stops the hand-out and is rethrown through JobRecord::rethrow. onTake as in
// JobRecord::reset.
template <typename Work>
void runJobsOnWorkerThreads(JobRecord& record, int firstJob, const Work& work,
                            JobRecord::TakeHook onTake = JobRecord::TakeHook());

// The same for a record that the caller has reset and already taken job `taken` from (-1 for
// none), so that a failure of that first take's report reached the caller unchanged: the
// first thread starts with that job.
template <typename Work>
void runTakenJobsOnWorkerThreads(JobRecord& record, int taken, const Work& work);

template <typename Work>
void runJobsOnWorkerThreads(JobRecord& record, int firstJob, const Work& work,
                            JobRecord::TakeHook onTake)
{
    record.reset(firstJob, std::move(onTake));
    runTakenJobsOnWorkerThreads(record, -1, work);
}

template <typename Work>
void runTakenJobsOnWorkerThreads(JobRecord& record, int taken, const Work& work)
{
    const unsigned count = platform::processorCount();
    std::vector<boost::thread> threads;
    std::exception_ptr startFailure;
    try {
        threads.reserve(count);
        for (unsigned t = 0; t < count; ++t) {
            const int first = t == 0 ? taken : -1;
            threads.push_back(startThread([&record, first, mine = Work(work)]() mutable {
                record.guard([&] {
                    for (int job = first >= 0 ? first : record.take(); job >= 0; job = record.take())
                        mine(job);
                });
            }));
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
