// From traced chains to the polylines a session publishes: point rules, Douglas-Peucker
// simplification and corner smoothing.
#include "outline/outline.h"

#include "crack_scan.h"

#include "common/bandthreads.h"

#include <cmath>
#include <cstddef>

namespace classification {
namespace {

FloatPoint toFloat(Point p) { return {float(p.x), float(p.y)}; }

// Weighted mean of up to three corners, in single precision.
FloatPoint blend(float wo, Point o, float wp, Point p, float wq, Point q, float sum)
{
    return {(wo * float(o.x) + wp * float(p.x) + wq * float(q.x)) / sum,
            (wo * float(o.y) + wp * float(p.y) + wq * float(q.y)) / sum};
}

// The rule's points for one pair (p, q) or triple (o, p, q).
void rulePoints(int rule, Point o, Point p, Point q, FloatPolyline& out)
{
    switch (rule) {
    case 0: out.push_back(blend(0.f, o, 1.f, p, 1.f, q, 2.f)); break;
    case 1: out.push_back(blend(0.f, o, 2.f, p, 1.f, q, 3.f)); break;
    case 2:
        out.push_back(blend(0.f, o, 3.f, p, 1.f, q, 4.f));
        out.push_back(blend(0.f, o, 1.f, p, 3.f, q, 4.f));
        break;
    case 3: out.push_back(blend(1.f, o, 2.f, p, 1.f, q, 4.f)); break;
    case 4: out.push_back(blend(1.f, o, 3.f, p, 1.f, q, 5.f)); break;
    case 5: out.push_back(blend(1.f, o, 4.f, p, 1.f, q, 6.f)); break;
    default: break;
    }
}

template <typename P>
bool samePoint(const P& a, const P& b) { return a.x == b.x && a.y == b.y; }

// Coordinate differences in single precision; int differences are taken exactly first.
float diff(int a, int b) { return float(a - b); }
float diff(float a, float b) { return a - b; }

// Douglas-Peucker over pts[a0..b] with an explicit stack of range ends; writes the kept points
// of the range, without its end, at pts[w...]. w never passes the point being read.
template <typename P>
void rangePass(std::vector<P>& pts, std::size_t a0, std::size_t b, float tolerance, std::size_t& w,
               std::vector<std::size_t>& stack)
{
    stack.clear();
    stack.push_back(b);
    std::size_t a = a0;
    while (!stack.empty()) {
        const std::size_t e = stack.back();
        const P A = pts[a], E = pts[e];
        const float ex = diff(E.x, A.x), ey = diff(A.y, E.y);
        const double length = std::sqrt(double(ex * ex + ey * ey));
        const float limit = float(double(tolerance) * length);
        float best = limit;
        std::size_t farthest = 0;
        for (std::size_t i = a + 1; i < e; ++i) {
            const float v = std::fabs(diff(pts[i].x, A.x) * ey + diff(pts[i].y, A.y) * ex);
            if (v > best) {
                best = v;
                farthest = i;
            }
        }
        if (farthest != 0) {
            stack.push_back(farthest);
        } else {
            pts[w++] = A;
            a = e;
            stack.pop_back();
        }
    }
}

template <typename P>
void simplifyOne(std::vector<P>& pts, float tolerance, std::vector<std::size_t>& stack)
{
    const std::size_t n = pts.size();
    if (n < 3)
        return;  // nothing between the end points
    std::size_t w = 0;
    if (samePoint(pts.front(), pts.back())) {
        std::size_t split = 1;
        double farthest = -1.0;
        for (std::size_t i = 1; i + 1 < n; ++i) {
            const float dx = diff(pts[i].x, pts[0].x), dy = diff(pts[i].y, pts[0].y);
            const double d2 = double(dx * dx + dy * dy);
            if (d2 > farthest) {
                farthest = d2;
                split = i;
            }
        }
        // The second pass reads from the split point on; the first writes only before it.
        rangePass(pts, 0, split, tolerance, w, stack);
        rangePass(pts, split, n - 1, tolerance, w, stack);
    } else {
        rangePass(pts, 0, n - 1, tolerance, w, stack);
    }
    pts[w++] = pts[n - 1];
    pts.resize(w);
}

template <typename P>
void simplify(std::vector<std::vector<P>>& polylines, float tolerance)
{
    std::vector<std::size_t> stack;
    for (std::vector<P>& pts : polylines)
        simplifyOne(pts, tolerance, stack);
}

FloatPoint minus(FloatPoint a, FloatPoint b) { return {a.x - b.x, a.y - b.y}; }

// applyPointRule over the n points from chain.
FloatPolyline chainPoints(const Point* chain, std::size_t n, int rule)
{
    FloatPolyline out;
    if (rule < 0 || rule > 5 || n < 3) {
        out.reserve(n);
        for (std::size_t i = 0; i < n; ++i)
            out.push_back(toFloat(chain[i]));
        return out;
    }
    const bool triple = rule >= 3;
    const std::size_t perStep = rule == 2 ? 2 : 1;
    if (samePoint(chain[0], chain[n - 1])) {
        // Cyclic over the corners without the repeated end point, then closed again.
        const std::size_t m = n - 1;
        out.reserve(m * perStep + 1);
        for (std::size_t i = 0; i < m; ++i) {
            const Point o = chain[(i + m - 1) % m], p = chain[i], q = chain[(i + 1) % m];
            rulePoints(rule, o, p, q, out);
        }
        out.push_back(out.front());
        return out;
    }
    out.reserve(n * perStep + 2);
    out.push_back(toFloat(chain[0]));
    if (triple) {
        for (std::size_t i = 1; i + 1 < n; ++i)
            rulePoints(rule, chain[i - 1], chain[i], chain[i + 1], out);
    } else {
        for (std::size_t i = 0; i + 1 < n; ++i)
            rulePoints(rule, Point{}, chain[i], chain[i + 1], out);  // pair rules ignore o
    }
    out.push_back(toFloat(chain[n - 1]));
    return out;
}

} // namespace

FloatPolyline applyPointRule(const Polyline& chain, int rule) { return chainPoints(chain.data(), chain.size(), rule); }

void simplifyPolylines(std::vector<Polyline>& polylines, float tolerance) { simplify(polylines, tolerance); }

void simplifyPolylines(std::vector<FloatPolyline>& polylines, float tolerance)
{
    simplify(polylines, tolerance);
}

void smoothCorner(FloatPoint q, FloatPoint p, FloatPoint n, float amount, FloatPolyline& out)
{
    const FloatPoint a = minus(q, p), b = minus(p, n);
    const float la = std::sqrt(a.x * a.x + a.y * a.y);
    const float lb = std::sqrt(b.x * b.x + b.y * b.y);
    if (la == 0.f || lb == 0.f) {
        out.push_back(p);  // no direction on one side: nothing to round
        return;
    }
    const float k = (a.x * b.x + a.y * b.y) / (la * lb) + 1.0f;
    if (double(k) < 1e-6) {
        out.push_back(p);  // the polyline turns back on itself here
        return;
    }
    const float s = std::sqrt(0.5f * k);
    const float d = amount / s;
    const float t1 = d <= 0.25f * la ? d : 0.25f * la;
    const float t2 = d <= 0.25f * lb ? d : 0.25f * lb;
    const float f1 = t1 / la, f2 = t2 / lb;
    out.push_back({p.x + f1 * a.x, p.y + f1 * a.y});
    out.push_back({p.x - f2 * b.x, p.y - f2 * b.y});
}

namespace {

// One smoothing pass over pts; out is scratch.
void smoothOne(FloatPolyline& pts, float amount, FloatPolyline& out)
{
    const std::size_t n = pts.size();
    if (n == 0)
        return;
    out.clear();
    out.reserve(2 * n + 1);
    if (samePoint(pts.front(), pts.back())) {
        for (std::size_t i = 1; i + 1 < n; ++i)
            smoothCorner(pts[i - 1], pts[i], pts[i + 1], amount, out);
        smoothCorner(pts[n >= 2 ? n - 2 : 0], pts[0], pts[n >= 2 ? 1 : 0], amount, out);
        out.push_back(out.front());
    } else {
        out.push_back(pts.front());
        for (std::size_t i = 1; i + 1 < n; ++i)
            smoothCorner(pts[i - 1], pts[i], pts[i + 1], amount, out);
        out.push_back(pts.back());
    }
    std::size_t w = 0;
    for (std::size_t i = 0; i < out.size(); ++i)
        if (w == 0 || !samePoint(out[i], out[w - 1]))
            out[w++] = out[i];
    out.resize(w);
    pts.assign(out.begin(), out.end());
}

} // namespace

void smoothPolylines(std::vector<FloatPolyline>& polylines, float amount)
{
    FloatPolyline out;
    for (FloatPolyline& pts : polylines)
        smoothOne(pts, amount, out);
}

std::vector<FloatPolyline> buildRegionOutlines(const blitz::Array<int, 2>& regionLabels, int pointRule,
                                               float simplifyTolerance, float smoothing, float scaleFactor)
{
    std::vector<FloatPolyline> outlines;
    if (!(scaleFactor > 1.0f) || regionLabels.extent(0) < 3 || regionLabels.extent(1) < 3)
        return outlines;

    // The chains are traced in order; borders with the image edge are never kept. Each
    // chain's conversion, simplification and smoothing depend on that chain alone, so they
    // run on slices of the list side by side.
    struct Kept {
        const Point* points;
        std::size_t count;
    };
    std::vector<Kept> kept;
    std::size_t total = 0;
    detail::CrackScan<int> scan(regionLabels, corvath::utility::grow(corvath::utility::domainOf(regionLabels), -1));
    scan.scan([&](int a, int b, const Point* chain, std::size_t n) {
        if (a != -1 && b != -1) {
            kept.push_back({chain, n});
            total += n;
        }
    });

    outlines.resize(kept.size());
    const int count = int(kept.size());
    const int slices = count == 0 ? 1 : bandCount(count, int(total / std::size_t(count)) + 1, 1, 1 << 15);
    runBands(slices, [&](int k) {
        std::vector<std::size_t> stack;
        FloatPolyline scratch;
        for (int i = bandStart(count, slices, k), end = bandStart(count, slices, k + 1); i < end; ++i) {
            FloatPolyline& line = outlines[std::size_t(i)];
            line = chainPoints(kept[std::size_t(i)].points, kept[std::size_t(i)].count, pointRule);
            if (simplifyTolerance != 0.f)
                simplifyOne(line, simplifyTolerance, stack);
            if (smoothing != 0.f) {
                smoothOne(line, smoothing, scratch);
                smoothOne(line, smoothing, scratch);
            }
        }
    });
    return outlines;
}

std::vector<Polyline> buildSelectionOutline(const blitz::Array<unsigned char, 2>& bitmap)
{
    std::vector<Polyline> outline;
    const Rect rect = corvath::utility::domainOf(bitmap);
    if (rect.isEmpty())
        return outline;

    // Selected pixels become 1 and the frame counts as unselected, so the only borders are
    // those of the selection, whatever non-zero values the caller's bytes hold.
    const Rect framed = corvath::utility::grow(rect, 1);
    blitz::Array<unsigned char, 2> labels(blitz::Range(framed.x1, framed.x2), blitz::Range(framed.y1, framed.y2));
    labels = 0;
    const int rows = bitmap.extent(0), cols = bitmap.extent(1);
    const std::ptrdiff_t s0 = bitmap.stride(0), s1 = bitmap.stride(1);
    const unsigned char* src = bitmap.data();
    for (int i = 0; i < rows; ++i) {
        const unsigned char* in = src + i * s0;
        unsigned char* to = &labels(rect.x1 + i, rect.y1);
        for (int j = 0; j < cols; ++j)
            to[j] = in[j * s1] != 0;
    }
    traceRegionBorders(labels, rect, outline);
    simplifyPolylines(outline, 0.1f);
    return outline;
}

} // namespace classification
