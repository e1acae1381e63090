#pragma once
// The edge-finding options of one segmentation record: how finely the image is divided into
// objects, the minimum edge width, the edge contrast and the texture filter. The controls edit
// the record's current values; Apply hands them to the record's analysis, Revert and Defaults
// only change the current values. The image's panel is persistable: with the workspace
// preference "PersistOptions" on, its controls start from the previous run and win over the
// model's values. A patch's panel binds the widget to the patch's own record.

#include "panels/PersistentWidget.h"

#include <QPointer>
#include <QWidget>

class EDOs;
class GmRegion;
class KsSourceImage;
class QButtonGroup;
class QGroupBox;
class QPushButton;
class QSpinBox;
class SegmentationStuff;
class ToolPaletteButton;

class EdgeDetectionOptions : public QWidget {
    Q_OBJECT
public:
    explicit EdgeDetectionOptions(bool persistable, QWidget* parent = nullptr);
    ~EdgeDetectionOptions() override;

    // The record shown, null when there is none (no image, or the bound record is gone).
    SegmentationStuff* record() const;
    EDOs* options() const;
    // Shows another record (null: none). The owner of a patch's panel does this.
    void bindRecord(SegmentationStuff* record);
    // Loads the values into the controls; nothing for null.
    void showValues(EDOs* options);

    QSlider* sensitivitySlider() const { return m_sensitivitySlider; }
    QSlider* widthSlider() const { return m_widthSlider; }
    QSpinBox* widthSpinBox() const { return m_widthSpin; }
    QGroupBox* sensitivityGroup() const { return m_sensitivityGroup; }
    QGroupBox* widthGroup() const { return m_widthGroup; }
    QGroupBox* contrastGroup() const { return m_contrastGroup; }
    QGroupBox* textureGroup() const { return m_textureGroup; }
    QButtonGroup* contrastButtons() const { return m_contrastButtons; }
    QButtonGroup* textureButtons() const { return m_textureButtons; }
    QPushButton* defaultsButton() const { return m_defaults; }
    QPushButton* revertButton() const { return m_revert; }
    QPushButton* applyButton() const { return m_apply; }
    ToolPaletteButton* advancedButton() const { return m_advanced; }

signals:
    void setSensitivity(int value);
    void setWidth(int value);
    void setEdgeContrastHigh(bool on);
    void setEdgeContrastMedium(bool on);
    void setEdgeContrastLow(bool on);
    void setTextureFilterFine(bool on);
    void setTextureFilterMedium(bool on);
    void setTextureFilterCoarse(bool on);

public slots:
    void setEnablednessOfButtons();
    void applyValuesSlot();
    void resolutionChangedSlot(int previousDivisor, int newDivisor);
    void imageChangedSlot(const KsSourceImage* image);
    void activeRegionChangedSlot(GmRegion* region);
    void sessionHasBegunSlot();
    void revertValuesSlot();
    void setDefaultsSlot();
    void contrastChanged(int id);
    void textureFilterChanged(int id);
    void widthChangedSlot(int value);
    void sensitivityChangedSlot(int value);
    void toggleAdvanced();

protected:
    // Through the style, so that style sheets reach the panel's background.
    void paintEvent(QPaintEvent* event) override;

private:
    using PersistentSlider = PersistentWidget<QSlider, int>;
    using PersistentRadio = PersistentWidget<QRadioButton, bool>;

    void buildControls();
    void readControlsInto(SegmentationStuff* record);
    // After Revert, Defaults and reading the kept values: the width in image pixels follows
    // the width shown.
    void followWidthInImageCoords();
    QList<PersistentRadio*> radioButtons() const;

    QPointer<SegmentationStuff> m_record;
    QPointer<EDOs> m_options;
    PersistentSlider* m_widthSlider = nullptr;
    QSpinBox* m_widthSpin = nullptr;
    QGroupBox* m_widthGroup = nullptr;
    PersistentSlider* m_sensitivitySlider = nullptr;
    PersistentRadio* m_contrastHigh = nullptr;
    PersistentRadio* m_contrastMedium = nullptr;
    PersistentRadio* m_contrastLow = nullptr;
    PersistentRadio* m_textureCoarse = nullptr;
    PersistentRadio* m_textureMedium = nullptr;
    PersistentRadio* m_textureFine = nullptr;
    QButtonGroup* m_contrastButtons = nullptr;
    QButtonGroup* m_textureButtons = nullptr;
    QPushButton* m_defaults = nullptr;
    QPushButton* m_revert = nullptr;
    QPushButton* m_apply = nullptr;
    ToolPaletteButton* m_advanced = nullptr;
    bool m_persistable;
    QGroupBox* m_sensitivityGroup = nullptr;
    QGroupBox* m_contrastGroup = nullptr;
    QGroupBox* m_textureGroup = nullptr;
    bool m_updating = false;
    QString m_sensitivityName;
    QString m_widthName;
    QString m_contrastName;
    QString m_textureName;
};
