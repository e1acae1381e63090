#pragma once
// An action whose tool tip shows its keyboard shortcut, as in "Undo (Ctrl+Z)".

#include <QAction>

class GmAction : public QAction {
    Q_OBJECT
public:
    GmAction(const QString& text, QObject* parent);
    GmAction(const QIcon& icon, const QString& text, QObject* parent);

    // Sets the shortcut and appends " (" + its native text + ")" to the tool tip. Setting
    // another shortcut later replaces the part appended before; an empty one appends nothing.
    void setShortcut(const QKeySequence& shortcut);

private:
    QString m_shortcutSuffix;
};
