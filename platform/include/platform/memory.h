#pragma once
// Large working buffers (tables and arrays of millions of elements), and the first touch of
// fresh memory, which costs the kernel more than the writes that follow it.

#include <cstddef>
#include <new>

namespace platform {

// Throws std::bad_alloc. Release with freeLarge and the same byte count.
void* allocateLarge(std::size_t bytes);
void freeLarge(void* block, std::size_t bytes) noexcept;

// Backs the whole pages inside a block with memory now, as its first write would, without
// changing what it holds: callers split a fresh block among threads so that its page faults
// run side by side instead of on whichever single thread writes it first. Best effort: pages
// it cannot back fault in on first use as usual.
void populatePages(void* block, std::size_t bytes) noexcept;

// A standard allocator over allocateLarge, for containers that grow large.
template <typename T>
struct LargeAllocator {
    using value_type = T;

    LargeAllocator() = default;
    template <typename U>
    LargeAllocator(const LargeAllocator<U>&) noexcept {}

    T* allocate(std::size_t n)
    {
        if (n > std::size_t(-1) / sizeof(T))
            throw std::bad_array_new_length();
        return static_cast<T*>(allocateLarge(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept { freeLarge(p, n * sizeof(T)); }

    template <typename U>
    bool operator==(const LargeAllocator<U>&) const noexcept { return true; }
    template <typename U>
    bool operator!=(const LargeAllocator<U>&) const noexcept { return false; }
};

} // namespace platform
