#include "shell/HandOverPixels.h"

#include <cstring>

// The pixel words below are read in the machine's order, which must be little-endian.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "hand-over copies assume a little-endian machine");

namespace handoverpixels {

namespace {

// Bytes R, G, B, A read as one little-endian word: red is the low byte, blue the third.
inline std::uint32_t exchange8(std::uint32_t p)
{
    return (p & 0xFF00FF00u) | ((p & 0xFFu) << 16) | ((p >> 16) & 0xFFu);
}

inline std::uint64_t exchange16(std::uint64_t p)
{
    return (p & 0xFFFF0000FFFF0000ull) | ((p & 0xFFFFull) << 32) | ((p >> 32) & 0xFFFFull);
}

inline std::uint64_t swapSampleBytes(std::uint64_t p)
{
    return ((p & 0x00FF00FF00FF00FFull) << 8) | ((p >> 8) & 0x00FF00FF00FF00FFull);
}

void row8(const std::uint8_t* from, std::uint8_t* to, std::size_t pixels)
{
    for (std::size_t i = 0; i < pixels; ++i) {
        std::uint32_t p;
        std::memcpy(&p, from + i * 4, 4);
        p = exchange8(p);
        std::memcpy(to + i * 4, &p, 4);
    }
}

template <bool Swap>
void row16(const std::uint8_t* from, std::uint8_t* to, std::size_t pixels)
{
    for (std::size_t i = 0; i < pixels; ++i) {
        std::uint64_t p;
        std::memcpy(&p, from + i * 8, 8);
        if (Swap)
            p = swapSampleBytes(p);
        p = exchange16(p);
        std::memcpy(to + i * 8, &p, 8);
    }
}

} // namespace

void copy8(const std::uint8_t* from, std::uint8_t* to, std::int64_t width, std::int64_t height)
{
    if (width <= 0 || height <= 0)
        return;
    const std::size_t rowBytes = std::size_t(width) * 4;
    for (std::int64_t y = 0; y < height; ++y)
        row8(from + std::size_t(y) * rowBytes, to + std::size_t(y) * rowBytes, std::size_t(width));
}

void copy16(const std::uint8_t* from, std::uint8_t* to, std::int64_t width, std::int64_t height,
            bool swapBytes)
{
    if (width <= 0 || height <= 0)
        return;
    const std::size_t rowBytes = std::size_t(width) * 8;
    for (std::int64_t y = 0; y < height; ++y) {
        const std::uint8_t* source = from + std::size_t(y) * rowBytes;
        std::uint8_t* target = to + std::size_t(y) * rowBytes;
        if (swapBytes)
            row16<true>(source, target, std::size_t(width));
        else
            row16<false>(source, target, std::size_t(width));
    }
}

} // namespace handoverpixels
