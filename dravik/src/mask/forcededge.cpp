// The forced-edge pass: a signed distance to each forced edge, rasterised into a plane of
// 16-bit fixed-point values, then a smooth alpha ramp across the line wherever an edge reached.
#include "mask/generatemask.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>

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

// Which side of the edge is Keep, probed outward from the middle of its longest segment:
// +1 toward the normal n, -1 away from it, 0 undecided. reach: how far the edge's band
// reaches, in working pixels.
int probeSide(const Bytes& status, FloatPair m, FloatPair n, float reach)
{
    const Rect d = corvath::utility::domainOf(status);
    const auto inside = [&d](double x, double y) {
        return x >= d.x1 && x < double(d.x2) + 1.0 && y >= d.y1 && y < double(d.y2) + 1.0;
    };
    const auto at = [&status](double x, double y) { return int(status(int(x), int(y))); };
    const auto shows = [](int s) { return !(s & StatusForcedEdge) || (s & (StatusKeep | StatusDelete)); };
    // The class each probe last showed, -1 before it showed one. A probe that has left the
    // image, or stands on another forced edge's line (which auto-fill leaves Unassigned),
    // stands for its last class.
    int pLast = -1, qLast = -1;
    // Set when, within the band's reach, both sides showed Keep, or both Delete: the band lies
    // in one class, and nothing found farther away shapes a boundary there.
    bool oneClass = false;
    // Past the image's extent both probes are outside wherever the middle lies.
    const float last = float(d.x2 - d.x1) + float(d.y2 - d.y1) + 4.f;
    for (float t = 1.5f; t <= last; t += 1.f) {
        if (oneClass && t > reach)
            return 0;
        const double px = std::trunc(double(m.x + t * n.x)), py = std::trunc(double(m.y + t * n.y));
        const double qx = std::trunc(double(m.x - t * n.x)), qy = std::trunc(double(m.y - t * n.y));
        const bool pIn = inside(px, py), qIn = inside(qx, qy);
        if (!pIn && !qIn)
            return 0;
        const int p = pIn ? at(px, py) : 0, q = qIn ? at(qx, qy) : 0;
        if (pIn && shows(p))
            pLast = p & 15;
        if (qIn && shows(q))
            qLast = q & 15;
        if (pLast < 0 && qLast < 0)
            continue;
        int side = 0;
        bool same = false;
        if (pLast >= 0 && qLast >= 0) {
            side = sideOfPair(pLast, qLast);
            same = (pLast & qLast & (StatusKeep | StatusDelete)) != 0;
        } else {
            const int shown = pLast >= 0 ? pLast : qLast;
            const bool otherOutside = pLast >= 0 ? !qIn : !pIn;
            if (otherOutside) {
                // Outside the image from the start: nothing there can be kept, so Keep inside
                // makes the inside the Keep side and Delete inside is one class on both sides.
                if (shown & StatusKeep)
                    side = pLast >= 0 ? 1 : -1;
                same = (shown & StatusDelete) != 0;
            } else {
                // On another edge's line from the start: it stands for what this side shows.
                same = (shown & (StatusKeep | StatusDelete)) != 0;
            }
        }
        if (side != 0)
            return side;
        if (same && t <= reach)
            oneClass = true;
    }
    return 0;
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
        // The longest segment, the first one winning ties.
        std::size_t longest = 0;
        double longestLength = -1.0;
        for (std::size_t i = 0; i + 1 < p.size(); ++i) {
            const double dx = double(p[i + 1].x) - p[i].x, dy = double(p[i + 1].y) - p[i].y;
            const double l = dx * dx + dy * dy;
            if (l > longestLength) {
                longestLength = l;
                longest = i;
            }
        }
        const FloatPair a = corvath::utility::divideComponents(p[longest], scale);
        const FloatPair b = corvath::utility::divideComponents(p[longest + 1], scale);
        if (a.x == b.x && a.y == b.y)
            continue;
        const FloatPair m{float((double(a.x) + b.x) / 2.0), float((double(a.y) + b.y) / 2.0)};
        // In double: a float length overflows for far-apart points and leaves no normal.
        const double dx = double(b.x) - a.x, dy = double(b.y) - a.y;
        const double len = std::sqrt(dx * dx + dy * dy);
        const FloatPair normal{float(-dy / len), float(dx / len)};
        if (!std::isfinite(normal.x) || !std::isfinite(normal.y) || (normal.x == 0.f && normal.y == 0.f))
            continue;
        const int side = probeSide(status, m, normal, std::max(W / scale.x, 1.5f));
        if (side == 0)
            continue;

        if (plane.numElements() == 0) {
            corvath::utility::fitArrayToRect(plane, domain);
            plane = planeEmpty;
        }
        for (std::size_t i = 0; i + 1 < p.size(); ++i)
            if (p[i].x != p[i + 1].x || p[i].y != p[i + 1].y)
                rasteriseSegment(p[i], p[i + 1], side, W, w, plane, reached);
        const std::size_t n = p.size();
        for (std::size_t i = 1; i + 1 < n; ++i)
            renderJoin(p[i - 1], p[i], p[i + 1], side, W, w, planeScale, plane, reached, planeEmpty);
        const bool closed = p.front().x == p.back().x && p.front().y == p.back().y;
        if (closed && n > 2)
            renderJoin(p[n - 2], p[n - 1], p[1], side, W, w, planeScale, plane, reached, planeEmpty);
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
