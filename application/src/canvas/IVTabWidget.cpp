#include "canvas/IVTabWidget.h"

#include <QStackedWidget>
#include <QTabBar>
#include <QVBoxLayout>

IVTabWidget::IVTabWidget(QTabBar* tabBar, QWidget* parent)
    : QWidget(parent), m_tabBar(tabBar), m_pages(new QStackedWidget(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_tabBar);
    layout->addWidget(m_pages, 1);
}

int IVTabWidget::addPage(QWidget* page)
{
    return m_pages->addWidget(page);
}

int IVTabWidget::indexOfPage(QWidget* page) const
{
    return m_pages->indexOf(page);
}

int IVTabWidget::pageCount() const
{
    return m_pages->count();
}

int IVTabWidget::currentPage() const
{
    return m_pages->currentIndex();
}

void IVTabWidget::setCurrentPage(int index)
{
    if (index >= 0 && index < m_pages->count())
        m_pages->setCurrentIndex(index);
}
