#pragma once
// Colour palettes and the colour-pair search of the matting solver. For one pixel colour C
// the search picks a foreground colour F and a background colour B from the palettes of the
// pixel's pyramid cells such that C is best explained as a blend of the two, widening to
// coarser cells while the fit stays poor. Palettes are read in place: nothing is copied or
// allocated per pixel.

#include "matting/pyramid.h"

#include <stdexcept>

namespace corvath::matting {

// Thrown when a pyramid has no sample at all, so a pixel gets an empty palette.
class EmptyPalette : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A palette as the search reads it: `count` clusters whose members index `members` and
// `likelihood`; a likelihood counts as `likelihoodWeight` samples of colour distance.
template <typename T>
struct Palette {
    const PaletteCluster* clusters = nullptr;
    int count = 0;
    const StoredColour<T>* members = nullptr;
    const double* likelihood = nullptr;
    double likelihoodWeight = 1.0;
};

// Storage for the palette of a level-0 cell, which is described on demand.
template <typename T>
struct BasePalette {
    PaletteCluster cluster;
    StoredColour<T> members[4];
    double likelihood[4];
};

// Per-thread working storage of buildPalettes.
template <typename T>
struct PaletteScratch {
    BasePalette<T> foreground;
    BasePalette<T> background;
};

// The fit of C on the segment from Q (alpha 0) to P (alpha 1): alpha clamped to 0..1, the
// blended colour, and the score −|C − blend| (0 is a perfect fit). P equal to Q gives alpha 1.
struct SegmentFit {
    float score;
    float alpha;
    Vec3 blended;
};
SegmentFit projectOnSegment(const Vec3& p, const Vec3& q, const Vec3& c);

// ((C − B)·(F − B)) / |F − B|² clamped to 0..1, in float; 1 when F equals B.
float alphaFromColours(const SolverColour& c, const SolverColour& f, const SolverColour& b);

// The palette of the cell that holds pixel (x, y) on `level`, or of its nearest ancestor
// with samples; `level` becomes the level where it was found (the top level when none was,
// and the palette is then empty). A level-0 palette lives in `base`.
template <typename T>
Palette<T> gatherPalette(const MattingPyramid<T>& pyramid, int x, int y, int& level,
                         BasePalette<T>& base);

// Stage 1 picks the cluster pair whose nearest-to-mean members fit C best; stage 2 the pair
// of their members maximising fit plus both likelihoods. Ties keep the earlier candidate.
// Returns the best total (−FLT_MAX when a palette is empty; F and B are then untouched).
template <typename T>
float searchPalettes(const Palette<T>& foreground, const Palette<T>& background,
                     const SolverColour& c, SolverColour& f, SolverColour& b);

// F, B and alpha for the pixel (x, y) of colour C: searches from the given start levels,
// widening both palettes a level at a time until a pair scores above the threshold or both
// pyramids are exhausted, and keeps the best pair seen. When no pair could be scored, C
// serves as both. Throws EmptyPalette ("Empty foreground palette", then "Empty background
// palette") when a pyramid has no sample.
template <typename T>
void buildPalettes(SolverColour& f, SolverColour& b, int x, int y, float& alpha,
                   const MattingPyramid<T>& foreground, const MattingPyramid<T>& background,
                   const SolverColour& c, int foregroundLevel, int backgroundLevel,
                   float threshold, PaletteScratch<T>& scratch);

} // namespace corvath::matting
