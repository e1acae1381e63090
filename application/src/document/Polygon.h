#pragma once
// A run of vertices in image coordinates: a closed polygon (a polygon patch) or an open
// polyline (a forced edge).

#include "document/Shape.h"

#include <QPolygonF>
#include <QVariant>

namespace ks {

class Polygon : public Shape {
public:
    // openness 1 closes the polygon; any other value leaves an open polyline.
    Polygon(const QPointF& first, int openness);
    explicit Polygon(const QVariant& map);
    Polygon(const Polygon& other);
    Polygon& operator=(const Polygon&) = delete;

    QVariant toVariant() const;

    const QPolygonF& vertices() const { return m_vertices; }
    int openness() const { return m_openness; }
    bool isClosed() const { return m_openness == 1; }

    // Adds a vertex and repaints the new segment.
    void appendPoint(const QPointF& p);
    // Moves the last vertex (the rubber band) and repaints where its segments were and are.
    void moveLastPoint(const QPointF& p);
    // Removes the last vertex and moves the new last one to where it was.
    void redrawLastSegment();
    // Pops trailing vertices equal to the one before (within 1e-12), keeping at least one.
    void dropRepeatedTailPoints();

    QRectF boundingRect() const override;
    // Even-odd rule; an empty polygon contains nothing.
    bool contains(const QPointF& p) const override;
    void draw(QPainter* painter, int mode, const QRectF& exposed, double handleLength) override;
    ShapeHit hitTest(const QPointF& p) const override;
    void beginDrag(ShapeHit& hit, const QPointF& p) override;
    void dragTo(ShapeHit& hit, const QPointF& p) override;
    bool endDrag() override;

private:
    // The area of the segments that end at the last vertex, grown for the pen and handles.
    QRectF lastSegmentsArea() const;

    QPolygonF m_vertices;
    int m_openness = 0;
};

} // namespace ks
