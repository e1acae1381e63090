#include "classification/jobthreads.h"

#include <stdexcept>

namespace classification {

void JobRecord::reset(int firstJob)
{
    boost::lock_guard<boost::mutex> lock(m_mutex);
    m_next = firstJob;
    m_cancelled = false;
    m_failed = false;
}

int JobRecord::take()
{
    boost::lock_guard<boost::mutex> lock(m_mutex);
    if (m_cancelled || m_failed || m_next < 0)
        return -1;
    return m_next--;
}

void JobRecord::recordCancel()
{
    boost::lock_guard<boost::mutex> lock(m_mutex);
    m_cancelled = true;
}

void JobRecord::recordFailure()
{
    boost::lock_guard<boost::mutex> lock(m_mutex);
    m_failed = true;
}

void JobRecord::rethrow()
{
    bool cancelled, failed;
    {
        boost::lock_guard<boost::mutex> lock(m_mutex);
        cancelled = m_cancelled;
        failed = m_failed;
    }
    if (cancelled)
        throw DvExCancel();
    if (failed)
        throw std::runtime_error("Unhandled exception in worker thread.");
}

} // namespace classification
