#include "allocation_failure.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> g_countdown{-1};
std::atomic<bool> g_failed{false};

bool failNow()
{
    if (g_countdown.load(std::memory_order_relaxed) < 0)
        return false;
    if (g_countdown.fetch_sub(1) == 0) {
        g_failed = true;
        return true;
    }
    return false;
}

void* allocate(std::size_t size)
{
    if (failNow())
        throw std::bad_alloc();
    for (;;) {
        if (void* p = std::malloc(size ? size : 1))
            return p;
        const std::new_handler handler = std::get_new_handler();
        if (!handler)
            throw std::bad_alloc();
        handler();
    }
}

} // namespace

namespace testsupport {

void failAllocation(long n)
{
    g_failed = false;
    g_countdown = n;
}

void stopFailingAllocations() { g_countdown = -1; }

bool allocationFailed() { return g_failed; }

} // namespace testsupport

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
