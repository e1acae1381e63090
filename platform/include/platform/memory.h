#pragma once
// Large working buffers (tables and arrays of millions of elements), and the first touch of
// fresh memory, which costs the kernel more than the writes that follow it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace platform {

// Throws std::bad_alloc. Release with freeLarge and the same byte count.
void* allocateLarge(std::size_t bytes);
void freeLarge(void* block, std::size_t bytes) noexcept;

// Backs the whole pages inside a block with memory now, as its first write would, without
// changing what it holds: callers split a fresh block among threads so that its page faults
// run side by side instead of on whichever single thread writes it first. Best effort: pages
// it cannot back fault in on first use as usual.
void populatePages(void* block, std::size_t bytes) noexcept;

// Gives the whole pages inside a block that is about to be freed back to the system now, its
// contents lost: threads that split a large block between them share the work of its free.
// Best effort.
void releasePages(void* block, std::size_t bytes) noexcept;

// Sets the heap up for a process that frees arrays of many megabytes all the time: blocks below
// the largest size the C library would map on its own come from the heap, so that an array
// freed is reused by the next of its size without faulting fresh pages in, while free space at
// the heap's top goes back to the system at once instead of sitting resident. Left alone, the
// library raises both bounds as big blocks are freed and keeps up to 64 MB of freed memory per
// arena. Once per process is enough; later calls change nothing.
void tuneHeapForLargeBlocks() noexcept;

// Gives the heap's free pages back to the system, wherever they lie in it: for when a large
// working set has just been freed as a whole. Best effort.
void returnFreeHeap() noexcept;

// Under an address-space limit, lets the C library make no more heap arenas than there are
// processors. It reserves 64 MB of address space for each (on a 64-bit system) and gives
// nearly every thread that allocates one of its own, which a limit cannot hold for a program
// that runs a few threads a processor: their arenas took the room that their stacks and the
// images needed. Without a limit nothing changes. Call once, early, before other threads run.
void boundHeapArenasUnderAddressSpaceLimit() noexcept;

// Bytes the system can give this process now: what it reports available without swapping
// (MemAvailable on Linux), no more than the memory limits of the process's control group and
// the groups above it leave (memory.max less memory.current and less the inactive file cache,
// control groups version 2: a container's limit), and no more than an address-space limit (RLIMIT_AS) leaves above what
// the process already has mapped. The largest value when the system reports none of these.
std::uint64_t availableMemory() noexcept;
// The same while `threads` more threads run beside those running now. Under an address-space
// limit each takes its stack out of what the limit leaves, and a heap arena of its own (64 MB
// on a 64-bit system) while the C library has none left idle and may make more; they use little
// of the memory itself.
std::uint64_t availableMemoryBeside(unsigned threads) noexcept;

// Tests only: the system's reports of its memory (/proc/meminfo and the like) are read under
// this folder instead of the root; null gives the root back.
void setMemoryReportsRootForTests(const char* folder);

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

// An allocator over Base whose containers leave new elements of a trivial type unset: for
// buffers that their users write whole before reading (often on threads, which spreads the
// first touch of fresh pages), where zeroing first would cost as much again.
template <typename T, template <typename> class Base = std::allocator>
struct UnsetAllocator : Base<T> {
    template <typename U>
    struct rebind {
        using other = UnsetAllocator<U, Base>;
    };
    UnsetAllocator() = default;
    template <typename U>
    UnsetAllocator(const UnsetAllocator<U, Base>&) noexcept
    {
    }
    template <typename U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>)
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... A>
    void construct(U* p, A&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<A>(args)...);
    }
};

} // namespace platform
