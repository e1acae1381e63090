#include "matting/solver.h"

#include "bands.h"
#include "common/border.h"
#include "analysis/percentile.h"
#include "matting/palettes.h"
#include "platform/clock.h"

#include <boost/thread/thread.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <exception>
#include <mutex>
#include <string>
#include <vector>

namespace corvath::matting {

using classification::StatusByteArray;
using utility::domainOf;
using utility::intersect;

namespace {

// The element at (i, j); data() is the element at the lower bounds.
template <typename E>
E* elementAt(const blitz::Array<E, 2>& a, int i, int j)
{
    return const_cast<E*>(a.data()) + std::ptrdiff_t(i - a.lbound(0)) * a.stride(0) +
           std::ptrdiff_t(j - a.lbound(1)) * a.stride(1);
}

// How the full-resolution positions of one axis of R meet the status grid.
struct AxisMap {
    std::vector<int> lower;    // the lower status neighbour, clamped into the rectangle
    std::vector<int> upper;    // the upper status neighbour, clamped likewise
    std::vector<float> weight; // the lower neighbour's bilinear weight
    std::vector<int> nearest;  // floor((x + 0.5) / s), clamped: the status pixel x belongs to
};

AxisMap mapAxis(int lo, int hi, float s, int r1, int r2)
{
    AxisMap m;
    const std::size_t n = std::size_t(hi - lo + 1);
    m.lower.resize(n);
    m.upper.resize(n);
    m.weight.resize(n);
    m.nearest.resize(n);
    for (int x = lo; x <= hi; ++x) {
        const std::size_t k = std::size_t(x - lo);
        const float u = (float(x) + 0.5f) / s;
        const int a = std::clamp(int(std::floor(u - 0.5f)), r1, r2);
        const int b = std::clamp(int(std::floor(u + 0.5f)), r1, r2);
        m.lower[k] = a;
        m.upper[k] = b;
        m.weight[k] = a == b ? 1.f : (float(b) + 0.5f) - u;
        // The mask core's rule, in its arithmetic, so that the two passes part the
        // full-resolution pixels between them without a gap or an overlap.
        m.nearest[k] = std::clamp(int(std::floor((double(x) + 0.5) / double(s))), r1, r2);
    }
    return m;
}

// The bilinear shares of Keep and of Drop among the four status neighbours of a pixel.
struct ClassWeights {
    float keep;
    float drop;
};

struct StatusGrid {
    const StatusByteArray& status;
    const AxisMap& mx;
    const AxisMap& my;
    int lx, ly;

    unsigned char at(int sx, int sy) const { return *elementAt(status, sx, sy); }
    // The class of a full-resolution pixel, as the Keep-border transfer reads it: that of its
    // lower neighbour.
    unsigned char of(int x, int y) const
    {
        return at(mx.lower[std::size_t(x - lx)], my.lower[std::size_t(y - ly)]);
    }
    // Whether the pixel is the solver's to write: decided by the status pixel it lies in, the
    // rule by which the mask core takes its own, so that along a patch's edges every pixel is
    // written by one of the two and none past the patch.
    bool open(int x, int y) const
    {
        const unsigned char s = at(mx.nearest[std::size_t(x - lx)], my.nearest[std::size_t(y - ly)]);
        return (s & 128) && !(s & 64);
    }
    ClassWeights weights(int x, int y) const
    {
        const std::size_t i = std::size_t(x - lx), j = std::size_t(y - ly);
        const int x0 = mx.lower[i], x1 = mx.upper[i], y0 = my.lower[j], y1 = my.upper[j];
        const float wx = mx.weight[i], wy = my.weight[j];
        const float w[4] = {wx * wy, wx * (1.f - wy), (1.f - wx) * wy, (1.f - wx) * (1.f - wy)};
        const unsigned char s[4] = {at(x0, y0), at(x0, y1), at(x1, y0), at(x1, y1)};
        ClassWeights c{0.f, 0.f};
        for (int n = 0; n < 4; ++n) {
            c.keep += w[n] * ((s[n] & 2) ? 1.f : 0.f);
            c.drop += w[n] * ((s[n] & 4) ? 1.f : 0.f);
        }
        return c;
    }
};

constexpr float certain = 0.99f;

// A solved pixel whose output mixes the estimates, rather than copying or clearing it.
bool mixes(const ClassWeights& c)
{
    return !(c.keep > certain) && !(c.drop > certain);
}

// (1 − p)^n · 215 + 5 by repeated squaring, products in double stored as float.
float paletteDistance(float detail, int n)
{
    const float p = detail >= 0.f ? std::min(detail, 1.f) : 0.f; // NaN reads as 0
    const float base = 1.f - p;
    float result = 1.f, square = base;
    for (int e = n; e > 0; e >>= 1) {
        if (e & 1)
            result = float(double(result) * double(square));
        square = float(double(square) * double(square));
    }
    return float(double(result) * 215.0 + 5.0);
}

// Offsets of the eight neighbours in the order in which the Keep-border transfer visits them.
constexpr int neighbourOffsets[8][2] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1},
                                        {0, 1},   {1, -1}, {1, 0},  {1, 1}};

// Bits of the work map over R.
constexpr std::uint8_t needsPost = 1;  // the smoothed estimates of a mixing pixel read this one
constexpr std::uint8_t needsPre = 2;   // its estimate before the Keep-border transfer is read
constexpr std::uint8_t isOpen = 4;
constexpr std::uint8_t isMixing = 8;

template <typename T>
void copyInside(blitz::Array<StoredColour<T>, 2>& to, const blitz::Array<StoredColour<T>, 2>& from,
                const Rect& r)
{
    for (int x = r.x1; x <= r.x2; ++x) {
        StoredColour<T>* d = elementAt(to, x, r.y1);
        const StoredColour<T>* s = elementAt(from, x, r.y1);
        const std::ptrdiff_t ds = to.stride(1), ss = from.stride(1);
        for (int y = r.y1; y <= r.y2; ++y, d += ds, s += ss)
            *d = *s;
    }
}

// Median of each channel over the 3 x 3 neighbourhood, padded by replicating R's border;
// reports after each channel at the given positions. `estimate` then holds the result and
// `spare` the old values.
template <typename T>
void smoothEstimate(blitz::Array<StoredColour<T>, 2>& estimate, blitz::Array<StoredColour<T>, 2>& spare,
                    const Rect& r, const blitz::Array<int, 2>& window, ProgressRange& progress,
                    float firstReport)
{
    classification::replicateBorder(r, estimate);
    for (int c = 0; c < 3; ++c) {
        blitz::Array<T, 2> in = estimate[c];
        blitz::Array<T, 2> out = spare[c];
        classification::processOneChannelImage(out, in, window, 0, 255, 0.5f, nullptr, 0.f, 0.f);
        progress.report(std::string(), firstReport + 0.1f * float(c));
    }
    blitz::Array<StoredColour<T>, 2> previous;
    previous.reference(estimate);
    estimate.reference(spare);
    spare.reference(previous);
}

} // namespace

namespace detail {

template <typename T, int V>
int solveMatteOnScale(const blitz::Array<Colour<T>, 2>& source, StatusByteArray& status,
                      blitz::Array<Colour<T>, 2> output, const Rect& rectangle, FloatPair factor,
                      const classification::MaskPatch& patch, ProgressRange progress,
                      const SolveOptions& options)
{
    // Colour distances are set in 8-bit units; 16-bit samples measure them in their own.
    const double unit = double(V) / 255.0;
    const float sx = factor.x, sy = factor.y;
    const Rect sr = intersect(rectangle, domainOf(status));

    // Set-up.
    Rect r{0, 0, -1, -1};
    if (!sr.isEmpty() && sx > 0.f && sy > 0.f) {
        r = {int(float(sr.x1) * sx), int(float(sr.y1) * sy), int(double(float(sr.x2 + 1) * sx) - 1.0),
             int(double(float(sr.y2 + 1) * sy) - 1.0)};
        if (r.x1 > r.x2)
            std::swap(r.x1, r.x2);
        if (r.y1 > r.y2)
            std::swap(r.y1, r.y2);
        // Never past the arrays, whatever the divisor left at the image's edge.
        r = intersect(intersect(r, domainOf(source)), intersect(domainOf(output), Rect{0, 0, INT_MAX, INT_MAX}));
    }
    progress.report(std::string(), 0.05f);

    const double distanceF = double(paletteDistance(patch.valueA, 5)) * unit;
    const double distanceB = double(paletteDistance(patch.valueB, 3)) * unit;

    // Anything to do?
    bool anyOpen = false;
    for (int x = sr.x1; x <= sr.x2 && !anyOpen; ++x)
        for (int y = sr.y1; y <= sr.y2; ++y) {
            const unsigned char s = *elementAt(status, x, y);
            if ((s & 128) && !(s & 64)) {
                anyOpen = true;
                break;
            }
        }
    if (!anyOpen || r.isEmpty())
        return 0;

    const AxisMap mx = mapAxis(r.x1, r.x2, sx, sr.x1, sr.x2);
    const AxisMap my = mapAxis(r.y1, r.y2, sy, sr.y1, sr.y2);
    const StatusGrid grid{status, mx, my, r.x1, r.y1};
    const auto isKeep = [&](int x, int y) { return (grid.of(x, y) & 2) != 0; };
    // The neighbour whose background estimate a Keep pixel on the Keep border takes.
    const auto transferFrom = [&](int x, int y, int& nx, int& ny) {
        for (const auto& o : neighbourOffsets) {
            const int px = std::clamp(x + o[0], r.x1, r.x2), py = std::clamp(y + o[1], r.y1, r.y2);
            if (!(grid.at(mx.nearest[std::size_t(px - r.x1)], my.nearest[std::size_t(py - r.y1)]) & 2)) {
                nx = px;
                ny = py;
                return true;
            }
        }
        return false;
    };

    // Which pixels need an estimate: the output of a mixing pixel reads the smoothed
    // estimates of its 3 x 3 neighbourhood, and the transfer may carry a background estimate
    // along the Keep border from further away, so its dependencies are traced back.
    const int width = r.y2 - r.y1 + 1;
    std::vector<std::uint8_t> work(std::size_t(r.width() * r.height()), 0);
    const auto workAt = [&](int x, int y) -> std::uint8_t& {
        return work[std::size_t(x - r.x1) * std::size_t(width) + std::size_t(y - r.y1)];
    };
    bool openInR = false;
    for (int x = r.x1; x <= r.x2; ++x)
        for (int y = r.y1; y <= r.y2; ++y)
            if (grid.open(x, y)) {
                openInR = true;
                workAt(x, y) |= mixes(grid.weights(x, y)) ? isOpen | isMixing : isOpen;
            }
    if (!openInR)
        return 0;
    if (options.estimateEveryOpenPixel) {
        for (std::uint8_t& w : work)
            if (w & isOpen)
                w |= needsPre;
    } else {
        for (int x = r.x1; x <= r.x2; ++x)
            for (int y = r.y1; y <= r.y2; ++y)
                if (workAt(x, y) & isMixing)
                    for (int i = std::max(x - 1, r.x1); i <= std::min(x + 1, r.x2); ++i)
                        for (int j = std::max(y - 1, r.y1); j <= std::min(y + 1, r.y2); ++j)
                            workAt(i, j) |= needsPost;
        for (int x = r.x2; x >= r.x1; --x)
            for (int y = r.y2; y >= r.y1; --y) {
                if (!(workAt(x, y) & needsPost))
                    continue;
                int nx = x, ny = y;
                if (!isKeep(x, y) || !transferFrom(x, y, nx, ny) || (nx == x && ny == y))
                    workAt(x, y) |= needsPre;
                else if (nx < x || (nx == x && ny < y))
                    workAt(nx, ny) |= needsPost; // already transferred when (x, y) reads it
                else
                    workAt(nx, ny) |= needsPre;
            }
    }

    // Pyramids.
    MattingSampler sampler{status, 1.f / sx, 1.f / sy, 2};
    const double singular = 1e-5 * std::pow(unit, 6);
    MattingPyramid<T> foreground, background;
    foreground.colourUnit = background.colourUnit = unit;
    solvePyramid(foreground, source, sampler, distanceF, singular,
                 ProgressRange(progress.parent, progress.at(0.05f), progress.at(0.1f)));
    sampler.classBits = 4;
    solvePyramid(background, source, sampler, distanceB, singular,
                 ProgressRange(progress.parent, progress.at(0.1f), progress.at(0.2f)));
    if (foreground.empty() || background.empty())
        return 1;

    // Estimates, over R grown by one for the smoothing.
    Rect padded = r;
    padded.inflate(1);
    blitz::Array<StoredColour<T>, 2> fpad, bpad, spare;
    utility::fitArrayToRect(fpad, padded);
    utility::fitArrayToRect(bpad, padded);
    utility::fitArrayToRect(spare, padded);
    for (int x = r.x1; x <= r.x2; ++x) {
        const Colour<T>* s = elementAt(source, x, r.y1);
        StoredColour<T>* f = elementAt(fpad, x, r.y1);
        StoredColour<T>* b = elementAt(bpad, x, r.y1);
        for (int y = 0; y < width; ++y, s += source.stride(1))
            f[y] = b[y] = StoredColour<T>((*s)[0], (*s)[1], (*s)[2]);
    }

    // Estimation: pixels are independent, so rows go to whichever thread is free. An empty
    // palette was ruled out above; should one still turn up, the patch fails as a whole.
    try {
        ProgressRange estimation(progress.parent, progress.at(0.2f), progress.at(0.85f));
        const float threshold = float(-0.01 * unit);
        const int rows = r.x2 - r.x1 + 1;
        std::atomic<int> nextRow{r.x1};
        std::atomic<bool> stop{false};
        std::mutex failureLock;
        std::exception_ptr failure;
        const auto estimateRow = [&](int x, PaletteScratch<T>& scratch) {
            const std::uint8_t* w = &workAt(x, r.y1);
            const Colour<T>* s = elementAt(source, x, r.y1);
            StoredColour<T>* f = elementAt(fpad, x, r.y1);
            StoredColour<T>* b = elementAt(bpad, x, r.y1);
            const std::ptrdiff_t ss = source.stride(1);
            for (int y = 0; y < width; ++y) {
                if (!(w[y] & (needsPre | needsPost)) || !(w[y] & isOpen))
                    continue;
                const Colour<T>& c = s[std::ptrdiff_t(y) * ss];
                const SolverColour colour{float(c[0]), float(c[1]), float(c[2])};
                SolverColour fc, bc;
                float alpha;
                buildPalettes(fc, bc, x, r.y1 + y, alpha, foreground, background, colour, 0, 0,
                              threshold, scratch);
                f[y] = truncateColour<T>(fc);
                b[y] = truncateColour<T>(bc);
            }
        };
        const auto worker = [&] {
            try {
                PaletteScratch<T> scratch;
                for (int x; !stop.load(std::memory_order_relaxed) && (x = nextRow++) <= r.x2;)
                    estimateRow(x, scratch);
            } catch (...) {
                std::lock_guard<std::mutex> hold(failureLock);
                if (!failure)
                    failure = std::current_exception();
                stop = true;
            }
        };
        boost::thread_group workers;
        // Stops and joins the workers on every way out, a cancel from a report included.
        struct Joiner {
            boost::thread_group& group;
            std::atomic<bool>& stop;
            ~Joiner()
            {
                stop = true;
                group.join_all();
            }
        } joiner{workers, stop};
        const int threads = int(std::min<unsigned>(platform::processorCount(), unsigned(rows)));
        try {
            for (int t = 1; t < threads; ++t)
                workers.create_thread(worker);
        } catch (const boost::thread_resource_error&) {
            // Fewer threads than asked for: the ones running share the rows.
        }
        PaletteScratch<T> scratch;
        for (int x; !stop.load(std::memory_order_relaxed) && (x = nextRow++) <= r.x2;) {
            estimateRow(x, scratch);
            if (x % 2 == 0)
                estimation.report(std::string(), float(x - r.x1) / float(rows));
        }
        stop = true;
        workers.join_all();
        if (failure)
            std::rethrow_exception(failure);
    } catch (const EmptyPalette&) {
        return 1;
    }
    progress.position = 0.85f;

    // Smoothing.
    {
        ProgressRange smoothing = progress.nextStep(0.75f);
        blitz::Array<int, 2> window(blitz::Range(-1, 1), blitz::Range(-1, 1));
        window = 1;
        smoothEstimate(fpad, spare, r, window, smoothing, 0.1f);
        smoothing.report(std::string(), 0.4f);

        // Along the Keep border the background estimate comes from outside the Keep area.
        for (int x = r.x1; x <= r.x2; ++x)
            for (int y = r.y1; y <= r.y2; ++y) {
                int nx, ny;
                if (isKeep(x, y) && transferFrom(x, y, nx, ny))
                    *elementAt(bpad, x, y) = *elementAt(bpad, nx, ny);
            }
        smoothing.report(std::string(), 0.5f);
        smoothEstimate(bpad, spare, r, window, smoothing, 0.6f);
        smoothing.report(std::string(), 0.9f);
    }

    // Output.
    {
        ProgressRange writing = progress.nextStep(0.95f);
        const float ramp = float(11.312 * unit);
        const int rows = r.x2 - r.x1 + 1;
        for (int x = r.x1; x <= r.x2; ++x) {
            const std::uint8_t* w = &workAt(x, r.y1);
            const Colour<T>* s = elementAt(source, x, r.y1);
            Colour<T>* o = elementAt(output, x, r.y1);
            const StoredColour<T>* fe = elementAt(fpad, x, r.y1);
            const StoredColour<T>* be = elementAt(bpad, x, r.y1);
            const std::ptrdiff_t ss = source.stride(1), os = output.stride(1);
            for (int y = 0; y < width; ++y) {
                if (!(w[y] & isOpen))
                    continue;
                const Colour<T>& src = s[std::ptrdiff_t(y) * ss];
                Colour<T>& out = o[std::ptrdiff_t(y) * os];
                const ClassWeights cw = grid.weights(x, r.y1 + y);
                if (cw.keep > certain) {
                    out[0] = src[0];
                    out[1] = src[1];
                    out[2] = src[2];
                    out[3] = T(V);
                    continue;
                }
                if (cw.drop > certain) {
                    out[0] = out[1] = out[2] = out[3] = T(0);
                    continue;
                }
                const float k = cw.keep, d = cw.drop;
                float c[3], fp[3], bp[3], dv[3];
                double l2 = 0.0;
                for (int ch = 0; ch < 3; ++ch) {
                    c[ch] = float(src[ch]);
                    fp[ch] = k * c[ch] + (1.f - k) * float(fe[y][ch]);
                    bp[ch] = d * c[ch] + (1.f - d) * float(be[y][ch]);
                    dv[ch] = bp[ch] - fp[ch];
                    l2 += double(dv[ch]) * double(dv[ch]);
                }
                const float len = float(std::sqrt(l2));
                const float ramped = std::clamp((len - ramp) / ramp, 0.f, 1.f);
                float t = 0.f;
                if (ramped != 0.f) {
                    const float along = ((c[0] - fp[0]) * dv[0] + (c[1] - fp[1]) * dv[1] +
                                         (c[2] - fp[2]) * dv[2]) / float(l2);
                    t = ramped * std::clamp(along, 0.f, 1.f);
                }
                const SolverColour colour(c[0] - t * dv[0], c[1] - t * dv[1], c[2] - t * dv[2]);
                StoredColour<T> stored;
                if constexpr (V == fullScale8)
                    stored = clampColour8(colour);
                else if constexpr (V == fullScale16)
                    stored = toFullRange16(colour);
                else
                    stored = toHalfRange16(colour);
                const double smooth = (double(t) * t * t * (t * (6.0 * t - 15.0) + 10.0) + t) / 2.0;
                out[0] = stored[0];
                out[1] = stored[1];
                out[2] = stored[2];
                out[3] = T((double(V) + 0.99) * (1.0 - smooth));
            }
            if (x % 16 == 0)
                writing.report(std::string(), float(x - r.x1) / float(rows));
        }
    }
    progress.report(std::string(), 0.98f);

    // Status flags: decided by matting.
    for (int x = sr.x1; x <= sr.x2; ++x)
        for (int y = sr.y1; y <= sr.y2; ++y) {
            unsigned char& s = *elementAt(status, x, y);
            if (s & 128)
                s = (s & 63) | 64;
        }
    return 0;
}

} // namespace detail

template <typename T>
int solveMatte(const blitz::Array<Colour<T>, 2>& source, StatusByteArray& status,
               blitz::Array<Colour<T>, 2> output, const Rect& rectangle, FloatPair factor,
               const classification::MaskPatch& patch, ProgressRange progress)
{
    constexpr int scale = sizeof(T) == 1 ? fullScale8 : fullScale16;
    return detail::solveMatteOnScale<T, scale>(source, status, output, rectangle, factor, patch,
                                               progress, detail::SolveOptions());
}

template <typename T>
int solveMatteVariant(const blitz::Array<Colour<T>, 2>& source, StatusByteArray& status,
                      blitz::Array<Colour<T>, 2> output, const Rect& rectangle, FloatPair factor,
                      const classification::MaskPatch& patch, ProgressRange progress)
{
    return detail::solveMatteOnScale<T, halfScale16>(source, status, output, rectangle, factor,
                                                     patch, progress, detail::SolveOptions());
}

template int solveMatte<unsigned char>(const blitz::Array<Colour<unsigned char>, 2>&, StatusByteArray&,
                                       blitz::Array<Colour<unsigned char>, 2>, const Rect&, FloatPair,
                                       const classification::MaskPatch&, ProgressRange);
template int solveMatte<unsigned short>(const blitz::Array<Colour<unsigned short>, 2>&, StatusByteArray&,
                                        blitz::Array<Colour<unsigned short>, 2>, const Rect&, FloatPair,
                                        const classification::MaskPatch&, ProgressRange);
template int solveMatteVariant<unsigned short>(const blitz::Array<Colour<unsigned short>, 2>&,
                                               StatusByteArray&, blitz::Array<Colour<unsigned short>, 2>,
                                               const Rect&, FloatPair, const classification::MaskPatch&,
                                               ProgressRange);

#define KESTRINE_SOLVER_INSTANCE(T, V)                                                         \
    template int detail::solveMatteOnScale<T, V>(                                              \
        const blitz::Array<Colour<T>, 2>&, StatusByteArray&, blitz::Array<Colour<T>, 2>,       \
        const Rect&, FloatPair, const classification::MaskPatch&, ProgressRange,               \
        const detail::SolveOptions&);

KESTRINE_SOLVER_INSTANCE(unsigned char, fullScale8)
KESTRINE_SOLVER_INSTANCE(unsigned short, fullScale16)
KESTRINE_SOLVER_INSTANCE(unsigned short, halfScale16)

} // namespace corvath::matting
