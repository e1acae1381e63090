#pragma once
// Images for engine tests: the project's test photographs and synthetic photo-like images.

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// Interleaved RGBA, rows packed (stride = 4 * width samples).
template <typename T>
struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<T> samples;

    T* row(int y) { return samples.data() + std::size_t(y) * width * 4; }
    const T* row(int y) const { return samples.data() + std::size_t(y) * width * 4; }
    unsigned strideBytes() const { return unsigned(width * 4 * sizeof(T)); }
};
using RgbaImage8 = RgbaImage<std::uint8_t>;
using RgbaImage16 = RgbaImage<std::uint16_t>;

// A file of tests/data, by name; throws when it cannot be read.
std::string dataPath(const std::string& name);
RgbaImage8 loadRgba8(const std::string& name);
RgbaImage16 loadRgba16(const std::string& name);

// Gradients, a few filled shapes and seeded noise: edges, flat areas and texture.
RgbaImage8 syntheticPhoto(int width, int height, unsigned seed = 1);

} // namespace testsupport
