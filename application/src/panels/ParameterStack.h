#pragma once
// A small options panel of named rows, each a label, a slider and a spin box kept in step. Each
// row's spin box remembers its value in the settings under the stack's group; tools and engine
// commands read and write the values by row name.

#include <QMap>
#include <QString>
#include <QWidget>

class QFrame;
class QGridLayout;
class QLabel;
class QSlider;
class QSpinBox;
template <typename W, typename T>
class PersistentWidget;

class ParameterStack : public QWidget {
    Q_OBJECT
public:
    // Orientation: 1 puts the rows side by side in one grid row, 2 stacks them.
    enum Orientation { Horizontal = 1, Vertical = 2 };
    // Style flags.
    enum StyleFlag {
        HideSpinBoxes = 0x1,
        ShowSliders = 0x8,
        SunkenSeparators = 0x100,
    };

    ParameterStack(int orientation, int styleFlags, QWidget* parent = nullptr);
    ~ParameterStack() override;

    // The group under which the rows' values persist; set before rows are added.
    void setSettingsGroup(const QString& group) { m_settingsGroup = group; }
    const QString& settingsGroup() const { return m_settingsGroup; }

    // Adds a row; false, adding nothing, when a row of that name exists. The value starts at
    // the stored one (or the default) clamped to minimum..maximum. receiver and slot (a SLOT()
    // signature taking an int) are optional. persist asks for the value to be written back when
    // the stack is destroyed; it is written only while the workspace preference to keep options
    // is on, then as at destruction.
    bool addSlider(const QString& name, const QString& label, int minimum, int maximum,
                   int defaultValue, const QString& suffix, const QObject* receiver = nullptr,
                   const char* slot = nullptr, bool persist = false);

    // Connects the row's valueChanged(int) to a slot: false when there is no such row; true
    // when receiver or slot is missing; else whether the connection was made.
    bool connectValue(const QString& name, const QObject* receiver, const char* slot);

    // false, leaving value untouched, when there is no such row.
    bool value(const QString& name, int& value) const;
    // Sets the row's value (clamped to its range; the slider follows); false when there is no
    // such row.
    bool setValue(const QString& name, int value);

    // Tool tip and What's This help on all of the row's widgets; false when there is no such row.
    bool setHelp(const QString& name, const QString& toolTip, const QString& whatsThis);
    // Enables or disables the row's widgets; false when there is no such row.
    bool setRowEnabled(const QString& name, bool enabled);

    // The row's widgets, null when there is no such row.
    QSpinBox* spinBox(const QString& name) const;
    QSlider* slider(const QString& name) const;
    QLabel* label(const QString& name) const;

private:
    struct Row {
        QLabel* label = nullptr;
        QSlider* slider = nullptr;
        PersistentWidget<QSpinBox, int>* spin = nullptr;
        bool persist = false;
    };

    const Row* row(const QString& name) const;

    QString m_settingsGroup;
    int m_orientation;
    int m_styleFlags;
    QGridLayout* m_grid;
    int m_nextRow = 0;
    int m_nextColumn = 0;
    QMap<QString, Row> m_rows;
};
