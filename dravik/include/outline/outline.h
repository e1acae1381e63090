#pragma once
// Region outlines: the cracks between pixels of different labels traced into chains of
// pixel-corner points, turned into float polylines, simplified and smoothed. Corner (x, y) is
// the first corner of pixel (x, y); x runs along the first array index.

#include "common/helpers.h"
#include "common/rect.h"
#include "dravik_outline.h"

#include <blitz/array.h>

#include <vector>

namespace classification {

using Point = corvath::utility::IntPair;
using FloatPoint = corvath::utility::FloatPair;
// Closed when its first and last points are equal.
using Polyline = std::vector<Point>;
using FloatPolyline = std::vector<FloatPoint>;

// One traced border: labelA lies on the left of the chain walked in point order, labelB on
// the right; -1 is the outside of the image.
struct BorderRecord {
    int labelA = -1;
    int labelB = -1;
    Polyline points;
};

// Traces every crack between differently labelled pixels of rect and of the one-pixel frame
// around it, each crack into exactly one chain. The frame must lie inside the array and hold a
// single value; it is read, never written. Throws std::invalid_argument otherwise.
void traceRegionBorders(const blitz::Array<unsigned char, 2>& labels, const Rect& rect,
                        std::vector<Polyline>& chains);
void traceRegionBorders(const blitz::Array<int, 2>& labels, const Rect& rect,
                        std::vector<BorderRecord>& borders);

// Float polyline of a traced chain by point rule 0..5; any other rule copies the points.
// Closed chains are taken cyclically and closed again; open chains keep their end points.
FloatPolyline applyPointRule(const Polyline& chain, int rule);

// Douglas-Peucker in place: a point survives when its distance from the chord of the range
// holding it exceeds the tolerance; closed polylines are split at their farthest point.
void simplifyPolylines(std::vector<Polyline>& polylines, float tolerance);
void simplifyPolylines(std::vector<FloatPolyline>& polylines, float tolerance);

// Replaces each vertex by two points at amount / cos(turn / 2) along its two segments (at most
// a quarter of each segment); end points of open polylines stay, closed ones stay closed.
void smoothPolylines(std::vector<FloatPolyline>& polylines, float amount);
// Appends the one or two points that vertex p with neighbours q (before) and n (after) becomes.
void smoothCorner(FloatPoint q, FloatPoint p, FloatPoint n, float amount, FloatPolyline& out);

// Outlines between the regions of an analysed image. regionLabels carries a frame of -1 one
// pixel wide around the traced area (its outermost ring); borders with -1 are dropped. Empty
// when scaleFactor is not above 1; tolerance 0 and smoothing 0 switch those passes off.
std::vector<FloatPolyline> buildRegionOutlines(const blitz::Array<int, 2>& regionLabels, int pointRule,
                                               float simplifyTolerance, float smoothing,
                                               float scaleFactor);

// Outline of a patch bitmap (non-zero = selected), in the bitmap's own indices, simplified with
// tolerance 0.1. Never modifies the bitmap.
std::vector<Polyline> buildSelectionOutline(const blitz::Array<unsigned char, 2>& bitmap);

// Owned outline records as the client reads them: points copied column first. data() is null
// when there are none. Frees the points of the last record first, then the records.
class OutlineRecords {
public:
    OutlineRecords() = default;
    ~OutlineRecords() { clear(); }
    OutlineRecords(const OutlineRecords&) = delete;
    OutlineRecords& operator=(const OutlineRecords&) = delete;
    OutlineRecords(OutlineRecords&& other) noexcept;
    OutlineRecords& operator=(OutlineRecords&& other) noexcept;

    DvOutline* data() const { return m_records; }
    int count() const { return m_count; }
    void clear();

    friend OutlineRecords publishOutlines(const std::vector<FloatPolyline>& polylines);
    friend OutlineRecords publishOutlines(const std::vector<Polyline>& polylines);

private:
    DvOutline* m_records = nullptr;
    int m_count = 0;
};

// One record per polyline, in order; on allocation failure nothing is left allocated.
OutlineRecords publishOutlines(const std::vector<FloatPolyline>& polylines);
OutlineRecords publishOutlines(const std::vector<Polyline>& polylines);

} // namespace classification
