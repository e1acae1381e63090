#include "document/GmColor.h"

#include "document/Prompt.h"

#include <QAction>
#include <QApplication>
#include <QColorDialog>
#include <QIcon>
#include <QSettings>
#include <QToolButton>

namespace {

const QString colorsGroup = QStringLiteral("Colors/");
const QString numCustomColorsKey = QStringLiteral("Colors/NumCustomColors");
constexpr int iconSize = 32;

GmColor::StatusMessageHook& statusMessageHook()
{
    static GmColor::StatusMessageHook hook;
    return hook;
}

void showStatusMessage(const QString& message)
{
    if (const auto& hook = statusMessageHook())
        hook(message);
}

QString customColorKey(int index)
{
    return colorsGroup + QStringLiteral("CustomColor%1").arg(index);
}

// A stored value that is not a usable colour gives the fallback.
QColor colorValue(const QVariant& value, const QColor& fallback)
{
    if (!value.isValid())
        return fallback;
    const QColor color = value.value<QColor>();
    return color.isValid() ? color : fallback;
}

void loadCustomColors(const QSettings& settings)
{
    bool ok = false;
    const int stored = settings.value(numCustomColorsKey).toInt(&ok);
    const int count = ok ? qBound(0, stored, QColorDialog::customCount()) : 0;
    for (int i = 0; i < count; ++i) {
        const QColor color = colorValue(settings.value(customColorKey(i)), QColor());
        if (color.isValid())
            QColorDialog::setCustomColor(i, color);
    }
}

void storeCustomColors(QSettings& settings)
{
    const int count = QColorDialog::customCount();
    settings.setValue(numCustomColorsKey, count);
    for (int i = 0; i < count; ++i)
        settings.setValue(customColorKey(i), QColorDialog::customColor(i));
}

} // namespace

GmColor::GmColor(const QString& keyName, const QString& description, const QColor& defaultColor,
                 int persist, QObject* parent)
    : QObject(parent),
      m_color(defaultColor),
      m_defaultColor(defaultColor),
      m_savedColor(defaultColor),
      m_keyName(keyName),
      m_description(description),
      m_persist(persist)
{
    if (persists()) {
        const QSettings settings;
        m_color = colorValue(settings.value(settingsKey()), m_defaultColor);
        m_savedColor = m_color;
    }
}

GmColor::GmColor(const QVariantMap& map, QObject* parent)
    : QObject(parent),
      m_keyName(map.value(QStringLiteral("keyname_")).toString()),
      m_description(map.value(QStringLiteral("desc_")).toString()),
      m_persist(map.value(QStringLiteral("persist_")).toInt())
{
    m_defaultColor = colorValue(map.value(QStringLiteral("default_")), QColor(Qt::black));
    m_color = colorValue(map.value(QStringLiteral("qColor_")), m_defaultColor);
    m_savedColor = m_color;
}

GmColor::~GmColor()
{
    if (persists()) {
        QSettings settings;
        settings.setValue(settingsKey(), m_color);
    }
    delete m_toolButton.data();
}

QVariantMap GmColor::toVariantMap() const
{
    QVariantMap map;
    map.insert(QStringLiteral("qColor_"), m_color);
    map.insert(QStringLiteral("default_"), m_defaultColor);
    map.insert(QStringLiteral("keyname_"), m_keyName);
    map.insert(QStringLiteral("desc_"), m_description);
    map.insert(QStringLiteral("persist_"), m_persist);
    return map;
}

void GmColor::setColor(const QColor& color)
{
    m_color = color;
    updateIcon();
}

QAction* GmColor::action()
{
    if (!m_action) {
        m_action = new QAction(QIcon(iconPixmap()), tr("Change %1 color").arg(m_description), this);
        connect(m_action, &QAction::triggered, this, &GmColor::changeColorSlot);
    }
    return m_action;
}

QToolButton* GmColor::toolButton(QWidget* parent)
{
    if (!m_toolButton) {
        m_toolButton = new QToolButton(parent);
        m_toolButton->setDefaultAction(action());
        m_toolButton->setToolTip(action()->toolTip());
        m_toolButton->setFocusPolicy(Qt::StrongFocus);
    } else if (parent && m_toolButton->parentWidget() != parent) {
        m_toolButton->setParent(parent);
    }
    return m_toolButton;
}

void GmColor::updateIcon()
{
    if (m_action)
        m_action->setIcon(QIcon(iconPixmap()));
}

void GmColor::setStatusMessageHook(StatusMessageHook hook)
{
    statusMessageHook() = std::move(hook);
}

void GmColor::restoreDefaultSlot()
{
    m_color = m_defaultColor;
    updateIcon();
    emit colorChanged(m_color);
}

void GmColor::revertChangeSlot()
{
    m_color = m_savedColor;
    updateIcon();
    emit colorChanged(m_color);
}

void GmColor::commitChangeSlot()
{
    m_savedColor = m_color;
}

void GmColor::changeColorSlot()
{
    QSettings settings;
    loadCustomColors(settings);

    const QString title = tr("Select %1 color").arg(m_description);
    showStatusMessage(title);
    const QColor chosen = Prompt::getColor(m_color, QApplication::activeWindow(), title);
    showStatusMessage(QString());

    // The dialog's custom colours are the user's even when the choice was cancelled.
    storeCustomColors(settings);

    if (chosen.isValid()) {
        m_color = chosen;
        updateIcon();
        emit colorChanged(m_color);
    }
}

bool GmColor::persists() const
{
    // A colour without a key name has nowhere to live in the settings.
    return m_persist == 1 && !m_keyName.isEmpty();
}

QString GmColor::settingsKey() const
{
    return colorsGroup + m_keyName;
}

QPixmap GmColor::iconPixmap() const
{
    QPixmap pixmap(iconSize, iconSize);
    pixmap.fill(m_color);
    return pixmap;
}
