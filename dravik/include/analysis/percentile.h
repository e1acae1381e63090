#pragma once
// Local percentile (rank) filters over a window of any shape, run with a sliding histogram.
// The window is an int array whose non-zero entries belong to it; its index range is the
// range of offsets (which may be negative) from the pixel being filtered.
//
// Every form writes only the output domain, the positions x for which x plus every offset of
// the window's range stays inside the source (source range minkowskiDifference window range),
// and returns it; the destination is indexed like the source and must cover it. The histogram
// spans the whole sample type whatever value range a caller passes, so no sample can index
// past it. A cancel thrown by the callback propagates, rows already written stay written.

#include "session/progress.h"
#include "common/rect.h"

#include <blitz/array.h>
#include <blitz/tinyvec2.h>

namespace classification {

using corvath::utility::Rect;

using BytePair = blitz::TinyVector<unsigned char, 2>;

// One percentile (0..1) per pixel: with n window entries the target rank is p * (n - 1) + 1,
// interpolated between the two neighbouring order statistics. Progress, when ui is given, is
// reported after every row whose first index is a multiple of 256, mapped onto
// [progressLow, progressHigh].
Rect processOneChannelImageBody(blitz::Array<unsigned char, 2> destination,
                                const blitz::Array<unsigned char, 2>& source,
                                const blitz::Array<int, 2>& window, int low, int high, float percentile,
                                corvath::utility::IiUI* ui, float progressLow, float progressHigh);
Rect processOneChannelImageBody(blitz::Array<unsigned short, 2> destination,
                                const blitz::Array<unsigned short, 2>& source,
                                const blitz::Array<int, 2>& window, int low, int high, float percentile,
                                corvath::utility::IiUI* ui, float progressLow, float progressHigh);

// The body with the window reflected through its origin (entry (r, c) becomes (-r, -c)).
Rect processOneChannelImageDriver(blitz::Array<unsigned char, 2> destination,
                                  const blitz::Array<unsigned char, 2>& source,
                                  const blitz::Array<int, 2>& window, int low, int high, float percentile,
                                  corvath::utility::IiUI* ui, float progressLow, float progressHigh);
Rect processOneChannelImageDriver(blitz::Array<unsigned short, 2> destination,
                                  const blitz::Array<unsigned short, 2>& source,
                                  const blitz::Array<int, 2>& window, int low, int high, float percentile,
                                  corvath::utility::IiUI* ui, float progressLow, float progressHigh);

// The driver for any view of one sample per pixel (a channel of a colour array, a transposed
// or strided view), read in place without a copy.
Rect processOneChannelImage(blitz::Array<unsigned char, 2> destination,
                            const blitz::Array<unsigned char, 2>& source,
                            const blitz::Array<int, 2>& window, int low, int high, float percentile,
                            corvath::utility::IiUI* ui, float progressLow, float progressHigh);
Rect processOneChannelImage(blitz::Array<unsigned short, 2> destination,
                            const blitz::Array<unsigned short, 2>& source,
                            const blitz::Array<int, 2>& window, int low, int high, float percentile,
                            corvath::utility::IiUI* ui, float progressLow, float progressHigh);

// The instruction sets the 8-bit filters can run on: automatic takes the widest this processor
// has, portable the sliding histogram alone. Every choice gives the same results; tests force
// each to compare them.
enum class PercentileLanes { automatic, portable, avx2, avx512 };

// The choice for every later 8-bit filter in the process; false when this processor lacks
// the instructions (the filters then fall back to narrower ones).
bool usePercentileLanes(PercentileLanes lanes);

} // namespace classification
