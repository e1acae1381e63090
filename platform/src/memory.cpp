#include "platform/memory.h"

#include <cstdint>
#include <cstdlib>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace platform {

namespace {
// Below this a buffer gains nothing from huge pages.
constexpr std::size_t hugePage = std::size_t(2) << 20;
} // namespace

void* allocateLarge(std::size_t bytes)
{
    if (bytes < hugePage)
        return ::operator new(bytes);
    const std::size_t rounded = (bytes + hugePage - 1) / hugePage * hugePage;
    void* block = std::aligned_alloc(hugePage, rounded);
    if (!block)
        throw std::bad_alloc();
#ifdef __linux__
    // Advice only: without huge pages the buffer works as well, just slower.
    madvise(block, rounded, MADV_HUGEPAGE);
#endif
    return block;
}

void adviseHugePages(void* block, std::size_t bytes) noexcept
{
#ifdef __linux__
    const auto begin = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t first = (begin + hugePage - 1) / hugePage * hugePage;
    const std::uintptr_t last = (begin + bytes) / hugePage * hugePage;
    if (last > first)
        madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)block;
    (void)bytes;
#endif
}

void freeLarge(void* block, std::size_t bytes) noexcept
{
    if (bytes < hugePage)
        ::operator delete(block);
    else
        std::free(block);
}

} // namespace platform
