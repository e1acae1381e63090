#include "document/ForcedEdge.h"

#include "document/GmModel.h"
#include "document/PixelState.h"
#include "engine/DravikThread.h"
#include "engine/DvCmdSelect.h"

#include <QBrush>
#include <QPen>
#include <QVariantMap>

namespace {

const QString typeKey = QStringLiteral("type");
const QString polyKey = QStringLiteral("poly_");
const QString widthKey = QStringLiteral("width_");

} // namespace

ForcedEdge::ForcedEdge(const QPointF& first, int width) : m_polygon(first, 0), m_width(width)
{
    GmModel::instance()->addForcedEdge(this);
}

ForcedEdge::ForcedEdge(const QVariant& map)
    : m_polygon(map.toMap().value(polyKey)), m_width(map.toMap().value(widthKey).toInt())
{
}

ForcedEdge::~ForcedEdge()
{
    if (GmModel* model = GmModel::existingInstance())
        model->forgetArrowTarget(this);
}

Shape* ForcedEdge::shape() const
{
    return &m_polygon;
}

void ForcedEdge::activate()
{
    GmModel::instance()->setActiveForcedEdge(this);
}

void ForcedEdge::deactivate()
{
    if (isActive())
        GmModel::instance()->setActiveForcedEdge(nullptr);
}

void ForcedEdge::shapeChanged()
{
    GmModel::instance()->setForcedEdgesChanged(true);
}

bool ForcedEdge::isActive() const
{
    return GmModel::instance()->activeForcedEdge() == this;
}

void ForcedEdge::submitToEngine()
{
    if (DravikThread* thread = DravikThread::instance())
        thread->submit(new DvCmdSelect(GmModel::instance(), this));
}

void ForcedEdge::toVariant(QVariant& variant) const
{
    QVariantMap map;
    map.insert(typeKey, Type);
    map.insert(polyKey, m_polygon.toVariant());
    map.insert(widthKey, m_width);
    variant = map;
}

void ForcedEdge::reset()
{
    m_polygon.pixelState()->clear();
}

PixelState* ForcedEdge::setMaskStyle()
{
    const int divisor = GmModel::instance()->resolution();
    QPen pen(QBrush(Qt::color1), divisor, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    return m_polygon.setPenAndBrush(pen, Qt::NoBrush);
}

ForcedEdge::EnginePoints ForcedEdge::enginePoints()
{
    const QPolygonF& vertices = m_polygon.vertices();
    if (int(m_enginePoints.size()) != vertices.size())
        m_enginePoints.resize(std::size_t(vertices.size()));
    const double scale = 1.0 / GmModel::instance()->resolution();
    for (int i = 0; i < vertices.size(); ++i)
        m_enginePoints[std::size_t(i)] = {float(vertices[i].x() * scale), float(vertices[i].y() * scale)};
    return {m_enginePoints.data(), int(m_enginePoints.size()), float(m_width)};
}
