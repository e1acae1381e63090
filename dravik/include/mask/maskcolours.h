#pragma once
// The mask core's estimates of foreground and background colour near the blend band: the
// boundary colour pyramid sampled at a position, and the nearest-seed colour fill with its
// over-relaxation.

#include "mask/maskpasses.h"

namespace classification {

// The four sums (r, g, b, weight) of the pyramid around a working position: levels finest
// first, each the bilinear blend of the cell pair (floor(p/s - 0.5), + 1) along each axis
// divided by s^4, until the weight times s^3 exceeds 2 or the levels run out. Cells outside a
// level's rectangle contribute nothing. An empty pyramid gives all zeros.
ColourSumCell sampleColourPyramid(FloatPair position, const ColourSumPyramid& pyramid);

// The number of relaxation sweeps a patch's value E asks for: 1 - trunc(-99 E), within 0..100
// (0 for NaN).
int relaxationSweeps(float patchValueE);

// Labels of the region colour fill.
enum RegionLabel : unsigned char { RegionToFill = 0, RegionSeed = 1, RegionOther = 2 };

// Over-relaxation of the colours labelled RegionToFill inside rect, in place and in raster
// order: each channel w becomes (0.5 - 0.5 w) + 1.5 S / n over the n of its four neighbours not
// labelled RegionOther (channel sum S), truncated and clamped to 0..255; with n = 0 it keeps its
// colour. The labels must reach one pixel beyond rect and hold RegionOther there; both arrays
// must share one shape.
void relaxRegionColours(const blitz::Array<unsigned char, 2>& labels, const Rect& rect,
                        blitz::Array<Rgb8, 2>& colours, int sweeps);

// The forward chamfer pass over the first half of the range, the backward pass over the second.
void runForwardBackwardPasses(const Rect& r, blitz::Array<int, 2>& dist,
                              blitz::Array<Rgb8, 2>& colour, ProgressRange& progress);

// Makes `out` the region colour image of one class (2 or 4) over the status view's domain
// grown by 2: every pixel of the view takes the image colour of the nearest seed (a pixel
// with the class bit) by chamfer distance, then the pixels pending and undecided
// ((status & 192) == 128) are relaxed relaxationSweeps(patchValueE) times. A pixel that no
// seed reaches keeps its own image colour; the grown frame holds black. The image (the
// session's 8-bit working copy) must cover the view. Reports into progress; the cancel
// exception passes through.
void maskRegionPass(blitz::Array<Rgb8, 2>& out, const StatusByteArray& statusView,
                    unsigned char classBit, float patchValueE,
                    const blitz::Array<Colour<unsigned char>, 2>& image, ProgressRange progress);

} // namespace classification
