#pragma once
// Rectangular maximum and minimum filters of byte images, as two line-filter passes.

#include "session/progress.h"
#include "common/rect.h"

#include <blitz/array.h>

namespace morphology {

using corvath::utility::IntPair;
using corvath::utility::Rect;

// destination(x, y) = the maximum (minimum) of source(x - w1 + 1 .. x, y - w2 + 1 .. y) on the
// returned rectangle {lb0 + w1 - 1, lb1 + w2 - 1, ub0, ub1}, which the destination must cover;
// nothing else of it is written. The first pass reports into the first half of the range.
Rect separableMaxFilter(blitz::Array<unsigned char, 2> destination, IntPair window,
                        const blitz::Array<unsigned char, 2>& source, ProgressRange progress);
Rect separableMinFilter(blitz::Array<unsigned char, 2> destination, IntPair window,
                        const blitz::Array<unsigned char, 2>& source, ProgressRange progress);

} // namespace morphology
