#pragma once
// Colour clusters of the matting solver: running moment sums, the principal axis of the
// scatter, bisection along that axis, and the reduction of a cluster to a few representative
// colours. Statistics are computed in double; member colours keep the sample type.

#include "matting/pixelhelpers.h"

#include <blitz/tinyvec2.h>

#include <vector>

namespace corvath::matting {

using utility::Rect;

using Vec3 = blitz::TinyVector<double, 3>;
// A symmetric 3 x 3 matrix stored as rr, gg, bb, rg, gb, rb.
using Sym3 = blitz::TinyVector<double, 6>;

// Most clusters one list of a pyramid cell keeps, and most representatives per cluster.
constexpr int maxClustersPerList = 27;

template <typename T>
struct ColourCluster {
    Sym3 second = Sym3(0.0); // Σr², Σg², Σb², Σr·g, Σg·b, Σr·b
    Vec3 first = Vec3(0.0);  // Σr, Σg, Σb
    std::vector<StoredColour<T>> members;
    double lambda = 0.0; // largest eigenvalue of the scatter matrix
    Vec3 axis = Vec3(0.0); // its eigenvector, not normalised

    int size() const { return int(members.size()); }
    // No members, all sums 0; keeps the member storage for reuse.
    void reset();
};

// A list of clusters that keeps its clusters' storage when cleared, so that building a
// pyramid cell after cell allocates only while the lists still grow.
template <typename T>
class ClusterList {
public:
    ClusterList() { m_items.reserve(maxClustersPerList); }
    int size() const { return m_size; }
    ColourCluster<T>& operator[](int i) { return m_items[std::size_t(i)]; }
    const ColourCluster<T>& operator[](int i) const { return m_items[std::size_t(i)]; }
    void clear() { m_size = 0; }
    // A new empty cluster at the end.
    ColourCluster<T>& append();
    // Moves c to the end of the list; c is left with the storage of a recycled cluster.
    void appendSwap(ColourCluster<T>& c);

private:
    std::vector<ColourCluster<T>> m_items;
    int m_size = 0;
};

// Sums recomputed from the members.
template <typename T>
void computeFirstMoments(ColourCluster<T>& k);
template <typename T>
void computeSecondMoments(ColourCluster<T>& k);

// The sums divided by the member count.
template <typename T>
inline Vec3 clusterMean(const ColourCluster<T>& k)
{
    const double n = double(k.size());
    return Vec3(k.first[0] / n, k.first[1] / n, k.first[2] / n);
}

// The scatter matrix from the sums: Σxy − μ_x·Σy, not divided by the member count.
Sym3 scatterFromSums(const Sym3& second, const Vec3& first, const Vec3& mean);

template <typename T>
inline Sym3 clusterScatter(const ColourCluster<T>& k)
{
    return scatterFromSums(k.second, k.first, clusterMean(k));
}

// The cofactors of a symmetric matrix, in its own order.
Sym3 scatterCofactors(const Sym3& s);
// The inverse by cofactors; the zero matrix when |det| < singularDeterminant.
Sym3 invertScatter(const Sym3& s, double singularDeterminant);
// The largest root of the characteristic cubic, in closed form.
double largestEigenvalue(const Sym3& s);
// An eigenvector for the eigenvalue: the first column of the adjugate of s − λI, or the
// column of largest norm when the first one vanishes (an axis with no spread).
Vec3 eigenvectorFor(const Sym3& s, const Sym3& cofactors, double lambda);

// lambda and axis from the current sums.
template <typename T>
void updatePrincipalAxis(ColourCluster<T>& k);
// First moments, second moments, principal axis.
template <typename T>
void computeStatistics(ColourCluster<T>& k);
// The mean, each channel truncated toward zero.
template <typename T>
StoredColour<T> clusterRepresentative(const ColourCluster<T>& k);

// Bisects k across its principal axis through its mean. When the two sides' means lie more
// than d apart the members above the mean move to newSide (with its statistics) and k keeps
// the rest, its sums reduced by newSide's; returns true. Otherwise k is unchanged, newSide
// is left empty and the result is false.
template <typename T>
bool splitCluster(ColourCluster<T>& k, double d, ColourCluster<T>& newSide);

// Splits the cluster of largest eigenvalue again and again, appending each new side, until
// the list has grown by maxCount − 1 clusters or a split is refused. scratch is working
// storage.
template <typename T>
void splitClusters(ClusterList<T>& list, int maxCount, double d, ColourCluster<T>& scratch);

// Replaces k's members by the truncated means of the sub-clusters that splitting a copy of
// k gives, and recomputes its statistics. temp and scratch are working storage.
template <typename T>
void reduceCluster(ColourCluster<T>& k, int maxCount, double d, ClusterList<T>& temp,
                   ColourCluster<T>& scratch);
// reduceCluster without the final statistics: true when the members were replaced (k's
// sums and axis are then stale). For clusters that are only read for their members next.
template <typename T>
bool reduceMembers(ColourCluster<T>& k, int maxCount, double d, ClusterList<T>& temp,
                   ColourCluster<T>& scratch);

} // namespace corvath::matting
