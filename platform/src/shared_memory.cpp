#include "platform/shared_memory.h"

#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <utility>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

std::string formatHandle(SharedMemoryHandle handle)
{
    char text[32];
    std::snprintf(text, sizeof text, "%016" PRIXPTR, static_cast<std::uintptr_t>(handle));
    return text;
}

bool parseHandle(const std::string& text, SharedMemoryHandle& handle)
{
    if (text.empty())
        return false;
    long long value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            return false;
        value = value * 16 + digit;
        // Checked per digit, so that leading zeros are fine and nothing overflows.
        if (value > INT_MAX)
            return false;
    }
    handle = static_cast<SharedMemoryHandle>(value);
    return true;
}

SharedMemoryHandle createSharedMemory(std::uint64_t bytes)
{
    if (bytes == 0 || bytes >= kSharedMemoryLimit) {
        errno = EINVAL;
        return kNoSharedMemory;
    }
    const int fd = memfd_create("kestrine-handover", MFD_CLOEXEC);
    if (fd < 0)
        return kNoSharedMemory;
    int result;
    do
        result = ftruncate(fd, static_cast<off_t>(bytes));
    while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return kNoSharedMemory;
    }
    return fd;
}

void closeSharedMemory(SharedMemoryHandle handle) noexcept
{
    if (handle != kNoSharedMemory)
        close(static_cast<int>(handle));
}

SharedMemoryView::SharedMemoryView(SharedMemoryHandle handle)
{
    if (handle < 0 || handle > INT_MAX) {
        errno = EBADF;
        return;
    }
    struct stat info;
    if (fstat(static_cast<int>(handle), &info) != 0)
        return;
    if (info.st_size <= 0) {
        errno = EINVAL;
        return;
    }
    if (static_cast<std::uint64_t>(info.st_size) > SIZE_MAX) {
        errno = EFBIG;
        return;
    }
    const std::size_t size = static_cast<std::size_t>(info.st_size);
    void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, static_cast<int>(handle), 0);
    if (data == MAP_FAILED)
        return;
    m_data = static_cast<unsigned char*>(data);
    m_size = size;
}

SharedMemoryView::~SharedMemoryView()
{
    unmap();
}

SharedMemoryView::SharedMemoryView(SharedMemoryView&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr))
    , m_size(std::exchange(other.m_size, 0))
{
}

SharedMemoryView& SharedMemoryView::operator=(SharedMemoryView&& other) noexcept
{
    if (this != &other) {
        unmap();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

void SharedMemoryView::unmap() noexcept
{
    if (m_data) {
        munmap(m_data, m_size);
        m_data = nullptr;
        m_size = 0;
    }
}

SharedMemoryHandle inheritedHandle(const std::string& text)
{
    SharedMemoryHandle handle = kNoSharedMemory;
    if (!parseHandle(text, handle))
        return kNoSharedMemory;
    const int fd = static_cast<int>(handle);
    if (fcntl(fd, F_GETFD) < 0)
        return kNoSharedMemory;
    const int status = fcntl(fd, F_GETFL);
    struct stat info;
    if (status < 0 || (status & O_ACCMODE) != O_RDWR || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return kNoSharedMemory;
    return handle;
}

bool setCloseOnExec(SharedMemoryHandle handle) noexcept
{
    if (handle < 0 || handle > INT_MAX) {
        errno = EBADF;
        return false;
    }
    const int fd = static_cast<int>(handle);
    const int flags = fcntl(fd, F_GETFD);
    if (flags < 0)
        return false;
    return (flags & FD_CLOEXEC) || fcntl(fd, F_SETFD, flags | FD_CLOEXEC) == 0;
}

} // namespace platform
