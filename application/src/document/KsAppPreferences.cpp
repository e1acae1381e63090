#include "document/KsAppPreferences.h"

#include "document/GmColor.h"

#include <QCoreApplication>

namespace {

KsAppPreferences* g_instance = nullptr;

// A stored value of another type is converted; one that cannot be reads false.
bool readBool(const QSettings& settings, const QString& key, bool fallback)
{
    const QVariant value = settings.value(key, fallback);
    if (value.canConvert<bool>()) {
        if (value.type() == QVariant::String) {
            const QString text = value.toString().trimmed().toLower();
            if (text == QLatin1String("true") || text == QLatin1String("1"))
                return true;
            return false;
        }
        return value.toBool();
    }
    return false;
}

struct NamedColor {
    const char* name;
    Qt::GlobalColor defaultColor;
};

// In ColorIndex order.
const NamedColor namedColors[KsAppPreferences::ColorCount] = {
    {QT_TRANSLATE_NOOP("KsAppPreferences", "Keep Mask"), Qt::green},
    {QT_TRANSLATE_NOOP("KsAppPreferences", "Delete Mask"), Qt::red},
    {QT_TRANSLATE_NOOP("KsAppPreferences", "Blend Mask"), Qt::blue},
    {QT_TRANSLATE_NOOP("KsAppPreferences", "Patch Protection"), Qt::white},
    {QT_TRANSLATE_NOOP("KsAppPreferences", "Patch or Forced Edge"), Qt::darkYellow},
    {QT_TRANSLATE_NOOP("KsAppPreferences", "Active Patch or Forced Edge"), Qt::yellow},
    {QT_TRANSLATE_NOOP("KsAppPreferences", "Color Workspace Highlight"), Qt::yellow},
};

} // namespace

KsAppPreferences::KsAppPreferences()
    : m_persistOptionsKey(QStringLiteral("Preferences/PersistOptions")),
      m_useTabletPressureKey(QStringLiteral("Preferences/UseTabletPressure"))
{
    m_persistOptions = readBool(m_settings, m_persistOptionsKey, false);
    m_useTabletPressure = readBool(m_settings, m_useTabletPressureKey, true);
    for (const NamedColor& named : namedColors) {
        m_colors.push_back(std::make_unique<GmColor>(
            QString::fromLatin1(named.name),
            QCoreApplication::translate("KsAppPreferences", named.name),
            QColor(named.defaultColor), 1));
        m_colorList.append(m_colors.back().get());
    }
    g_instance = this;
}

KsAppPreferences::~KsAppPreferences()
{
    m_settings.setValue(m_persistOptionsKey, m_persistOptions);
    m_settings.setValue(m_useTabletPressureKey, m_useTabletPressure);
    if (g_instance == this)
        g_instance = nullptr;
    // Each colour writes itself to the settings as it goes.
    m_colorList.clear();
    m_colors.clear();
}

KsAppPreferences* KsAppPreferences::instance()
{
    return g_instance;
}

GmColor* KsAppPreferences::color(ColorIndex index) const
{
    return index >= 0 && index < ColorCount ? m_colorList.at(index) : nullptr;
}
