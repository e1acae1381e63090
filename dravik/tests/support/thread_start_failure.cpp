#include "thread_start_failure.h"

#include <atomic>
#include <cerrno>

#include <dlfcn.h>
#include <pthread.h>

namespace {

std::atomic<long> g_countdown{-1};
std::atomic<bool> g_failed{false};

bool failNow()
{
    if (g_countdown.load() < 0)
        return false;
    if (g_countdown.fetch_sub(1) == 0) {
        g_failed = true;
        return true;
    }
    return false;
}

using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

} // namespace

namespace testsupport {

void failThreadStart(long n)
{
    g_failed = false;
    g_countdown = n;
}

void stopFailingThreadStarts() { g_countdown = -1; }

bool threadStartFailed() { return g_failed; }

} // namespace testsupport

// Found before the C library's by every caller (Boost.Thread, the C++ library); the next
// definition is the system's, or a sanitizer's in front of it.
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
                              void* argument)
{
    static const Create next = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    if (failNow() || !next)
        return EAGAIN;
    return next(thread, attributes, start, argument);
}
