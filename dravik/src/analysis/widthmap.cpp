// Stage 4 of the segmentation: the width of the Blend band at every pixel, from how far apart
// the modes around each cell's best valleys lie.
#include "analysis/segmentation.h"

#include "common/border.h"
#include "analysis/labelling.h"
#include "platform/memory.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <string>
#include <vector>

namespace classification {

using corvath::utility::domainOf;
using corvath::utility::extent;
using corvath::utility::fitArrayToRect;
using corvath::utility::grow;
using corvath::utility::viewOf;

namespace {

constexpr int kEdgeStep = 70;
constexpr int kDiagonalStep = 99;
constexpr float kByteScale = 145.54f;  // fixed-point units per width byte

// The report after each first index that is a multiple of 512: f of the way through the pass.
inline void reportRow(const ProgressRange& range, float f)
{
    if (range.parent)
        range.parent->progress((1.f - f) * range.lo + f * range.hi, std::string());
}

} // namespace

void chamferForward(const Rect& r, blitz::Array<int, 2> distance, ProgressRange range)
{
    if (r.isEmpty())
        return;
    const std::ptrdiff_t s0 = distance.stride(0), s1 = distance.stride(1);
    int* origin = &distance(r.x1, r.y1);
    for (int x = r.x1; x <= r.x2; ++x) {
        int* p = origin + std::ptrdiff_t(x - r.x1) * s0;
        for (int y = r.y1; y <= r.y2; ++y, p += s1) {
            relaxDistance(p - s1, p, kEdgeStep);
            relaxDistance(p - s0 - s1, p, kDiagonalStep);
            relaxDistance(p - s0, p, kEdgeStep);
            relaxDistance(p - s0 + s1, p, kDiagonalStep);
        }
        if ((x & 511) == 0)
            reportRow(range, float(x - r.x1) / float(r.x2 - r.x1 + 1));
    }
}

void chamferBackward(const Rect& r, blitz::Array<int, 2> distance, ProgressRange range)
{
    if (r.isEmpty())
        return;
    const std::ptrdiff_t s0 = distance.stride(0), s1 = distance.stride(1);
    int* origin = &distance(r.x1, r.y1);
    for (int x = r.x2; x >= r.x1; --x) {
        int* p = origin + std::ptrdiff_t(x - r.x1) * s0 + std::ptrdiff_t(r.y2 - r.y1) * s1;
        for (int y = r.y2; y >= r.y1; --y, p -= s1) {
            relaxDistance(p + s1, p, kEdgeStep);
            relaxDistance(p + s0 + s1, p, kDiagonalStep);
            relaxDistance(p + s0, p, kEdgeStep);
            relaxDistance(p + s0 - s1, p, kDiagonalStep);
        }
        if ((x & 511) == 0)
            reportRow(range, float(r.x2 - x) / float(r.x2 - r.x1 + 1));
    }
}

template <int N, int V>
int Segmentation<N, V>::cellWidth(const Cell& cell, int lower, int upper) const
{
    int num = 0;
    float den = 0.f;
    for (int i = 0; i < N; ++i) {
        const Histogram1D& h = cell[i];
        if (h.bestSplit == -1)
            continue;
        const ModeRecord& r = m_modes[i][std::size_t(h.bestSplit)];
        num += (r.peakDistance * r.peakDistance) << (2 * h.shift());
        const float c = float(r.valleyCount);
        den += 1.f / (c * c);
    }
    if (num == 0)
        return upper;
    // Compared before the conversion: nearly empty valleys give values beyond any int.
    const float v = std::sqrt(float(num) / den);
    if (!(v < float(upper)))
        return upper;
    return std::min(std::max(int(v), lower), upper);
}

template <int N, int V>
bool Segmentation<N, V>::computeWidthMap(bool upstreamChanged, ProgressRange range)
{
    if (!upstreamChanged && m_lastComplete.inFocusEdgeWidth == m_head.inFocusEdgeWidth)
        return false;
    checkHistogramSettings();

    const Rect b = m_bounds;
    const int res = m_head.resolution;
    const Rect d = cellDomain(b, res);
    const long long w = m_head.inFocusEdgeWidth;
    const long long n = (2LL * m_head.overlap + 1) * res;
    // Kept within int; a lower clamp above the upper one gives the upper one, as it would.
    const long long upperWide = std::min(261120LL * n, 4096LL * w * n);
    const int upper = int(std::min<long long>(upperWide, INT_MAX));
    const int lower = int(std::min<long long>(1024LL * w * n, upper));
    const int divisor = int(std::ceil(double(float(1024LL * n) * 0.0068709636f)));

    blitz::Array<int, 2> cellValues;
    fitArrayToRect(cellValues, d);
    for (int i = d.x1; i <= d.x2; ++i)
        for (int j = d.y1; j <= d.y2; ++j)
            cellValues(i, j) = cellWidth(m_histograms(i, j), lower, upper);
    range.report(std::string(), 0.1f);

    // Bilinear interpolation of the cells at the pixel centres, divided down at once.
    // The field has memory of its own, mapped and given back whole: the stage may run on a
    // thread of its own, and a heap block freed there would stay with that thread's arena.
    const Rect fieldRect = grow(b, 1);
    std::vector<int, platform::LargeAllocator<int>> fieldMemory;
    blitz::Array<int, 2> field;
    if (b.isEmpty()) {
        fitArrayToRect(field, fieldRect);
    } else {
        fieldMemory.resize(std::size_t(extent(fieldRect).x) * std::size_t(extent(fieldRect).y));
        field.reference(blitz::Array<int, 2>(fieldMemory.data(), blitz::shape(extent(fieldRect).x, extent(fieldRect).y),
                                             blitz::neverDeleteData));
        field.reindexSelf(blitz::TinyVector<int, 2>(fieldRect.x1, fieldRect.y1));
    }
    const float s = 1.0f / float(res);
    const ProgressRange upsampling(range.parent, range.at(range.position), range.at(0.5f));
    if (!b.isEmpty()) {
        std::vector<int> cy0, cy1;
        std::vector<float> wys;
        for (int y = b.y1; y <= b.y2; ++y) {
            const float fy = (float(y) + 0.5f) * s;
            const int iy = int(std::floor(fy - 0.5f));
            wys.push_back(float(iy + 1) + 0.5f - fy);
            cy0.push_back(std::clamp(iy, d.y1, d.y2) - d.y1);
            cy1.push_back(std::clamp(iy + 1, d.y1, d.y2) - d.y1);
        }
        const int* q = &cellValues(d.x1, d.y1);
        const std::ptrdiff_t q0 = cellValues.stride(0);
        for (int x = b.x1; x <= b.x2; ++x) {
            const float fx = (float(x) + 0.5f) * s;
            const int ix = int(std::floor(fx - 0.5f));
            const float wx = float(ix + 1) + 0.5f - fx;
            const int* qa = q + std::ptrdiff_t(std::clamp(ix, d.x1, d.x2) - d.x1) * q0;
            const int* qb = q + std::ptrdiff_t(std::clamp(ix + 1, d.x1, d.x2) - d.x1) * q0;
            int* out = &field(x, b.y1);
            for (int k = 0; k <= b.y2 - b.y1; ++k) {
                const float wy = wys[std::size_t(k)];
                const int ya = cy0[std::size_t(k)], yb = cy1[std::size_t(k)];
                const float value = (1.f - wx) * (wy * float(qb[ya]) + (1.f - wy) * float(qb[yb]))
                                    + wx * (wy * float(qa[ya]) + (1.f - wy) * float(qa[yb]));
                out[k] = int(value) / divisor;  // the pixel's width in the map's units
            }
            if ((x & 511) == 0)
                reportRow(upsampling, float(x - b.x1) / float(b.x2 - b.x1 + 1));
        }
    }
    range.position = 0.5f;
    cellValues.free();

    replicateBorder<int>(b, field);

    ProgressRange rest(range.parent, range.at(0.5f), range.hi);
    chamferForward(b, field, rest.nextStep(0.5f));
    chamferBackward(b, field, rest.nextStep(1.0f));
    range.position = 1.0f;

    blitz::Array<unsigned char, 2> widths = m_gradient.extractComponent((unsigned char)0, 2, 3);
    if (b.isEmpty()) {
        m_widthMap.free();
    } else {
        m_widthMap.reference(viewOf(widths, b));
        for (int x = b.x1; x <= b.x2; ++x) {
            const int* p = &field(x, b.y1);
            unsigned char* o = &m_widthMap(x, b.y1);
            const std::ptrdiff_t o1 = m_widthMap.stride(1);
            for (int k = 0; k <= b.y2 - b.y1; ++k)
                o[k * o1] = static_cast<unsigned char>(int(float(p[k]) / kByteScale + 0.5f));
        }
    }
    replicateBorder<unsigned char>(b, widths);
    return true;
}

template bool Segmentation<6, 0>::computeWidthMap(bool, ProgressRange);
template int Segmentation<6, 0>::cellWidth(const Cell&, int, int) const;

} // namespace classification
