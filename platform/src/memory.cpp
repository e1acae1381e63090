#include "platform/memory.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#ifdef __linux__
#include <malloc.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace platform {

namespace {
// Smaller buffers come from the heap; larger ones are mapped on huge-page boundaries, where a
// system that backs every mapping with huge pages can use them.
constexpr std::size_t hugePage = std::size_t(2) << 20;

std::size_t pageSize()
{
#ifdef __linux__
    static const std::size_t size = [] {
        const long s = sysconf(_SC_PAGESIZE);
        return s > 0 ? std::size_t(s) : std::size_t(4096);
    }();
    return size;
#else
    return 4096;
#endif
}

// Where the system's memory reports are read: empty for the root.
char g_reportsRoot[4096];

// The most heap arenas the C library may make, when this process has bounded them; 0 when not.
std::atomic<unsigned> g_arenaBound{0};

#ifdef __linux__
using ReportPath = char[sizeof g_reportsRoot + 256];

// The report's path under the reports' root; false when it does not fit.
bool reportPath(ReportPath& buffer, const char* path) noexcept
{
    const int length = std::snprintf(buffer, sizeof buffer, "%s%s", g_reportsRoot, path);
    return length > 0 && std::size_t(length) < sizeof buffer;
}

// The number after `name` and `separator` at the start of a line of a report file ("Name:  1234"
// under /proc, "name 1234" in a control group's memory.stat); false without one.
bool namedValue(const char* path, const char* name, char separator, std::uint64_t& value) noexcept
{
    std::FILE* file = std::fopen(path, "r");
    if (!file)
        return false;
    const std::size_t length = std::strlen(name);
    char line[256];
    bool found = false;
    while (!found && std::fgets(line, sizeof line, file)) {
        unsigned long long number = 0;
        if (std::strncmp(line, name, length) == 0 && line[length] == separator
            && std::sscanf(line + length + 1, "%llu", &number) == 1) {
            value = number;
            found = true;
        }
    }
    std::fclose(file);
    return found;
}

// The number of a "Name:   1234" line of a file under /proc; false without one.
bool procValue(const char* path, const char* name, std::uint64_t& value) noexcept
{
    return namedValue(path, name, ':', value);
}

// The value of a "Name:   1234 kB" line of a file under /proc, in bytes; false without one.
bool procBytes(const char* path, const char* name, std::uint64_t& bytes) noexcept
{
    std::uint64_t kibibytes = 0;
    if (!procValue(path, name, kibibytes))
        return false;
    bytes = kibibytes * 1024;
    return true;
}

// The first line of a small file, without its line break; false without one.
bool firstLine(const char* path, char* line, std::size_t size) noexcept
{
    std::FILE* file = std::fopen(path, "r");
    if (!file)
        return false;
    const bool read = std::fgets(line, int(size), file) != nullptr;
    std::fclose(file);
    if (read)
        line[std::strcspn(line, "\n")] = '\0';
    return read;
}

// A number of bytes written alone on the first line of a file, as control groups write them.
bool fileBytes(const char* path, std::uint64_t& bytes) noexcept
{
    char line[64];
    char* end = nullptr;
    if (!firstLine(path, line, sizeof line) || line[0] < '0' || line[0] > '9')
        return false;
    errno = 0;
    const unsigned long long value = std::strtoull(line, &end, 10);
    if (errno != 0 || *end != '\0')
        return false;
    bytes = value;
    return true;
}

// The value of a "name 1234" line of a control group's memory.stat, in bytes; false without one.
bool statBytes(const char* path, const char* name, std::uint64_t& bytes) noexcept
{
    return namedValue(path, name, ' ', bytes);
}

// The least that the process's control group, or any group above it, may still take under
// its memory limit (memory.max less memory.current, version 2 of control groups, the group's
// inactive file cache counted as free, as the system counts it in what it reports available);
// false when none of them has a limit.
bool controlGroupLeft(std::uint64_t& left) noexcept
{
    // "0::/the/group" names the group in the unified hierarchy.
    ReportPath path;
    char group[4096] = {};
    if (!reportPath(path, "/proc/self/cgroup"))
        return false;
    std::FILE* file = std::fopen(path, "r");
    if (!file)
        return false;
    char line[sizeof group + 8];
    bool found = false;
    while (!found && std::fgets(line, sizeof line, file)) {
        if (std::strncmp(line, "0::/", 4) == 0) {
            line[std::strcspn(line, "\n")] = '\0';
            // A name too long to hold whole would name another group.
            const std::size_t length = std::strlen(line + 3);
            if (length >= sizeof group)
                break;
            std::memcpy(group, line + 3, length + 1);
            found = true;
        }
    }
    std::fclose(file);
    if (!found)
        return false;

    bool limited = false;
    for (;;) {
        ReportPath folder;
        char report[sizeof folder + 32];
        std::uint64_t most = 0;
        std::uint64_t used = 0;
        if (std::snprintf(folder, sizeof folder, "%s/sys/fs/cgroup%s", g_reportsRoot,
                          std::strcmp(group, "/") == 0 ? "" : group) >= int(sizeof folder))
            return limited;
        // "max" is no limit; the root group has no limit files at all.
        std::snprintf(report, sizeof report, "%s/memory.max", folder);
        if (fileBytes(report, most)) {
            std::snprintf(report, sizeof report, "%s/memory.current", folder);
            if (!fileBytes(report, used))
                used = 0;
            // The system takes cached file pages back before it refuses the group memory.
            std::uint64_t cache = 0;
            std::snprintf(report, sizeof report, "%s/memory.stat", folder);
            if (statBytes(report, "inactive_file", cache))
                used = used > cache ? used - cache : 0;
            const std::uint64_t groupLeft = most > used ? most - used : 0;
            if (!limited || groupLeft < left)
                left = groupLeft;
            limited = true;
        }
        char* slash = std::strrchr(group, '/');
        if (!slash || std::strcmp(group, "/") == 0)
            return limited;
        // The group above: "/app" for "/app/run", "/" for "/app".
        slash[slash == group ? 1 : 0] = '\0';
    }
}
#endif
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
    // No huge-page advice: where the system backs only advised mappings with huge pages, it
    // may stall the first touch compacting memory for them, and under a hypervisor that has
    // taken back the free huge pages, each one faults in slower than its 512 small pages.
    return reinterpret_cast<void*>(aligned);
#else
    void* block = std::aligned_alloc(hugePage, rounded);
    if (!block)
        throw std::bad_alloc();
    return block;
#endif
}

void populatePages(void* block, std::size_t bytes) noexcept
{
    const std::size_t page = pageSize();
    const auto begin = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t first = (begin + page - 1) / page * page;
    const std::uintptr_t end = (begin + bytes) / page * page;
    if (end <= first)
        return;
#ifdef __linux__
    // One call for the whole range, without a fault per page. A failure other than an older
    // kernel's refusal (no memory, a hole in the range) is left to the first use.
    if (madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE) == 0 || errno != EINVAL)
        return;
#endif
    // Older kernels: a write that leaves the byte as it is.
    for (std::uintptr_t p = first; p < end; p += page)
        __atomic_fetch_or(reinterpret_cast<unsigned char*>(p), static_cast<unsigned char>(0), __ATOMIC_RELAXED);
}

void releasePages(void* block, std::size_t bytes) noexcept
{
#ifdef __linux__
    const std::size_t page = pageSize();
    const auto begin = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t first = (begin + page - 1) / page * page;
    const std::uintptr_t end = (begin + bytes) / page * page;
    if (end > first)
        madvise(reinterpret_cast<void*>(first), end - first, MADV_DONTNEED);
#else
    (void)block;
    (void)bytes;
#endif
}

void tuneHeapForLargeBlocks() noexcept
{
#if defined(__GLIBC__)
    static const bool tuned = [] {
        // The C library's own ceiling for the mapping bound, so the heap serves what it would
        // serve anyway once warmed up; setting either bound stops the library moving both.
        mallopt(M_MMAP_THRESHOLD, 32 << 20);
        mallopt(M_TRIM_THRESHOLD, 4 << 20);
        return true;
    }();
    (void)tuned;
#endif
}

void returnFreeHeap() noexcept
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

void boundHeapArenasUnderAddressSpaceLimit() noexcept
{
#if defined(__GLIBC__)
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return;
    const long processors = sysconf(_SC_NPROCESSORS_ONLN);
    const unsigned bound = unsigned(processors > 0 ? processors : 1);
    if (mallopt(M_ARENA_MAX, int(bound)) == 1)
        g_arenaBound = bound;
#endif
}

namespace {

#ifdef __linux__
// Address space a thread takes for its stack, with the guard page below it.
std::uint64_t threadStackSpace() noexcept
{
    std::uint64_t bytes = std::uint64_t(8) << 20;
    pthread_attr_t attributes;
    if (pthread_getattr_default_np(&attributes) == 0) {
        std::size_t stack = 0;
        std::size_t guard = 0;
        if (pthread_attr_getstacksize(&attributes, &stack) == 0 && stack > 0)
            bytes = stack;
        if (pthread_attr_getguardsize(&attributes, &guard) == 0)
            bytes += guard;
        pthread_attr_destroy(&attributes);
    }
    return bytes;
}

// Address space `threads` more threads take beside the running ones: each its stack, and each
// that finds no heap arena left idle by threads that have ended a new arena, which the C
// library reserves whole on a thread's first allocation (64 MB on a 64-bit system), as long
// as it may make more.
std::uint64_t threadsSpace(unsigned threads) noexcept
{
    std::uint64_t bytes = std::uint64_t(threads) * threadStackSpace();
#if defined(__GLIBC__)
    const std::uint64_t arenaSpace = std::uint64_t(2) * 4 * 1024 * 1024 * sizeof(long);
    std::uint64_t arenas = 0;
    char* report = nullptr;
    std::size_t size = 0;
    if (std::FILE* stream = open_memstream(&report, &size)) {
        const bool written = malloc_info(0, stream) == 0;
        std::fclose(stream);
        for (const char* heap = written ? report : nullptr; heap && (heap = std::strstr(heap, "<heap nr=")); ++heap)
            ++arenas;
        std::free(report);
    }
    // A running thread holds the arena it has; the main thread holds the first.
    std::uint64_t running = 1;
    procValue("/proc/self/status", "Threads", running);
    const std::uint64_t idle = arenas > running ? arenas - running : 0;
    // The library's own bound is eight arenas a processor on a 64-bit system, two on others.
    const long processors = sysconf(_SC_NPROCESSORS_ONLN);
    const unsigned bound = g_arenaBound.load();
    const std::uint64_t most =
        bound > 0 ? bound : std::uint64_t(processors > 0 ? processors : 1) * (sizeof(long) > 4 ? 8 : 2);
    std::uint64_t fresh = threads > idle ? threads - idle : 0;
    fresh = std::min(fresh, most > arenas ? most - arenas : 0);
    bytes += fresh * arenaSpace;
#endif
    return bytes;
}
#endif

// What availableMemory says once `threads` more threads run (none: as the process is now).
std::uint64_t availableLeaving(unsigned threads) noexcept
{
    std::uint64_t available = std::numeric_limits<std::uint64_t>::max();
#ifdef __linux__
    ReportPath path;
    std::uint64_t reported = 0;
    if (reportPath(path, "/proc/meminfo") && procBytes(path, "MemAvailable", reported))
        available = reported;
    // A container's limit is not in the system's figure.
    std::uint64_t groupLeft = 0;
    if (controlGroupLeft(groupLeft) && groupLeft < available)
        available = groupLeft;
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        std::uint64_t mapped = 0;
        procBytes("/proc/self/status", "VmSize", mapped);
        if (threads > 0)
            mapped += threadsSpace(threads);
        const std::uint64_t left = limit.rlim_cur > mapped ? limit.rlim_cur - mapped : 0;
        if (left < available)
            available = left;
    }
#else
    (void)threads;
#endif
    return available;
}

} // namespace

std::uint64_t availableMemory() noexcept
{
    return availableLeaving(0);
}

std::uint64_t availableMemoryBeside(unsigned threads) noexcept
{
    return availableLeaving(threads);
}

void setMemoryReportsRootForTests(const char* folder)
{
    const std::size_t length = folder ? std::strlen(folder) : 0;
    if (length >= sizeof g_reportsRoot)
        return;
    std::memcpy(g_reportsRoot, folder ? folder : "", length + 1);
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
