#include "document/GmAction.h"

GmAction::GmAction(const QString& text, QObject* parent) : QAction(text, parent) {}

GmAction::GmAction(const QIcon& icon, const QString& text, QObject* parent)
    : QAction(icon, text, parent)
{
}

void GmAction::setShortcut(const QKeySequence& shortcut)
{
    QAction::setShortcut(shortcut);
    QString tip = toolTip();
    if (!m_shortcutSuffix.isEmpty() && tip.endsWith(m_shortcutSuffix))
        tip.chop(m_shortcutSuffix.size());
    m_shortcutSuffix.clear();
    if (!shortcut.isEmpty())
        m_shortcutSuffix = QStringLiteral(" (") + shortcut.toString(QKeySequence::NativeText)
                           + QLatin1Char(')');
    setToolTip(tip + m_shortcutSuffix);
}
