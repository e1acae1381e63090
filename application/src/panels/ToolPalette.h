#pragma once
// The "Tools" dock at the left of the main window: a header button that opens a link, above a
// grid of tool buttons placed row by row. It keeps the user's wish to see it (show and close
// events) apart from the shell's suppression of all panels, and saves its position, that
// wish and the floating choice in a small state blob.

#include <QByteArray>
#include <QDockWidget>
#include <QList>
#include <QPoint>
#include <QSize>

class QAction;
class QGridLayout;
class QMainWindow;
class QVBoxLayout;
class ToolPaletteButton;

class ToolPalette : public QDockWidget {
    Q_OBJECT
public:
    struct State {
        bool suppressed = false;
        // The user's wish: set by a show event, cleared by a close event.
        bool visible = true;
        // The floating choice the shell keeps while full-screen modes force the palette to float.
        bool floating = false;
        // The last position while floating; (-1, -1) for none.
        QPoint position{-1, -1};
    };

    // Docked in the main window's left area, or floating without a main window. With an action
    // host the toggle action goes into it, with a non-empty shortcut text as its shortcut.
    ToolPalette(QMainWindow* mainWindow, QWidget* actionHost, const QString& shortcut);

    // A button showing the first picture, the second under the pointer, that opens the link.
    void setHeader(const QString& normalPixmap, const QString& activePixmap, const QString& toolTip,
                   const QString& link);
    // A button for the action; null for a null action.
    ToolPaletteButton* addAction(QAction* action, int columnSpan = 1, Qt::Alignment alignment = Qt::AlignCenter);
    // A button for a choice of actions, showing the last one chosen; null unless the list
    // holds at least two actions and its first two are not null.
    ToolPaletteButton* addActionMenuButton(const QList<QAction*>& actions);
    // A button whose quick second click triggers the second action; null when either is null.
    ToolPaletteButton* addDoubleClickButton(QAction* action, QAction* doubleClickAction);
    // Places the widget at the next free cell; one that does not fit the row is logged and
    // starts the next row.
    void addWidget(QWidget* widget, int rowSpan, int columnSpan, Qt::Alignment alignment = Qt::Alignment());
    // A sunken line across all columns.
    void addSeparator();

    // Hides the palette while suppressed; lifting it shows the palette again when the user
    // wants to see it.
    void setSuppressed(bool suppressed);

    // Stream version 7: the position, the visible and the floating flag (10 bytes).
    QByteArray saveState();
    // Moves the palette to a stored position and shows or hides it as the user last wanted.
    // Ignores a blob that does not hold all three values.
    void restoreState(const QByteArray& state);

    const State& state() const { return m_state; }
    void setFloatingChoice(bool floating) { m_state.floating = floating; }
    void setSavedPosition(const QPoint& position) { m_state.position = position; }
    QString headerLink() const { return m_headerLink; }
    ToolPaletteButton* headerButton() const { return m_headerButton; }
    QGridLayout* grid() const { return m_grid; }
    int columnCount() const { return m_columnCount; }

public slots:
    void invokeHeaderLink();
    void slotTopLevelChanged(bool floating);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    ToolPaletteButton* newButton();
    bool isShownInParent() const;

    QString m_headerLink;
    int m_columnCount = 2;
    int m_nextColumn = 0;
    // Row 0 is left to the header.
    int m_nextRow = 1;
    QSize m_iconSize;
    QVBoxLayout* m_mainLayout;
    QGridLayout* m_grid;
    State m_state;
    // A stored place on a screen the palette did not fit, kept while the palette stays where it
    // was moved in to; (-1, -1) for none.
    QPoint m_fittedFrom{-1, -1};
    QPoint m_fittedTo{-1, -1};
    ToolPaletteButton* m_headerButton = nullptr;
};
