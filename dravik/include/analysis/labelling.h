#pragma once
// Raster operations over label images: connected regions with compact numbers, the majority
// value of every region, a backward pass over neighbour pairs, and the chamfer steps of the
// distance transforms.

#include "session/progress.h"
#include "common/rect.h"

#include <blitz/array.h>

#include <vector>

namespace classification {

using corvath::utility::Rect;
using LabelArray = blitz::Array<int, 2>;

// Gives every 4-connected region of equal values inside the label view a compact label, taken
// from nextLabel in the order of the regions' first pixels (first index outer). The value
// image is indexed like the view and must cover it; neighbours outside the view count as
// different, so regions never continue past the view's edge.
void labelConnectedRegions(const LabelArray& values, int& nextLabel, LabelArray labels);
// The same with the view's rows split into that many bands (at most one per row), labelled
// side by side and joined at their borders: the labels are those of one band.
void labelConnectedRegions(const LabelArray& values, int& nextLabel, LabelArray labels, int bands);

// Resizes result to n entries (new entries 0) and stores in result[L] the value that most
// pixels of label L carry; on a tie the value that first reached the final count in storage
// order. Labels that are negative, at or above n, or absent leave their entry alone. values
// must cover the labels' domain. Reports every 256th row into [low, high] when ui is given;
// DvExCancel passes through with result partly written.
void computeRegionModes(std::vector<int>& result, int n, const LabelArray& labels,
                        const LabelArray& values, corvath::utility::IiUI* ui = nullptr,
                        float low = 0.f, float high = 1.f);

// Pair step: when a holds the same value at both pixels, b takes that value at both.
inline void copyLabelIfSame(int aP, int aQ, int& bP, int& bQ)
{
    if (aP == aQ)
        bP = bQ = aP;
}

// For every pixel p of r, from the highest indices down (first index outer): the pair step
// with p's right neighbour (0, +1), then with its lower neighbour (+1, 0). Both arrays must
// cover r grown by one at its upper ends. Reports once, when the outer index reaches 0.
void backwardNeighbourPass(const Rect& r, const LabelArray& a, LabelArray b,
                           corvath::utility::IiUI* ui, float low, float high);

// Chamfer step: when dist(from) + w < dist(to), to takes that distance.
inline void relaxDistance(const int* from, int* to, int weight)
{
    if (*from + weight < *to)
        *to = *from + weight;
}

// The same step carrying the nearest colour along with the distance.
template <typename ColourT>
inline void relaxDistanceWithColour(const int* fromDistance, int* toDistance,
                                    const ColourT* fromColour, ColourT* toColour, int weight)
{
    if (*fromDistance + weight < *toDistance) {
        *toDistance = *fromDistance + weight;
        *toColour = *fromColour;
    }
}

} // namespace classification
