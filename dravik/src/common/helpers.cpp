#include "common/helpers.h"

#include <cmath>

namespace classification {

blitz::Array<int, 2> diskWindow(int n)
{
    blitz::Array<int, 2> w(n, n);
    const float c = (n - 1) * 0.5f;
    const float r = c + 0.5f;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            const float di = i - c, dj = j - c;
            w(i, j) = (dj * dj + di * di <= r * r) ? 1 : 0;
        }
    return w;
}

void LevelRange::set(int newLo, int newHi, int bitsExponent, int minShift)
{
    lo = newLo;
    hi = newHi;
    int d = hi - lo;
    if (d < 2)
        d = 1;
    const int e = int(std::logb(double(d)));
    shift = std::max(minShift, e - bitsExponent + 1);
    firstBin = lo >> shift;
    lastBin = hi >> shift;
}

} // namespace classification
