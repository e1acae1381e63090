#include "document/RectRegion.h"

#include "document/GmModel.h"

#include <QVariantMap>

namespace {

const QString shapeKey = QStringLiteral("rectangle_");

} // namespace

RectRegion::RectRegion(const QPointF& corner) : m_rectangle(corner, 1)
{
    GmModel::instance()->addRegion(this);
}

RectRegion::RectRegion(const QVariant& map)
    : GmRegion(regionPart(map)), m_rectangle(map.toMap().value(shapeKey))
{
}

Shape* RectRegion::shape() const
{
    return &m_rectangle;
}

void RectRegion::toVariant(QVariant& variant) const
{
    writeMap(variant, Type, shapeKey, m_rectangle.toVariant());
}

void RectRegion::testRender()
{
    runTestRender();
}
