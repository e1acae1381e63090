#include "document/BrushRegion.h"

#include "document/GmModel.h"

#include <QVariantMap>

namespace {

const QString shapeKey = QStringLiteral("brushing_");

} // namespace

BrushRegion::BrushRegion(const Brushing& stroke) : m_brushing(stroke)
{
    GmModel::instance()->addRegion(this);
}

BrushRegion::BrushRegion(const QVariant& map)
    : GmRegion(regionPart(map)), m_brushing(map.toMap().value(shapeKey))
{
}

Shape* BrushRegion::shape() const
{
    return &m_brushing;
}

void BrushRegion::toVariant(QVariant& variant) const
{
    writeMap(variant, Type, shapeKey, m_brushing.toVariant());
}

void BrushRegion::testRender()
{
    runTestRender();
}
