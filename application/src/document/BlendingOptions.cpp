#include "document/BlendingOptions.h"

#include "document/GmColor.h"

#include <QCoreApplication>

namespace {

// "autoBlueWidthF_" is misspelt, but stored projects use it.
const QString autoBlendWidthKey = QStringLiteral("autoBlueWidthF_");
const QString blendRatioKey = QStringLiteral("blendRatioF_");
const QString trackingKey = QStringLiteral("isPatchBlendRatioTrackingImage_");
const QString featherKey = QStringLiteral("feather_");
const QString choicesKey = QStringLiteral("isChoices_");
const QString choices1Key = QStringLiteral("choices1F_");
const QString choices2Key = QStringLiteral("choices2F_");
const QString membraneKey = QStringLiteral("isMembrane_");
const QString membrane1Key = QStringLiteral("membrane1F_");
const QString uniformBgKey = QStringLiteral("isUniformBg_");
const QString fgCheckedKey = QStringLiteral("fgChecked_");
const QString fgOverrideKey = QStringLiteral("fgOverride_");
const QString bgCheckedKey = QStringLiteral("bgChecked_");
const QString bgOverrideKey = QStringLiteral("bgOverride_");

std::unique_ptr<GmColor> defaultForeground()
{
    return std::make_unique<GmColor>(
        QStringLiteral("Foreground Override"),
        QCoreApplication::translate("BlendingOptions", "Foreground Override"), QColor(Qt::white),
        0);
}

std::unique_ptr<GmColor> defaultBackground()
{
    return std::make_unique<GmColor>(
        QStringLiteral("Background Override"),
        QCoreApplication::translate("BlendingOptions", "Background Override"), QColor(Qt::black),
        0);
}

// An override colour belongs to its record, never to the settings: a project that claims
// otherwise must not overwrite the user's own named colours when the record goes.
std::unique_ptr<GmColor> overrideFromMap(const QVariantMap& map, const QString& key,
                                         std::unique_ptr<GmColor> fallback)
{
    const auto it = map.constFind(key);
    if (it == map.constEnd() || it->type() != QVariant::Map)
        return fallback;
    QVariantMap colorMap = it->toMap();
    colorMap.insert(QStringLiteral("persist_"), 0);
    return std::make_unique<GmColor>(colorMap);
}

void readIfPresent(const QVariantMap& map, const QString& key, bool& value)
{
    const auto it = map.constFind(key);
    if (it != map.constEnd())
        value = it->toBool();
}

void readIfPresent(const QVariantMap& map, const QString& key, float& value)
{
    const auto it = map.constFind(key);
    if (it != map.constEnd())
        value = static_cast<float>(it->toDouble());
}

} // namespace

BlendingOptions::BlendingOptions()
    : m_fgOverride(defaultForeground()), m_bgOverride(defaultBackground())
{
}

BlendingOptions::BlendingOptions(const QVariant& variant)
{
    const QVariantMap map = variant.toMap();
    autoBlendWidth = static_cast<float>(map.value(autoBlendWidthKey).toDouble());
    blendRatio = static_cast<float>(map.value(blendRatioKey).toDouble());
    isPatchBlendRatioTrackingImage = map.value(trackingKey).toBool();
    feather = map.value(featherKey).toInt();
    readIfPresent(map, choicesKey, isChoices);
    readIfPresent(map, choices1Key, choices1);
    readIfPresent(map, choices2Key, choices2);
    readIfPresent(map, membraneKey, isMembrane);
    readIfPresent(map, membrane1Key, membrane1);
    readIfPresent(map, uniformBgKey, isUniformBg);
    fgChecked = map.value(fgCheckedKey).toBool();
    bgChecked = map.value(bgCheckedKey).toBool();
    m_fgOverride = overrideFromMap(map, fgOverrideKey, defaultForeground());
    m_bgOverride = overrideFromMap(map, bgOverrideKey, defaultBackground());
}

BlendingOptions::~BlendingOptions() = default;

void BlendingOptions::assign(const BlendingOptions& other)
{
    autoBlendWidth = other.autoBlendWidth;
    blendRatio = other.blendRatio;
    isPatchBlendRatioTrackingImage = other.isPatchBlendRatioTrackingImage;
    feather = other.feather;
    isChoices = other.isChoices;
    choices1 = other.choices1;
    choices2 = other.choices2;
    isMembrane = other.isMembrane;
    membrane1 = other.membrane1;
    isUniformBg = other.isUniformBg;
    fgChecked = other.fgChecked;
    bgChecked = other.bgChecked;
    m_fgOverride->setColor(other.m_fgOverride->color());
    m_bgOverride->setColor(other.m_bgOverride->color());
}

QVariantMap BlendingOptions::toMap() const
{
    QVariantMap map;
    map.insert(autoBlendWidthKey, static_cast<double>(autoBlendWidth));
    map.insert(blendRatioKey, static_cast<double>(blendRatio));
    map.insert(trackingKey, isPatchBlendRatioTrackingImage);
    map.insert(featherKey, feather);
    map.insert(choicesKey, isChoices);
    map.insert(choices1Key, static_cast<double>(choices1));
    map.insert(choices2Key, static_cast<double>(choices2));
    map.insert(membraneKey, isMembrane);
    map.insert(membrane1Key, static_cast<double>(membrane1));
    map.insert(uniformBgKey, isUniformBg);
    map.insert(fgCheckedKey, fgChecked);
    map.insert(fgOverrideKey, m_fgOverride->toVariantMap());
    map.insert(bgCheckedKey, bgChecked);
    map.insert(bgOverrideKey, m_bgOverride->toVariantMap());
    return map;
}
