// Hand-over mappings: handle text both ways, creation limits, and views.
#include "platform/shared_memory.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

using platform::SharedMemoryHandle;

TEST(SharedMemoryHandleText, PrintsSixteenUpperCaseDigits)
{
    EXPECT_EQ(platform::formatHandle(0), "0000000000000000");
    EXPECT_EQ(platform::formatHandle(0x2AF), "00000000000002AF");
    EXPECT_EQ(platform::formatHandle(platform::kNoSharedMemory), "FFFFFFFFFFFFFFFF");
}

TEST(SharedMemoryHandleText, ParsesOnlyWholeHexNumbersThatFitAnInt)
{
    SharedMemoryHandle handle = 77;
    EXPECT_TRUE(platform::parseHandle("00000000000002AF", handle));
    EXPECT_EQ(handle, 0x2AF);
    EXPECT_TRUE(platform::parseHandle("0", handle));
    EXPECT_EQ(handle, 0);
    EXPECT_TRUE(platform::parseHandle("7fffffff", handle));
    EXPECT_EQ(handle, 0x7FFFFFFF);

    handle = 77;
    for (const char* bad : {"", "80000000", "FFFFFFFFFFFFFFFF", "12 ", " 12", "0x12", "-1", "+1", "1G",
                            "00000000000000000000000000000000000000000000080000000"}) {
        EXPECT_FALSE(platform::parseHandle(bad, handle)) << bad;
        EXPECT_EQ(handle, 77) << bad;
    }
    // Leading zeros alone never overflow.
    EXPECT_TRUE(platform::parseHandle("000000000000000000000000000000000000012", handle));
    EXPECT_EQ(handle, 0x12);
}

TEST(SharedMemoryHandleText, RoundTripsEveryDescriptorNumber)
{
    for (SharedMemoryHandle fd : {0, 1, 9, 10, 255, 4096, 0x7FFFFFFF}) {
        SharedMemoryHandle parsed = -5;
        ASSERT_TRUE(platform::parseHandle(platform::formatHandle(fd), parsed));
        EXPECT_EQ(parsed, fd);
    }
}

TEST(SharedMemory, CreatesExactSizeCloseOnExec)
{
    const SharedMemoryHandle handle = platform::createSharedMemory(12288);
    ASSERT_NE(handle, platform::kNoSharedMemory) << std::strerror(errno);
    const int flags = fcntl(int(handle), F_GETFD);
    ASSERT_GE(flags, 0);
    EXPECT_TRUE(flags & FD_CLOEXEC);

    platform::SharedMemoryView view(handle);
    ASSERT_TRUE(view.isMapped());
    EXPECT_EQ(view.size(), 12288u);
    // Fresh memory is zero; writes are seen through a second view of the same handle.
    EXPECT_EQ(view.data()[0], 0);
    EXPECT_EQ(view.data()[12287], 0);
    std::memset(view.data(), 0xA5, view.size());
    view.unmap();
    EXPECT_FALSE(view.isMapped());
    platform::SharedMemoryView again(handle);
    ASSERT_TRUE(again);
    EXPECT_EQ(again.data()[4000], 0xA5);
    EXPECT_EQ(again.data()[12287], 0xA5);
    platform::closeSharedMemory(handle);
}

TEST(SharedMemory, RefusesEmptyAndTooLargeSizes)
{
    for (std::uint64_t bytes : {std::uint64_t(0), platform::kSharedMemoryLimit, platform::kSharedMemoryLimit + 4}) {
        errno = 0;
        EXPECT_EQ(platform::createSharedMemory(bytes), platform::kNoSharedMemory) << bytes;
        EXPECT_EQ(errno, EINVAL) << bytes;
    }
    // Just below the limit is allowed; nothing is touched, so it costs no memory.
    const SharedMemoryHandle largest = platform::createSharedMemory(platform::kSharedMemoryLimit - 1);
    ASSERT_NE(largest, platform::kNoSharedMemory);
    platform::closeSharedMemory(largest);
    platform::closeSharedMemory(platform::kNoSharedMemory); // no-op
}

TEST(SharedMemory, ViewOfAnUnusableHandleIsEmpty)
{
    EXPECT_FALSE(platform::SharedMemoryView(platform::kNoSharedMemory).isMapped());
    EXPECT_FALSE(platform::SharedMemoryView(SharedMemoryHandle(1) << 40).isMapped());

    const SharedMemoryHandle handle = platform::createSharedMemory(64);
    ASSERT_NE(handle, platform::kNoSharedMemory);
    platform::closeSharedMemory(handle);
    errno = 0;
    platform::SharedMemoryView closed(handle);
    EXPECT_FALSE(closed.isMapped());
    EXPECT_EQ(closed.size(), 0u);
    EXPECT_EQ(errno, EBADF);

    // A file of size 0 (here an empty pipe's end has no size either) maps nothing.
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    EXPECT_FALSE(platform::SharedMemoryView(pipeEnds[0]).isMapped());
    close(pipeEnds[0]);
    close(pipeEnds[1]);
}

TEST(SharedMemory, ViewsMoveWithoutDoubleUnmap)
{
    const SharedMemoryHandle handle = platform::createSharedMemory(4096);
    ASSERT_NE(handle, platform::kNoSharedMemory);
    platform::SharedMemoryView first(handle);
    ASSERT_TRUE(first);
    unsigned char* data = first.data();
    platform::SharedMemoryView second(std::move(first));
    EXPECT_FALSE(first.isMapped());
    EXPECT_EQ(second.data(), data);
    platform::SharedMemoryView third;
    third = std::move(second);
    EXPECT_EQ(third.data(), data);
    EXPECT_EQ(third.size(), 4096u);
    third.data()[10] = 3;
    platform::closeSharedMemory(handle);
}

TEST(InheritedHandle, TakesOnlyParsableOpenDescriptors)
{
    const SharedMemoryHandle handle = platform::createSharedMemory(64);
    ASSERT_NE(handle, platform::kNoSharedMemory);
    EXPECT_EQ(platform::inheritedHandle(platform::formatHandle(handle)), handle);

    // Unparsable text, a number that fits no int, and a descriptor that is not open.
    EXPECT_EQ(platform::inheritedHandle(""), platform::kNoSharedMemory);
    EXPECT_EQ(platform::inheritedHandle("not a handle"), platform::kNoSharedMemory);
    EXPECT_EQ(platform::inheritedHandle("FFFFFFFFFFFFFFFF"), platform::kNoSharedMemory);
    const std::string text = platform::formatHandle(handle);
    platform::closeSharedMemory(handle);
    EXPECT_EQ(platform::inheritedHandle(text), platform::kNoSharedMemory);

    // Open, but no mapping's: a pipe, and a file open for reading only.
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    EXPECT_EQ(platform::inheritedHandle(platform::formatHandle(pipeEnds[1])), platform::kNoSharedMemory);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    const int readOnly = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(readOnly, 0);
    EXPECT_EQ(platform::inheritedHandle(platform::formatHandle(readOnly)), platform::kNoSharedMemory);
    close(readOnly);
}

TEST(InheritedHandle, CloseOnExecIsSetAndKept)
{
    // An inherited descriptor arrives without the flag, as a spawned child gets it.
    const SharedMemoryHandle handle = platform::createSharedMemory(64);
    ASSERT_NE(handle, platform::kNoSharedMemory);
    ASSERT_EQ(fcntl(int(handle), F_SETFD, 0), 0);
    EXPECT_TRUE(platform::setCloseOnExec(handle));
    EXPECT_TRUE(fcntl(int(handle), F_GETFD) & FD_CLOEXEC);
    EXPECT_TRUE(platform::setCloseOnExec(handle));
    EXPECT_TRUE(fcntl(int(handle), F_GETFD) & FD_CLOEXEC);
    platform::closeSharedMemory(handle);

    errno = 0;
    EXPECT_FALSE(platform::setCloseOnExec(handle));
    EXPECT_EQ(errno, EBADF);
    EXPECT_FALSE(platform::setCloseOnExec(platform::kNoSharedMemory));
}
