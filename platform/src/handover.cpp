#include "platform/handover.h"

#include "platform/process.h"

namespace platform {

std::uint64_t handOverBytes(unsigned bytesPerPixel, std::int64_t width, std::int64_t height)
{
    if (width <= 0 || height <= 0)
        return 0;
    // Saturates instead of wrapping, so that an absurd geometry can never pass the limit.
    const std::uint64_t w = static_cast<std::uint64_t>(width);
    const std::uint64_t h = static_cast<std::uint64_t>(height);
    if (w > UINT64_MAX / h)
        return UINT64_MAX;
    const std::uint64_t pixels = w * h;
    if (bytesPerPixel != 0 && pixels > UINT64_MAX / bytesPerPixel)
        return UINT64_MAX;
    return pixels * bytesPerPixel;
}

std::string handOverCommandLine(SharedMemoryHandle result, SharedMemoryHandle source,
                                std::int64_t width, std::int64_t height, int bitsPerSample,
                                const std::string& title)
{
    std::string line = quoteArgument(kHandOverCaller);
    line += ' ';
    line += kHandOverFlag;
    for (const std::string& argument :
         {formatHandle(result), formatHandle(source), std::to_string(width), std::to_string(height),
          std::to_string(bitsPerSample)}) {
        line += ' ';
        line += quoteArgument(argument);
    }
    line += ' ';
    line += kHandOverLittleEndian;
    line += ' ';
    line += quoteArgument(title);
    return line;
}

std::string aboutCommandLine(const std::string& program, const std::string& argument)
{
    return quoteArgument(program) + ' ' + quoteArgument(argument);
}

} // namespace platform
