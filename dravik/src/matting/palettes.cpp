#include "matting/palettes.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace corvath::matting {

namespace {

// The squared distance of C from the segment as projectOnSegment measures it; v = C − Q,
// d = P − Q. Clamping alpha to 0 or 1 leaves exactly C − Q or C − P, so one formula serves
// all three cases (and P = Q, where alpha is 1).
inline double segmentResidual2(double vr, double vg, double vb, double dr, double dg, double db)
{
    const double dd = dr * dr + dg * dg + db * db;
    // Written without branches so that the candidate loops vectorise.
    const bool line = dd > 0.0;
    float a = float((vr * dr + vg * dg + vb * db) / (line ? dd : 1.0));
    a = line ? a : 1.f;
    a = std::min(std::max(a, 0.f), 1.f);
    const double ad = a;
    const double rr = vr - ad * dr, rg = vg - ad * dg, rb = vb - ad * db;
    return rr * rr + rg * rg + rb * rb;
}

// The kernels below run hundreds of times per pixel; they are built once more for AVX2
// processors. The arithmetic is the same IEEE operations in the same order (no contraction
// into fused multiply-adds), so every build gives the same results.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_ADDRESS__)
#define KESTRINE_WIDE_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define KESTRINE_WIDE_KERNEL
#endif

// The squared residuals of C against the segments from each of n candidates Q to one P;
// v = C − Q.
KESTRINE_WIDE_KERNEL
void segmentResiduals(double pr, double pg, double pb, const double* qr, const double* qg,
                      const double* qb, const double* vr, const double* vg, const double* vb, int n,
                      double* r2)
{
    for (int j = 0; j < n; ++j)
        r2[j] = segmentResidual2(vr[j], vg[j], vb[j], pr - qr[j], pg - qg[j], pb - qb[j]);
}

// Score plus both likelihoods, rounded to float, for each of n pairs; the background's
// likelihoods count `wb` times.
KESTRINE_WIDE_KERNEL
void pairTotals(const double* r2, double lf, const double* lb, double wb, int n, float* totals)
{
    for (int j = 0; j < n; ++j)
        totals[j] = float(double(float(-std::sqrt(r2[j]))) + lf + lb[j] * wb);
}

} // namespace

SegmentFit projectOnSegment(const Vec3& p, const Vec3& q, const Vec3& c)
{
    const double dr = p[0] - q[0], dg = p[1] - q[1], db = p[2] - q[2];
    const double vr = c[0] - q[0], vg = c[1] - q[1], vb = c[2] - q[2];
    const double dd = dr * dr + dg * dg + db * db;
    float a = dd > 0.0 ? float((vr * dr + vg * dg + vb * db) / dd) : 1.f;
    a = a < 0.f ? 0.f : a > 1.f ? 1.f : a;
    const double ad = a;
    return {float(-std::sqrt(segmentResidual2(vr, vg, vb, dr, dg, db))), a,
            Vec3(q[0] + ad * dr, q[1] + ad * dg, q[2] + ad * db)};
}

float alphaFromColours(const SolverColour& c, const SolverColour& f, const SolverColour& b)
{
    const float dr = f[0] - b[0], dg = f[1] - b[1], db = f[2] - b[2];
    const float dd = dr * dr + dg * dg + db * db;
    if (!(dd > 0.f))
        return 1.f;
    const float a = ((c[0] - b[0]) * dr + (c[1] - b[1]) * dg + (c[2] - b[2]) * db) / dd;
    return a < 0.f ? 0.f : a > 1.f ? 1.f : a;
}

template <typename T>
Palette<T> gatherPalette(const MattingPyramid<T>& pyramid, int x, int y, int& level,
                         BasePalette<T>& base)
{
    const int top = pyramid.topLevel();
    for (int l = std::max(level, 0); l <= top; ++l) {
        const int i = x / (2 << l), j = y / (2 << l);
        if (l == 0) {
            if (!pyramid.baseCells.contains(i, j))
                continue;
            const int n = baseCellMembers(pyramid, i, j, base.members);
            if (n == 0)
                continue;
            base.cluster.first = 0;
            base.cluster.count = std::uint16_t(n);
            base.cluster.nearest = std::uint16_t(
                describeMembers(base.members, n, pyramid.singularDeterminant, base.likelihood));
            level = 0;
            return {&base.cluster, 1, base.members, base.likelihood, pyramid.colourUnit};
        }
        const PyramidLevel<T>& lv = pyramid.upper[std::size_t(l - 1)];
        if (!lv.cells.contains(i, j))
            continue;
        const Quadrant q = lv.quadrants[std::size_t(i - lv.cells.x1) * std::size_t(lv.cells.y2 - lv.cells.y1 + 1) +
                                        std::size_t(j - lv.cells.y1)];
        if (q.count == 0)
            continue;
        level = l;
        return {lv.clusters.data() + q.first, int(q.count), lv.members.data(), lv.likelihood.data(),
                pyramid.colourUnit};
    }
    level = top;
    return {};
}

template <typename T>
float searchPalettes(const Palette<T>& fg, const Palette<T>& bg, const SolverColour& c,
                     SolverColour& f, SolverColour& b)
{
    if (fg.count == 0 || bg.count == 0)
        return -FLT_MAX;
    const double cr = c[0], cg = c[1], cb = c[2];
    constexpr int most = maxClustersPerList;
    // Per candidate on the background side: Q and C − Q, laid out for vector loops.
    alignas(16) double qr[most], qg[most], qb[most], vr[most], vg[most], vb[most], r2[most];
    alignas(16) float totals[most];

    // Stage 1: the clusters, through their members nearest the mean. A candidate can only
    // win when its squared residual is below the best one's, so the root is taken only then.
    const int nb = std::min(bg.count, most);
    for (int j = 0; j < nb; ++j) {
        const StoredColour<T>& q = bg.members[bg.clusters[j].first + bg.clusters[j].nearest];
        qr[j] = q[0];
        qg[j] = q[1];
        qb[j] = q[2];
        vr[j] = cr - qr[j];
        vg[j] = cg - qg[j];
        vb[j] = cb - qb[j];
    }
    float best = -FLT_MAX;
    double bestR2 = HUGE_VAL;
    int bestF = 0, bestB = 0;
    for (int i = 0; i < fg.count; ++i) {
        const StoredColour<T>& p = fg.members[fg.clusters[i].first + fg.clusters[i].nearest];
        const double pr = p[0], pg = p[1], pb = p[2];
        segmentResiduals(pr, pg, pb, qr, qg, qb, vr, vg, vb, nb, r2);
        for (int j = 0; j < nb; ++j)
            if (r2[j] < bestR2) {
                const float s = float(-std::sqrt(r2[j]));
                if (s > best) {
                    best = s;
                    bestR2 = r2[j];
                    bestF = i;
                    bestB = j;
                }
            }
    }
    if (!(best > -FLT_MAX))
        return -FLT_MAX;

    // Stage 2: the members of the chosen pair, each with its likelihood in its cluster.
    const PaletteCluster& kf = fg.clusters[bestF];
    const PaletteCluster& kb = bg.clusters[bestB];
    const int mb = std::min(int(kb.count), most);
    const StoredColour<T>* bm = bg.members + kb.first;
    const double* bl = bg.likelihood + kb.first;
    for (int j = 0; j < mb; ++j) {
        qr[j] = bm[j][0];
        qg[j] = bm[j][1];
        qb[j] = bm[j][2];
        vr[j] = cr - qr[j];
        vg[j] = cg - qg[j];
        vb[j] = cb - qb[j];
    }
    best = -FLT_MAX;
    int winF = -1, winB = -1;
    for (int i = 0; i < kf.count; ++i) {
        const StoredColour<T>& p = fg.members[kf.first + i];
        const double pr = p[0], pg = p[1], pb = p[2];
        const double lf = fg.likelihood[kf.first + i] * fg.likelihoodWeight;
        segmentResiduals(pr, pg, pb, qr, qg, qb, vr, vg, vb, mb, r2);
        pairTotals(r2, lf, bl, bg.likelihoodWeight, mb, totals);
        for (int j = 0; j < mb; ++j) {
            const float total = totals[j];
            if (total > best) {
                best = total;
                winF = i;
                winB = j;
            }
        }
    }
    if (winF >= 0) {
        const StoredColour<T>& p = fg.members[kf.first + winF];
        f = SolverColour(float(p[0]), float(p[1]), float(p[2]));
        b = SolverColour(float(bm[winB][0]), float(bm[winB][1]), float(bm[winB][2]));
    }
    return best;
}

template <typename T>
void buildPalettes(SolverColour& f, SolverColour& b, int x, int y, float& alpha,
                   const MattingPyramid<T>& foreground, const MattingPyramid<T>& background,
                   const SolverColour& c, int foregroundLevel, int backgroundLevel,
                   float threshold, PaletteScratch<T>& scratch)
{
    const int topF = foreground.topLevel(), topB = background.topLevel();
    int lf = foregroundLevel, lb = backgroundLevel;
    float best = -FLT_MAX;
    bool found = false;
    SolverColour bestF(-1.f), bestB(-1.f), tryF, tryB;
    for (;;) {
        const Palette<T> pf = gatherPalette(foreground, x, y, lf, scratch.foreground);
        const Palette<T> pb = gatherPalette(background, x, y, lb, scratch.background);
        if (pf.count == 0)
            throw EmptyPalette("Empty foreground palette");
        if (pb.count == 0)
            throw EmptyPalette("Empty background palette");
        const float score = searchPalettes(pf, pb, c, tryF, tryB);
        if (score > best) {
            best = score;
            bestF = tryF;
            bestB = tryB;
            found = true;
        }
        if (score > threshold || (lf >= topF && lb >= topB))
            break;
        lf = std::min(lf + 1, topF);
        lb = std::min(lb + 1, topB);
    }
    if (!found) {
        // Nothing could be scored: the pixel explains itself.
        bestF = c;
        bestB = c;
    }
    f = bestF;
    b = bestB;
    alpha = alphaFromColours(c, f, b);
}

#define KESTRINE_PALETTE_INSTANCES(T)                                                          \
    template Palette<T> gatherPalette(const MattingPyramid<T>&, int, int, int&, BasePalette<T>&); \
    template float searchPalettes(const Palette<T>&, const Palette<T>&, const SolverColour&,   \
                                  SolverColour&, SolverColour&);                               \
    template void buildPalettes(SolverColour&, SolverColour&, int, int, float&,                \
                                const MattingPyramid<T>&, const MattingPyramid<T>&,            \
                                const SolverColour&, int, int, float, PaletteScratch<T>&);

KESTRINE_PALETTE_INSTANCES(unsigned char)
KESTRINE_PALETTE_INSTANCES(unsigned short)

} // namespace corvath::matting
