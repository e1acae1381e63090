#pragma once
// The flags that an analysis stage's worker threads raise to stop one another, and how the
// stage turns them into its exception after the join.

#include "classification/progress.h"

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

#include <atomic>
#include <new>

namespace classification {

// Thrown (as a character pointer) after the join when a worker failed.
extern const char* const kWorkerFailureText;  // "Unhandled exception in worker thread."

class WorkerFlags {
public:
    // Only while no worker runs.
    void reset();
    // Lock-free: taking work reads it on every piece.
    bool stopped() const;

    // Runs body on a worker thread and records how it ended: a cancel, an allocation failure
    // or any other exception. Never throws. The flags are set under mutex, which body must not
    // hold when it throws (all locks in the workers are scoped).
    template <typename Body>
    void guard(boost::mutex& mutex, Body&& body) noexcept;

    // After the join: DvExCancel when a worker was cancelled, else std::bad_alloc when one ran
    // out of memory, else kWorkerFailureText; nothing when all ended normally.
    void rethrow() const;

private:
    void raise(boost::mutex& mutex, std::atomic<bool>& flag) noexcept;

    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_outOfMemory{false};
    std::atomic<bool> m_failed{false};
};

template <typename Body>
void WorkerFlags::guard(boost::mutex& mutex, Body&& body) noexcept
{
    try {
        body();
    } catch (const DvExCancel&) {
        raise(mutex, m_cancelled);
    } catch (const std::bad_alloc&) {
        raise(mutex, m_outOfMemory);
    } catch (...) {
        raise(mutex, m_failed);
    }
}

} // namespace classification
