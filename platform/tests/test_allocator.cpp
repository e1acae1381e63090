// The program's allocator: large blocks work like any other, and a failure goes through the
// new-handler the way the standard allocator's does (the engine installs its own handler).
#include "platform/memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#ifdef __linux__
#include <unistd.h>
#endif

namespace {

int g_handlerCalls = 0;

void giveUp()
{
    ++g_handlerCalls;
    throw std::bad_alloc();
}

std::size_t impossible() { return std::numeric_limits<std::size_t>::max() / 2; }

} // namespace

TEST(Allocator, LargeAndSmallBlocksHoldWhatIsWritten)
{
    for (std::size_t bytes : {std::size_t(1), std::size_t(3) << 20, (std::size_t(9) << 20) + 13}) {
        std::unique_ptr<unsigned char[]> block(new unsigned char[bytes]);
        for (std::size_t i = 0; i < bytes; i += 4093)
            block[i] = static_cast<unsigned char>(i * 7);
        for (std::size_t i = 0; i < bytes; i += 4093)
            ASSERT_EQ(block[i], static_cast<unsigned char>(i * 7)) << bytes;
    }
    std::vector<std::uint64_t> grown;
    for (std::uint64_t i = 0; i < (std::uint64_t(1) << 20); ++i)
        grown.push_back(i);
    EXPECT_EQ(grown[12345], 12345u);
}

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

TEST(Allocator, FailuresGoThroughTheNewHandler)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer ends the program on an impossible allocation";
#endif
    EXPECT_EQ(::operator new(impossible(), std::nothrow), nullptr);
    EXPECT_THROW((void)::operator new(impossible()), std::bad_alloc);

    const std::new_handler previous = std::set_new_handler(giveUp);
    g_handlerCalls = 0;
    EXPECT_THROW((void)::operator new[](impossible()), std::bad_alloc);
    EXPECT_EQ(g_handlerCalls, 1);
    EXPECT_EQ(::operator new(impossible(), std::nothrow), nullptr);
    EXPECT_EQ(g_handlerCalls, 2);
    std::set_new_handler(previous);
}

#ifdef __linux__
namespace {
// Resident bytes of the process.
std::size_t residentBytes()
{
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    unsigned long pages = 0, resident = 0;
    if (f) {
        if (std::fscanf(f, "%lu %lu", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return std::size_t(resident) * std::size_t(sysconf(_SC_PAGESIZE));
}
} // namespace

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
