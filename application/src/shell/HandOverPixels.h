#pragma once
// Pixel copies between a hand-over mapping (samples in the order R, G, B, A, rows packed) and
// the program's own buffers (B, G, R, A, the order of QImage::Format_ARGB32). Exchanging red
// and blue is its own inverse, so one copy serves both directions.

#include <cstddef>
#include <cstdint>

namespace handoverpixels {

// Copies width × height pixels of 8 bits a sample, one pass per row, exchanging red and blue.
void copy8(const std::uint8_t* from, std::uint8_t* to, std::int64_t width, std::int64_t height);

// The same for 16 bits a sample; with swapBytes every sample also has its two bytes exchanged
// (the mapping's samples are not in the agreed little-endian order).
void copy16(const std::uint8_t* from, std::uint8_t* to, std::int64_t width, std::int64_t height,
            bool swapBytes);

} // namespace handoverpixels
