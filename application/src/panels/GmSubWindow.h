#pragma once
// A panel of the workspace: docked in the dock column beside the image, or floating as a small
// tool window of its own. Its visibility always follows three inputs: the user's wish (toggle
// action, close button, close event, restored state), the view tab (through the toggle
// action's enabled state) and the global panel suppression. Docked panels show a coloured
// title bar; floating resizable ones a size grip. Escape is announced, Backspace deletes the
// active patch, other keys travel on to the parent.

#include "panels/FakeDock.h"

#include <QByteArray>
#include <QPoint>
#include <QPointer>
#include <QSize>
#include <QWidget>

class GmSubWindowLayout;
class QAction;
class QSizeGrip;
class TitleWidget;

class GmSubWindow : public QWidget {
    Q_OBJECT
public:
    // All view tabs (the values of the image view's tab flags: 1, 2, 4, ...).
    static constexpr int AllViewTabs = 0x3f;

    // The object name becomes "DockWidget: " + name (the key of the saved state). With an
    // action host the toggle action is added to it and a non-empty shortcut text becomes its
    // shortcut; a non-empty shortcut text also goes into the tool tips as "title (shortcut)".
    // Built hidden and floating (a tool window under the parent, its home).
    GmSubWindow(const QString& name, const QString& title, QWidget* actionHost,
                const QString& shortcut, QWidget* parent);
    ~GmSubWindow() override;

    // Whether resetting the panels moves and resizes this one to its default place and size.
    virtual bool hasDefaultSize() const = 0;
    // Floats the panel as a tool window under its home, or docks it into its dock column (a
    // panel without a dock never docks). Quiet leaves the saved geometry alone: a quiet float
    // does not restore it, a quiet dock does not store it.
    virtual void setFloating(bool floating, bool quiet);
    // The view tabs in which the panel may show.
    virtual int usableViewTabs() const;
    // Whether a restored state may make the panel visible.
    virtual bool restoresVisibility() const;

    // Replaces the content (the old one is taken out of the layout, not deleted).
    void setWidget(QWidget* content);
    QWidget* widget() const { return m_content; }

    bool isResizable() const { return m_resizable; }
    void setResizable(bool resizable);

    // Checkable; its text is the window title; the application puts it in the Window menu.
    QAction* toggleViewAction() const { return m_toggleAction; }

    // Shows or hides the panel as its three inputs want.
    void updateVisibility();

    void storeGeometry();
    void applyGeometry();
    // One byte, the user's wish to see the panel, then the last saved window geometry (none
    // for a floating panel that has never been shown).
    QByteArray saveState();
    // Ignores an empty blob. Does not show or hide the panel: the caller follows with
    // updateVisibility.
    void restoreState(const QByteArray& blob);

    FakeDock* dock() const { return m_dock; }
    void setDock(FakeDock* dock);
    QWidget* homeParent() const { return m_homeParent; }

    // Set by a close event, cleared by a show event.
    bool isClosed() const { return m_closed; }
    bool isUserVisible() const { return m_userVisible; }
    void setUserVisible(bool visible) { m_userVisible = visible; }
    // The application's panel-hiding toggle: while set the panel stays hidden.
    bool isSuppressed() const { return m_suppressed; }
    void setSuppressed(bool suppressed) { m_suppressed = suppressed; }
    // Applying the geometry then holds the layout's width hint at the panel's width.
    bool keepsWidth() const { return m_keepWidth; }
    void setKeepWidth(bool keep) { m_keepWidth = keep; }

    QPoint defaultPosition() const { return m_defaultPosition; }
    void setDefaultPosition(const QPoint& position) { m_defaultPosition = position; }
    QSize defaultSize() const { return m_defaultSize; }
    void setDefaultSize(const QSize& size) { m_defaultSize = size; }
    // The last stored window geometry (empty until stored or restored).
    QByteArray savedGeometry() const { return m_geometry; }

    TitleWidget* titleWidget() const { return m_titleWidget; }
    GmSubWindowLayout* subWindowLayout() const { return m_layout; }
    // Exists only while the panel floats and is resizable.
    QSizeGrip* sizeGrip() const { return m_sizeGrip; }

signals:
    void visibilityChanged();
    void escapeKeyPressed();

public slots:
    // Shows the panel at once, whatever the tab or the suppression.
    void userShow();
    void viewTabChangedSlot(int tab);
    void toggleViewSlot(bool on);
    void closeViewSlot();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void childEvent(QChildEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Shows the panel and lets the dock column know: a panel shown inside a hidden column
    // gets no show event of its own.
    void reveal();
    void createSizeGrip();
    void placeSizeGrip();

    QWidget* m_homeParent;
    QPointer<FakeDock> m_dock;
    GmSubWindowLayout* m_layout = nullptr;
    TitleWidget* m_titleWidget = nullptr;
    QWidget* m_content = nullptr;
    QAction* m_toggleAction = nullptr;
    QSizeGrip* m_sizeGrip = nullptr;
    QPoint m_defaultPosition{0, 0};
    QSize m_defaultSize{-1, -1};
    QByteArray m_geometry;
    // A record made on a screen the panel did not fit, kept while it stays at the place it
    // was moved in to on this one.
    QByteArray m_fittedRecord;
    QRect m_fittedPlace;
    bool m_closed = false;
    bool m_suppressed = false;
    bool m_userVisible = false;
    bool m_resizable = false;
    bool m_keepWidth = false;
};
