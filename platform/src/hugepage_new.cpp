// The program's allocator, with huge pages behind large blocks where the system offers them:
// an analysis fills hundreds of megabytes of fresh working arrays, and faulting them in 4 KB
// at a time costs more than the work on them. Linked into executables only: a library must
// not replace the allocator of the program that loads it.
#include "platform/memory.h"

#include <cstdlib>
#include <new>

namespace {

// Smaller blocks hold no whole huge page.
constexpr std::size_t adviseFrom = std::size_t(2) << 20;

void* allocate(std::size_t bytes)
{
    if (bytes == 0)
        bytes = 1;
    for (;;) {
        if (void* block = std::malloc(bytes)) {
            if (bytes >= adviseFrom)
                platform::adviseHugePages(block, bytes);
            return block;
        }
        // As the standard allocator does: the handler may free memory, or throw.
        const std::new_handler handler = std::get_new_handler();
        if (!handler)
            throw std::bad_alloc();
        handler();
    }
}

void* allocateOrNull(std::size_t bytes) noexcept
{
    try {
        return allocate(bytes);
    } catch (...) {
        return nullptr;
    }
}

} // namespace

void* operator new(std::size_t bytes) { return allocate(bytes); }
void* operator new[](std::size_t bytes) { return allocate(bytes); }
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept { return allocateOrNull(bytes); }
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept { return allocateOrNull(bytes); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
