#pragma once
// The view options strip of the status area: "Show Object Edges", the mask opacity with its
// percentage, and the workspace resolution. The controls remember their values between runs
// (the resolution only with the workspace preference "PersistOptions"); a chosen resolution
// goes to the model. The latest strip is the process-wide instance through which the status
// colours read the opacity.

#include "panels/PersistentWidget.h"

#include <QMap>
#include <QPointer>
#include <QWidget>

class QHBoxLayout;
class QLabel;

class ViewOptions : public QWidget {
    Q_OBJECT
public:
    explicit ViewOptions(QWidget* parent = nullptr);
    ~ViewOptions() override;

    static ViewOptions* instance();

    QSlider* opacitySlider() const { return m_opacitySlider; }
    QLabel* opacityLabel() const { return m_opacityLabel; }
    // Null once the box is gone.
    QCheckBox* showEdgesBox() const { return m_showEdges; }
    // Its item texts are the ratios "1:1", "1:2", "1:4" and "1:8".
    QComboBox* resolutionSelector() const { return m_resolution; }

signals:
    void modified();
    void showVectorEdges(bool on);
    void opacityChanged(int value);

public slots:
    // The model announced a resolution change: the new divisor's entry is shown, quietly, so
    // that the change is not sent back to the model.
    void syncResolutionSlot(int previousDivisor, int divisor);
    void setShowVectorEdges(bool on);
    // Disabling unchecks the box and remembers its state; enabling restores it.
    void setShowVectorEdgesEnabled(bool enabled);
    void changeResolutionSlot(const QString& text);
    void showVectorEdgesSlot(bool on);
    void updateMaskLabel(int value);

private:
    using PersistentSlider = PersistentWidget<QSlider, int>;
    using PersistentCheckBox = PersistentWidget<QCheckBox, bool>;
    using PersistentCombo = PersistentWidget<QComboBox, QString>;

    QHBoxLayout* m_layout;
    PersistentSlider* m_opacitySlider = nullptr;
    QLabel* m_opacityLabel = nullptr;
    QPointer<PersistentCheckBox> m_showEdges;
    PersistentCombo* m_resolution = nullptr;
    QMap<QString, int> m_resolutions;
    bool m_rememberedChecked = true;
};
