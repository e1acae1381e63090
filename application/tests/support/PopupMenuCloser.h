#pragma once
// Closes the next pop-up menu from the event loop as soon as it opens, so that a test never
// blocks in QMenu::exec. With an item text it chooses that item instead, as Return would, so
// that exec returns it. One menu per arming; records what the menu offered.

#include <QObject>
#include <QStringList>
#include <QTimer>

class QMenu;

namespace testsupport {

class PopupMenuCloser : public QObject {
public:
    explicit PopupMenuCloser(const QString& choose = QString());

    // Waits for the next menu again; choose as for the constructor.
    void arm(const QString& choose = QString());

    // Whether a menu opened since the last arming, and the texts of its items (separators
    // and invisible items left out, '&' kept).
    bool opened() const { return m_opened; }
    const QStringList& itemTexts() const { return m_itemTexts; }

private:
    void poll();
    void handle(QMenu* menu);

    QTimer m_timer;
    QString m_choose;
    bool m_opened = false;
    QStringList m_itemTexts;
};

} // namespace testsupport
