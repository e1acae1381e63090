#pragma once
// The fine labels of an analysis: the segmentation's regions renumbered as compact
// 4-connected regions, after pixels that share their label with none of their four
// neighbours have taken the label most of their neighbours carry.

#include "analysis/labelling.h"

#include <vector>

namespace classification {

// Resolves, in place and in raster order, every pixel of r whose label is 0: when all four
// edge neighbours carry positive labels it takes the label most of its eight neighbours carry
// (diagonals with positive labels included; on equal counts the label that reached the count
// first, edge neighbours before diagonals); otherwise it and its edge neighbours labelled 0
// become -1 (a negative edge neighbour too). labels must cover r grown by 1. The vote table
// has an entry for every label present, whatever n (the expected number of labels) says.
void resolveBoundaryLabels(const Rect& r, int n, LabelArray labels);

// Fine labels of regionLabels over bounds into fine (resized to bounds grown by 1 when it
// differs): 0, 1, 2, ... inside bounds in the order of the regions' first pixels, -1 on the
// frame. regionLabels must cover bounds grown by 1 and hold 0 on the ring around bounds (as
// the inner watershed leaves it); it is never modified. Returns the number of fine labels.
int makeFineLabels(const LabelArray& regionLabels, const Rect& bounds, LabelArray& fine);

// computeRegionModes for values of a bounded range (the level labels): the same result,
// computed region by region through a bucket per label instead of a table of pairs, on one
// thread per processor. Reports as its passes end.
void regionMajorities(std::vector<int>& result, int n, const LabelArray& labels, const LabelArray& values,
                      ProgressRange range);

} // namespace classification
