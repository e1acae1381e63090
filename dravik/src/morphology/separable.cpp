#include "morphology/separable.h"

#include "morphology/convolve.h"

namespace morphology {

namespace {

template <typename Op>
Rect separableFilter(blitz::Array<unsigned char, 2> destination, IntPair window,
                     const blitz::Array<unsigned char, 2>& source, const ProgressRange& progress,
                     Op op)
{
    const ProgressRange firstHalf(progress.parent, progress.at(0.f), progress.at(0.5f));
    const ProgressRange secondHalf(progress.parent, progress.at(0.5f), progress.at(1.f));

    // Nothing is allocated or written when either window does not fit (or is below 1).
    const Rect in = corvath::utility::domainOf(source);
    const bool fits = window.x >= 1 && window.y >= 1 && (long long)in.x1 + window.x - 1 <= in.x2 &&
                      (long long)in.y1 + window.y - 1 <= in.y2;
    if (!fits)
        return {in.x2 + 1, in.y2 + 1, in.x2, in.y2};
    // The intermediate covers the first pass's output rectangle exactly.
    const Rect firstOut{in.x1 + window.x - 1, in.y1, in.x2, in.y2};

    blitz::Array<unsigned char, 2> between(blitz::Range(firstOut.x1, firstOut.x2),
                                           blitz::Range(firstOut.y1, firstOut.y2));
    convolveLineFast(source, window.x, op, between, firstHalf);
    return convolveLineFastTransposed(between, window.y, op, destination, secondHalf);
}

} // namespace

Rect separableMaxFilter(blitz::Array<unsigned char, 2> destination, IntPair window,
                        const blitz::Array<unsigned char, 2>& source, ProgressRange progress)
{
    return separableFilter(destination, window, source, progress, LineOpMax());
}

Rect separableMinFilter(blitz::Array<unsigned char, 2> destination, IntPair window,
                        const blitz::Array<unsigned char, 2>& source, ProgressRange progress)
{
    return separableFilter(destination, window, source, progress, LineOpMin());
}

} // namespace morphology
