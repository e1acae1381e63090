#include "classification/workers.h"

namespace classification {

const char* const kWorkerFailureText = "Unhandled exception in worker thread.";

void WorkerFlags::reset()
{
    m_cancelled = false;
    m_outOfMemory = false;
    m_failed = false;
}

bool WorkerFlags::stopped() const
{
    return m_cancelled || m_outOfMemory || m_failed;
}

void WorkerFlags::raise(boost::mutex& mutex, std::atomic<bool>& flag) noexcept
{
    try {
        boost::lock_guard<boost::mutex> lock(mutex);
        flag = true;
    } catch (...) {
        // Locking a mutex this thread does not hold fails only when the system is broken;
        // the flag still stops the other workers.
        flag = true;
    }
}

void WorkerFlags::rethrow() const
{
    if (m_cancelled)
        throw DvExCancel();
    if (m_outOfMemory)
        throw std::bad_alloc();
    if (m_failed)
        throw kWorkerFailureText;
}

} // namespace classification
