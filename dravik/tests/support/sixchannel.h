#pragma once
// Six-channel analysis images for engine tests: a soft opening and closing of every colour
// channel, approximated by a 3 x 3 minimum and maximum (channel j from colour channel 2 - j,
// channel j + 3 likewise).

#include "testimage.h"

#include <blitz/array.h>
#include <blitz/tinyvec2.h>

#include <algorithm>

namespace testsupport {

using SixChannel = blitz::TinyVector<unsigned char, 6>;
using SixChannelImage = blitz::Array<SixChannel, 2>;

// Indexed (row, column) from the given base.
inline SixChannelImage sixChannelImage(const RgbaImage8& rgba, int baseRow = 0, int baseCol = 0)
{
    const int h = rgba.height, w = rgba.width;
    SixChannelImage out(blitz::Range(baseRow, baseRow + h - 1), blitz::Range(baseCol, baseCol + w - 1));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            SixChannel& o = out(baseRow + y, baseCol + x);
            for (int j = 0; j < 3; ++j) {
                unsigned char lo = 255, hi = 0;
                for (int dy = -1; dy <= 1; ++dy) {
                    const int yy = std::clamp(y + dy, 0, h - 1);
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int xx = std::clamp(x + dx, 0, w - 1);
                        const unsigned char v = rgba.row(yy)[xx * 4 + (2 - j)];
                        lo = std::min(lo, v);
                        hi = std::max(hi, v);
                    }
                }
                o[j] = lo;
                o[j + 3] = hi;
            }
        }
    }
    return out;
}

} // namespace testsupport
