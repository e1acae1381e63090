#pragma once
// Reduction of an 8-bit RGBA image by an integer factor, taking per-channel block medians.

#include "common/imageview.h"

#include <stdexcept>

namespace classification {

// The reduction factor for a source and destination size: the larger rounded-up ratio of the
// two sides, 3 promoted to 4 and 7 to 8. Sizes must be positive.
int scaleFactor(int sourceWidth, int sourceHeight, int destinationWidth, int destinationHeight);

// Writes the per-channel median of every whole b x b block of s into d(r, c); when s has rows
// or columns left over, d's last row or column is reduced from the blocks that end at s's
// last row or column. d must have at least rows(s) / b rows and columns(s) / b columns.
// Throws std::runtime_error("Image too small") when s has no whole block; nothing is written.
void reduceByBlocks(const RgbaView8& s, RgbaView8& d, int b);

// Copies s into d pixel by pixel (d at least as large as s).
void copyImage(const RgbaView8& s, RgbaView8& d);

} // namespace classification
