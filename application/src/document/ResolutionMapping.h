#pragma once
// Conversions between image coordinates (full-resolution source pixels) and working
// coordinates (the image divided by the model's resolution divisor), and the small rectangle
// helpers the shapes share. Functions without a divisor argument read the model's.

#include <QPointF>
#include <QRect>
#include <QRectF>

QPointF dividePointF(const QPointF& p, double s);
// Image point to working point.
QPointF toWorkspacePoint(const QPointF& p);
// Working point to image point.
QPointF scalePointByResolution(const QPointF& p);
QRectF scaleRectByResolution(const QRectF& r);
QRectF unscaleRectByResolution(const QRectF& r);
// Left, top, right and bottom each rounded by floor(v + 0.5).
QRectF roundRectF(const QRectF& r);
QPointF roundedPointScaledByResolution(const QPointF& p);
// Left and top rounded down, right and bottom up: the smallest whole-pixel rectangle around r.
void alignRectToPixels(QRectF& r);
QRectF growRect(const QRectF& r, double m);
// The working image's rectangle (its size rounded up, as the source builds it); empty when the
// model holds no image.
QRect workingImageRect();
// The source image's rectangle in image coordinates; empty without an image.
QRectF imageRect();

namespace ks {
// True when two rectangles with non-negative sizes overlap or touch.
bool rectsOverlap(const QRectF& a, const QRectF& b);
// The square of the distance from p to the segment from a to b (to a when they coincide).
double squaredDistanceToSegment(const QPointF& p, const QPointF& a, const QPointF& b);
} // namespace ks
