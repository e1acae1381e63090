#pragma once
// The main window's central widget: three tabs, Source, Workspace and Cut-out, that all show
// the one workspace page. A tab switch changes what the page shows (viewTabChanged), not the
// page. Each tab has a checkable action (keys "1", "2", "3"), and the tools ask the view for
// the current tab and move it to a tab they can work in (ensureTabAllows). The last view
// built is the process's image view; it also answers the engine commands' tab requests.

#include "document/ImageCoordinates.h"

#include <QList>
#include <QVector>
#include <QWidget>

class GmAction;
class GmZoomWidget;
class IVTabWidget;
class KsWorkspace;
class QAction;
class QActionGroup;
class QTabBar;
class TabFilter;

class ImageView : public QWidget {
    Q_OBJECT
public:
    // Tab flags; tools and panels combine them into the set of tabs they work in.
    enum ViewTab { Source = 1, Workspace = 2, CutOut = 4 };
    Q_ENUM(ViewTab)
    Q_DECLARE_FLAGS(ViewTabs, ViewTab)

    explicit ImageView(QWidget* parent = nullptr);
    ~ImageView() override;

    // The image view of the process, or null.
    static ImageView* instance();

    QSize minimumSizeHint() const override;

    // Adds a tab showing the page (added to the tab widget once, however many tabs show it)
    // and returns the tab's action.
    GmAction* addTab(QWidget* page, const QString& title, const QString& whatsThis,
                     const QString& toolTip, ViewTab flag);

    // The current tab's flag; Workspace when the tab index is past the tabs.
    ViewTab currentViewTab() const;
    int currentTabIndex() const;
    // The flags of the tabs, in tab order.
    QVector<ViewTab> tabFlags() const;
    // Leaves the tab alone when its flag is in allowed; else makes the first tab whose flag is
    // preferred current (nothing when there is none).
    void ensureTabAllows(ViewTabs allowed, ViewTab preferred);

    const QList<GmAction*>& tabActions() const { return m_tabActions; }
    GmAction* sourceAction() const { return m_sourceAction; }
    GmAction* workspaceAction() const { return m_workspaceAction; }
    GmAction* cutoutAction() const { return m_cutoutAction; }
    QActionGroup* actionGroup() const { return m_actionGroup; }
    QTabBar* tabBar() const { return m_tabBar; }
    IVTabWidget* tabWidget() const { return m_tabWidget; }
    KsWorkspace* workspace() const { return m_workspace; }
    GmZoomWidget* canvas() const;
    TabFilter* tabFilter() const { return m_tabFilter; }
    // The canvas's zoom: widget pixels per image pixel.
    double zoom() const;

signals:
    void sayViewportRectChanged(GRectF displayed, qreal zoom);
    void viewTabChanged(ImageView::ViewTab tab);
    void activateArrowTargetAt(ImagePointF point);
    void zoomChanged(double zoom);
    void addTabAction(QAction* action);
    void switchToTab(int page);

public slots:
    // Zooms so that the whole image fits the viewport.
    void fitImageOnScreenSlot();
    // Shows the rectangle, or zooms in by 1.25 when it is under 5 widget pixels wide or high.
    void minCheckedMoveImageViewportToSlot(const ImageRectF& rect);
    void moveImageViewportToSlot(const ImageRectF& rect);
    // Scrolls by widget pixels.
    void panImageViewportSlot(QPoint offset);
    // Brings an image point to the viewport's centre.
    void centreViewportOnSlot(QPoint imagePoint);
    // The zooms keep the image point at the viewport's centre.
    void zoomInSlot();
    void zoomOutSlot();
    void zoomToSlot(qreal zoom);
    void zoomTo100PercentSlot();
    void currentTabChanged(int index);
    // Makes the tab of the given tab action (its index in tabActions) current.
    void switchTab(int index);

private:
    struct TabRecord {
        ViewTab flag;
        int page;
    };

    QActionGroup* m_actionGroup;
    QTabBar* m_tabBar;
    IVTabWidget* m_tabWidget;
    KsWorkspace* m_workspace;
    TabFilter* m_tabFilter = nullptr;
    QVector<TabRecord> m_tabs;
    int m_pageCount = 0;
    QList<GmAction*> m_tabActions;
    GmAction* m_sourceAction = nullptr;
    GmAction* m_workspaceAction = nullptr;
    GmAction* m_cutoutAction = nullptr;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(ImageView::ViewTabs)
