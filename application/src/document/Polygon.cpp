#include "document/Polygon.h"

#include "document/ResolutionMapping.h"

#include <QPainter>
#include <QVariantMap>

#include <cmath>

namespace ks {

namespace {

const QString kPolyKey = QStringLiteral("qpoly_");
const QString kOpennessKey = QStringLiteral("openness_");

QRectF pointsArea(std::initializer_list<QPointF> points)
{
    QPolygonF poly;
    for (const QPointF& p : points)
        poly.append(p);
    return poly.boundingRect();
}

} // namespace

Polygon::Polygon(const QPointF& first, int openness) : m_openness(openness)
{
    m_vertices.append(first);
}

Polygon::Polygon(const QVariant& map)
{
    const QVariantMap m = map.toMap();
    m_vertices = m.value(kPolyKey).value<QPolygonF>();
    m_openness = m.value(kOpennessKey).toInt();
}

Polygon::Polygon(const Polygon& other) : Shape(other), m_vertices(other.m_vertices), m_openness(other.m_openness) {}

QVariant Polygon::toVariant() const
{
    QVariantMap m;
    m.insert(kPolyKey, m_vertices);
    m.insert(kOpennessKey, m_openness);
    return m;
}

QRectF Polygon::lastSegmentsArea() const
{
    const int n = m_vertices.size();
    if (n == 0)
        return QRectF();
    QRectF area = pointsArea({m_vertices[n - 1], m_vertices[n >= 2 ? n - 2 : 0]});
    if (isClosed())
        area = area.united(pointsArea({m_vertices[n - 1], m_vertices[0]}));
    return area;
}

void Polygon::appendPoint(const QPointF& p)
{
    m_vertices.append(p);
    announceDirty(growRect(lastSegmentsArea(), 1.0), DirtyHintHandles);
}

void Polygon::moveLastPoint(const QPointF& p)
{
    if (m_vertices.isEmpty())
        return;
    const QRectF old = lastSegmentsArea();
    m_vertices.last() = p;
    announceDirty(growRect(old.united(lastSegmentsArea()), 1.0), DirtyHintHandles);
}

void Polygon::redrawLastSegment()
{
    if (m_vertices.size() < 2)
        return;
    const QRectF old = lastSegmentsArea();
    const QPointF last = m_vertices.takeLast();
    m_vertices.last() = last;
    announceDirty(growRect(old.united(lastSegmentsArea()), 1.0), DirtyHintHandles);
}

void Polygon::dropRepeatedTailPoints()
{
    while (m_vertices.size() > 1) {
        const QPointF a = m_vertices[m_vertices.size() - 1];
        const QPointF b = m_vertices[m_vertices.size() - 2];
        if (std::abs(a.x() - b.x()) > 1e-12 || std::abs(a.y() - b.y()) > 1e-12)
            break;
        m_vertices.removeLast();
    }
}

QRectF Polygon::boundingRect() const
{
    return m_vertices.boundingRect();
}

bool Polygon::contains(const QPointF& p) const
{
    // The standard even-odd test rather than counting crossings of one ray, which counts a
    // vertex the ray passes through twice (the centre of a square can read as outside).
    if (m_vertices.size() < 3)
        return false;
    return m_vertices.containsPoint(p, Qt::OddEvenFill);
}

void Polygon::draw(QPainter* painter, int mode, const QRectF& exposed, double handleLength)
{
    if (m_vertices.isEmpty())
        return;
    if (!exposed.isNull() && !rectsOverlap(growRect(boundingRect(), handleLength), exposed))
        return;
    if (m_vertices.size() == 1)
        painter->drawPoint(m_vertices[0]);
    else if (isClosed())
        painter->drawPolygon(m_vertices);
    else
        painter->drawPolyline(m_vertices);
    if (mode == DrawEditing || mode == DrawActiveUnderSelect)
        drawHandles(painter, m_vertices, handleLength);
}

ShapeHit Polygon::hitTest(const QPointF& p) const
{
    ShapeHit hit;
    hit.point = p;
    const double t = handleHalfSize();
    if (m_vertices.isEmpty() || !growRect(boundingRect(), t).contains(p))
        return hit;
    const int n = m_vertices.size();
    for (int i = 0; i < n; ++i) {
        const QPointF& v = m_vertices[i];
        if (std::abs(p.x() - v.x()) <= t && std::abs(p.y() - v.y()) <= t) {
            hit.kind = ShapeHit::Vertex;
            hit.index = i;
            hit.offset = p - v;
            hit.cursorShape = Qt::SizeAllCursor;
            return hit;
        }
    }
    const int segments = isClosed() ? n : n - 1;
    for (int i = 0; i < segments; ++i) {
        if (squaredDistanceToSegment(p, m_vertices[i], m_vertices[(i + 1) % n]) <= t * t) {
            hit.kind = ShapeHit::Segment;
            hit.index = i;
            hit.offset = p - m_vertices[i];
            hit.cursorShape = Qt::OpenHandCursor;
            return hit;
        }
    }
    if (isClosed() && contains(p)) {
        hit.kind = ShapeHit::Inside;
        hit.cursorShape = Qt::OpenHandCursor;
    }
    return hit;
}

void Polygon::beginDrag(ShapeHit& hit, const QPointF& p)
{
    m_changed = false;
    hit.point = p;
}

void Polygon::dragTo(ShapeHit& hit, const QPointF& p)
{
    if (hit.kind == ShapeHit::None || m_vertices.isEmpty())
        return;
    const QRectF old = boundingRect();
    bool moved = false;
    if (hit.kind == ShapeHit::Vertex) {
        if (hit.index < 0 || hit.index >= m_vertices.size())
            return;
        const QPointF to = p - hit.offset;
        moved = to != m_vertices[hit.index];
        m_vertices[hit.index] = to;
    } else {
        const QPointF delta = p - hit.point;
        moved = !delta.isNull();
        m_vertices.translate(delta);
    }
    hit.point = p;
    if (!moved)
        return;
    m_changed = true;
    announceDirty(growRect(old.united(boundingRect()), 1.0), DirtyHintHandles);
}

bool Polygon::endDrag()
{
    return m_changed;
}

} // namespace ks
