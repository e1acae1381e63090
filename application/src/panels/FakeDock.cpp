#include "panels/FakeDock.h"

#include "panels/GmSubWindow.h"

#include <QSplitter>
#include <QVBoxLayout>

FakeDock::FakeDock(QSplitter* parent)
    : QWidget(parent, Qt::WindowFlags()), m_layout(new QVBoxLayout), m_splitter(parent)
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->addStretch(1);
    setLayout(m_layout);
    hide();
}

void FakeDock::addSubWindow(GmSubWindow* window)
{
    if (m_layout->indexOf(window) < 0) {
        m_layout->insertWidget(m_layout->count() - 1, window, window->isResizable() ? 10000 : 0);
        connect(window, &GmSubWindow::visibilityChanged, this, &FakeDock::childVisibilityChanged);
    }
    if (m_layout->count() > 1 && isHidden() && window->isVisibleTo(this))
        show();
}

void FakeDock::removeSubWindow(GmSubWindow* window)
{
    if (m_layout->indexOf(window) >= 0) {
        m_layout->removeWidget(window);
        disconnect(window, &GmSubWindow::visibilityChanged, this, &FakeDock::childVisibilityChanged);
    }
    // The panel is still our child until it is re-parented, so it is left out by name.
    if (!isHidden() && !showsPanelOtherThan(window))
        hide();
}

bool FakeDock::showsPanelOtherThan(const GmSubWindow* window) const
{
    const QList<GmSubWindow*> windows = findChildren<GmSubWindow*>();
    for (GmSubWindow* other : windows)
        if (other != window && other->isVisibleTo(this))
            return true;
    return false;
}

void FakeDock::childVisibilityChanged()
{
    bool anyVisible = false;
    int excess = 0;
    const QList<GmSubWindow*> windows = findChildren<GmSubWindow*>();
    for (GmSubWindow* window : windows) {
        if (!window->isVisibleTo(this))
            continue;
        anyVisible = true;
        if (isHidden())
            show();
        excess = qMax(excess, window->minimumSizeHint().width() - width());
    }
    if (excess > 0 && m_splitter) {
        QList<int> sizes = m_splitter->sizes();
        if (sizes.size() >= 2) {
            sizes[0] -= excess;
            sizes[1] += excess;
            m_splitter->setSizes(sizes);
        }
    }
    if (!anyVisible && !isHidden())
        hide();
}
