#pragma once
// Chamfer distances of every pixel from the nearest Keep and the nearest Delete pixel,
// measured along paths through unmarked pixels.

#include "session/progress.h"

#include <blitz/array.h>
#include <blitz/tinyvec2.h>

namespace classification {

// Component 0: distance to Keep (status bit 2); component 1: distance to Delete (bit 4).
using MarkDistance = blitz::TinyVector<float, 2>;
using MarkDistances = blitz::Array<MarkDistance, 2>;

// The real-valued 3 x 3 chamfer steps (float bits 0x3F76415E and 0x3FAE2340).
constexpr float markAxialStep = 0x1.ec82bcp-1f;
constexpr float markDiagonalStep = 0x1.5c468p+0f;
// The distance of a pixel that no path reaches (float bits 0x7EFFFFFF); twice it is still
// finite, so a ratio of two of them stays defined.
constexpr float markUnreached = 0x1.fffffep+126f;

// Makes `distance` a new array over the status array's domain and fills it. Marked pixels
// (bit 2 or 4) hold 0 in both components and block the paths; a pixel that no path reaches
// holds markUnreached. Distances are summed in float in order of increasing distance, so the
// sums are those of the wave front's own order. The map views the interior of a slightly
// larger block: address it through its strides. The status array is only read; progress is
// not reported.
void computeMarkDistances(MarkDistances& distance, const blitz::Array<unsigned char, 2>& status,
                          ProgressRange progress);

} // namespace classification
