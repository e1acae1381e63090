#include "common/jobthreads.h"

#include <stdexcept>

namespace classification {

const char* const kWorkerFailureText = "Unhandled exception in worker thread.";

void JobRecord::reset(int firstJob, TakeHook onTake)
{
    boost::lock_guard<boost::mutex> lock(m_mutex);
    m_next = firstJob;
    m_onTake = std::move(onTake);
    m_cancelled = false;
    m_outOfMemory = false;
    m_failed = false;
}

int JobRecord::take()
{
    boost::lock_guard<boost::mutex> lock(m_mutex);
    if (stopped())
        return -1;
    const int job = m_next;
    if (m_next >= 0)
        --m_next;
    if (m_onTake) {
        // Stop the hand-out before the lock is released, so no later job starts after a
        // hook that threw; the thread that called take records the same flag again.
        try {
            m_onTake(job);
        } catch (const DvExCancel&) {
            m_cancelled = true;
            throw;
        } catch (const std::bad_alloc&) {
            m_outOfMemory = true;
            throw;
        } catch (...) {
            m_failed = true;
            throw;
        }
    }
    return job;
}

bool JobRecord::stopped() const
{
    return m_cancelled || m_outOfMemory || m_failed;
}

void JobRecord::raise(std::atomic<bool>& flag) noexcept
{
    try {
        boost::lock_guard<boost::mutex> lock(m_mutex);
        flag = true;
    } catch (...) {
        // Locking fails only when the system is broken; the flag still stops the others.
        flag = true;
    }
}

void JobRecord::recordCancel() noexcept
{
    raise(m_cancelled);
}

void JobRecord::recordOutOfMemory() noexcept
{
    raise(m_outOfMemory);
}

void JobRecord::recordFailure() noexcept
{
    raise(m_failed);
}

void JobRecord::rethrow() const
{
    if (m_cancelled)
        throw DvExCancel();
    if (m_outOfMemory)
        throw std::bad_alloc();
    if (m_failed)
        throw std::runtime_error(kWorkerFailureText);
}

} // namespace classification
