#pragma once
// Points and rectangles in image coordinates (full-resolution source pixels, as doubles), and
// the two qualifiers of a repaint announcement.

#include <QPointF>
#include <QRectF>

using ImagePointF = QPointF;
using ImageRectF = QRectF;
// The image rectangle shown in the viewport, as the view reports it.
using GRectF = QRectF;

// How far the canvas grows a dirty rectangle before repainting it: not at all, by 2 widget
// pixels (outlines), or by 4.5 (handles).
enum DirtyHint : int { DirtyHintNone = 0, DirtyHintOutline = 1, DirtyHintHandles = 2 };

// Whether a shown patch preview is cleared before the repaint.
enum PatchPreviewWanted : int { KeepPatchPreview = 0, ClearPatchPreview = 1 };
