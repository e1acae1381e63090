#pragma once
// The matting pyramid: quadrant cells of candidate colours, built once per solver call from
// the Keep (or Drop) samples around a Blend area. Level 0 holds the raw samples of 2 x 2
// pixel blocks; each coarser level halves the grid, gathers its children's colours, splits
// them into at most 27 clusters along principal axes and shrinks each cluster to a few
// representative colours.
//
// Storage is compact: a cell is an index and a count into its level's cluster pool, a
// cluster an index and a count into the member pool, and level 0 keeps only a bit per
// sampled pixel (its colours are read from the source image). Each stored cluster carries
// what the colour-pair search needs: its member nearest the mean and each member's
// likelihood under the cluster's scatter. Cell (i, j) of level L + 1 is the parent of the
// level-L cells (2i .. 2i + 1, 2j .. 2j + 1).

#include "mask/maskpasses.h"
#include "session/progress.h"
#include "matting/cluster.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvath::matting {

// Which source pixels feed a pyramid: (x, y) is a sample when the status at
// (trunc(x · scaleX), trunc(y · scaleY)) lies inside the status array, has bit 128 and shares
// a bit with classBits (2 Keep for the foreground, 4 Drop for the background).
struct MattingSampler {
    classification::StatusByteArray status;
    float scaleX = 1.f;
    float scaleY = 1.f;
    unsigned char classBits = 0;
};

// A cell: clusters [first, first + count) of its level's pool; count 0 when it has no samples.
struct Quadrant {
    std::uint32_t first = 0;
    std::uint32_t count = 0;
};

// A cluster as the search reads it: members [first, first + count) of its level's pool, and
// the offset among them of the member nearest the mean (the earliest of equally near ones).
struct PaletteCluster {
    std::uint32_t first = 0;
    std::uint16_t count = 0;
    std::uint16_t nearest = 0;
};

template <typename T>
struct PyramidLevel {
    Rect cells;                         // index range of the cells
    std::vector<Quadrant> quadrants;    // row-major over cells
    std::vector<PaletteCluster> clusters;
    std::vector<StoredColour<T>> members;
    std::vector<double> likelihood;     // per member: its likelihood in its cluster
};

template <typename T>
struct MattingPyramid {
    // Level 0: the source view, its cells and one bit per sampled pixel of each 2 x 2 block
    // (bit 0 (2i, 2j), bit 1 (2i, 2j + 1), bit 2 (2i + 1, 2j), bit 3 (2i + 1, 2j + 1)).
    blitz::Array<Colour<T>, 2> source;
    Rect baseCells;
    std::vector<std::uint8_t> baseMask;
    // Levels 1 .. top.
    std::vector<PyramidLevel<T>> upper;
    // A scatter matrix whose determinant is smaller in magnitude counts as singular.
    double singularDeterminant = 1e-5;
    // One 8-bit level in samples: the colour-pair search weighs a likelihood, which has no
    // unit, as that many samples of colour distance.
    double colourUnit = 1.0;

    int levelCount() const { return baseCells.isEmpty() ? 0 : 1 + int(upper.size()); }
    int topLevel() const { return levelCount() - 1; }
    // True when no pixel was sampled.
    bool empty() const;
    // Bytes held by the levels (not the source).
    std::size_t memoryBytes() const;
};

// The likelihood of x under a cluster's scatter: −(x − μ)ᵀ S⁻¹ (x − μ), 0 for fewer than two
// members or a singular scatter.
template <typename T>
double clusterLikelihood(const ColourCluster<T>& k, const Vec3& x, double singularDeterminant);

// The offset of the member with the smallest squared distance to the mean; ties keep the
// earlier member. The cluster must have a member.
template <typename T>
int nearestMemberToMean(const ColourCluster<T>& k);

// The statistics the search reads, from n members in pool order: returns the nearest
// member's offset and writes each member's likelihood. No allocation.
template <typename T>
int describeMembers(const StoredColour<T>* members, int n, double singularDeterminant,
                    double* likelihood);

// Level 0 over the source's index range (its part at nonnegative indices) divided by two.
template <typename T>
void buildBaseLevel(MattingPyramid<T>& pyramid, const blitz::Array<Colour<T>, 2>& source,
                    const MattingSampler& sampler);

// The colours of level-0 cell (i, j), in pixel order (first index outer); returns their count.
template <typename T>
int baseCellMembers(const MattingPyramid<T>& pyramid, int i, int j, StoredColour<T>* out);

// Appends the next coarser level: each cell gathers its children's members, is split with
// distance d (at most 27 clusters) and has every cluster reduced with d / 2. Cells are
// independent and may be built on several threads; the result does not depend on their
// number.
template <typename T>
void buildCoarserLevel(MattingPyramid<T>& pyramid, double d);

// Splits a cell's gathered clusters with distance d and reduces each with d / 2; only the
// reduced members are meant to be read afterwards (their statistics are not refreshed).
template <typename T>
void refineCell(ClusterList<T>& clusters, double d, ClusterList<T>& temp, ColourCluster<T>& scratch);

// Builds every level from the samples of the source, until a level has a single cell.
// Reports 0.5, 0.75, 0.875, ... of the range with an empty text, one more per coarser level;
// the cancel exception passes through.
template <typename T>
void solvePyramid(MattingPyramid<T>& pyramid, const blitz::Array<Colour<T>, 2>& source,
                  const MattingSampler& sampler, double d, double singularDeterminant,
                  ProgressRange progress);

} // namespace corvath::matting
