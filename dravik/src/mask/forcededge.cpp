// The forced-edge pass: a signed distance to each forced edge, rasterised into a plane of
// 16-bit fixed-point values, then a smooth alpha ramp across the line wherever an edge reached.
#include "mask/generatemask.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

namespace classification {

namespace {

constexpr float planeScale = 8192.f;
constexpr short planeEmpty = -32768;

template <typename T>
T* elementAt(const blitz::Array<T, 2>& a, int i, int j)
{
    return const_cast<T*>(a.data()) + std::ptrdiff_t(i - a.lbound(0)) * a.stride(0) +
           std::ptrdiff_t(j - a.lbound(1)) * a.stride(1);
}

// The largest finite float when r's projection on u falls outside [0, L], else r . k.
float dotIfWithinRange(FloatPair r, FloatPair u, float L, FloatPair k)
{
    const float t = r.x * u.x + r.y * u.y;
    if (t < 0.f || t > L)
        return FLT_MAX;
    return r.x * k.x + r.y * k.y;
}

// The side rules for one pair of probes: +1 when P+ lies on the Keep side, -1 when P- does,
// 0 to go on.
int sideOfPair(int p, int q)
{
    const bool pk = p & StatusKeep, pd = p & StatusDelete;
    const bool qk = q & StatusKeep, qd = q & StatusDelete;
    if (pk && !qk)
        return 1;
    if (pd && !qd)
        return -1;
    if (!pk && qk)
        return -1;
    if (!pd && qd)
        return 1;
    return 0;
}

// Which side of a segment is Keep, probed outward from m on its line: +1 toward the normal n,
// -1 away from it, 0 when the segment shapes nothing. reach: how far the segment's band
// reaches, in working pixels. A band that meets only one class within its reach, or one class
// and the outside of the image, has no side: there is nothing on its other side to blend with.
int probeSide(const Bytes& status, FloatPair m, FloatPair n, float reach)
{
    const Rect d = corvath::utility::domainOf(status);
    const auto inside = [&d](double x, double y) {
        return x >= d.x1 && x < double(d.x2) + 1.0 && y >= d.y1 && y < double(d.y2) + 1.0;
    };
    const auto at = [&status](double x, double y) { return int(status(int(x), int(y))); };
    const auto shows = [](int s) { return !(s & StatusForcedEdge) || (s & (StatusKeep | StatusDelete)); };
    // The class each probe last showed, -1 before it showed one. A probe that has left the
    // image, or stands on a forced edge's line (which auto-fill leaves Unassigned), stands for
    // its last class.
    int pLast = -1, qLast = -1;
    // Set when, within the band's reach, both sides showed Keep, or both Delete: the band lies
    // in one class, and nothing found farther away shapes a boundary there.
    bool oneClass = false;
    // Past the image's extent both probes are outside wherever the middle lies.
    const float last = float(d.x2 - d.x1) + float(d.y2 - d.y1) + 4.f;
    // The first probes lie within the band however narrow it is, and one lies on its edge.
    for (float t = std::min(0.5f, reach); t <= last;) {
        if (oneClass && t > reach)
            return 0;
        const double px = std::floor(double(m.x + t * n.x)), py = std::floor(double(m.y + t * n.y));
        const double qx = std::floor(double(m.x - t * n.x)), qy = std::floor(double(m.y - t * n.y));
        const bool pIn = inside(px, py), qIn = inside(qx, qy);
        // Along the border, with one side outside from the start, the band meets one side only.
        if ((!pIn && !qIn) || (!pIn && pLast < 0) || (!qIn && qLast < 0))
            return 0;
        const int p = pIn ? at(px, py) : 0, q = qIn ? at(qx, qy) : 0;
        if (pIn && shows(p))
            pLast = p & 15;
        if (qIn && shows(q))
            qLast = q & 15;
        bool same = false;
        if (pLast >= 0 && qLast >= 0) {
            if (const int side = sideOfPair(pLast, qLast))
                return side;
            same = (pLast & qLast & (StatusKeep | StatusDelete)) != 0;
        } else if (pLast >= 0 || qLast >= 0) {
            // The other side stands on a forced edge's line from the start: it stands for what
            // this side shows.
            same = ((pLast >= 0 ? pLast : qLast) & (StatusKeep | StatusDelete)) != 0;
        }
        if (same && t <= reach)
            oneClass = true;
        const float next = t + 1.f;
        t = t < reach && next > reach ? reach : next;
    }
    return 0;
}

// The middle of the part of segment (a, b) that lies over the status array, in working
// coordinates; false when no part does.
bool middleInside(const Bytes& status, FloatPair a, FloatPair b, FloatPair& m)
{
    const Rect d = corvath::utility::domainOf(status);
    const double lo[2] = {double(d.x1), double(d.y1)}, hi[2] = {double(d.x2) + 1.0, double(d.y2) + 1.0};
    const double from[2] = {a.x, a.y}, delta[2] = {double(b.x) - a.x, double(b.y) - a.y};
    double t0 = 0.0, t1 = 1.0;
    for (int k = 0; k < 2; ++k) {
        if (delta[k] == 0.0) {
            if (from[k] < lo[k] || from[k] >= hi[k])
                return false;
            continue;
        }
        double e0 = (lo[k] - from[k]) / delta[k], e1 = (hi[k] - from[k]) / delta[k];
        if (e0 > e1)
            std::swap(e0, e1);
        t0 = std::max(t0, e0);
        t1 = std::min(t1, e1);
    }
    if (!(t0 <= t1))
        return false;
    const double t = (t0 + t1) / 2.0;
    m = {float(from[0] + t * delta[0]), float(from[1] + t * delta[1])};
    return true;
}

// The side of one segment of an edge (points at full resolution), 0 when it shapes nothing.
int segmentSide(const Bytes& status, FloatPair p0, FloatPair p1, FloatPair scale, float reach)
{
    const FloatPair a = corvath::utility::divideComponents(p0, scale);
    const FloatPair b = corvath::utility::divideComponents(p1, scale);
    if (a.x == b.x && a.y == b.y)
        return 0;
    // In double: a float length overflows for far-apart points and leaves no normal.
    const double dx = double(b.x) - a.x, dy = double(b.y) - a.y;
    const double len = std::sqrt(dx * dx + dy * dy);
    const FloatPair normal{float(-dy / len), float(dx / len)};
    if (!std::isfinite(normal.x) || !std::isfinite(normal.y) || (normal.x == 0.f && normal.y == 0.f))
        return 0;
    FloatPair m;
    if (!middleInside(status, a, b, m))
        return 0;
    return probeSide(status, m, normal, reach);
}

// Lays the signed distance to segment (a, b), positive on side k, into the plane.
void rasteriseSegment(FloatPair a, FloatPair b, int side, float W, float w,
                      blitz::Array<short, 2>& plane, std::vector<IntPair>& reached)
{
    const double dx = double(b.x) - a.x, dy = double(b.y) - a.y;
    const float L = float(std::sqrt(dx * dx + dy * dy));
    const FloatPair u{float(dx / L), float(dy / L)};
    const FloatPair k{float(side) * -u.y, float(side) * u.x};
    const Rect clip = corvath::utility::domainOf(plane);
    const double grow = std::ceil(double(W));
    const double lx = std::floor(std::min(a.x, b.x)) - grow, hx = std::floor(std::max(a.x, b.x)) + grow;
    const double ly = std::floor(std::min(a.y, b.y)) - grow, hy = std::floor(std::max(a.y, b.y)) + grow;
    if (!(lx <= clip.x2) || !(hx >= clip.x1) || !(ly <= clip.y2) || !(hy >= clip.y1))
        return;
    const int i1 = lx < clip.x1 ? clip.x1 : int(lx), i2 = hx > clip.x2 ? clip.x2 : int(hx);
    const int j1 = ly < clip.y1 ? clip.y1 : int(ly), j2 = hy > clip.y2 ? clip.y2 : int(hy);
    const std::ptrdiff_t ps1 = plane.stride(1);
    for (int i = i1; i <= i2; ++i) {
        short* cell = elementAt(plane, i, j1);
        const float rx = float(i) + 0.5f - a.x;
        for (int j = j1; j <= j2; ++j, cell += ps1) {
            const float s = dotIfWithinRange({rx, float(j) + 0.5f - a.y}, u, L, k);
            if (!(std::fabs(s) < W))
                continue;
            const float v = std::clamp(s / w, -4.f, 4.f);
            // ±4 would reach the empty marker: one step short of it.
            const int value = std::clamp(int(std::floor(v * planeScale + 0.5f)), -32767, 32767);
            const int current = *cell == planeEmpty ? 32768 : std::abs(int(*cell));
            if (std::abs(value) < current) {
                if (*cell == planeEmpty)
                    reached.push_back({i, j});
                *cell = short(value);
            }
        }
    }
}

template <typename T, int M>
int forcedEdgePass(float minimumOpacity, ColourImage<T>& out, const ColourImage<T>& source,
                   const Bytes& status, FloatPair scale, const std::vector<ForcedEdge>& edges)
{
    const Rect domain = corvath::utility::domainOf(out);
    if (domain.isEmpty() || edges.empty())
        return 0;
    blitz::Array<short, 2> plane;
    std::vector<IntPair> reached;
    for (const ForcedEdge& edge : edges) {
        const std::vector<FloatPair>& p = edge.points;
        const float w = edge.width;
        const float W = std::min(std::max(w, 2.f * scale.x), 4.f * w);
        if (p.size() < 2 || !(W > 0.f))
            continue;
        // Each segment shapes the cut-out only where its own band meets both Keep and Delete,
        // on the side its own probe finds.
        const std::size_t n = p.size();
        std::vector<int> sides(n - 1);
        bool any = false;
        for (std::size_t i = 0; i + 1 < n; ++i) {
            sides[i] = segmentSide(status, p[i], p[i + 1], scale, W / scale.x);
            any = any || sides[i] != 0;
        }
        if (!any)
            continue;

        if (plane.numElements() == 0) {
            corvath::utility::fitArrayToRect(plane, domain);
            plane = planeEmpty;
        }
        for (std::size_t i = 0; i + 1 < n; ++i)
            if (sides[i] != 0)
                rasteriseSegment(p[i], p[i + 1], sides[i], W, w, plane, reached);
        // A corner is rounded only between two segments that shape the same way.
        for (std::size_t i = 1; i + 1 < n; ++i)
            if (sides[i - 1] != 0 && sides[i - 1] == sides[i])
                renderJoin(p[i - 1], p[i], p[i + 1], sides[i], W, w, planeScale, plane, reached, planeEmpty);
        const bool closed = p.front().x == p.back().x && p.front().y == p.back().y;
        if (closed && n > 2 && sides[n - 2] != 0 && sides[n - 2] == sides[0])
            renderJoin(p[n - 2], p[n - 1], p[1], sides[0], W, w, planeScale, plane, reached, planeEmpty);
    }

    const float gate = float(M) * minimumOpacity;
    for (const IntPair& q : reached) {
        const Colour<T>& s = *elementAt(source, q.x, q.y);
        if (!(float(s[3]) >= gate))
            continue;
        Colour<T>& o = *elementAt(out, q.x, q.y);
        const double t = std::clamp((double(*elementAt(plane, q.x, q.y)) / planeScale + 1.0) / 2.0, 0.0, 1.0);
        // In double and clamped: M + 0.999 in float rounds up to M + 1 for 16-bit scales.
        const double alpha = std::min(std::trunc((3.0 - 2.0 * t) * t * t * (M + 0.999)), double(M));
        o[0] = s[0];
        o[1] = s[1];
        o[2] = s[2];
        o[3] = T(alpha);
    }
    return 0;
}

} // namespace

template <typename T>
int maskPass(float minimumOpacity, ColourImage<T>& out, const ColourImage<T>& source,
             const Bytes& status, FloatPair scale, const std::vector<ForcedEdge>& edges, ProgressRange)
{
    constexpr int M = sizeof(T) == 1 ? 255 : 65535;
    return forcedEdgePass<T, M>(minimumOpacity, out, source, status, scale, edges);
}

template <typename T>
int maskPassVariant(float minimumOpacity, ColourImage<T>& out, const ColourImage<T>& source,
                    const Bytes& status, FloatPair scale, const std::vector<ForcedEdge>& edges,
                    ProgressRange)
{
    return forcedEdgePass<T, 32768>(minimumOpacity, out, source, status, scale, edges);
}

template int maskPass<unsigned char>(float, ColourImage<unsigned char>&,
                                     const ColourImage<unsigned char>&, const Bytes&, FloatPair,
                                     const std::vector<ForcedEdge>&, ProgressRange);
template int maskPass<unsigned short>(float, ColourImage<unsigned short>&,
                                      const ColourImage<unsigned short>&, const Bytes&, FloatPair,
                                      const std::vector<ForcedEdge>&, ProgressRange);
template int maskPassVariant<unsigned short>(float, ColourImage<unsigned short>&,
                                             const ColourImage<unsigned short>&, const Bytes&,
                                             FloatPair, const std::vector<ForcedEdge>&, ProgressRange);

} // namespace classification
