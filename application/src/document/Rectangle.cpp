#include "document/Rectangle.h"

#include "document/ResolutionMapping.h"

#include <QPainter>
#include <QVariantMap>

#include <cmath>

namespace ks {

namespace {

const QString kRectKey = QStringLiteral("rect_");
const QString kCorner1Key = QStringLiteral("corner1_");
const QString kSnapKey = QStringLiteral("snap_");

QPolygonF corners(const QRectF& r)
{
    return QPolygonF({r.topLeft(), r.topRight(), r.bottomRight(), r.bottomLeft()});
}

} // namespace

Rectangle::Rectangle(const QPointF& corner, int snap) : m_snap(snap)
{
    const QPointF p = placed(corner);
    m_corner1 = p;
    m_corner2 = p;
    m_rect = QRectF(p, p);
}

Rectangle::Rectangle(const QVariant& map)
{
    const QVariantMap m = map.toMap();
    m_rect = m.value(kRectKey).toRectF();
    m_corner1 = m.value(kCorner1Key).toPointF();
    if (m.contains(kSnapKey))
        m_snap = m.value(kSnapKey).toInt();
    // The free corner is the one opposite the anchor.
    const QRectF r = m_rect.normalized();
    m_corner2 = QPointF(qFuzzyCompare(m_corner1.x() + 1, r.left() + 1) ? r.right() : r.left(),
                        qFuzzyCompare(m_corner1.y() + 1, r.top() + 1) ? r.bottom() : r.top());
}

Rectangle::Rectangle(const Rectangle& other)
    : Shape(other),
      m_rect(other.m_rect),
      m_corner1(other.m_corner1),
      m_corner2(other.m_corner2),
      m_snap(other.m_snap)
{
}

QVariant Rectangle::toVariant() const
{
    QVariantMap m;
    m.insert(kRectKey, m_rect);
    m.insert(kCorner1Key, m_corner1);
    m.insert(kSnapKey, m_snap);
    return m;
}

QPointF Rectangle::placed(const QPointF& p) const
{
    QPointF q = p;
    const QRectF image = imageRect();
    if (!image.isEmpty()) {
        q.setX(qBound(image.left(), q.x(), image.right()));
        q.setY(qBound(image.top(), q.y(), image.bottom()));
    }
    if (m_snap)
        q = roundedPointScaledByResolution(toWorkspacePoint(q));
    return q;
}

void Rectangle::changedFrom(const QRectF& old)
{
    if (old == m_rect)
        return;
    m_changed = true;
    announceDirty(old.normalized().united(m_rect.normalized()), DirtyHintHandles);
}

void Rectangle::dragCornerTo(const QPointF& p)
{
    const QRectF old = m_rect;
    m_corner2 = placed(p);
    m_rect = QRectF(m_corner1, m_corner2);
    changedFrom(old);
}

QRectF Rectangle::boundingRect() const
{
    return m_rect.normalized();
}

bool Rectangle::contains(const QPointF& p) const
{
    return m_rect.normalized().contains(p);
}

void Rectangle::draw(QPainter* painter, int mode, const QRectF& exposed, double handleLength)
{
    const QRectF r = m_rect.normalized();
    if (!exposed.isNull() && !rectsOverlap(growRect(r, handleLength), exposed))
        return;
    painter->drawRect(r);
    if (mode == DrawEditing || mode == DrawActiveUnderSelect)
        drawHandles(painter, corners(r), handleLength);
}

ShapeHit Rectangle::hitTest(const QPointF& p) const
{
    ShapeHit hit;
    hit.point = p;
    const double t = handleHalfSize();
    const QRectF r = m_rect.normalized();
    if (!growRect(r, t).contains(p))
        return hit;
    const QPolygonF c = corners(r);
    for (int i = 0; i < 4; ++i) {
        if (std::abs(p.x() - c[i].x()) <= t && std::abs(p.y() - c[i].y()) <= t) {
            hit.kind = ShapeHit::Corner;
            hit.index = i;
            hit.offset = p - c[i];
            hit.cursorShape = (i % 2 == 0) ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor;
            return hit;
        }
    }
    const double edgeDistance[4] = {std::abs(p.x() - r.left()), std::abs(p.y() - r.top()),
                                    std::abs(p.x() - r.right()), std::abs(p.y() - r.bottom())};
    for (int i = 0; i < 4; ++i) {
        if (edgeDistance[i] <= t) {
            hit.kind = ShapeHit::Edge;
            hit.index = i;
            hit.offset = (i % 2 == 0) ? QPointF(p.x() - (i == 0 ? r.left() : r.right()), 0)
                                      : QPointF(0, p.y() - (i == 1 ? r.top() : r.bottom()));
            hit.cursorShape = (i % 2 == 0) ? Qt::SizeHorCursor : Qt::SizeVerCursor;
            return hit;
        }
    }
    if (r.contains(p)) {
        hit.kind = ShapeHit::Whole;
        hit.cursorShape = Qt::OpenHandCursor;
    }
    return hit;
}

void Rectangle::beginDrag(ShapeHit& hit, const QPointF& p)
{
    m_changed = false;
    m_rect = m_rect.normalized();
    m_dragStart = m_rect;
    m_grab = p;
    hit.point = p;
}

void Rectangle::dragTo(ShapeHit& hit, const QPointF& p)
{
    const QRectF old = m_rect;
    const QPointF at = placed(p - hit.offset);
    switch (hit.kind) {
    case ShapeHit::Corner:
        switch (hit.index) {
        case 0: m_rect.setTopLeft(at); break;
        case 1: m_rect.setTopRight(at); break;
        case 2: m_rect.setBottomRight(at); break;
        default: m_rect.setBottomLeft(at); break;
        }
        break;
    case ShapeHit::Edge:
        switch (hit.index) {
        case 0: m_rect.setLeft(at.x()); break;
        case 1: m_rect.setTop(at.y()); break;
        case 2: m_rect.setRight(at.x()); break;
        default: m_rect.setBottom(at.y()); break;
        }
        break;
    case ShapeHit::Whole: {
        QPointF delta = p - m_grab;
        if (m_snap)
            delta = roundedPointScaledByResolution(toWorkspacePoint(delta));
        m_rect = m_dragStart.translated(delta);
        break;
    }
    default:
        return;
    }
    hit.point = p;
    changedFrom(old);
}

bool Rectangle::endDrag()
{
    m_rect = m_rect.normalized();
    m_corner1 = m_rect.topLeft();
    m_corner2 = m_rect.bottomRight();
    return m_changed;
}

} // namespace ks
