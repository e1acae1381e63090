#pragma once
// A standard input widget that remembers its value in the application settings. The value is
// loaded once, when the widget is built, and written back once, when it is destroyed while
// persist is on; nothing is written while the user works. The loaded value is only a starting
// point: owners then set the real range (a stored value outside it is clamped) or refill a
// combo box and select the stored text again.
//
// Instantiated for (QComboBox, QString), (QSlider, int), (QSpinBox, int), (QRadioButton, bool)
// and (QCheckBox, bool). No meta-object of its own: signals and slots are the widget's.

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QCheckBox>
#include <QComboBox>
#include <QRadioButton>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QString>
#include <QVariant>

namespace persistent {

// group + "/" + name with every blank and dash removed from the whole key.
QString settingsKey(const QString& group, const QString& name);

// A stored value as the control's type; one that does not convert reads 0, false or "".
void fromSetting(const QVariant& stored, int& value);
void fromSetting(const QVariant& stored, bool& value);
void fromSetting(const QVariant& stored, QString& value);

// The combo box's text: its current text, and a text put in as the first item (no item data).
QString comboText(const QComboBox& combo);
void insertComboText(QComboBox& combo, const QString& text);

// A loaded value put into the control, and the control's value as it is stored.
void apply(QComboBox& combo, const QString& value);
void apply(QAbstractSlider& slider, int value);
void apply(QSpinBox& spin, int value);
void apply(QAbstractButton& button, bool value);
QVariant current(const QComboBox& combo);
QVariant current(const QAbstractSlider& slider);
QVariant current(const QSpinBox& spin);
QVariant current(const QAbstractButton& button);

} // namespace persistent

template <typename W, typename T>
class PersistentWidget : public W {
public:
    PersistentWidget(const QString& group, const QString& name, const T& defaultValue,
                     bool persist)
        : W(nullptr),
          m_persist(persist),
          m_name(name),
          m_key(persistent::settingsKey(group, name))
    {
        T value{};
        persistent::fromSetting(m_settings.value(m_key, QVariant::fromValue(defaultValue)), value);
        persistent::apply(static_cast<W&>(*this), value);
        this->setObjectName(m_key);
    }

    ~PersistentWidget() override
    {
        if (m_persist)
            m_settings.setValue(m_key, persistent::current(static_cast<const W&>(*this)));
    }

    PersistentWidget(const PersistentWidget&) = delete;
    PersistentWidget& operator=(const PersistentWidget&) = delete;

    // Whether the value is written when the widget is destroyed; owners may change it until then.
    bool persist() const { return m_persist; }
    void setPersist(bool persist) { m_persist = persist; }
    const QString& name() const { return m_name; }
    const QString& key() const { return m_key; }

private:
    bool m_persist;
    QSettings m_settings;
    QString m_name;
    QString m_key;
};
