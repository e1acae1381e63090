#include "KsAppPreferences.h"

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

} // namespace

KsAppPreferences::KsAppPreferences()
    : m_persistOptionsKey(QStringLiteral("Preferences/PersistOptions")),
      m_useTabletPressureKey(QStringLiteral("Preferences/UseTabletPressure"))
{
    m_persistOptions = readBool(m_settings, m_persistOptionsKey, false);
    m_useTabletPressure = readBool(m_settings, m_useTabletPressureKey, true);
    g_instance = this;
}

KsAppPreferences::~KsAppPreferences()
{
    m_settings.setValue(m_persistOptionsKey, m_persistOptions);
    m_settings.setValue(m_useTabletPressureKey, m_useTabletPressure);
    if (g_instance == this)
        g_instance = nullptr;
}

KsAppPreferences* KsAppPreferences::instance()
{
    return g_instance;
}
