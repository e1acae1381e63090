#pragma once
// What the analysis driver needs of the segmentation pipeline.

#include "classification/segmentation.h"

namespace classification {

// Runs the pipeline over range; true when any stage changed a result.
bool runSegmentation(Segmentation<6, 0>& segmentation, ProgressRange range);
// The pipeline's region labels: 1 or more over the bounds, 0 on the ring around them; empty
// when the last run switched the stage off.
const blitz::Array<int, 2>& segmentationRegionLabels(Segmentation<6, 0>& segmentation);

} // namespace classification
