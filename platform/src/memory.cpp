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
#ifdef __linux__
    // Mapped on its own, so that freeing it gives the memory back at once: from the heap,
    // blocks freed on many threads stay with their threads' arenas, and every analysis
    // would leave the process larger. Mapped with room to start on a huge-page boundary.
    if (rounded + hugePage < rounded)
        throw std::bad_alloc();
    void* mapped = mmap(nullptr, rounded + hugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        throw std::bad_alloc();
    const auto begin = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (begin + hugePage - 1) / hugePage * hugePage;
    if (aligned > begin)
        munmap(mapped, aligned - begin);
    if (aligned + rounded < begin + rounded + hugePage)
        munmap(reinterpret_cast<void*>(aligned + rounded), begin + hugePage - aligned);
    void* block = reinterpret_cast<void*>(aligned);
    // Advice only: without huge pages the buffer works as well, just slower.
    madvise(block, rounded, MADV_HUGEPAGE);
    return block;
#else
    void* block = std::aligned_alloc(hugePage, rounded);
    if (!block)
        throw std::bad_alloc();
    return block;
#endif
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
    if (bytes < hugePage) {
        ::operator delete(block);
        return;
    }
#ifdef __linux__
    munmap(block, (bytes + hugePage - 1) / hugePage * hugePage);
#else
    std::free(block);
#endif
}

} // namespace platform
