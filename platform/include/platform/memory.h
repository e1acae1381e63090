#pragma once
// Large working buffers (tables and arrays of millions of elements). Where the system offers
// huge pages they back these buffers: first touch and random access then cost far less.

#include <cstddef>
#include <new>

namespace platform {

// Throws std::bad_alloc. Release with freeLarge and the same byte count.
void* allocateLarge(std::size_t bytes);
void freeLarge(void* block, std::size_t bytes) noexcept;

// Asks for huge pages behind an allocation made elsewhere (a large array), before its first
// touch: the whole 2 MB pages inside it fault in at once instead of 512 small ones each.
// Advice only; small blocks are left alone.
void adviseHugePages(void* block, std::size_t bytes) noexcept;

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
