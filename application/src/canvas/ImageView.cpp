#include "canvas/ImageView.h"

#include "canvas/GmZoomWidget.h"
#include "canvas/IVTabWidget.h"
#include "canvas/KsWorkspace.h"
#include "canvas/TabFilter.h"
#include "document/GmAction.h"
#include "document/Texts.h"
#include "engine/CommandHooks.h"

#include <QActionGroup>
#include <QTabBar>
#include <QVBoxLayout>

namespace {

ImageView* g_imageView = nullptr;

} // namespace

ImageView::ImageView(QWidget* parent)
    : QWidget(parent), m_actionGroup(new QActionGroup(this)), m_tabBar(new QTabBar),
      m_tabWidget(new IVTabWidget(m_tabBar, this))
{
    // Queued connections and signal spies carry the tab by its registered type.
    qRegisterMetaType<ImageView::ViewTab>();
    // The tab bar switches pages only through the view: several tabs share one page.
    connect(m_tabBar, &QTabBar::currentChanged, this, &ImageView::currentTabChanged);
    connect(this, &ImageView::switchToTab, m_tabWidget, &IVTabWidget::setCurrentPage);
    m_workspace = new KsWorkspace(this);

    const QString tip = tr("<p>View your image in one of three ways:</p>"
                           "<ul><li><b>Source</b>&mdash;the original image, as it was opened.</li>"
                           "<li><b>Workspace</b>&mdash;the working image with the Keep, Delete and "
                           "Blend masks painted over it.</li>"
                           "<li><b>Cut-out</b>&mdash;the result: the object cut out of its "
                           "background.</li></ul>",
                           "[tip]")
                        + learnMoreParagraph(QStringLiteral("4-Kestrine_Tools/Project_Window.htm"));
    m_sourceAction = addTab(m_workspace, tr("&Source"),
                            QStringLiteral("<p><b>") + tr("Image View&mdash;Source") + QStringLiteral("</b></p>") + tip,
                            tr("Show original image"), Source);
    m_workspaceAction = addTab(m_workspace, tr("&Workspace"),
                               QStringLiteral("<p><b>") + tr("Image View&mdash;Workspace") + QStringLiteral("</b></p>")
                                   + tip,
                               tr("Show working image where masks are applied"), Workspace);
    m_cutoutAction = addTab(m_workspace, tr("&Cut-out"),
                            QStringLiteral("<p><b>") + tr("Image View&mdash;Cut-out") + QStringLiteral("</b></p>") + tip,
                            tr("Show cut-out image"), CutOut);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_tabWidget);
    connect(m_workspace, &KsWorkspace::sayDisplayedRectChanged, this, &ImageView::sayViewportRectChanged);
    ensureTabAllows(Workspace, Workspace);
    m_tabFilter = new TabFilter(this);
    m_tabFilter->watch(this);

    g_imageView = this;
    CommandHooks::setTabHook([this](int tab) {
        const ViewTab wanted = tab == CommandHooks::CutoutTab ? CutOut : Workspace;
        ensureTabAllows(wanted, wanted);
    });
}

ImageView::~ImageView()
{
    if (g_imageView == this) {
        g_imageView = nullptr;
        CommandHooks::setTabHook(CommandHooks::TabHook());
    }
}

ImageView* ImageView::instance()
{
    return g_imageView;
}

QSize ImageView::minimumSizeHint() const
{
    return QSize(400, 300);
}

GmAction* ImageView::addTab(QWidget* page, const QString& title, const QString& whatsThis,
                            const QString& toolTip, ViewTab flag)
{
    QString text = title;
    text.remove(QLatin1Char('&'));

    int pageIndex = m_tabWidget->indexOfPage(page);
    if (pageIndex < 0) {
        pageIndex = m_pageCount++;
        m_tabWidget->addPage(page);
    }
    // The record comes first: the first tab added becomes current at once.
    m_tabs.append({flag, pageIndex});
    const int tab = m_tabBar->addTab(text);
    m_tabBar->setTabWhatsThis(tab, whatsThis);
    m_tabBar->setTabToolTip(tab, toolTip);

    auto* action = new GmAction(title, m_actionGroup);
    action->setToolTip(toolTip);
    const int index = m_tabActions.size();
    action->setShortcut(QKeySequence(QString::number(index + 1)));
    m_tabActions.append(action);
    action->setWhatsThis(whatsThis);
    action->setCheckable(true);
    // The keys work wherever the view's window is active, menus or not.
    addAction(action);
    connect(action, &QAction::triggered, this, [this, index] { switchTab(index); });
    emit addTabAction(action);
    return action;
}

ImageView::ViewTab ImageView::currentViewTab() const
{
    const int index = m_tabBar->currentIndex();
    if (index < 0 || index >= m_tabs.size())
        return Workspace;
    return m_tabs[index].flag;
}

int ImageView::currentTabIndex() const
{
    return m_tabBar->currentIndex();
}

QVector<ImageView::ViewTab> ImageView::tabFlags() const
{
    QVector<ViewTab> flags;
    flags.reserve(m_tabs.size());
    for (const TabRecord& record : m_tabs)
        flags.append(record.flag);
    return flags;
}

void ImageView::ensureTabAllows(ViewTabs allowed, ViewTab preferred)
{
    if (allowed & currentViewTab())
        return;
    for (int i = 0; i < m_tabs.size(); ++i) {
        if (m_tabs[i].flag == preferred) {
            m_tabBar->setCurrentIndex(i);
            return;
        }
    }
}

GmZoomWidget* ImageView::canvas() const
{
    return m_workspace->canvas();
}

double ImageView::zoom() const
{
    return m_workspace->canvas()->zoom();
}

void ImageView::fitImageOnScreenSlot()
{
    m_workspace->canvas()->zoomToFit(m_workspace->viewport()->size());
}

void ImageView::minCheckedMoveImageViewportToSlot(const ImageRectF& rect)
{
    m_workspace->minCheckedMoveViewportTo(rect);
}

void ImageView::moveImageViewportToSlot(const ImageRectF& rect)
{
    m_workspace->moveViewportTo(rect);
}

void ImageView::panImageViewportSlot(QPoint offset)
{
    m_workspace->panBy(offset.x(), offset.y());
}

void ImageView::centreViewportOnSlot(QPoint imagePoint)
{
    m_workspace->centreOn(imagePoint);
}

void ImageView::zoomInSlot()
{
    m_workspace->zoomAbout(false, 1.25);
}

void ImageView::zoomOutSlot()
{
    m_workspace->zoomAbout(false, 0.8);
}

void ImageView::zoomToSlot(qreal zoom)
{
    m_workspace->zoomAbout(true, zoom);
}

void ImageView::zoomTo100PercentSlot()
{
    m_workspace->zoomAbout(true, 1.0);
}

void ImageView::currentTabChanged(int index)
{
    if (index >= 0 && index < m_tabs.size())
        emit switchToTab(m_tabs[index].page);
    if (index >= 0 && index < m_tabActions.size())
        m_tabActions[index]->setChecked(true);
    emit viewTabChanged(currentViewTab());
}

void ImageView::switchTab(int index)
{
    if (index >= 0 && index < m_tabs.size())
        m_tabBar->setCurrentIndex(index);
}
