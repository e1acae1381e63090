#include "testimage.h"

#include <boost/gil.hpp>
#include <boost/gil/extension/io/png.hpp>

#include <cmath>
#include <random>

namespace testsupport {

namespace gil = boost::gil;

std::string dataPath(const std::string& name)
{
    return std::string(KESTRINE_TEST_DATA) + "/" + name;
}

template <typename Image, typename T>
static RgbaImage<T> load(const std::string& name)
{
    Image img;
    gil::read_and_convert_image(dataPath(name), img, gil::png_tag());
    RgbaImage<T> out;
    out.width = int(img.width());
    out.height = int(img.height());
    out.samples.resize(std::size_t(out.width) * out.height * 4);
    auto v = gil::const_view(img);
    for (int y = 0; y < out.height; ++y) {
        T* d = out.row(y);
        auto it = v.row_begin(y);
        for (int x = 0; x < out.width; ++x, ++it)
            for (int c = 0; c < 4; ++c)
                *d++ = (*it)[c];
    }
    return out;
}

RgbaImage8 loadRgba8(const std::string& name)
{
    return load<gil::rgba8_image_t, std::uint8_t>(name);
}

RgbaImage16 loadRgba16(const std::string& name)
{
    return load<gil::rgba16_image_t, std::uint16_t>(name);
}

RgbaImage8 syntheticPhoto(int width, int height, unsigned seed)
{
    RgbaImage8 img;
    img.width = width;
    img.height = height;
    img.samples.resize(std::size_t(width) * height * 4);
    std::mt19937 rng(seed);
    std::normal_distribution<float> noise(0.f, 6.f);
    const float cx = width * 0.35f, cy = height * 0.45f, rad = std::min(width, height) * 0.2f;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* p = img.row(y);
        for (int x = 0; x < width; ++x, p += 4) {
            float r = 40 + 150.f * x / width, g = 60 + 120.f * y / height, b = 90;
            const float dx = x - cx, dy = y - cy;
            if (dx * dx + dy * dy < rad * rad) {  // a bright disk
                r = 220; g = 180; b = 40;
            } else if (x > width * 0.6f && x < width * 0.85f && y > height * 0.2f && y < height * 0.7f) {
                r = 30; g = 40; b = 200;  // a dark rectangle
            } else if (((x / 8) + (y / 8)) % 2 == 0 && y > height * 0.8f) {
                r *= 0.6f; g *= 0.6f;  // a textured strip
            }
            const float v[3] = {r + noise(rng), g + noise(rng), b + noise(rng)};
            for (int c = 0; c < 3; ++c)
                p[c] = static_cast<std::uint8_t>(std::lround(std::clamp(v[c], 0.f, 255.f)));
            p[3] = 255;
        }
    }
    return img;
}

} // namespace testsupport
