#include "mask/maskcore.h"

#include "mask/maskcolours.h"
#include "matting/pixelhelpers.h"

#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace classification {

using corvath::utility::domainOf;
using corvath::utility::intersect;
using corvath::utility::viewOf;

namespace {

template <typename T>
T* elementAt(const blitz::Array<T, 2>& a, int i, int j)
{
    return const_cast<T*>(a.data()) + std::ptrdiff_t(i - a.lbound(0)) * a.stride(0) +
           std::ptrdiff_t(j - a.lbound(1)) * a.stride(1);
}

inline float clamp01(float v) { return v < 0.f ? 0.f : v > 1.f ? 1.f : v; }

inline int clampInt(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

// Where a full-resolution coordinate falls on the working grid: the bilinear pair (i0, ib),
// the weight f of i0, and the nearest working index in.
struct AxisSample {
    int i0, ib, in;
    float f;
};

AxisSample axisSample(int x, float scale, int lo, int hi)
{
    const double up = (x + 0.5) / scale;
    const double u = up - 0.5;
    AxisSample a;
    a.i0 = clampInt(int(std::floor(u)), lo, hi);
    a.ib = clampInt(int(std::floor(u + 1)), lo, hi);
    a.in = clampInt(int(std::floor(up)), lo, hi);
    a.f = a.i0 == a.ib ? 1.f : float((a.ib + 0.5) - up);
    return a;
}

std::vector<AxisSample> axisSamples(int first, int last, float scale, int lo, int hi)
{
    std::vector<AxisSample> v;
    if (first <= last) {
        v.reserve(std::size_t(last - first + 1));
        for (int x = first; x <= last; ++x)
            v.push_back(axisSample(x, scale, lo, hi));
    }
    return v;
}

// A position's distance ratio: 0 on Keep, 1 on Delete, else the share of the Keep distance.
inline float distanceRatio(unsigned char s, const MarkDistance& d)
{
    if (s & 2)
        return 0.f;
    if (s & 4)
        return 1.f;
    const float sum = d[0] + d[1];
    return sum > 0.f ? d[0] / sum : 0.5f;
}

using Rgb = blitz::TinyVector<float, 3>;

inline float dot(const Rgb& p, const Rgb& q) { return p[0] * q[0] + p[1] * q[1] + p[2] * q[2]; }

// One class's colour estimate from its pyramid: the weighted mean, the pixel's own colour when
// the pyramid holds no weight there.
inline Rgb pyramidColour(const ColourSumCell& c, float scale, const Rgb& own)
{
    if (!(c[3] != 0.f))
        return own;
    const float k = scale / c[3];
    return Rgb(c[0] * k, c[1] * k, c[2] * k);
}

// Every working pixel of column p (within [y1, y2]) with the pending bit gets the decided bit;
// with `finish` the pending bit is cleared as well.
void markColumn(StatusByteArray& status, int p, int y1, int y2, bool finish)
{
    unsigned char* s = elementAt(status, p, y1);
    const std::ptrdiff_t ss1 = status.stride(1);
    for (int y = y1; y <= y2; ++y, s += ss1)
        if (*s & 128)
            *s = finish ? (*s & 63) | 64 : *s | 64;
}

template <typename T, int M, typename W>
int maskCoreBody(const MaskCoreSession& session, ColourImage<T>& out, const ColourImage<T>& source,
                 const ColourImage<W>& working, StatusByteArray& status, const Rect& rectIn,
                 const Rect& sampleRect, FloatPair scale, const StatusByteArray& blendPlane,
                 const MarkDistances& distances, int colourModel, float patchValueE,
                 ProgressRange progress)
{
    if (!(scale.x > 0.f) || !(scale.y > 0.f))
        throw std::invalid_argument("the mask core needs a positive scale");
    const Rect rect = intersect(intersect(rectIn, domainOf(status)),
                                intersect(domainOf(blendPlane), domainOf(distances)));
    if (rect.isEmpty())
        return 0;
    const int x1 = rect.x1, y1 = rect.y1, x2 = rect.x2, y2 = rect.y2;

    // Full-resolution rectangle.
    Rect full{int(float(x1) * scale.x), int(float(y1) * scale.y),
              int(double(float(x2 + 1) * scale.x) - 1.0), int(double(float(y2 + 1) * scale.y) - 1.0)};
    if (full.x1 > full.x2)
        std::swap(full.x1, full.x2);
    if (full.y1 > full.y2)
        std::swap(full.y1, full.y2);
    full = intersect(intersect(full, domainOf(out)), domainOf(source));

    // Colour models.
    const float fullScale = float(M);
    ColourSumPyramid keepPyramid, deletePyramid;
    blitz::Array<Rgb8, 2> keepColours, deleteColours;
    Rect regionRect;
    if (colourModel == ColourPyramids) {
        const Rect sr = intersect(intersect(sampleRect, domainOf(working)), domainOf(status));
        const ColourImage<W> view = sr.isEmpty() ? ColourImage<W>() : viewOf(working, sr);
        ProgressRange keep = progress.nextStep(0.3f);
        keepPyramid = buildBoundaryColourPyramid<W>(status, 2, view, keep.parent, keep.lo, keep.hi);
        ProgressRange drop = progress.nextStep(0.4f);
        deletePyramid = buildBoundaryColourPyramid<W>(status, 4, view, drop.parent, drop.lo, drop.hi);
    } else if (colourModel == RegionColours) {
        regionRect = intersect(intersect(sampleRect, domainOf(status)), domainOf(session.image));
        const StatusByteArray view = regionRect.isEmpty() ? StatusByteArray() : viewOf(status, regionRect);
        maskRegionPass(keepColours, view, 2, patchValueE, session.image, progress.nextStep(0.3f));
        maskRegionPass(deleteColours, view, 4, patchValueE, session.image, progress.nextStep(0.4f));
    }
    ProgressRange sweep = progress.nextStep(1.f);
    // One 8-bit level in samples of M: colours of an 8-bit working image or region image are
    // scaled by it, and so is the colour distance over which the projection takes over.
    const float unit = fullScale / 255.f;
    const float workingScale = sizeof(W) == 1 ? unit : 1.f;
    const float regionScale = unit;

    const std::vector<AxisSample> columns = axisSamples(full.x1, full.x2, scale.x, x1, x2);
    const std::vector<AxisSample> rows = axisSamples(full.y1, full.y2, scale.y, y1, y2);

    // Model 2 samples depend only on the nearest working pixel: cached per working row of
    // the current working column.
    struct PyramidSample {
        int column = -1;
        ColourSumCell keep, drop;
    };
    std::vector<PyramidSample> pyramidCache;
    if (colourModel == ColourPyramids && !rows.empty())
        pyramidCache.resize(std::size_t(y2 - y1 + 1));

    const std::ptrdiff_t ss0 = status.stride(0), ss1 = status.stride(1);
    const std::ptrdiff_t bs0 = blendPlane.stride(0), bs1 = blendPlane.stride(1);
    const std::ptrdiff_t ds0 = distances.stride(0), ds1 = distances.stride(1);
    const std::ptrdiff_t os1 = out.stride(1), is0 = source.stride(0), is1 = source.stride(1);
    const unsigned char* const statusBase = elementAt(status, x1, y1);
    const unsigned char* const blendBase = elementAt(blendPlane, x1, y1);
    const MarkDistance* const distanceBase = elementAt(distances, x1, y1);
    const float gate = fullScale * session.minimumOpacity;
    const int firstSourceColumn = source.lbound(0);
    const float outWidth = float(out.extent(0));

    int p = x1;
    for (std::size_t cx = 0; cx < columns.size(); ++cx) {
        const int x = full.x1 + int(cx);
        const AxisSample& col = columns[cx];
        if (col.i0 != p) {
            markColumn(status, p, y1, y2, false);
            p = col.i0;
        }
        const float fx = col.f;
        const std::ptrdiff_t sc0 = (col.i0 - x1) * ss0, scb = (col.ib - x1) * ss0,
                             scn = (col.in - x1) * ss0;
        const std::ptrdiff_t bc0 = (col.i0 - x1) * bs0, bcb = (col.ib - x1) * bs0;
        const std::ptrdiff_t dc0 = (col.i0 - x1) * ds0, dcb = (col.ib - x1) * ds0;
        int rx0 = 0, rxb = 0;
        if (colourModel == RegionColours && !regionRect.isEmpty()) {
            rx0 = clampInt(col.i0, regionRect.x1, regionRect.x2);
            rxb = clampInt(col.ib, regionRect.x1, regionRect.x2);
        }

        Colour<T>* o = elementAt(out, x, full.y1);
        const Colour<T>* src = elementAt(source, x, full.y1);
        for (std::size_t cy = 0; cy < rows.size(); ++cy, o += os1, src += is1) {
            const Colour<T>& px = *src;
            if (float(px[3]) < gate)
                continue;
            const AxisSample& row = rows[cy];
            const unsigned char nearest = statusBase[scn + (row.in - y1) * ss1];
            if ((nearest & 64) || !(nearest & 128))
                continue;

            const float fy = row.f;
            const float w00 = fx * fy, wb0 = (1.f - fx) * fy, w0b = fx * (1.f - fy),
                        wbb = (1.f - fx) * (1.f - fy);
            const std::ptrdiff_t sr0 = (row.i0 - y1) * ss1, srb = (row.ib - y1) * ss1;
            const unsigned char s00 = statusBase[sc0 + sr0], sb0 = statusBase[scb + sr0],
                                s0b = statusBase[sc0 + srb], sbb = statusBase[scb + srb];
            const float K = w00 * float((s00 >> 1) & 1) + wb0 * float((sb0 >> 1) & 1) +
                            w0b * float((s0b >> 1) & 1) + wbb * float((sbb >> 1) & 1);
            const float D = w00 * float((s00 >> 2) & 1) + wb0 * float((sb0 >> 2) & 1) +
                            w0b * float((s0b >> 2) & 1) + wbb * float((sbb >> 2) & 1);
            if (K > 0.99f) {
                (*o)[0] = px[0];
                (*o)[1] = px[1];
                (*o)[2] = px[2];
                (*o)[3] = T(M);
                continue;
            }
            if (D > 0.99f) {
                (*o)[0] = (*o)[1] = (*o)[2] = (*o)[3] = 0;
                continue;
            }

            // Mixed pixel: colour projection onto the segment from F to B, blended with a
            // smooth ramp over the distances.
            const int y = full.y1 + int(cy);
            const Rgb I = Rgb(float(px[0]), float(px[1]), float(px[2]));
            const Colour<T>& left = x > full.x1 ? src[-is0] : px;
            const Colour<T>& right = x < full.x2 ? src[is0] : px;
            const Colour<T>& up = y > full.y1 ? src[-is1] : px;
            const Colour<T>& down = y < full.y2 ? src[is1] : px;
            const Rgb Cm(float(median5(px[0], left[0], right[0], up[0], down[0])),
                         float(median5(px[1], left[1], right[1], up[1], down[1])),
                         float(median5(px[2], left[2], right[2], up[2], down[2])));

            Rgb F(0.f), B(0.f);
            if (colourModel == ColourPyramids) {
                PyramidSample& c = pyramidCache[std::size_t(row.in - y1)];
                if (c.column != col.in) {
                    const FloatPair at{float(col.in), float(row.in)};
                    c.keep = sampleColourPyramid(at, keepPyramid);
                    c.drop = sampleColourPyramid(at, deletePyramid);
                    c.column = col.in;
                }
                F = pyramidColour(c.keep, workingScale, I);
                B = pyramidColour(c.drop, workingScale, I);
            } else if (colourModel == RegionColours && !regionRect.isEmpty()) {
                const int ry0 = clampInt(row.i0, regionRect.y1, regionRect.y2);
                const int ryb = clampInt(row.ib, regionRect.y1, regionRect.y2);
                const auto sample = [&](const blitz::Array<Rgb8, 2>& image) {
                    const Rgb8 &a = *elementAt(image, rx0, ry0), &b = *elementAt(image, rxb, ry0),
                               &c = *elementAt(image, rx0, ryb), &d = *elementAt(image, rxb, ryb);
                    Rgb v;
                    for (int ch = 0; ch < 3; ++ch)
                        v[ch] = (w00 * float(a[ch]) + wb0 * float(b[ch]) + w0b * float(c[ch]) +
                                 wbb * float(d[ch])) *
                                regionScale;
                    return v;
                };
                F = sample(keepColours);
                B = sample(deleteColours);
            }
            for (int ch = 0; ch < 3; ++ch) {
                F[ch] = K * I[ch] + (1.f - K) * F[ch];
                B[ch] = D * I[ch] + (1.f - D) * B[ch];
            }

            const Rgb E(B[0] - F[0], B[1] - F[1], B[2] - F[2]);
            const float q2 = float(double(E[0]) * E[0] + double(E[1]) * E[1] + double(E[2]) * E[2]);
            const float len = std::sqrt(q2);

            const float a = (w00 * float(blendBase[bc0 + (row.i0 - y1) * bs1]) +
                             wb0 * float(blendBase[bcb + (row.i0 - y1) * bs1]) +
                             w0b * float(blendBase[bc0 + (row.ib - y1) * bs1]) +
                             wbb * float(blendBase[bcb + (row.ib - y1) * bs1])) /
                            255.f;
            const float k = 4.f + 12.f * std::min(1.f, 3.f * a);
            const float reach = 2.828f * k * unit;
            const float w = clamp01(1.f - std::max(0.f, 1.5f * (a - 1.f / 3.f))) *
                            clamp01((len - reach) / reach);

            float A = 0.f;
            if (w != 1.f) {
                const std::ptrdiff_t dr0 = (row.i0 - y1) * ds1, drb = (row.ib - y1) * ds1;
                const float r = w00 * distanceRatio(s00, distanceBase[dc0 + dr0]) +
                                wb0 * distanceRatio(sb0, distanceBase[dcb + dr0]) +
                                w0b * distanceRatio(s0b, distanceBase[dc0 + drb]) +
                                wbb * distanceRatio(sbb, distanceBase[dcb + drb]);
                const float ramp = r * r * r * (r * (6.f * r - 15.f) + 10.f);
                A = ramp * (1.f - w);
            }
            if (w != 0.f) {
                const Rgb cf(Cm[0] - F[0], Cm[1] - F[1], Cm[2] - F[2]);
                const Rgb pf(I[0] - F[0], I[1] - F[1], I[2] - F[2]);
                const float t1 = dot(cf, E) / q2, t2 = dot(pf, E) / q2;
                A += w * clamp01(t1 * (1.f - t1 + t2));
            }

            for (int ch = 0; ch < 3; ++ch)
                (*o)[ch] = corvath::matting::detail::truncateClamped<T, M>(I[ch] - A * E[ch]);
            (*o)[3] = corvath::matting::detail::truncateClamped<T, M>((fullScale + 0.99f) * (1.f - A));
        }
        if ((x & 15) == 0)
            sweep.report(std::string(), float(x - firstSourceColumn + 1) / outWidth);
    }
    markColumn(status, p, y1, y2, true);
    return 0;
}

} // namespace

template <typename T>
int computeMaskCore(const MaskCoreSession& session, ColourImage<T>& out, const ColourImage<T>& source,
                    const ColourImage<T>& working, StatusByteArray& status, const Rect& rect,
                    const Rect& sampleRect, FloatPair scale, const StatusByteArray& blendPlane,
                    const MarkDistances& distances, int colourModel, float patchValueE,
                    ProgressRange progress)
{
    constexpr int M = sizeof(T) == 1 ? corvath::matting::fullScale8 : corvath::matting::fullScale16;
    return maskCoreBody<T, M, T>(session, out, source, working, status, rect, sampleRect, scale,
                                 blendPlane, distances, colourModel, patchValueE, progress);
}

template <typename T>
int computeMaskCoreVariant(const MaskCoreSession& session, ColourImage<T>& out,
                           const ColourImage<T>& source, const ColourImage<T>& working,
                           StatusByteArray& status, const Rect& rect, const Rect& sampleRect,
                           FloatPair scale, const StatusByteArray& blendPlane,
                           const MarkDistances& distances, int colourModel, float patchValueE,
                           ProgressRange progress)
{
    return maskCoreBody<T, corvath::matting::halfScale16, T>(session, out, source, working, status,
                                                             rect, sampleRect, scale, blendPlane,
                                                             distances, colourModel, patchValueE,
                                                             progress);
}

template <typename T>
int invokeMaskCore(const MaskCoreSession& session, ColourImage<T>& out, const ColourImage<T>& source,
                   const ColourImage<unsigned char>& working, StatusByteArray& status,
                   const Rect& rect, const Rect& sampleRect, FloatPair scale,
                   const StatusByteArray& blendPlane, const MarkDistances& distances,
                   int colourModel, float patchValueE, ProgressRange progress)
{
    ColourImage<T> target(out);
    constexpr int M = sizeof(T) == 1 ? corvath::matting::fullScale8 : corvath::matting::fullScale16;
    return maskCoreBody<T, M, unsigned char>(session, target, source, working, status, rect,
                                             sampleRect, scale, blendPlane, distances, colourModel,
                                             patchValueE, progress);
}

template <typename T>
int invokeMaskCoreVariant(const MaskCoreSession& session, ColourImage<T>& out,
                          const ColourImage<T>& source, const ColourImage<unsigned char>& working,
                          StatusByteArray& status, const Rect& rect, const Rect& sampleRect,
                          FloatPair scale, const StatusByteArray& blendPlane,
                          const MarkDistances& distances, int colourModel, float patchValueE,
                          ProgressRange progress)
{
    ColourImage<T> target(out);
    return maskCoreBody<T, corvath::matting::halfScale16, unsigned char>(
        session, target, source, working, status, rect, sampleRect, scale, blendPlane, distances,
        colourModel, patchValueE, progress);
}

#define DRAVIK_MASK_CORE_ARGS(T, W)                                                                \
    const MaskCoreSession&, ColourImage<T>&, const ColourImage<T>&, const ColourImage<W>&,         \
        StatusByteArray&, const Rect&, const Rect&, FloatPair, const StatusByteArray&,             \
        const MarkDistances&, int, float, ProgressRange

template int computeMaskCore<unsigned char>(DRAVIK_MASK_CORE_ARGS(unsigned char, unsigned char));
template int computeMaskCore<unsigned short>(DRAVIK_MASK_CORE_ARGS(unsigned short, unsigned short));
template int computeMaskCoreVariant<unsigned short>(
    DRAVIK_MASK_CORE_ARGS(unsigned short, unsigned short));
template int invokeMaskCore<unsigned char>(DRAVIK_MASK_CORE_ARGS(unsigned char, unsigned char));
template int invokeMaskCore<unsigned short>(DRAVIK_MASK_CORE_ARGS(unsigned short, unsigned char));
template int invokeMaskCoreVariant<unsigned short>(
    DRAVIK_MASK_CORE_ARGS(unsigned short, unsigned char));

#undef DRAVIK_MASK_CORE_ARGS

} // namespace classification
