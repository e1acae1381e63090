#include "matting/cluster.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <utility>

namespace corvath::matting {

template <typename T>
void ColourCluster<T>::reset()
{
    second = 0.0;
    first = 0.0;
    members.clear();
    lambda = 0.0;
    axis = 0.0;
}

template <typename T>
ColourCluster<T>& ClusterList<T>::append()
{
    if (std::size_t(m_size) == m_items.size())
        m_items.emplace_back();
    ColourCluster<T>& c = m_items[std::size_t(m_size++)];
    c.reset();
    return c;
}

template <typename T>
void ClusterList<T>::appendSwap(ColourCluster<T>& c)
{
    if (std::size_t(m_size) == m_items.size())
        m_items.emplace_back();
    std::swap(m_items[std::size_t(m_size++)], c);
    c.reset();
}

template <typename T>
void computeFirstMoments(ColourCluster<T>& k)
{
    double r = 0.0, g = 0.0, b = 0.0;
    for (const StoredColour<T>& m : k.members) {
        r += double(m[0]);
        g += double(m[1]);
        b += double(m[2]);
    }
    k.first = Vec3(r, g, b);
}

template <typename T>
void computeSecondMoments(ColourCluster<T>& k)
{
    double rr = 0.0, gg = 0.0, bb = 0.0, rg = 0.0, gb = 0.0, rb = 0.0;
    for (const StoredColour<T>& m : k.members) {
        // Products of two samples need up to 32 unsigned bits.
        const std::uint32_t r = m[0], g = m[1], b = m[2];
        rr += double(r * r);
        gg += double(g * g);
        bb += double(b * b);
        rg += double(r * g);
        gb += double(g * b);
        rb += double(r * b);
    }
    k.second = Sym3(rr, gg, bb, rg, gb, rb);
}

Sym3 scatterFromSums(const Sym3& s2, const Vec3& s1, const Vec3& mu)
{
    return Sym3(s2[0] - mu[0] * s1[0], s2[1] - mu[1] * s1[1], s2[2] - mu[2] * s1[2],
                s2[3] - mu[0] * s1[1], s2[4] - mu[1] * s1[2], s2[5] - mu[2] * s1[0]);
}

Sym3 scatterCofactors(const Sym3& s)
{
    const double rr = s[0], gg = s[1], bb = s[2], rg = s[3], gb = s[4], rb = s[5];
    return Sym3(gg * bb - gb * gb, rr * bb - rb * rb, rr * gg - rg * rg, rb * gb - rg * bb,
                rg * rb - rr * gb, rg * gb - gg * rb);
}

Sym3 invertScatter(const Sym3& s, double singularDeterminant)
{
    const Sym3 c = scatterCofactors(s);
    const double det = s[0] * c[0] + s[3] * c[3] + s[5] * c[5];
    if (!(std::fabs(det) >= singularDeterminant))
        return Sym3(0.0);
    return Sym3(c[0] / det, c[1] / det, c[2] / det, c[3] / det, c[4] / det, c[5] / det);
}

double largestEigenvalue(const Sym3& s)
{
    const Sym3 c = scatterCofactors(s);
    // λ³ + a·λ² + b·λ + e = 0 with a = −trace, b = the principal cofactors' sum, e = −det.
    const double a = -(s[0] + s[1] + s[2]);
    const double b = c[0] + c[1] + c[2];
    const double e = -(s[0] * c[0] + s[3] * c[3] + s[5] * c[5]);
    const double q = (a * a - 3.0 * b) / 9.0;
    const double r = (2.0 * a * a * a - 9.0 * a * b + 27.0 * e) / 54.0;
    const double q3 = q * q * q;
    if (r * r < q3) {
        // Three real roots. Rounding can push the ratio just past ±1.
        const double theta = std::acos(std::clamp(r / std::sqrt(q3), -1.0, 1.0));
        // With θ in [0, π] the root for k = 1 is the largest of the three.
        return -2.0 * std::sqrt(q) * std::cos((theta + 2.0 * M_PI) / 3.0) - a / 3.0;
    }
    const double big = -std::copysign(std::cbrt(std::fabs(r) + std::sqrt(r * r - q3)), r);
    const double small = big == 0.0 ? 0.0 : q / big;
    return big + small - a / 3.0;
}

Vec3 eigenvectorFor(const Sym3& s, const Sym3& c, double l)
{
    const double rr = s[0], gg = s[1], bb = s[2], rg = s[3], gb = s[4], rb = s[5];
    const Vec3 first(l * l - (gg + bb) * l + c[0], rg * l + c[3], rb * l + c[5]);
    const auto norm2 = [](const Vec3& v) { return v[0] * v[0] + v[1] * v[1] + v[2] * v[2]; };
    const Vec3 second(rg * l + c[3], l * l - (rr + bb) * l + c[1], gb * l + c[4]);
    const Vec3 third(rb * l + c[5], gb * l + c[4], l * l - (rr + gg) * l + c[2]);
    const double n1 = norm2(first), n2 = norm2(second), n3 = norm2(third);
    const double largest = std::max(n2, n3);
    // The first column is proportional to the red component of the axis: when that is
    // rounding noise (a channel without spread, as in clipped highlights) another column
    // still carries the direction.
    if (n1 > 1e-20 * largest)
        return first;
    return n3 > n2 ? third : second;
}

template <typename T>
void updatePrincipalAxis(ColourCluster<T>& k)
{
    if (k.members.empty()) {
        k.lambda = 0.0;
        k.axis = 0.0;
        return;
    }
    const Sym3 s = clusterScatter(k);
    const Sym3 c = scatterCofactors(s);
    k.lambda = largestEigenvalue(s);
    k.axis = eigenvectorFor(s, c, k.lambda);
}

template <typename T>
void computeStatistics(ColourCluster<T>& k)
{
    computeFirstMoments(k);
    computeSecondMoments(k);
    updatePrincipalAxis(k);
}

template <typename T>
StoredColour<T> clusterRepresentative(const ColourCluster<T>& k)
{
    const Vec3 m = clusterMean(k);
    return StoredColour<T>(T(m[0]), T(m[1]), T(m[2]));
}

template <typename T>
bool splitCluster(ColourCluster<T>& k, double d, ColourCluster<T>& newSide)
{
    newSide.reset();
    const int n = k.size();
    if (n < 2)
        return false;
    const Vec3 m = clusterMean(k);
    const double e0 = k.axis[0], e1 = k.axis[1], e2 = k.axis[2];
    const double t = m[0] * e0 + m[1] * e1 + m[2] * e2;
    const auto above = [&](const StoredColour<T>& x) {
        return double(x[0]) * e0 + double(x[1]) * e1 + double(x[2]) * e2 > t;
    };
    for (const StoredColour<T>& x : k.members)
        if (above(x))
            newSide.members.push_back(x);
    const int moved = newSide.size();
    if (moved == 0 || moved == n) {
        newSide.reset();
        return false;
    }
    computeFirstMoments(newSide);
    computeSecondMoments(newSide);
    const double rest = double(n - moved);
    const Vec3 newMean = clusterMean(newSide);
    double dist2 = 0.0;
    for (int c = 0; c < 3; ++c) {
        const double diff = (k.first[c] - newSide.first[c]) / rest - newMean[c];
        dist2 += diff * diff;
    }
    if (!(std::sqrt(dist2) > d)) {
        newSide.reset();
        return false;
    }
    updatePrincipalAxis(newSide);
    auto kept = k.members.begin();
    for (const StoredColour<T>& x : k.members)
        if (!above(x))
            *kept++ = x;
    k.members.erase(kept, k.members.end());
    k.second -= newSide.second;
    k.first -= newSide.first;
    updatePrincipalAxis(k);
    return true;
}

template <typename T>
void splitClusters(ClusterList<T>& list, int maxCount, double d, ColourCluster<T>& scratch)
{
    if (maxCount < 2)
        return;
    for (int count = 1;;) {
        int pick = -1;
        double best = -DBL_MAX;
        for (int i = 0; i < list.size(); ++i)
            if (list[i].lambda > best) {
                best = list[i].lambda;
                pick = i;
            }
        if (pick < 0 || !splitCluster(list[pick], d, scratch))
            return;
        list.appendSwap(scratch);
        if (++count >= maxCount)
            return;
    }
}

template <typename T>
void reduceCluster(ColourCluster<T>& k, int maxCount, double d, ClusterList<T>& temp,
                   ColourCluster<T>& scratch)
{
    if (reduceMembers(k, maxCount, d, temp, scratch))
        computeStatistics(k);
}

template <typename T>
bool reduceMembers(ColourCluster<T>& k, int maxCount, double d, ClusterList<T>& temp,
                   ColourCluster<T>& scratch)
{
    if (k.size() <= 1)
        return false;
    temp.clear();
    ColourCluster<T>& copy = temp.append();
    copy.members = k.members;
    computeStatistics(copy);
    splitClusters(temp, maxCount, d, scratch);
    k.members.clear();
    for (int i = 0; i < temp.size(); ++i)
        k.members.push_back(clusterRepresentative(temp[i]));
    return !k.members.empty();
}

#define KESTRINE_CLUSTER_INSTANCES(T)                                                          \
    template struct ColourCluster<T>;                                                          \
    template class ClusterList<T>;                                                             \
    template void computeFirstMoments(ColourCluster<T>&);                                      \
    template void computeSecondMoments(ColourCluster<T>&);                                     \
    template void updatePrincipalAxis(ColourCluster<T>&);                                      \
    template void computeStatistics(ColourCluster<T>&);                                        \
    template StoredColour<T> clusterRepresentative(const ColourCluster<T>&);                   \
    template bool splitCluster(ColourCluster<T>&, double, ColourCluster<T>&);                  \
    template void splitClusters(ClusterList<T>&, int, double, ColourCluster<T>&);              \
    template void reduceCluster(ColourCluster<T>&, int, double, ClusterList<T>&, ColourCluster<T>&); \
    template bool reduceMembers(ColourCluster<T>&, int, double, ClusterList<T>&, ColourCluster<T>&);

KESTRINE_CLUSTER_INSTANCES(unsigned char)
KESTRINE_CLUSTER_INSTANCES(unsigned short)

} // namespace corvath::matting
