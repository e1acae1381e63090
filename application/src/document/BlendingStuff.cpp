#include "document/BlendingStuff.h"

#include <QVariantMap>

namespace {
const QString optionsKey = QStringLiteral("bos_");
}

BlendingStuff::BlendingStuff(const QVariant& variant)
    : m_options(variant.toMap().value(optionsKey))
{
}

BlendingStuff::~BlendingStuff() = default;

QVariant BlendingStuff::toVariant() const
{
    QVariantMap map;
    map.insert(optionsKey, m_options.toMap());
    return map;
}
