#pragma once
// The tool options strip: the current tool's icon beside a stack of options widgets, one per
// tool (widgets shared by several tools appear once). A widget stays in the stack once added,
// so switching back to a tool shows its widget with the values it had.

#include <QSize>
#include <QWidget>

class GmTool;
class QLabel;
class QStackedWidget;

class ToolOptions : public QWidget {
    Q_OBJECT
public:
    explicit ToolOptions(QWidget* parent = nullptr);

    // Shows the tool's icon and options widget, and its action's help in the tip window.
    void showToolOptions(GmTool* tool);

    QLabel* iconLabel() const { return m_iconLabel; }
    QStackedWidget* stackedWidget() const { return m_stack; }

private:
    // The icon's tool tip names the tool; the strip has no name label of its own.
    QLabel* m_iconLabel;
    QSize m_iconSize{20, 20};
    QStackedWidget* m_stack;
};
