#pragma once
// Row kernels of the hand-over: the host's interleaved planes on one side, the mappings'
// packed RGBA on the other, and the four-component colours of the host's colour-space suite
// in between. Samples are read and written through memcpy, so that a host buffer of any
// alignment is fine; the compiler turns these into plain loads and stores.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace transfer {

template <typename Sample>
inline Sample load(const unsigned char* at)
{
    Sample value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

template <typename Sample>
inline void store(unsigned char* at, Sample value)
{
    std::memcpy(at, &value, sizeof value);
}

// Copies `rows` rows of `rowBytes` bytes between buffers of the given strides.
inline void copyRows(const unsigned char* from, std::ptrdiff_t fromStride, unsigned char* to,
                     std::ptrdiff_t toStride, std::size_t rowBytes, std::int32_t rows)
{
    for (std::int32_t y = 0; y < rows; ++y)
        std::memcpy(to + y * toStride, from + y * fromStride, rowBytes);
}

// Host CMYKA pixels (5 samples) to suite colours (C, M, Y, K), packed.
template <typename Sample>
inline void gatherCmyk(const unsigned char* host, unsigned char* colours, std::int32_t width)
{
    constexpr std::size_t s = sizeof(Sample);
    for (std::int32_t x = 0; x < width; ++x)
        std::memcpy(colours + std::size_t(x) * 4 * s, host + std::size_t(x) * 5 * s, 4 * s);
}

// Converted suite colours (unused, R, G, B) to RGBA in place, alpha from the host's fifth
// sample.
template <typename Sample>
inline void finishRgba(unsigned char* row, const unsigned char* host, std::int32_t width)
{
    constexpr std::size_t s = sizeof(Sample);
    for (std::int32_t x = 0; x < width; ++x) {
        unsigned char* pixel = row + std::size_t(x) * 4 * s;
        std::memmove(pixel, pixel + s, 3 * s);
        std::memcpy(pixel + 3 * s, host + (std::size_t(x) * 5 + 4) * s, s);
    }
}

// RGBA pixels to suite colours (0, R, G, B).
template <typename Sample>
inline void gatherRgb(const unsigned char* rgba, unsigned char* colours, std::int32_t width)
{
    constexpr std::size_t s = sizeof(Sample);
    for (std::int32_t x = 0; x < width; ++x) {
        unsigned char* colour = colours + std::size_t(x) * 4 * s;
        store<Sample>(colour, 0);
        std::memcpy(colour + s, rgba + std::size_t(x) * 4 * s, 3 * s);
    }
}

// Converted suite colours (C, M, Y, K) and the RGBA pixels' alpha to host CMYKA pixels.
template <typename Sample>
inline void scatterCmyka(const unsigned char* colours, const unsigned char* rgba, unsigned char* host,
                         std::int32_t width)
{
    constexpr std::size_t s = sizeof(Sample);
    for (std::int32_t x = 0; x < width; ++x) {
        unsigned char* pixel = host + std::size_t(x) * 5 * s;
        std::memcpy(pixel, colours + std::size_t(x) * 4 * s, 4 * s);
        std::memcpy(pixel + 4 * s, rgba + (std::size_t(x) * 4 + 3) * s, s);
    }
}

} // namespace transfer
