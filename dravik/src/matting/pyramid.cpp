#include "matting/pyramid.h"

#include "bands.h"

#include <cfloat>
#include <cstddef>
#include <string>

namespace corvath::matting {

using utility::domainOf;
using utility::intersect;

namespace {

// Cells per band below which a thread is not worth starting.
constexpr long long minCellsPerBand = 4096;

// The inverse-scatter likelihood of x, d = x − μ.
inline double likelihoodWith(const Sym3& m, double dr, double dg, double db)
{
    return -(m[0] * dr * dr + m[1] * dg * dg + m[2] * db * db +
             2.0 * (dr * (m[3] * dg + m[5] * db) + m[4] * dg * db));
}

std::size_t cellIndex(const Rect& cells, int i, int j)
{
    return std::size_t(i - cells.x1) * std::size_t(cells.y2 - cells.y1 + 1) + std::size_t(j - cells.y1);
}

long long cellCount(const Rect& cells)
{
    return cells.isEmpty() ? 0 : cells.width() * cells.height();
}

// The nonnegative part of an array's domain: cells then have children 2i and 2i + 1 only.
template <typename A>
Rect nonnegativeDomain(const A& a)
{
    return intersect(domainOf(a), Rect{0, 0, INT_MAX, INT_MAX});
}

// A level's pools as one band of cell rows builds them: cluster and member indices count
// from the band's own start until the bands are joined.
template <typename T>
struct BandPools {
    int firstRow = 0, lastRow = -1;
    std::vector<PaletteCluster> clusters;
    std::vector<StoredColour<T>> members;
    std::vector<double> likelihood;
};

} // namespace

template <typename T>
bool MattingPyramid<T>::empty() const
{
    if (levelCount() == 0)
        return true;
    if (!upper.empty())
        return upper.back().members.empty();
    for (std::uint8_t m : baseMask)
        if (m)
            return false;
    return true;
}

template <typename T>
std::size_t MattingPyramid<T>::memoryBytes() const
{
    std::size_t n = baseMask.capacity();
    for (const PyramidLevel<T>& l : upper)
        n += l.quadrants.capacity() * sizeof(Quadrant) + l.clusters.capacity() * sizeof(PaletteCluster) +
             l.members.capacity() * sizeof(StoredColour<T>) + l.likelihood.capacity() * sizeof(double);
    return n;
}

template <typename T>
double clusterLikelihood(const ColourCluster<T>& k, const Vec3& x, double singularDeterminant)
{
    if (k.size() < 2)
        return 0.0;
    const Vec3 mu = clusterMean(k);
    const Sym3 m = invertScatter(clusterScatter(k), singularDeterminant);
    return likelihoodWith(m, x[0] - mu[0], x[1] - mu[1], x[2] - mu[2]);
}

template <typename T>
int nearestMemberToMean(const ColourCluster<T>& k)
{
    const Vec3 mu = clusterMean(k);
    int best = 0;
    double bestD2 = DBL_MAX;
    for (int i = 0; i < k.size(); ++i) {
        const StoredColour<T>& m = k.members[std::size_t(i)];
        const double dr = double(m[0]) - mu[0], dg = double(m[1]) - mu[1], db = double(m[2]) - mu[2];
        const double d2 = dr * dr + dg * dg + db * db;
        if (d2 < bestD2) {
            bestD2 = d2;
            best = i;
        }
    }
    return best;
}

template <typename T>
int describeMembers(const StoredColour<T>* members, int n, double singularDeterminant,
                    double* likelihood)
{
    // The same sums, in the same order, as computeFirstMoments and computeSecondMoments.
    double r = 0.0, g = 0.0, b = 0.0, rr = 0.0, gg = 0.0, bb = 0.0, rg = 0.0, gb = 0.0, rb = 0.0;
    for (int i = 0; i < n; ++i) {
        const std::uint32_t cr = members[i][0], cg = members[i][1], cb = members[i][2];
        r += double(cr);
        g += double(cg);
        b += double(cb);
        rr += double(cr * cr);
        gg += double(cg * cg);
        bb += double(cb * cb);
        rg += double(cr * cg);
        gb += double(cg * cb);
        rb += double(cr * cb);
    }
    const double count = double(n);
    const Vec3 first(r, g, b);
    const Vec3 mu(r / count, g / count, b / count);
    int nearest = 0;
    double bestD2 = DBL_MAX;
    for (int i = 0; i < n; ++i) {
        const double dr = double(members[i][0]) - mu[0], dg = double(members[i][1]) - mu[1],
                     db = double(members[i][2]) - mu[2];
        const double d2 = dr * dr + dg * dg + db * db;
        if (d2 < bestD2) {
            bestD2 = d2;
            nearest = i;
        }
    }
    if (n < 2) {
        for (int i = 0; i < n; ++i)
            likelihood[i] = 0.0;
        return nearest;
    }
    const Sym3 m = invertScatter(scatterFromSums(Sym3(rr, gg, bb, rg, gb, rb), first, mu),
                                 singularDeterminant);
    for (int i = 0; i < n; ++i)
        likelihood[i] = likelihoodWith(m, double(members[i][0]) - mu[0],
                                       double(members[i][1]) - mu[1], double(members[i][2]) - mu[2]);
    return nearest;
}

template <typename T>
void buildBaseLevel(MattingPyramid<T>& pyramid, const blitz::Array<Colour<T>, 2>& source,
                    const MattingSampler& sampler)
{
    pyramid.source.reference(source);
    pyramid.upper.clear();
    const Rect domain = nonnegativeDomain(source);
    pyramid.baseCells = domain.isEmpty() ? Rect{} : domain.divide(2);
    pyramid.baseMask.assign(std::size_t(cellCount(pyramid.baseCells)), 0);
    if (domain.isEmpty())
        return;

    const classification::StatusByteArray& status = sampler.status;
    const Rect statusDomain = domainOf(status);
    // Status column of every source column, −1 outside the status array.
    std::vector<int> column(std::size_t(domain.y2 - domain.y1 + 1));
    for (int y = domain.y1; y <= domain.y2; ++y) {
        const int sy = int(float(y) * sampler.scaleY);
        column[std::size_t(y - domain.y1)] = sy >= statusDomain.y1 && sy <= statusDomain.y2 ? sy : -1;
    }
    const unsigned char classBits = sampler.classBits;
    const Rect cells = pyramid.baseCells;
    const int width = cells.y2 - cells.y1 + 1;
    const int bands = detail::bandCount(cellCount(cells), minCellsPerBand);
    detail::runBands(cells.x1, cells.x2, bands, [&](int, int i1, int i2) {
        for (int x = std::max(domain.x1, 2 * i1); x <= std::min(domain.x2, 2 * i2 + 1); ++x) {
            const int sx = int(float(x) * sampler.scaleX);
            if (sx < statusDomain.x1 || sx > statusDomain.x2)
                continue;
            const unsigned char* statusRow =
                status.data() + std::ptrdiff_t(sx - statusDomain.x1) * status.stride(0);
            std::uint8_t* mask = pyramid.baseMask.data() + std::size_t(x / 2 - cells.x1) * width;
            const std::uint8_t rowBit = std::uint8_t((x & 1) << 1);
            for (int y = domain.y1; y <= domain.y2; ++y) {
                const int sy = column[std::size_t(y - domain.y1)];
                if (sy < 0)
                    continue;
                const unsigned char s =
                    statusRow[std::ptrdiff_t(sy - statusDomain.y1) * status.stride(1)];
                if ((s & 128) && (s & classBits))
                    mask[y / 2 - cells.y1] |= std::uint8_t(1u << (rowBit | (y & 1)));
            }
        }
    });
}

template <typename T>
int baseCellMembers(const MattingPyramid<T>& pyramid, int i, int j, StoredColour<T>* out)
{
    const std::uint8_t mask = pyramid.baseMask[cellIndex(pyramid.baseCells, i, j)];
    if (!mask)
        return 0;
    const blitz::Array<Colour<T>, 2>& src = pyramid.source;
    const Colour<T>* origin = src.data();
    int n = 0;
    for (int bit = 0; bit < 4; ++bit)
        if (mask & (1u << bit)) {
            const int x = 2 * i + (bit >> 1), y = 2 * j + (bit & 1);
            const Colour<T>& c = origin[std::ptrdiff_t(x - src.lbound(0)) * src.stride(0) +
                                        std::ptrdiff_t(y - src.lbound(1)) * src.stride(1)];
            out[n++] = StoredColour<T>(c[0], c[1], c[2]);
        }
    return n;
}

template <typename T>
void refineCell(ClusterList<T>& clusters, double d, ClusterList<T>& temp, ColourCluster<T>& scratch)
{
    splitClusters(clusters, maxClustersPerList, d, scratch);
    // The pyramid keeps only the members of a reduced cluster (the search recomputes the
    // statistics it needs from them), so the final statistics of each reduction are skipped.
    for (int i = 0; i < clusters.size(); ++i)
        reduceMembers(clusters[i], maxClustersPerList, d / 2.0, temp, scratch);
}

template <typename T>
void buildCoarserLevel(MattingPyramid<T>& pyramid, double d)
{
    const bool fromBase = pyramid.upper.empty();
    const Rect fineCells = fromBase ? pyramid.baseCells : pyramid.upper.back().cells;
    PyramidLevel<T> level;
    level.cells = fineCells.divide(2);
    const Rect cells = level.cells;
    const int width = cells.y2 - cells.y1 + 1;
    level.quadrants.resize(std::size_t(cellCount(cells)));

    const int bands = detail::bandCount(cellCount(cells), minCellsPerBand);
    std::vector<BandPools<T>> pools(static_cast<std::size_t>(bands));
    const PyramidLevel<T>* fine = fromBase ? nullptr : &pyramid.upper.back();
    const double singular = pyramid.singularDeterminant;

    detail::runBands(cells.x1, cells.x2, bands, [&](int band, int i1, int i2) {
        BandPools<T>& out = pools[std::size_t(band)];
        out.firstRow = i1;
        out.lastRow = i2;
        ClusterList<T> clusters, temp;
        ColourCluster<T> scratch;
        StoredColour<T> base[4];
        for (int i = i1; i <= i2; ++i) {
            for (int j = cells.y1; j <= cells.y2; ++j) {
                clusters.clear();
                ColourCluster<T>& gathered = clusters.append();
                for (int fi = std::max(2 * i, fineCells.x1); fi <= std::min(2 * i + 1, fineCells.x2); ++fi)
                    for (int fj = std::max(2 * j, fineCells.y1); fj <= std::min(2 * j + 1, fineCells.y2);
                         ++fj) {
                        if (fromBase) {
                            const int n = baseCellMembers(pyramid, fi, fj, base);
                            gathered.members.insert(gathered.members.end(), base, base + n);
                            continue;
                        }
                        const Quadrant q = fine->quadrants[cellIndex(fineCells, fi, fj)];
                        if (q.count == 0)
                            continue;
                        const PaletteCluster& last = fine->clusters[q.first + q.count - 1];
                        const auto from = fine->members.begin() + fine->clusters[q.first].first;
                        const auto to = fine->members.begin() + last.first + last.count;
                        gathered.members.insert(gathered.members.end(), from, to);
                    }
                Quadrant& quadrant = level.quadrants[std::size_t(i - cells.x1) * width + (j - cells.y1)];
                if (gathered.members.empty())
                    continue;
                computeStatistics(gathered);
                refineCell(clusters, d, temp, scratch);
                quadrant.first = std::uint32_t(out.clusters.size());
                quadrant.count = std::uint32_t(clusters.size());
                for (int c = 0; c < clusters.size(); ++c) {
                    const ColourCluster<T>& k = clusters[c];
                    PaletteCluster pc;
                    pc.first = std::uint32_t(out.members.size());
                    pc.count = std::uint16_t(k.size());
                    out.members.insert(out.members.end(), k.members.begin(), k.members.end());
                    out.likelihood.resize(out.members.size());
                    pc.nearest = std::uint16_t(describeMembers(out.members.data() + pc.first, k.size(),
                                                               singular, out.likelihood.data() + pc.first));
                    out.clusters.push_back(pc);
                }
            }
        }
    });

    // Join the bands in order, turning band-relative indices into level indices.
    std::size_t clusterTotal = 0, memberTotal = 0;
    for (const BandPools<T>& p : pools) {
        clusterTotal += p.clusters.size();
        memberTotal += p.members.size();
    }
    level.clusters.reserve(clusterTotal);
    level.members.reserve(memberTotal);
    level.likelihood.reserve(memberTotal);
    for (int band = 0; band < bands; ++band) {
        BandPools<T>& p = pools[std::size_t(band)];
        const std::uint32_t clusterBase = std::uint32_t(level.clusters.size());
        const std::uint32_t memberBase = std::uint32_t(level.members.size());
        if (clusterBase != 0)
            for (int i = p.firstRow; i <= p.lastRow; ++i)
                for (std::size_t q = std::size_t(i - cells.x1) * width, e = q + width; q < e; ++q)
                    level.quadrants[q].first += clusterBase;
        for (PaletteCluster c : p.clusters) {
            c.first += memberBase;
            level.clusters.push_back(c);
        }
        level.members.insert(level.members.end(), p.members.begin(), p.members.end());
        level.likelihood.insert(level.likelihood.end(), p.likelihood.begin(), p.likelihood.end());
        p = BandPools<T>();
    }
    pyramid.upper.push_back(std::move(level));
}

template <typename T>
void solvePyramid(MattingPyramid<T>& pyramid, const blitz::Array<Colour<T>, 2>& source,
                  const MattingSampler& sampler, double d, double singularDeterminant,
                  ProgressRange progress)
{
    pyramid.singularDeterminant = singularDeterminant;
    buildBaseLevel(pyramid, source, sampler);
    float f = 0.5f, step = 0.25f;
    progress.report(std::string(), f);
    for (;;) {
        const Rect last = pyramid.upper.empty() ? pyramid.baseCells : pyramid.upper.back().cells;
        if (cellCount(last) <= 1)
            break;
        buildCoarserLevel(pyramid, d);
        f += step;
        step /= 2.f;
        progress.report(std::string(), f);
    }
}

#define KESTRINE_PYRAMID_INSTANCES(T)                                                          \
    template struct MattingPyramid<T>;                                                         \
    template double clusterLikelihood(const ColourCluster<T>&, const Vec3&, double);           \
    template int nearestMemberToMean(const ColourCluster<T>&);                                 \
    template int describeMembers(const StoredColour<T>*, int, double, double*);                \
    template void buildBaseLevel(MattingPyramid<T>&, const blitz::Array<Colour<T>, 2>&,       \
                                 const MattingSampler&);                                       \
    template int baseCellMembers(const MattingPyramid<T>&, int, int, StoredColour<T>*);        \
    template void refineCell(ClusterList<T>&, double, ClusterList<T>&, ColourCluster<T>&);     \
    template void buildCoarserLevel(MattingPyramid<T>&, double);                               \
    template void solvePyramid(MattingPyramid<T>&, const blitz::Array<Colour<T>, 2>&,          \
                               const MattingSampler&, double, double, ProgressRange);

KESTRINE_PYRAMID_INSTANCES(unsigned char)
KESTRINE_PYRAMID_INSTANCES(unsigned short)

} // namespace corvath::matting
