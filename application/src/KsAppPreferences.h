#pragma once
// The application-wide options that other parts consult, read at construction and written
// at destruction. One instance per run, reached through instance().

#include <QSettings>

class KsAppPreferences {
public:
    KsAppPreferences();
    ~KsAppPreferences();
    KsAppPreferences(const KsAppPreferences&) = delete;
    KsAppPreferences& operator=(const KsAppPreferences&) = delete;

    // Null before start-up has created the preferences, and after they are gone.
    static KsAppPreferences* instance();

    // Option panels restore their controls from the previous run.
    bool persistOptions() const { return m_persistOptions; }
    void setPersistOptions(bool on) { m_persistOptions = on; }
    // Pen pressure drives the brush size.
    bool useTabletPressure() const { return m_useTabletPressure; }
    void setUseTabletPressure(bool on) { m_useTabletPressure = on; }

private:
    QSettings m_settings;
    QString m_persistOptionsKey;
    QString m_useTabletPressureKey;
    bool m_persistOptions = false;
    bool m_useTabletPressure = true;
};
