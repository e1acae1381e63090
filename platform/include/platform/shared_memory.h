#pragma once
// Anonymous shared memory handed from one process to another by descriptor number. A handle
// is the descriptor in an intptr_t; the child of a hand-over finds it at the same number.

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

using SharedMemoryHandle = std::intptr_t;

// "No handle". Descriptor 0 is a valid handle.
constexpr SharedMemoryHandle kNoSharedMemory = -1;

// Largest mapping a hand-over may create: sizes must stay below 2^32 bytes.
constexpr std::uint64_t kSharedMemoryLimit = std::uint64_t(1) << 32;

// 16 upper-case hexadecimal digits with leading zeros, no prefix.
std::string formatHandle(SharedMemoryHandle handle);

// Hexadecimal digits only (either case), the whole text consumed, the value fitting an int.
// Returns false and leaves `handle` alone otherwise.
bool parseHandle(const std::string& text, SharedMemoryHandle& handle);

// A new close-on-exec mapping of exactly `bytes`. Returns kNoSharedMemory with errno set on
// failure; 0 bytes or kSharedMemoryLimit and more are refused with EINVAL.
SharedMemoryHandle createSharedMemory(std::uint64_t bytes);

// Closes the handle when it is not kNoSharedMemory.
void closeSharedMemory(SharedMemoryHandle handle) noexcept;

// A read-write view of a whole mapping, unmapped when the view goes. The handle stays open.
class SharedMemoryView {
public:
    SharedMemoryView() = default;
    // Maps the whole object behind `handle`; on failure the view is empty and errno says why
    // (a closed descriptor, an empty object, or one too large for the address space).
    explicit SharedMemoryView(SharedMemoryHandle handle);
    ~SharedMemoryView();

    SharedMemoryView(SharedMemoryView&& other) noexcept;
    SharedMemoryView& operator=(SharedMemoryView&& other) noexcept;
    SharedMemoryView(const SharedMemoryView&) = delete;
    SharedMemoryView& operator=(const SharedMemoryView&) = delete;

    bool isMapped() const { return m_data != nullptr; }
    explicit operator bool() const { return isMapped(); }
    unsigned char* data() const { return m_data; }
    // The object's whole size as mapped; callers check it against the geometry they expect.
    std::size_t size() const { return m_size; }

    void unmap() noexcept;

private:
    unsigned char* m_data = nullptr;
    std::size_t m_size = 0;
};

// The receiving side of a hand-over: a handle named on the command line. The text must parse
// (parseHandle) and name a descriptor this process holds open (fcntl F_GETFD), for reading and
// writing, on a memory or regular file, as a mapping's is. Otherwise kNoSharedMemory, so that
// nobody maps or later closes a descriptor of the process's own (its log, a pipe).
SharedMemoryHandle inheritedHandle(const std::string& text);

// Keeps the handle out of every program this process starts later. False with errno on failure.
bool setCloseOnExec(SharedMemoryHandle handle) noexcept;

} // namespace platform
