#pragma once
// The colour-envelope worker of the analysis.

#include "classification/percentile.h"

namespace classification {

struct Rancour {
    // Two percentiles per pixel at once, written as a byte pair (for example a low and a
    // high percentile, whose difference is the local range); otherwise as
    // processOneChannelImageBody.
    static Rect processTwoChannelImage(blitz::Array<BytePair, 2> destination,
                                       const blitz::Array<unsigned char, 2>& source,
                                       const blitz::Array<int, 2>& window, int low, int high,
                                       float percentile0, float percentile1,
                                       corvath::utility::IiUI* ui, float progressLow,
                                       float progressHigh);
};

} // namespace classification
