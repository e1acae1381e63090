// The program's allocator, linked into executables only (a library must not replace the
// allocator of the program that loads it). Large blocks no longer ask for huge pages: asking
// made their first touch stall in the kernel's compaction, or fault in slower than small pages
// where a hypervisor had taken the free huge pages back (see platform/src/memory.cpp). What is
// left is the standard behaviour, kept in one place for every program.
#include <cstdlib>
#include <new>

namespace {

void* allocate(std::size_t bytes)
{
    if (bytes == 0)
        bytes = 1;
    for (;;) {
        if (void* block = std::malloc(bytes))
            return block;
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
