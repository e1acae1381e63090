#pragma once
// The image view's tab widget: a tab bar over a stack of pages. Unlike a QTabWidget it does
// not tie tabs to pages: several tabs may show one page, and the owner decides which page a
// tab shows (setCurrentPage).

#include <QWidget>

class QStackedWidget;
class QTabBar;

class IVTabWidget : public QWidget {
    Q_OBJECT
public:
    // Installs the tab bar as its own (it takes the bar over as a child).
    IVTabWidget(QTabBar* tabBar, QWidget* parent);

    QTabBar* tabBar() const { return m_tabBar; }
    // Adds a page and returns its index; the tab bar is left alone.
    int addPage(QWidget* page);
    // The page's index, or -1 when it is not one of the pages.
    int indexOfPage(QWidget* page) const;
    int pageCount() const;
    int currentPage() const;

public slots:
    void setCurrentPage(int index);

private:
    QTabBar* m_tabBar;
    QStackedWidget* m_pages;
};
