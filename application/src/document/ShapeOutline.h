#pragma once
// One polyline of a shape's engine outline, in image coordinates, with its bounds.

#include <QPolygonF>
#include <QRectF>

struct ShapeOutline {
    QRectF bounds;
    QPolygonF polygon;
};
