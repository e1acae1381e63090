#include "document/EDOs.h"

#include <QVariantMap>

namespace {

const QString sensitivityKey = QStringLiteral("sensitivity_");
const QString widthKey = QStringLiteral("width_");
const QString textureKey = QStringLiteral("texture_");
const QString contrastKey = QStringLiteral("contrast_");
const QString widthInImageCoordsKey = QStringLiteral("widthInImageCoords_");

void readValue(const QVariantMap& map, const QString& key, GmValue<int>& value)
{
    const auto it = map.constFind(key);
    if (it != map.constEnd())
        value.fromVariant(*it);
}

} // namespace

EDOs::EDOs(QObject* parent) : QObject(parent) {}

EDOs::EDOs(const QVariant& variant, QObject* parent) : QObject(parent)
{
    const QVariantMap map = variant.toMap();
    readValue(map, sensitivityKey, m_sensitivity);
    readValue(map, widthKey, m_width);
    readValue(map, textureKey, m_texture);
    readValue(map, contrastKey, m_contrast);
    const auto it = map.constFind(widthInImageCoordsKey);
    if (it != map.constEnd()) {
        bool ok = false;
        const int width = it->toInt(&ok);
        if (ok)
            m_widthInImageCoords = width;
    }
}

void EDOs::applyAll()
{
    for (GmValueB* value : m_values)
        value->apply();
}

void EDOs::storeAll()
{
    for (GmValueB* value : m_values)
        value->store();
}

void EDOs::restoreAll()
{
    for (GmValueB* value : m_values)
        value->restore();
}

void EDOs::revertAll()
{
    for (GmValueB* value : m_values)
        value->revert();
}

void EDOs::setDefaultAll()
{
    for (GmValueB* value : m_values)
        value->setDefault();
}

bool EDOs::isModified() const
{
    for (const GmValueB* value : m_values) {
        if (value->isModified())
            return true;
    }
    return false;
}

bool EDOs::isNonDefault() const
{
    for (const GmValueB* value : m_values) {
        if (value->isNonDefault())
            return true;
    }
    return false;
}

void EDOs::assign(const EDOs& other)
{
    m_sensitivity = other.m_sensitivity;
    m_width = other.m_width;
    m_texture = other.m_texture;
    m_contrast = other.m_contrast;
    m_widthInImageCoords = other.m_widthInImageCoords;
}

QVariant EDOs::toVariant() const
{
    QVariantMap map;
    map.insert(sensitivityKey, m_sensitivity.toVariant());
    map.insert(widthKey, m_width.toVariant());
    map.insert(textureKey, m_texture.toVariant());
    map.insert(contrastKey, m_contrast.toVariant());
    map.insert(widthInImageCoordsKey, m_widthInImageCoords);
    return map;
}

bool EDOs::vectorEdgesUseful(int sensitivity)
{
    const float scaled = float(sensitivity - 1) * edgeScaleFactor * 0.01010101f;
    return scaled < 1.0f;
}
