#pragma once
// The contract between the image editor's plug-in and the application it starts: the command
// line and the size of the two shared mappings. Both processes use these helpers.

#include "platform/shared_memory.h"

#include <cstdint>
#include <string>

namespace platform {

// argv[0] of a hand-over, quoted like the other arguments (so its quotes are dropped).
constexpr const char* kHandOverCaller = "LaunchedBy \"Plugin\" he said";
constexpr const char* kHandOverFlag = "--tn";
// The byte-order word of the 16-bit samples; any other word means swapped samples.
constexpr const char* kHandOverLittleEndian = "little";
constexpr int kHandOverArgumentCount = 9;
constexpr const char* kAboutFlag = "--about";

// Bytes per RGBA pixel for 8 or 16 bits per sample; 0 for any other depth.
constexpr unsigned handOverBytesPerPixel(int bitsPerSample)
{
    return bitsPerSample == 8 ? 4u : bitsPerSample == 16 ? 8u : 0u;
}

// Size of each mapping in 64 bits: rows of width × bytes per pixel, no padding. Negative
// extents give 0. The mappings can be created only when this lies below kSharedMemoryLimit.
std::uint64_t handOverBytes(unsigned bytesPerPixel, std::int64_t width, std::int64_t height);

// The application's command line: caller text, "--tn", result and source handles, width,
// height, bits per sample, "little" and the document title, every argument but "--tn" and
// "little" through quoteArgument, joined by single blanks.
std::string handOverCommandLine(SharedMemoryHandle result, SharedMemoryHandle source,
                                std::int64_t width, std::int64_t height, int bitsPerSample,
                                const std::string& title);

// The command line of a start without hand-over: the program's path quoted, then `argument`.
std::string aboutCommandLine(const std::string& program, const std::string& argument);

} // namespace platform
