#pragma once
// The one tip window ("Tip"): a panel that shows rich help. It follows the pointer: a tool
// tip or What's This request on a widget, tab or action shows that element's What's This text
// with its shortcut here (What's This requests never pop up). Others put their own tips in
// with setTipHtml. The static operations do nothing while no tip window exists.

#include "panels/GmSubWindow.h"

#include <QKeySequence>
#include <QPointer>

class Browser;
class QAction;

// Inserts " (" + the shortcut's portable text + ")" before the first "</p>" of a tip, so that
// it follows the title paragraph. False, and the tip unchanged, for an empty shortcut or a tip
// without "</p>".
bool appendShortcutToTip(QString& html, const QKeySequence& shortcut);

class TipWindow : public GmSubWindow {
    Q_OBJECT
public:
    // Becomes the instance and the tip hook of the engine commands; filters the events of the
    // whole application.
    TipWindow(QWidget* parent, QWidget* actionHost, const QString& shortcut);
    ~TipWindow() override;

    static TipWindow* instance();

    bool hasDefaultSize() const override;
    // The base's, with the spacer below the text shown exactly while floating.
    void setFloating(bool floating, bool quiet) override;

    // Shows the tip: lists as bulleted lines, a space after italics (tipDisplayHtml).
    static void setTipHtml(const QString& html);
    static void setTipText(const QString& text);
    // The What's This text of the widget or its nearest parent within the window, with the
    // shortcut of its action.
    static void showWidgetHelp(QWidget* widget);
    static void showActionHelp(QAction* action);
    static QString tipDisplayHtml(const QString& html);

    Browser* browser() const { return m_browser; }
    // The widget or action whose help is shown; null for a tab or a tip set directly.
    QObject* currentSource() const { return m_currentSource; }
    QWidget* floatingSpacer() const { return m_floatingSpacer; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static void showHelpText(QString text, QAction* shortcutAction);

    Browser* m_browser;
    QPointer<QObject> m_currentSource;
    // The widget and the place of the last tool-tip request, to know its copies for the parents.
    QPointer<QWidget> m_toolTipTarget;
    QPoint m_toolTipPlace;
    QWidget* m_floatingSpacer;
};
