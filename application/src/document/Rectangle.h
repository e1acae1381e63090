#pragma once
// A rectangle in image coordinates with an anchor corner and a free corner: the shape of a
// rectangle patch and of the zoom and preview rubber bands.

#include "document/Shape.h"

#include <QVariant>

namespace ks {

class Rectangle : public Shape {
public:
    // Both corners at the point. With snap set, moved corners keep to the working pixel grid.
    explicit Rectangle(const QPointF& corner, int snap = 0);
    // From a map written by toVariant.
    explicit Rectangle(const QVariant& map);
    Rectangle(const Rectangle& other);
    Rectangle& operator=(const Rectangle&) = delete;

    QVariant toVariant() const;

    // The rectangle as it is; between a drag past the anchor and endDrag its size may be negative.
    const QRectF& rect() const { return m_rect; }
    const QPointF& corner1() const { return m_corner1; }
    const QPointF& freeCorner() const { return m_corner2; }
    int snap() const { return m_snap; }

    // Moves the free corner (kept inside the image) and repaints the old and new areas.
    void dragCornerTo(const QPointF& p);

    QRectF boundingRect() const override;
    bool contains(const QPointF& p) const override;
    void draw(QPainter* painter, int mode, const QRectF& exposed, double handleLength) override;
    ShapeHit hitTest(const QPointF& p) const override;
    void beginDrag(ShapeHit& hit, const QPointF& p) override;
    void dragTo(ShapeHit& hit, const QPointF& p) override;
    // Normalises the rectangle (anchor top-left, free corner bottom-right).
    bool endDrag() override;

private:
    QPointF placed(const QPointF& p) const;
    void changedFrom(const QRectF& old);

    QRectF m_rect;
    QPointF m_corner1;
    QPointF m_corner2;
    int m_snap = 0;
    QRectF m_dragStart;
    QPointF m_grab;
};

} // namespace ks
