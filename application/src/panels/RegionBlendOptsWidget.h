#pragma once
// A patch's special blending: "Complex Hair Blending" (two colour palettes) or "Complex Edge
// Blending" (edge smoothness), never both, a preview of the patch's cut-out, and the
// foreground and background override colours with their pipettes. While either complex type
// is on the Feather/Smart ratio does not apply: enableStandardBlending says so. Changes edit
// the record in focus; the override colours are those of the record last shown.

#include "panels/BlendOptsWidget.h"

#include <QPointer>

class GmColor;
class PipetteTool;
class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QSlider;
class QToolButton;

class RegionBlendOptsWidget : public BlendOptsWidget {
    Q_OBJECT
public:
    // The controls are built by the owner's ensureBuilt.
    explicit RegionBlendOptsWidget(QWidget* parent = nullptr);
    ~RegionBlendOptsWidget() override;

    void showSettings(BlendingOptions* options) override;
    void readSettings(BlendingOptions* options) override;

    // The settings key of the warning shown when a slow blending type is switched on; the
    // name is translated and keeps its blanks.
    static QString speedWarningKey(const QString& name);

    QGroupBox* hairGroup() const { return m_hairGroup; }
    QGroupBox* edgeGroup() const { return m_edgeGroup; }
    QSlider* keepPaletteSlider() const { return m_keepSlider; }
    QSlider* deletePaletteSlider() const { return m_deleteSlider; }
    QSlider* smoothnessSlider() const { return m_smoothSlider; }
    QLabel* keepPaletteLabel() const { return m_keepLabel; }
    QLabel* deletePaletteLabel() const { return m_deleteLabel; }
    QLabel* smoothnessLabel() const { return m_smoothLabel; }
    QCheckBox* foregroundBox() const { return m_fgBox; }
    QCheckBox* backgroundBox() const { return m_bgBox; }
    QAction* foregroundAction() const { return m_fgAction; }
    QAction* backgroundAction() const { return m_bgAction; }
    PipetteTool* foregroundPipette() const { return m_fgPipette; }
    PipetteTool* backgroundPipette() const { return m_bgPipette; }
    QToolButton* previewButton() const { return m_preview; }

signals:
    void enableStandardBlending(bool on);
    void setFeather(int feather);

public slots:
    void featherChangedSlot(int feather);
    void choicesClickedSlot(bool on);
    void choices1ChangedSlot(int position);
    void choices2ChangedSlot(int position);
    void membraneClickedSlot(bool on);
    void membrane1ChangedSlot(int position);
    void uniformBgClickedSlot(bool on);
    void fgClickedSlot();
    void fgCheckedSlot(int state);
    void bgClickedSlot();
    void bgCheckedSlot(int state);
    void fgColourChangedByPipetteSlot(const QColor& colour);
    void bgColourChangedByPipetteSlot(const QColor& colour);
    void fgColourChangedByColorPickerSlot(const QColor& colour);
    void bgColourChangedByColorPickerSlot(const QColor& colour);
    void fgPipetteToolSelectedSlot();
    void bgPipetteToolSelectedSlot();

protected:
    void buildControls(QVBoxLayout* layout) override;
    BlendingOptions* recordInFocus() const override;

private:
    // The group boxes follow the record and the ratio's availability is announced.
    void refreshGroups(const BlendingOptions& options);
    void showSpeedWarning(const QString& name);
    QSlider* makeSlider(const QString& toolTip);
    void setSliderLabel(QLabel* label, const QString& name, int position);
    // The shown colour changes from one record's to another's.
    void rebindColour(QPointer<GmColor>& shown, GmColor* colour, QAction* action,
                      void (RegionBlendOptsWidget::*slot)(const QColor&));
    void takePickedColour(GmColor* colour, const QColor& picked, QAction* action, QCheckBox* box);

    QString m_featherName;
    QString m_keepName;
    QString m_deleteName;
    QString m_smoothName;
    QString m_hairName;
    QString m_edgeName;
    QGroupBox* m_hairGroup = nullptr;
    QGroupBox* m_edgeGroup = nullptr;
    QSlider* m_keepSlider = nullptr;
    QSlider* m_deleteSlider = nullptr;
    QSlider* m_smoothSlider = nullptr;
    QLabel* m_keepLabel = nullptr;
    QLabel* m_deleteLabel = nullptr;
    QLabel* m_smoothLabel = nullptr;
    QCheckBox* m_fgBox = nullptr;
    QCheckBox* m_bgBox = nullptr;
    QAction* m_fgAction = nullptr;
    QAction* m_bgAction = nullptr;
    PipetteTool* m_fgPipette = nullptr;
    PipetteTool* m_bgPipette = nullptr;
    QToolButton* m_preview = nullptr;
    QPointer<GmColor> m_fgColour;
    QPointer<GmColor> m_bgColour;
    // The record being shown while showSettings moves the sliders.
    BlendingOptions* m_showing = nullptr;
};
