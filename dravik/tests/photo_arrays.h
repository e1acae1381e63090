#pragma once
// Engine arrays cut from the synthetic photograph, with index ranges that do not start at 0.

#include "testimage.h"

#include <blitz/array.h>

namespace testsupport {

// One channel of syntheticPhoto(rows by cols), indexed from (x0, y0).
inline blitz::Array<unsigned char, 2> photoChannel(int rows, int cols, int channel, int x0, int y0,
                                                   unsigned seed = 1)
{
    const RgbaImage8 img = syntheticPhoto(cols, rows, seed);
    blitz::Array<unsigned char, 2> a(blitz::Range(x0, x0 + rows - 1), blitz::Range(y0, y0 + cols - 1));
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j)
            a(x0 + i, y0 + j) = img.row(i)[4 * j + channel];
    return a;
}

} // namespace testsupport
