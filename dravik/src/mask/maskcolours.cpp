#include "mask/maskcolours.h"

#include "matting/pixelhelpers.h"

#include <cmath>
#include <cstddef>
#include <stdexcept>

namespace classification {

using corvath::utility::covers;
using corvath::utility::domainOf;
using corvath::utility::fitArrayToRect;

namespace {

template <typename T>
T* elementAt(const blitz::Array<T, 2>& a, int i, int j)
{
    return const_cast<T*>(a.data()) + std::ptrdiff_t(i - a.lbound(0)) * a.stride(0) +
           std::ptrdiff_t(j - a.lbound(1)) * a.stride(1);
}

template <typename T>
blitz::Array<T, 2> filledOver(const Rect& r, const T& value)
{
    blitz::Array<T, 2> a;
    fitArrayToRect(a, r);
    std::fill(a.data(), a.data() + a.numElements(), value);
    return a;
}

// The weight of the first cell of the pair and the pair's first index along one axis.
struct CellPair {
    int first;
    float secondWeight;
};

CellPair cellPair(float p, double s)
{
    double f = std::fmod(s / 2 + double(p), s);
    if (f < 0)
        f += s;
    return {int(std::floor(double(p) / s - 0.5)), float(f / s)};
}

} // namespace

ColourSumCell sampleColourPyramid(FloatPair position, const ColourSumPyramid& pyramid)
{
    ColourSumCell result(0.f);
    const ColourSumCell zero(0.f);
    double s = 2.0;
    for (const ColourSumLevel& level : pyramid) {
        const Rect lr = domainOf(level.cells);
        const CellPair px = cellPair(position.x, s), py = cellPair(position.y, s);
        const auto cell = [&](int x, int y) -> const ColourSumCell& {
            return lr.contains(x, y) ? *elementAt(level.cells, x, y) : zero;
        };
        const float fx = px.secondWeight, fy = py.secondWeight;
        accumulateBilinear(result, cell(px.first, py.first), 1.f - fx, 1.f - fy,
                           cell(px.first + 1, py.first), fx, 1.f - fy,
                           cell(px.first, py.first + 1), 1.f - fx, fy,
                           cell(px.first + 1, py.first + 1), fx, fy, float(s * s * s * s));
        if (result[3] * float(s * s * s) > 2.0)
            break;
        s *= 2.0;
    }
    return result;
}

int relaxationSweeps(float patchValueE)
{
    const double t = double(patchValueE) * -99.0;
    if (std::isnan(t))
        return 0;
    const double n = 1.0 - std::trunc(t);
    return n <= 0.0 ? 0 : n >= 100.0 ? 100 : int(n);
}

void relaxRegionColours(const blitz::Array<unsigned char, 2>& labels, const Rect& rect,
                        blitz::Array<Rgb8, 2>& colours, int sweeps)
{
    if (rect.isEmpty() || sweeps <= 0)
        return;
    if (!covers(domainOf(labels), corvath::utility::grow(rect, 1)) ||
        !covers(domainOf(colours), corvath::utility::grow(rect, 1)))
        throw std::invalid_argument("relaxation needs labels and colours one pixel beyond the rectangle");

    const std::ptrdiff_t ls0 = labels.stride(0), ls1 = labels.stride(1);
    const std::ptrdiff_t cs0 = colours.stride(0), cs1 = colours.stride(1);

    // Only the pixels to fill change, and they keep their order within the box that holds them.
    Rect box = Rect::emptyValue();
    for (int i = rect.x1; i <= rect.x2; ++i) {
        const unsigned char* l = elementAt(labels, i, rect.y1);
        for (int j = rect.y1; j <= rect.y2; ++j, l += ls1)
            if (*l == RegionToFill)
                box = corvath::utility::extend(box, {i, j});
    }
    if (box.isEmpty())
        return;

    const std::ptrdiff_t lOff[4] = {-ls0, ls0, -ls1, ls1}, cOff[4] = {-cs0, cs0, -cs1, cs1};
    for (int sweep = 0; sweep < sweeps; ++sweep) {
        for (int i = box.x1; i <= box.x2; ++i) {
            const unsigned char* l = elementAt(labels, i, box.y1);
            Rgb8* c = elementAt(colours, i, box.y1);
            for (int j = box.y1; j <= box.y2; ++j, l += ls1, c += cs1) {
                if (*l != RegionToFill)
                    continue;
                int n = 0, S[3] = {0, 0, 0};
                for (int k = 0; k < 4; ++k) {
                    if (l[lOff[k]] == RegionOther)
                        continue;
                    const Rgb8& q = c[cOff[k]];
                    ++n;
                    S[0] += q[0];
                    S[1] += q[1];
                    S[2] += q[2];
                }
                if (n == 0)
                    continue;
                const float inv = 1.f / float(n);
                for (int ch = 0; ch < 3; ++ch) {
                    const float v = (0.5f - 0.5f * float((*c)[ch])) + (1.5f * float(S[ch])) * inv;
                    (*c)[ch] = corvath::matting::detail::truncateClamped<unsigned char, 255>(v);
                }
            }
        }
    }
}

void runForwardBackwardPasses(const Rect& r, blitz::Array<int, 2>& dist,
                              blitz::Array<Rgb8, 2>& colour, ProgressRange& progress)
{
    const ProgressRange forward = progress.nextStep(0.5f);
    propagateNearestColourForward(r, dist, colour, forward.parent, forward.lo, forward.hi);
    const ProgressRange backward = progress.nextStep(1.f);
    propagateNearestColourBackward(r, dist, colour, backward.parent, backward.lo, backward.hi);
}

void maskRegionPass(blitz::Array<Rgb8, 2>& out, const StatusByteArray& statusView,
                    unsigned char classBit, float patchValueE,
                    const blitz::Array<Colour<unsigned char>, 2>& image, ProgressRange progress)
{
    const Rect r = domainOf(statusView);
    if (r.isEmpty()) {
        out.reference(blitz::Array<Rgb8, 2>());
        return;
    }
    if (!covers(domainOf(image), r))
        throw std::invalid_argument("the working image does not cover the status view");

    const Rect g = corvath::utility::grow(r, 2);
    blitz::Array<unsigned char, 2> labels = filledOver<unsigned char>(g, RegionOther);
    blitz::Array<int, 2> dist = filledOver<int>(g, chamferUnreached);
    blitz::Array<Rgb8, 2> colours = filledOver<Rgb8>(g, Rgb8(0, 0, 0));

    const unsigned char classMask = classBit & 15;
    const std::ptrdiff_t ss1 = statusView.stride(1), is1 = image.stride(1);
    const std::ptrdiff_t ls1 = labels.stride(1), ds1 = dist.stride(1), cs1 = colours.stride(1);
    for (int i = r.x1; i <= r.x2; ++i) {
        const unsigned char* s = elementAt(statusView, i, r.y1);
        const Colour<unsigned char>* p = elementAt(image, i, r.y1);
        unsigned char* l = elementAt(labels, i, r.y1);
        int* d = elementAt(dist, i, r.y1);
        Rgb8* c = elementAt(colours, i, r.y1);
        for (int j = r.y1; j <= r.y2; ++j, s += ss1, p += is1, l += ls1, d += ds1, c += cs1) {
            *c = Rgb8((*p)[0], (*p)[1], (*p)[2]);
            if (*s & classMask) {
                *l = RegionSeed;
                *d = 0;
            } else if ((*s & 192) == 128) {
                *l = RegionToFill;
            }
        }
    }

    runForwardBackwardPasses(r, dist, colours, progress);
    relaxRegionColours(labels, r, colours, relaxationSweeps(patchValueE));
    out.reference(colours);
}

} // namespace classification
