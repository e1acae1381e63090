#pragma once
// What the benchmark programs share: the resident high-water mark and photographs enlarged to
// working sizes.

#include "testimage.h"

#include "platform/clock.h"

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>

namespace benchsupport {

// The process's resident high-water mark: run one size per process (--benchmark_filter) to
// read it per size.
inline double peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

// Named steps timed one after the other, each lap adding the time since the previous one to
// its step; the counters are the mean milliseconds per iteration.
template <int Steps>
class StepClock {
public:
    explicit StepClock(const char* const (&names)[Steps]) : m_names(names) {}
    void start() { m_last = platform::counterNanoseconds(); }
    void lap(int step)
    {
        const std::int64_t now = platform::counterNanoseconds();
        m_ms[step] += double(now - m_last) * 1e-6;
        m_last = now;
    }
    template <typename State>
    void report(State& state) const
    {
        for (int k = 0; k < Steps; ++k)
            state.counters[m_names[k]] = m_ms[k] / double(state.iterations());
    }

private:
    const char* const (&m_names)[Steps];
    double m_ms[Steps] = {};
    std::int64_t m_last = 0;
};

// A test photograph enlarged to about `megapixels` by bilinear interpolation, with sensor
// noise of the given standard deviation (0 for none): with noise of about 1.5 levels almost
// every pixel has a colour of its own, as in a real photograph of that size.
inline testsupport::RgbaImage8 enlargedPhoto(const std::string& name, double megapixels, float noiseSigma)
{
    const testsupport::RgbaImage8 src = testsupport::loadRgba8(name);
    const double scale = std::sqrt(megapixels * 1e6 / (double(src.width) * src.height));
    testsupport::RgbaImage8 out;
    out.width = int(src.width * scale);
    out.height = int(src.height * scale);
    out.samples.resize(std::size_t(out.width) * out.height * 4);
    std::mt19937 rng(11);
    std::normal_distribution<float> noise(0.f, std::max(noiseSigma, 1e-6f));
    for (int y = 0; y < out.height; ++y) {
        const double sy = std::min((y + 0.5) / scale - 0.5, src.height - 1.001);
        const int y0 = std::max(0, int(sy));
        const double fy = std::max(0.0, sy - y0);
        for (int x = 0; x < out.width; ++x) {
            const double sx = std::min((x + 0.5) / scale - 0.5, src.width - 1.001);
            const int x0 = std::max(0, int(sx));
            const double fx = std::max(0.0, sx - x0);
            for (int c = 0; c < 4; ++c) {
                auto at = [&](int yy, int xx) { return double(src.row(yy)[xx * 4 + c]); };
                const double v = (1 - fy) * ((1 - fx) * at(y0, x0) + fx * at(y0, x0 + 1)) +
                                 fy * ((1 - fx) * at(y0 + 1, x0) + fx * at(y0 + 1, x0 + 1));
                const double n = c == 3 ? 255.0 : noiseSigma > 0.f ? v + noise(rng) : v;
                out.row(y)[x * 4 + c] = static_cast<std::uint8_t>(std::lround(std::clamp(n, 0.0, 255.0)));
            }
        }
    }
    return out;
}

// A mosaic of the test photographs at their own resolution, 3 : 2 and about `megapixels`:
// as many edges per pixel as a real photograph of that size, unlike an enlarged one. Tiles
// take the photographs in turn, mirrored in turn, in rows as tall as the shortest photograph,
// each row cutting them at another height; the right and bottom tiles are cut off.
inline testsupport::RgbaImage8 photoMosaic(double megapixels)
{
    const testsupport::RgbaImage8 photos[] = {testsupport::loadRgba8("coffee.png"),
                                              testsupport::loadRgba8("astronaut.png"),
                                              testsupport::loadRgba8("chelsea.png")};
    int rowHeight = photos[0].height;
    for (const testsupport::RgbaImage8& p : photos)
        rowHeight = std::min(rowHeight, p.height);
    testsupport::RgbaImage8 out;
    out.height = int(std::lround(std::sqrt(megapixels * 1e6 / 1.5) / 16.0)) * 16;
    out.width = out.height * 3 / 2;
    out.samples.resize(std::size_t(out.width) * out.height * 4);
    int tile = 0;
    for (int top = 0, row = 0; top < out.height; top += rowHeight, ++row) {
        const int h = std::min(rowHeight, out.height - top);
        for (int left = 0; left < out.width; ++tile) {
            const testsupport::RgbaImage8& src = photos[tile % 3];
            const bool flipX = (tile / 3) % 2 == 1, flipY = (tile / 2) % 2 == 1;
            const int w = std::min(src.width, out.width - left);
            const int offset = (row * 97) % (src.height - rowHeight + 1);
            for (int y = 0; y < h; ++y) {
                const std::uint8_t* s = src.row(offset + (flipY ? rowHeight - 1 - y : y));
                std::uint8_t* d = out.row(top + y) + std::size_t(left) * 4;
                for (int x = 0; x < w; ++x) {
                    const int sx = flipX ? src.width - 1 - x : x;
                    for (int c = 0; c < 4; ++c)
                        d[x * 4 + c] = s[sx * 4 + c];
                }
            }
            left += w;
        }
    }
    return out;
}

// Alpha errors over the unknown band of a trimap (pixels neither 0 nor 255): the sum of
// absolute errors in thousands and the mean squared error, alpha counted as 0..1.
struct AlphaError {
    double sad = 0, mse = 0;
    long band = 0;
};

// trimap(i, j), alpha(i, j) and truth(i, j) give 0..255 over rows x cols.
template <typename Trimap, typename Alpha, typename Truth>
AlphaError bandError(int rows, int cols, Trimap trimap, Alpha alpha, Truth truth)
{
    AlphaError q;
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) {
            const int t = trimap(i, j);
            if (t != 0 && t != 255) {
                const double e = (double(alpha(i, j)) - double(truth(i, j))) / 255.0;
                q.sad += std::abs(e);
                q.mse += e * e;
                ++q.band;
            }
        }
    q.sad /= 1000.0;
    q.mse /= double(q.band);
    return q;
}

} // namespace benchsupport
