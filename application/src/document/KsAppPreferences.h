#pragma once
// The application-wide options that other parts consult, and the user's named display colours,
// read at construction and written at destruction. One instance per run, reached through
// instance().

#include <QList>
#include <QSettings>

#include <memory>
#include <vector>

class GmColor;

class KsAppPreferences {
public:
    // Positions in colors(), by which the canvas, the tools and the colour workspace look a
    // colour up.
    enum ColorIndex {
        KeepMaskColor,
        DeleteMaskColor,
        BlendMaskColor,
        PatchProtectionColor,
        PatchOrForcedEdgeColor,
        ActivePatchOrForcedEdgeColor,
        ColorWorkspaceHighlightColor,
        ColorCount
    };

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

    // The seven persisted colours in ColorIndex order, owned by the preferences.
    const QList<GmColor*>& colors() const { return m_colorList; }
    GmColor* color(ColorIndex index) const;

private:
    QSettings m_settings;
    QString m_persistOptionsKey;
    QString m_useTabletPressureKey;
    bool m_persistOptions = false;
    bool m_useTabletPressure = true;
    std::vector<std::unique_ptr<GmColor>> m_colors;
    QList<GmColor*> m_colorList;
};
