#include "document/PolyRegion.h"

#include "document/GmModel.h"

#include <QVariantMap>

namespace {

const QString shapeKey = QStringLiteral("poly_");

} // namespace

PolyRegion::PolyRegion(const QPointF& first) : m_polygon(first, 1)
{
    GmModel::instance()->addRegion(this);
}

PolyRegion::PolyRegion(const QVariant& map)
    : GmRegion(regionPart(map)), m_polygon(map.toMap().value(shapeKey))
{
}

Shape* PolyRegion::shape() const
{
    return &m_polygon;
}

void PolyRegion::toVariant(QVariant& variant) const
{
    writeMap(variant, Type, shapeKey, m_polygon.toVariant());
}

void PolyRegion::testRender()
{
    runTestRender();
}
