// Large working buffers: their own mappings, given back when freed, and pages populated ahead
// of their first write.
#include "platform/memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#ifdef __linux__
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

TEST(Allocator, PopulatingPagesKeepsWhatTheyHold)
{
    // Written before and after populating, in a block that starts and ends inside pages.
    const std::size_t bytes = (std::size_t(3) << 20) + 4099;
    std::unique_ptr<unsigned char[]> block(new unsigned char[bytes + 1]);
    unsigned char* start = block.get() + 1;
    for (std::size_t i = 0; i < bytes; i += 1021)
        start[i] = static_cast<unsigned char>(i * 13 + 1);
    platform::populatePages(start, bytes);
    for (std::size_t i = 0; i < bytes; i += 1021)
        ASSERT_EQ(start[i], static_cast<unsigned char>(i * 13 + 1)) << i;
    // A block that holds no whole page is left alone.
    char small[64] = {5};
    platform::populatePages(small + 1, sizeof small - 1);
    EXPECT_EQ(small[0], 5);
}

TEST(Allocator, ReleasingPagesLeavesTheBytesAroundThemAlone)
{
    // Only whole pages inside the block go: the partial pages at its ends are shared with
    // whatever lies beside it.
    const std::size_t bytes = std::size_t(1) << 20;
    std::vector<unsigned char> memory(bytes + 2, 7);
    unsigned char* start = memory.data() + 1;
    platform::releasePages(start + 100, bytes - 200);
    EXPECT_EQ(start[99], 7);
    EXPECT_EQ(start[bytes - 100], 7);
    EXPECT_EQ(memory.front(), 7);
    EXPECT_EQ(memory.back(), 7);
    // What was released can be written again.
    std::fill(start, start + bytes, static_cast<unsigned char>(3));
    EXPECT_EQ(start[bytes / 2], 3);
    char small[64] = {5};
    platform::releasePages(small + 1, sizeof small - 1);
    EXPECT_EQ(small[0], 5);
}

#ifdef __linux__
namespace {
// Resident bytes of the process, and all it has mapped.
std::size_t residentBytes(bool mapped = false)
{
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    unsigned long pages = 0, resident = 0;
    if (f) {
        if (std::fscanf(f, "%lu %lu", &pages, &resident) != 2)
            pages = resident = 0;
        std::fclose(f);
    }
    return std::size_t(mapped ? pages : resident) * std::size_t(sysconf(_SC_PAGESIZE));
}
} // namespace

// Under an address-space limit what the system reports free does not count: only the part of
// the limit the process has not mapped yet can still be had (a sanitizer's reserved shadow
// included, which is why the limit is set above what is mapped).
TEST(Allocator, AvailableMemoryIsWhatAnAddressSpaceLimitLeaves)
{
    const std::uint64_t margin = std::uint64_t(256) << 20;
    EXPECT_GT(platform::availableMemory(), 0u);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &old), 0);
    rlimit lowered = old;
    lowered.rlim_cur = residentBytes(true) + margin;
    if (old.rlim_cur != RLIM_INFINITY && old.rlim_cur < lowered.rlim_cur)
        GTEST_SKIP() << "the address space is limited below the test's limit already";
    ASSERT_EQ(setrlimit(RLIMIT_AS, &lowered), 0);
    const std::uint64_t available = platform::availableMemory();
    setrlimit(RLIMIT_AS, &old);
    EXPECT_LE(available, margin);
    EXPECT_GT(available, margin / 2);
}

// Under an address-space limit the threads an operation starts take their stacks, and the heap
// arenas they make, out of it: what is left beside them, weighed before they start, is no more
// than what is left while they run.
TEST(Allocator, AvailableMemoryBesideThreadsLeavesRoomForTheirStacksAndArenas)
{
    const unsigned count = 4;
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &old), 0);
    rlimit lowered = old;
    lowered.rlim_cur = residentBytes(true) + (std::uint64_t(2) << 30);
    if (old.rlim_cur != RLIM_INFINITY && old.rlim_cur < lowered.rlim_cur)
        GTEST_SKIP() << "the address space is limited below the test's limit already";
    ASSERT_EQ(setrlimit(RLIMIT_AS, &lowered), 0);
    const std::uint64_t alone = platform::availableMemory();
    const std::uint64_t beside = platform::availableMemoryBeside(count);

    std::mutex mutex;
    std::condition_variable changed;
    unsigned allocated = 0;
    bool release = false;
    std::vector<void*> blocks(count, nullptr);
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < count; ++t)
        threads.emplace_back([&, t] {
            // A thread's first allocation gives it a heap arena of its own.
            blocks[t] = std::malloc(100);
            std::unique_lock<std::mutex> lock(mutex);
            ++allocated;
            changed.notify_all();
            changed.wait(lock, [&] { return release; });
        });
    std::uint64_t whileRunning = 0;
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return allocated == count; });
        whileRunning = platform::availableMemory();
        release = true;
        changed.notify_all();
    }
    for (std::thread& t : threads)
        t.join();
    for (void* block : blocks)
        std::free(block);
    setrlimit(RLIMIT_AS, &old);
    EXPECT_LT(beside, alone);
    EXPECT_LE(beside, whileRunning);
}

#if defined(__GLIBC__)
// The heap arenas the C library has made, as it reports them.
unsigned heapArenas()
{
    char* report = nullptr;
    std::size_t size = 0;
    std::FILE* stream = open_memstream(&report, &size);
    if (!stream)
        return 0;
    malloc_info(0, stream);
    std::fclose(stream);
    unsigned arenas = 0;
    for (const char* heap = report; (heap = std::strstr(heap, "<heap nr=")); ++heap)
        ++arenas;
    std::free(report);
    return arenas;
}

// Under an address-space limit the threads of a program that runs a few a processor share at
// most an arena a processor, instead of reserving 64 MB of the limit each.
TEST(Allocator, UnderAnAddressSpaceLimitThreadsShareAtMostAnArenaAProcessor)
{
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &old), 0);
    rlimit lowered = old;
    lowered.rlim_cur = residentBytes(true) + (std::uint64_t(8) << 30);
    if (old.rlim_cur != RLIM_INFINITY && old.rlim_cur < lowered.rlim_cur)
        GTEST_SKIP() << "the address space is limited below the test's limit already";
    ASSERT_EQ(setrlimit(RLIMIT_AS, &lowered), 0);
    platform::boundHeapArenasUnderAddressSpaceLimit();
    const unsigned processors = unsigned(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));

    const unsigned count = 3 * processors;
    std::mutex mutex;
    std::condition_variable changed;
    unsigned allocated = 0;
    std::vector<void*> blocks(count, nullptr);
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < count; ++t)
        threads.emplace_back([&, t] {
            blocks[t] = std::malloc(100);
            std::unique_lock<std::mutex> lock(mutex);
            ++allocated;
            changed.notify_all();
            changed.wait(lock, [&] { return allocated == count; });
        });
    for (std::thread& t : threads)
        t.join();
    for (void* block : blocks)
        std::free(block);
    setrlimit(RLIMIT_AS, &old);
    EXPECT_LE(heapArenas(), processors);
}
#endif

// The system's reports of its memory, as files under a folder of their own.
class MemoryReports : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kplatform-memory-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_root = pattern;
        rlimit limit{};
        m_addressSpaceLimited = getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY;
        write("/proc/meminfo", "MemTotal:       16000000 kB\nMemFree:         1000000 kB\n"
                               "MemAvailable:    8000000 kB\n");
        platform::setMemoryReportsRootForTests(m_root.c_str());
    }
    void TearDown() override
    {
        platform::setMemoryReportsRootForTests(nullptr);
        ASSERT_EQ(std::system(("rm -rf '" + m_root + "'").c_str()), 0);
    }

    // Writes the file at the path under the folder, making the folders on the way.
    void write(const std::string& path, const std::string& text)
    {
        for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
            mkdir((m_root + path.substr(0, slash)).c_str(), 0700);
        std::ofstream(m_root + path) << text;
    }

    std::string m_root;
    bool m_addressSpaceLimited = false;
};

// In a container the memory the system reports available may be far more than the control
// group it runs in may still take: the least that its group, or a group above it, leaves under
// its limit counts.
TEST_F(MemoryReports, AvailableMemoryIsNoMoreThanTheControlGroupsLeave)
{
    if (m_addressSpaceLimited)
        GTEST_SKIP() << "the address space is limited: that limit would count too";
    const std::uint64_t reported = std::uint64_t(8000000) * 1024;
    write("/proc/self/cgroup", "0::/app/run\n");
    write("/sys/fs/cgroup/memory.max", "max\n");
    write("/sys/fs/cgroup/memory.current", "5000000000\n");
    write("/sys/fs/cgroup/app/memory.max", "3000000000\n");
    write("/sys/fs/cgroup/app/memory.current", "1000000000\n");
    write("/sys/fs/cgroup/app/run/memory.max", "max\n");
    write("/sys/fs/cgroup/app/run/memory.current", "900000000\n");
    EXPECT_EQ(platform::availableMemory(), 2000000000u);

    // The process's own group, nearer its limit than the one above.
    write("/sys/fs/cgroup/app/run/memory.max", "1500000000\n");
    EXPECT_EQ(platform::availableMemory(), 600000000u);

    // Cached file pages the system would take back are free to the group.
    write("/sys/fs/cgroup/app/run/memory.stat", "anon 700000000\nfile 200000000\nactive_file 100000000\n"
                                                "inactive_file 100000000\n");
    EXPECT_EQ(platform::availableMemory(), 700000000u);

    // A group at or over its limit leaves nothing.
    write("/sys/fs/cgroup/app/run/memory.current", "1700000000\n");
    EXPECT_EQ(platform::availableMemory(), 0u);

    // Groups without limits, or with more left than the system has: the system's figure.
    write("/sys/fs/cgroup/app/memory.max", "max\n");
    write("/sys/fs/cgroup/app/run/memory.max", "900000000000\n");
    EXPECT_EQ(platform::availableMemory(), reported);

    // Only the first version of control groups: nothing to read.
    write("/proc/self/cgroup", "4:memory:/app/run\n1:cpu:/\n");
    write("/sys/fs/cgroup/app/run/memory.max", "1500000000\n");
    EXPECT_EQ(platform::availableMemory(), reported);
}

TEST(Allocator, LargeWorkingBuffersStartOnAHugePageAndGiveTheirMemoryBack)
{
    // Twice: the heap keeps a block of this size once it has seen one freed.
    const std::size_t bytes = std::size_t(12) << 20;
    for (int round = 0; round < 2; ++round) {
        const std::size_t before = residentBytes();
        void* block = platform::allocateLarge(bytes);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % (std::size_t(2) << 20), 0u);
        std::memset(block, 1, bytes);
        EXPECT_GE(residentBytes(), before + bytes / 2);
        platform::freeLarge(block, bytes);
        EXPECT_LT(residentBytes(), before + bytes / 2) << "round " << round;
    }
}

TEST(Allocator, PopulatedPagesAreResidentBeforeTheirFirstWrite)
{
    const std::size_t bytes = std::size_t(12) << 20;
    const std::size_t before = residentBytes();
    void* block = platform::allocateLarge(bytes);
    EXPECT_LT(residentBytes(), before + bytes / 2);
    platform::populatePages(block, bytes);
    EXPECT_GE(residentBytes(), before + bytes / 2);
    EXPECT_EQ(static_cast<unsigned char*>(block)[bytes - 1], 0u);
    platform::freeLarge(block, bytes);
}
#endif
