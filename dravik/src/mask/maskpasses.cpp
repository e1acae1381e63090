#include "mask/maskpasses.h"

#include "matting/pixelhelpers.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace classification {

using corvath::utility::covers;
using corvath::utility::domainOf;
using corvath::utility::IiUI;

namespace {

void reportInRange(IiUI* ui, float a, float b, float f)
{
    if (ui)
        ui->progress((1.f - f) * a + f * b, std::string());
}

// The element at (i, j); data() is the element at the lower bounds, whatever the strides.
template <typename T>
T* elementAt(const blitz::Array<T, 2>& a, int i, int j)
{
    return const_cast<T*>(a.data()) + std::ptrdiff_t(i - a.lbound(0)) * a.stride(0) +
           std::ptrdiff_t(j - a.lbound(1)) * a.stride(1);
}

blitz::Array<ColourSumCell, 2> zeroCells(const Rect& r)
{
    blitz::Array<ColourSumCell, 2> cells;
    corvath::utility::fitArrayToRect(cells, r);
    std::fill(cells.data(), cells.data() + cells.numElements(), ColourSumCell(0.f));
    return cells;
}

// The pixel span [first, last] along one axis that holds every pixel whose centre lies
// within `grow` of [lo, hi]: floor, not truncation, so that negative coordinates lose no
// pixel. Clipped to [min, max]; false when nothing is left (NaN included).
bool pixelSpan(double lo, double hi, double grow, int min, int max, int& first, int& last)
{
    const double s = std::floor(lo) - grow, e = std::floor(hi) + grow;
    if (!(s <= max) || !(e >= min))
        return false;
    first = s < min ? min : int(s);
    last = e > max ? max : int(e);
    return first <= last;
}

} // namespace

template <typename T>
ColourSumPyramid buildBoundaryColourPyramid(const StatusByteArray& status, unsigned char classMask,
                                            const blitz::Array<Colour<T>, 2>& image, IiUI* ui,
                                            float a, float b)
{
    ColourSumPyramid pyramid;
    const Rect r = domainOf(image);
    if (!r.isEmpty() && !covers(domainOf(status), r))
        throw std::invalid_argument("status array does not cover the colour image");

    ColourSumLevel level;
    if (!r.isEmpty()) {
        const Rect cr = r.divide(2);
        level.cells.reference(zeroCells(cr));
        const unsigned char mask = classMask & 15;
        const std::ptrdiff_t ss0 = status.stride(0), ss1 = status.stride(1);
        const std::ptrdiff_t is1 = image.stride(1);
        const std::ptrdiff_t cs0 = level.cells.stride(0), cs1 = level.cells.stride(1);
        ColourSumCell* const cellBase = level.cells.data();
        for (int i = r.x1; i <= r.x2; ++i) {
            const unsigned char* srow = elementAt(status, i, r.y1);
            const Colour<T>* irow = elementAt(image, i, r.y1);
            const bool hasUp = i > r.x1, hasDown = i < r.x2;
            const std::ptrdiff_t ci = std::ptrdiff_t(i / 2 - cr.x1) * cs0;
            for (int j = r.y1, n = 0; j <= r.y2; ++j, ++n) {
                const unsigned char* s = srow + n * ss1;
                if (!(*s & mask))
                    continue;
                const bool border = (hasUp && !(s[-ss0] & mask)) || (j > r.y1 && !(s[-ss1] & mask)) ||
                                    (hasDown && !(s[ss0] & mask)) || (j < r.y2 && !(s[ss1] & mask));
                if (!border)
                    continue;
                ColourSumCell& cell = cellBase[ci + std::ptrdiff_t(j / 2 - cr.y1) * cs1];
                if (cell[3] == 0.f)
                    level.occupied.push_back({i / 2, j / 2});
                const Colour<T>& p = irow[n * is1];
                cell[0] += float(p[0]);
                cell[1] += float(p[1]);
                cell[2] += float(p[2]);
                cell[3] += 1.f;
            }
        }
    }
    reportInRange(ui, a, b, 0.25f);
    if (level.occupied.empty())
        return pyramid;

    pyramid.push_back(std::move(level));
    float remaining = 0.5f;
    for (;;) {
        const corvath::utility::IntPair e = corvath::utility::extent(domainOf(pyramid.back().cells));
        if (std::max(e.x, e.y) < 2)
            break;
        ColourSumLevel next = coarsenColourSums(pyramid.back());
        pyramid.push_back(std::move(next));
        reportInRange(ui, a, b, 1.f - remaining);
        remaining *= 0.5f;
    }
    reportInRange(ui, a, b, 1.f);
    return pyramid;
}

template ColourSumPyramid buildBoundaryColourPyramid<unsigned char>(
    const StatusByteArray&, unsigned char, const blitz::Array<Colour<unsigned char>, 2>&, IiUI*,
    float, float);
template ColourSumPyramid buildBoundaryColourPyramid<unsigned short>(
    const StatusByteArray&, unsigned char, const blitz::Array<Colour<unsigned short>, 2>&, IiUI*,
    float, float);

ColourSumLevel coarsenColourSums(const ColourSumLevel& finer)
{
    ColourSumLevel coarser;
    const Rect fr = domainOf(finer.cells);
    if (fr.isEmpty())
        return coarser;
    const Rect cr = fr.divide(2);
    coarser.cells.reference(zeroCells(cr));
    coarser.occupied.reserve(finer.occupied.size());
    ColourSumCell* const base = coarser.cells.data();
    const std::ptrdiff_t cs0 = coarser.cells.stride(0), cs1 = coarser.cells.stride(1);
    for (const IntPair p : finer.occupied) {
        const IntPair q{p.x / 2, p.y / 2};
        ColourSumCell& dst = base[std::ptrdiff_t(q.x - cr.x1) * cs0 + std::ptrdiff_t(q.y - cr.y1) * cs1];
        if (dst[3] == 0.f)
            coarser.occupied.push_back(q);
        const ColourSumCell& src = *elementAt(finer.cells, p.x, p.y);
        dst[0] += src[0];
        dst[1] += src[1];
        dst[2] += src[2];
        dst[3] += src[3];
    }
    return coarser;
}

namespace {

struct ChamferOffset {
    int di, dj, w;
};

// The half of the 5 x 5 neighbourhood that a raster pass has already visited, in the order
// in which candidates are offered (ties keep the first).
constexpr ChamferOffset forwardOffsets[8] = {
    {0, -1, chamferAxial},   {-1, -2, chamferKnight}, {-1, -1, chamferDiagonal},
    {-1, 0, chamferAxial},   {-1, 1, chamferDiagonal}, {-1, 2, chamferKnight},
    {-2, -1, chamferKnight}, {-2, 1, chamferKnight}};

template <bool Forward>
void propagateNearestColour(const Rect& r, blitz::Array<int, 2>& dist,
                            blitz::Array<Rgb8, 2>& colour, IiUI* ui, float a, float b)
{
    if (r.isEmpty())
        return;
    const Rect reach = corvath::utility::grow(r, 2);
    if (!covers(domainOf(dist), reach) || !covers(domainOf(colour), reach))
        throw std::invalid_argument("chamfer maps must reach two pixels beyond the rectangle");

    const int sign = Forward ? 1 : -1;
    const std::ptrdiff_t ds0 = dist.stride(0), ds1 = dist.stride(1);
    const std::ptrdiff_t cs0 = colour.stride(0), cs1 = colour.stride(1);
    std::ptrdiff_t dOff[8], cOff[8];
    int w[8];
    for (int k = 0; k < 8; ++k) {
        const int di = sign * forwardOffsets[k].di, dj = sign * forwardOffsets[k].dj;
        dOff[k] = di * ds0 + dj * ds1;
        cOff[k] = di * cs0 + dj * cs1;
        w[k] = forwardOffsets[k].w;
    }
    const std::ptrdiff_t dStep = sign * ds1, cStep = sign * cs1;
    const int rows = r.x2 - r.x1 + 1, cols = r.y2 - r.y1 + 1;
    const int jStart = Forward ? r.y1 : r.y2;

    for (int n = 0; n < rows; ++n) {
        const int i = Forward ? r.x1 + n : r.x2 - n;
        int* dp = elementAt(dist, i, jStart);
        Rgb8* cp = elementAt(colour, i, jStart);
        for (int m = 0; m < cols; ++m, dp += dStep, cp += cStep)
            for (int k = 0; k < 8; ++k)
                relaxDistanceWithColour(*dp, *cp, dp[dOff[k]], cp[cOff[k]], w[k]);
        if ((i & 511) == 0 && ui) {
            const int done = Forward ? i - r.x1 : r.x2 - i;
            reportInRange(ui, a, b, float(done) / float(rows));
        }
    }
}

} // namespace

void propagateNearestColourForward(const Rect& r, blitz::Array<int, 2>& dist,
                                   blitz::Array<Rgb8, 2>& colour, IiUI* ui, float a, float b)
{
    propagateNearestColour<true>(r, dist, colour, ui, a, b);
}

void propagateNearestColourBackward(const Rect& r, blitz::Array<int, 2>& dist,
                                    blitz::Array<Rgb8, 2>& colour, IiUI* ui, float a, float b)
{
    propagateNearestColour<false>(r, dist, colour, ui, a, b);
}

namespace {

template <typename T, int V>
constexpr float ribbonAlphaScale()
{
    return sizeof(T) == 1 ? 255.9999f : float(V) + 1.f;
}

} // namespace

template <typename T, int V>
void renderSegmentRibbon(FloatPair P, FloatPair Q, float h, float W, int k,
                         const blitz::Array<Colour<T>, 2>& source, float threshold,
                         blitz::Array<Colour<T>, 2>& destination)
{
    const float dx = Q.x - P.x, dy = Q.y - P.y;
    const float L = float(std::sqrt(double(dx) * dx + double(dy) * dy));
    if (!(L > 0.f))
        return;
    const float ux = dx / L, uy = dy / L;
    const float nx = float(k) * -uy, ny = float(k) * ux;
    const float ex = Q.x + W * ux, ey = Q.y + W * uy;

    const Rect clip = corvath::utility::intersect(domainOf(destination), domainOf(source));
    if (clip.isEmpty())
        return;
    const double widen = std::ceil(double(h));
    int i1, i2, j1, j2;
    if (!pixelSpan(std::min(Q.x, ex), std::max(Q.x, ex), widen, clip.x1, clip.x2, i1, i2) ||
        !pixelSpan(std::min(Q.y, ey), std::max(Q.y, ey), widen, clip.y1, clip.y2, j1, j2))
        return;

    const float minAlpha = threshold * float(V);
    const float K = ribbonAlphaScale<T, V>();
    const std::ptrdiff_t ss1 = source.stride(1), ds1 = destination.stride(1);
    for (int i = i1; i <= i2; ++i) {
        const Colour<T>* srow = elementAt(source, i, j1);
        Colour<T>* drow = elementAt(destination, i, j1);
        const float qx = float(i) + 0.5f - Q.x;
        for (int j = j1, n = 0; j <= j2; ++j, ++n) {
            const float qy = float(j) + 0.5f - Q.y;
            const float t = (qx * ux + qy * uy) / W;
            if (!(t >= 0.f && t < 1.f))
                continue;
            const float d = qx * nx + qy * ny;
            if (!(std::fabs(d) < h))
                continue;
            Colour<T> s = srow[n * ss1];
            if (!(float(s[3]) >= minAlpha))
                continue;
            const float side = std::min(std::max((d / W + 1.f) * 0.5f, 0.f), 1.f);
            const float alpha = (3.f - 2.f * side) * side * side * K;
            s[3] = alpha >= float(V) ? T(V) : T(alpha);
            Colour<T>& dst = drow[n * ds1];
            dst = corvath::matting::blendRgba(1.f - t, s, t, dst);
        }
    }
}

template void renderSegmentRibbon<unsigned char, 255>(FloatPair, FloatPair, float, float, int,
                                                      const blitz::Array<Colour<unsigned char>, 2>&,
                                                      float, blitz::Array<Colour<unsigned char>, 2>&);
template void renderSegmentRibbon<unsigned short, 65535>(
    FloatPair, FloatPair, float, float, int, const blitz::Array<Colour<unsigned short>, 2>&, float,
    blitz::Array<Colour<unsigned short>, 2>&);
template void renderSegmentRibbon<unsigned short, 32768>(
    FloatPair, FloatPair, float, float, int, const blitz::Array<Colour<unsigned short>, 2>&, float,
    blitz::Array<Colour<unsigned short>, 2>&);

void renderJoin(FloatPair previous, FloatPair J, FloatPair next, int e, float R, float w,
                float scale, blitz::Array<short, 2>& field, std::vector<IntPair>& setPositions,
                short unset)
{
    // The float differences multiplied in double: the sign of the turn is exact for them.
    const float ax = J.x - previous.x, ay = J.y - previous.y;
    const float bx = next.x - J.x, by = next.y - J.y;
    const double cross = double(ax) * by - double(ay) * bx;
    if (cross == 0.0)
        return;
    const long long factor = cross > 0.0 ? -(long long)e : (long long)e;

    const Rect clip = domainOf(field);
    if (clip.isEmpty())
        return;
    const double widen = std::ceil(double(R));
    int i1, i2, j1, j2;
    if (!pixelSpan(J.x, J.x, widen, clip.x1, clip.x2, i1, i2) ||
        !pixelSpan(J.y, J.y, widen, clip.y1, clip.y2, j1, j2))
        return;

    const std::ptrdiff_t fs1 = field.stride(1);
    for (int i = i1; i <= i2; ++i) {
        short* row = elementAt(field, i, j1);
        const double cx = double(i) + 0.5 - J.x;
        for (int j = j1, n = 0; j <= j2; ++j, ++n) {
            const double cy = double(j) + 0.5 - J.y;
            const float rho = std::sqrt(float(cx * cx + cy * cy));
            if (!(rho < R))
                continue;
            float q = rho / w;
            if (!(q < 4.f))
                q = 4.f;  // also a zero width
            float m = std::floor(q * scale + 0.5f);
            // Bounded before the conversion: an odd scale must not overflow it.
            if (!(m <= 65536.f))
                m = 65536.f;
            else if (m < -65536.f)
                m = -65536.f;
            const long long v = (long long)m * factor;
            short& cell = row[n * fs1];
            const long long current = cell == unset ? 32768 : std::llabs(cell);
            if (std::llabs(v) < current) {
                if (cell == unset)
                    setPositions.push_back({i, j});
                cell = short(v);
            }
        }
    }
}

} // namespace classification
