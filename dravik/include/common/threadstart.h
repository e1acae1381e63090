#pragma once
// Starting a worker thread of the engine.

#include <boost/thread/thread.hpp>

#include <new>
#include <utility>

namespace classification {

// A thread running f. A thread the system cannot start (no room left for its stack, no thread
// to be had) is a lack of memory like an allocation that fails: it throws std::bad_alloc, which
// every operation turns into its out-of-memory result with the session usable, and never
// boost::thread_resource_error, which would pass for a fault of the engine.
template <typename F>
boost::thread startThread(F&& f)
{
    try {
        return boost::thread(std::forward<F>(f));
    } catch (const boost::thread_resource_error&) {
        throw std::bad_alloc();
    }
}

} // namespace classification
