#pragma once
// Memory a test measures, limits or reports. The peak is the kernel's own high-water mark of
// the process's resident memory, reset when the measurement starts, so it counts every byte a
// reader touched whoever allocated it (libpng, libtiff, Qt), and works the same under the
// address sanitizer, whose reserved shadow is never resident. An address-space limit set just
// above what the process has mapped makes the next large allocation fail in either build.

#include "document/ImageMemory.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include <sys/resource.h>

namespace testsupport {

// A "Name:   1234 kB" value of /proc/self/status, in bytes; 0 without it.
inline std::uint64_t procStatusBytes(const char* name)
{
    std::ifstream status("/proc/self/status");
    const std::size_t length = std::strlen(name);
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, length, name) == 0 && line.size() > length && line[length] == ':')
            return std::uint64_t(std::stoull(line.substr(length + 1))) * 1024;
    }
    return 0;
}

// How far the resident memory rose above where it was when the object was made.
class PeakResidentGrowth {
public:
    PeakResidentGrowth()
    {
        // "5" resets the high-water mark to the present resident size (Linux 4.0 and later).
        if (std::FILE* refs = std::fopen("/proc/self/clear_refs", "w")) {
            m_reset = std::fputs("5", refs) >= 0;
            m_reset = std::fclose(refs) == 0 && m_reset;
        }
        m_start = procStatusBytes("VmRSS");
    }

    // False where the kernel would not reset the mark: the growth would then mean nothing.
    bool isReset() const { return m_reset; }
    std::uint64_t megabytes() const
    {
        const std::uint64_t peak = procStatusBytes("VmHWM");
        return peak > m_start ? (peak - m_start) >> 20 : 0;
    }

private:
    bool m_reset = false;
    std::uint64_t m_start = 0;
};

// For its lifetime, the process can map only `margin` bytes more than it has mapped now.
class AddressSpaceLimit {
public:
    explicit AddressSpaceLimit(std::uint64_t margin)
    {
        getrlimit(RLIMIT_AS, &m_old);
        rlimit lowered = m_old;
        lowered.rlim_cur = procStatusBytes("VmSize") + margin;
        m_set = (m_old.rlim_cur == RLIM_INFINITY || m_old.rlim_cur > lowered.rlim_cur)
                && setrlimit(RLIMIT_AS, &lowered) == 0;
    }
    ~AddressSpaceLimit()
    {
        if (m_set)
            setrlimit(RLIMIT_AS, &m_old);
    }
    AddressSpaceLimit(const AddressSpaceLimit&) = delete;
    AddressSpaceLimit& operator=(const AddressSpaceLimit&) = delete;

    bool isSet() const { return m_set; }

private:
    rlimit m_old{};
    bool m_set = false;
};

// For its lifetime, the program weighs what images take against this figure instead of the
// memory the system reports available.
class ReportedMemory {
public:
    explicit ReportedMemory(qint64 bytes) { imagememory::setAvailableForTests(bytes); }
    ~ReportedMemory() { imagememory::setAvailableForTests(-1); }
    ReportedMemory(const ReportedMemory&) = delete;
    ReportedMemory& operator=(const ReportedMemory&) = delete;
};

} // namespace testsupport
