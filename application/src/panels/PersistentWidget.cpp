#include "panels/PersistentWidget.h"

#include <QRegularExpression>

namespace persistent {

QString settingsKey(const QString& group, const QString& name)
{
    static const QRegularExpression blanksAndDashes(QStringLiteral("[ -]"));
    QString key = group + QLatin1Char('/') + name;
    key.remove(blanksAndDashes);
    return key;
}

void fromSetting(const QVariant& stored, int& value)
{
    bool ok = false;
    const int converted = stored.toInt(&ok);
    value = ok ? converted : 0;
}

void fromSetting(const QVariant& stored, bool& value)
{
    // Settings files hold text; only the spellings a bool is written with read as one.
    switch (stored.userType()) {
    case QMetaType::Bool:
        value = stored.toBool();
        return;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        value = stored.toLongLong() != 0;
        return;
    case QMetaType::QString:
    case QMetaType::QByteArray: {
        const QString text = stored.toString().trimmed().toLower();
        value = text == QLatin1String("true") || text == QLatin1String("1");
        return;
    }
    default:
        value = false;
        return;
    }
}

void fromSetting(const QVariant& stored, QString& value)
{
    QVariant copy = stored;
    value = copy.convert(QMetaType::QString) ? copy.toString() : QString();
}

QString comboText(const QComboBox& combo)
{
    return combo.currentText();
}

void insertComboText(QComboBox& combo, const QString& text)
{
    combo.insertItem(0, text, QVariant());
}

void apply(QComboBox& combo, const QString& value)
{
    insertComboText(combo, value);
    combo.setCurrentIndex(combo.findText(value, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

void apply(QAbstractSlider& slider, int value)
{
    slider.setRange(value, value);
    slider.setValue(value);
}

void apply(QSpinBox& spin, int value)
{
    spin.setRange(value, value);
    spin.setValue(value);
}

void apply(QAbstractButton& button, bool value)
{
    button.setChecked(value);
}

QVariant current(const QComboBox& combo)
{
    return comboText(combo);
}

QVariant current(const QAbstractSlider& slider)
{
    return slider.value();
}

QVariant current(const QSpinBox& spin)
{
    return spin.value();
}

QVariant current(const QAbstractButton& button)
{
    return button.isChecked();
}

} // namespace persistent
