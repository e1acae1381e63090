#pragma once
// The blend mask width and the Feather/Smart ratio ("Intelligent Blending"). In image mode
// (the "Edge Blending" panel) it edits the image's record, keeps its two controls between runs
// when persistable, and announces each ratio change through the model's
// imageBlendRatioChanged. In patch mode (the patch panel) it edits the record in focus and
// offers the lock "Use setting from entire image": a patch that tracks the image takes every
// later image ratio. A user's move of a patch's ratio slider unlocks the patch; showing a
// record or passing the image's ratio on moves the slider without unlocking anything.
//
// Width choices: None 0.0, Thin 0.15, Medium 0.75, Thick 1.5. Ratio position p (0..8) stands
// for the ratio 1 - p / 8: position 0 ("5:0") is Feather only, 8 ("0:5") Smart only.

#include "panels/BlendOptsWidget.h"
#include "panels/PersistentWidget.h"

#include <QStringList>
#include <QVector>

class KsSourceImage;
class QCheckBox;
class QGroupBox;

class CommonBlendOptsWidget : public BlendOptsWidget {
    Q_OBJECT
public:
    // Disabled until the model announces an image.
    CommonBlendOptsWidget(bool persistable, bool imageMode, QWidget* parent = nullptr);
    ~CommonBlendOptsWidget() override;

    static constexpr int ratioPositions = 9;

    void showSettings(BlendingOptions* options) override;
    void readSettings(BlendingOptions* options) override;

    bool isImageMode() const { return m_imageMode; }
    QComboBox* widthCombo() const { return m_widthCombo; }
    QSlider* ratioSlider() const { return m_ratioSlider; }
    QGroupBox* ratioGroup() const { return m_ratioGroup; }
    // Placed in the layout in patch mode only.
    QCheckBox* lockBox() const { return m_lockBox; }

    // The width of a choice (0..3), the ratio of a slider position (0..8).
    float widthValue(int index) const { return m_widthValues.value(index); }
    static float ratioOfPosition(int position);

signals:
    // Selects a width choice in the combo.
    void setAutoBlueWidth(int index);
    // Declared for the panel's signal table; nothing emits it.
    void setBlendRatio(int position);

public slots:
    void setAutoBlueWidthToChoice(int index);
    // Feather only (true) or Smart only (false), as though the slider had gone to its end.
    void setBinaryBlendRatio(bool featherOnly);
    void autoBlueWidthChangedSlot(int index);
    void blendRatioChangedBySliderSlot(int position);
    void useBlendRatioFromImageSlot(bool on);
    // Every patch that tracks the image takes the ratio; the record in focus is shown again.
    void imageBlendRatioChangedSlot(float ratio);
    void enableStandardBlendingSlot(bool on);
    void imageChangedSlot(const KsSourceImage* image);

protected:
    void buildControls(QVBoxLayout* layout) override;
    BlendingOptions* recordInFocus() const override;

private:
    using PersistentCombo = PersistentWidget<QComboBox, QString>;
    using PersistentSlider = PersistentWidget<QSlider, int>;

    void setWidthOf(BlendingOptions* options, int index);
    // The title follows the position and the record takes its ratio.
    void showAndStoreRatio(int position, BlendingOptions* options);

    bool m_imageMode;
    PersistentCombo* m_widthCombo = nullptr;
    QStringList m_widthNames;
    QVector<float> m_widthValues;
    PersistentSlider* m_ratioSlider = nullptr;
    QStringList m_ratioLabels;
    QGroupBox* m_ratioGroup = nullptr;
    QCheckBox* m_lockBox = nullptr;
    QString m_widthName;
    QString m_ratioName;
    // The record being shown while showSettings moves the controls; its moves are not the
    // user's.
    BlendingOptions* m_showing = nullptr;
};
