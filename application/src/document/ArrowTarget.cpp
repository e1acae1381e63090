#include "document/ArrowTarget.h"

#include "document/BrushRegion.h"
#include "document/ForcedEdge.h"
#include "document/GmColor.h"
#include "document/KsAppPreferences.h"
#include "document/PolyRegion.h"
#include "document/RectRegion.h"

#include <QVariantMap>

ArrowTarget::~ArrowTarget() = default;

QColor ArrowTarget::outlineColour() const
{
    const bool active = isActive();
    const KsAppPreferences::ColorIndex index =
        active ? KsAppPreferences::ActivePatchOrForcedEdgeColor : KsAppPreferences::PatchOrForcedEdgeColor;
    const KsAppPreferences* preferences = KsAppPreferences::instance();
    if (const GmColor* colour = preferences ? preferences->color(index) : nullptr)
        return colour->color();
    return active ? QColor(Qt::yellow) : QColor(Qt::darkYellow);
}

ArrowTarget* createArrowTargetFromVariant(const QVariant& variant)
{
    const QVariantMap map = variant.toMap();
    bool ok = false;
    const int type = map.value(QStringLiteral("type")).toInt(&ok);
    if (!ok)
        return nullptr;
    switch (type) {
    case RectRegion::Type:
        return new RectRegion(variant);
    case PolyRegion::Type:
        return new PolyRegion(variant);
    case BrushRegion::Type:
        return new BrushRegion(variant);
    case ForcedEdge::Type:
        return new ForcedEdge(variant);
    default:
        return nullptr;
    }
}
