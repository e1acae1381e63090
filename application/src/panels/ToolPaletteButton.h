#pragma once
// A tool button of the tool palette: it may carry a second action that a quick second click
// triggers instead of the default one, and shows a small menu triangle when it carries a
// choice of actions.

#include <QAction>
#include <QElapsedTimer>
#include <QPointer>
#include <QToolButton>

class ToolPaletteButton : public QToolButton {
    Q_OBJECT
public:
    explicit ToolPaletteButton(QWidget* parent = nullptr);

    void setDoubleClickAction(QAction* action);
    QAction* doubleClickAction() const { return m_doubleClickAction; }

protected:
    void nextCheckState() override;
    void paintEvent(QPaintEvent* event) override;

private:
    QPointer<QAction> m_doubleClickAction;
    // Invalid until a click started the double-click interval.
    QElapsedTimer m_lastClick;
};
