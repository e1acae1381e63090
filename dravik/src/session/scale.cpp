#include "session/scale.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

namespace classification {

namespace {

// Raw access to a view of 4-byte pixels, taken once per reduction.
struct Plane {
    unsigned char* data;
    std::ptrdiff_t rowStep;    // bytes
    std::ptrdiff_t pixelStep;  // bytes
};

Plane planeOf(const RgbaView8& a)
{
    return {reinterpret_cast<unsigned char*>(const_cast<Rgba8*>(a.dataFirst())),
            std::ptrdiff_t(a.stride(0)) * 4, std::ptrdiff_t(a.stride(1)) * 4};
}

// The mean of the two middle values of four, truncated: the sum less the extremes, halved.
inline int median4(int a, int b, int c, int d)
{
    const int lo = std::min(std::min(a, b), std::min(c, d));
    const int hi = std::max(std::max(a, b), std::max(c, d));
    return (a + b + c + d - lo - hi) / 2;
}

void reduce2(const Plane& s, const Plane& d, int blockRows, int blockCols)
{
    for (int r = 0; r < blockRows; ++r) {
        const unsigned char* top = s.data + 2 * r * s.rowStep;
        const unsigned char* bottom = top + s.rowStep;
        unsigned char* out = d.data + r * d.rowStep;
        for (int c = 0; c < blockCols; ++c) {
            const unsigned char* p = top + 2 * c * s.pixelStep;
            const unsigned char* q = bottom + 2 * c * s.pixelStep;
            for (int k = 0; k < 4; ++k)
                out[k] = static_cast<unsigned char>(
                    median4(p[k], p[s.pixelStep + k], q[k], q[s.pixelStep + k]));
            out += d.pixelStep;
        }
    }
}

// Batcher's odd-even merge sort: the compare-exchange pairs that sort n = 2^k values.
std::vector<std::pair<int, int>> sortingNetwork(int n)
{
    std::vector<std::pair<int, int>> pairs;
    for (int p = 1; p < n; p <<= 1)
        for (int k = p; k >= 1; k >>= 1)
            for (int j = k % p; j + k < n; j += 2 * k)
                for (int i = 0; i < std::min(k, n - j - k); ++i)
                    if ((i + j) / (2 * p) == (i + j + k) / (2 * p))
                        pairs.emplace_back(i + j, i + j + k);
    return pairs;
}

// Sixteen independent byte lanes: four blocks of four channels, sorted side by side.
constexpr int laneCount = 16;
constexpr int blocksPerGroup = laneCount / 4;
struct Lanes {
    unsigned char v[laneCount];
};

// The per-channel median of b x b values: the mean of the values of rank n/2 - 1 and n/2,
// truncated. The values of four blocks are sorted together by one sorting network whose
// compare-exchanges run over all sixteen lanes at once.
template <int B>
void reduceSorted(const Plane& s, const Plane& d, int blockRows, int blockCols)
{
    constexpr int n = B * B;
    static const std::vector<std::pair<int, int>> network = sortingNetwork(n);
    Lanes values[n] = {};
    for (int r = 0; r < blockRows; ++r) {
        unsigned char* out = d.data + r * d.rowStep;
        for (int c0 = 0; c0 < blockCols; c0 += blocksPerGroup) {
            const int blocks = std::min(blocksPerGroup, blockCols - c0);
            for (int g = 0; g < blocks; ++g) {
                const unsigned char* block = s.data + B * r * s.rowStep + B * (c0 + g) * s.pixelStep;
                for (int i = 0; i < B; ++i) {
                    const unsigned char* p = block + i * s.rowStep;
                    for (int j = 0; j < B; ++j, p += s.pixelStep)
                        std::memcpy(values[i * B + j].v + 4 * g, p, 4);
                }
            }
            for (const auto& [x, y] : network) {
                const Lanes a = values[x], b = values[y];
                Lanes lo, hi;
                for (int l = 0; l < laneCount; ++l) {
                    lo.v[l] = std::min(a.v[l], b.v[l]);
                    hi.v[l] = std::max(a.v[l], b.v[l]);
                }
                values[x] = lo;
                values[y] = hi;
            }
            const Lanes& below = values[n / 2 - 1];
            const Lanes& above = values[n / 2];
            for (int g = 0; g < blocks; ++g, out += d.pixelStep)
                for (int k = 0; k < 4; ++k)
                    out[k] = static_cast<unsigned char>((below.v[4 * g + k] + above.v[4 * g + k]) / 2);
        }
    }
}

void reduceWholeBlocks(const RgbaView8& s, RgbaView8& d, int b, int blockRows, int blockCols)
{
    const Plane sp = planeOf(s), dp = planeOf(d);
    switch (b) {
    case 2: reduce2(sp, dp, blockRows, blockCols); break;
    case 4: reduceSorted<4>(sp, dp, blockRows, blockCols); break;
    case 8: reduceSorted<8>(sp, dp, blockRows, blockCols); break;
    default: throw std::invalid_argument("unsupported block size");
    }
}

} // namespace

int scaleFactor(int sourceWidth, int sourceHeight, int destinationWidth, int destinationHeight)
{
    const float fx = std::ceil(float(sourceWidth) / float(destinationWidth));
    const float fy = std::ceil(float(sourceHeight) / float(destinationHeight));
    const float f = std::max(fx, fy);
    // Ratios beyond any supported factor need not survive the conversion.
    if (f > 8.f)
        return 9;
    const int factor = int(f);
    if (factor == 3)
        return 4;
    if (factor == 7)
        return 8;
    return factor;
}

void reduceByBlocks(const RgbaView8& s, RgbaView8& d, int b)
{
    const int rows = s.extent(0), cols = s.extent(1);
    const int blockRows = rows / b, blockCols = cols / b;
    if (blockRows == 0 || blockCols == 0)
        throw std::runtime_error("Image too small");
    // Rounding of huge size ratios must not let the blocks run past the destination.
    if (d.extent(0) < blockRows || d.extent(1) < blockCols)
        throw std::invalid_argument("destination smaller than the reduced image");
    reduceWholeBlocks(s, d, b, blockRows, blockCols);

    const blitz::Range all = blitz::Range::all();
    if (blockRows * b != rows) {
        const RgbaView8 lastRows = s(blitz::Range(s.ubound(0) - b + 1, s.ubound(0)), all);
        RgbaView8 lastRow = d(blitz::Range(d.ubound(0), d.ubound(0)), all);
        reduceByBlocks(lastRows, lastRow, b);
    }
    if (blockCols * b != cols) {
        const RgbaView8 lastCols = s(all, blitz::Range(s.ubound(1) - b + 1, s.ubound(1)));
        RgbaView8 lastCol = d(all, blitz::Range(d.ubound(1), d.ubound(1)));
        reduceByBlocks(lastCols, lastCol, b);
    }
}

void copyImage(const RgbaView8& s, RgbaView8& d)
{
    if (d.extent(0) < s.extent(0) || d.extent(1) < s.extent(1))
        throw std::invalid_argument("destination smaller than the source");
    const Plane sp = planeOf(s), dp = planeOf(d);
    for (int r = 0; r < s.extent(0); ++r) {
        const unsigned char* from = sp.data + r * sp.rowStep;
        unsigned char* to = dp.data + r * dp.rowStep;
        for (int c = 0; c < s.extent(1); ++c, from += sp.pixelStep, to += dp.pixelStep)
            std::copy(from, from + 4, to);
    }
}

} // namespace classification
