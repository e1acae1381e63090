#include "panels/GmSubWindow.h"

#include "document/GmModel.h"
#include "panels/FakeDock.h"
#include "panels/GmSubWindowLayout.h"
#include "panels/KeptOnScreen.h"
#include "panels/TitleButton.h"
#include "panels/TitleWidget.h"

#include <QAction>
#include <QApplication>
#include <QChildEvent>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QSizeGrip>

GmSubWindow::GmSubWindow(const QString& name, const QString& title, QWidget* actionHost,
                         const QString& shortcut, QWidget* parent)
    : QWidget(parent, Qt::Tool), m_homeParent(parent)
{
    m_layout = new GmSubWindowLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_titleWidget = new TitleWidget(QStringLiteral("Title"), this);
    m_layout->addWidget(m_titleWidget, 0);

    m_toggleAction = new QAction(this);
    m_toggleAction->setCheckable(true);
    connect(m_toggleAction, &QAction::triggered, this, &GmSubWindow::toggleViewSlot);
    connect(m_titleWidget->closeButton(), &QAbstractButton::clicked, this,
            &GmSubWindow::closeViewSlot);

    setObjectName(QStringLiteral("DockWidget: ") + name);
    // The title reaches the action and the title bar through the change event.
    setWindowTitle(title);

    if (actionHost) {
        if (!shortcut.isEmpty())
            m_toggleAction->setShortcut(QKeySequence(shortcut));
        actionHost->addAction(m_toggleAction);
    }
    if (!shortcut.isEmpty()) {
        const QString tip = title + QStringLiteral(" (") + shortcut + QLatin1Char(')');
        setToolTip(tip);
        m_toggleAction->setToolTip(tip);
    }
}

GmSubWindow::~GmSubWindow() = default;

int GmSubWindow::usableViewTabs() const
{
    return AllViewTabs;
}

bool GmSubWindow::restoresVisibility() const
{
    return true;
}

void GmSubWindow::setDock(FakeDock* dock)
{
    m_dock = dock;
}

void GmSubWindow::setWidget(QWidget* content)
{
    if (m_content)
        m_layout->removeWidget(m_content);
    m_content = content;
    if (content) {
        m_layout->addWidget(content, 1);
        if (QLayout* inner = content->layout()) {
            inner->setContentsMargins(0, 0, 0, 0);
            inner->setSpacing(5);
        }
    }
    m_layout->setContentsMargins(2, 2, 2, 2);
    m_layout->setSpacing(5);
}

void GmSubWindow::setResizable(bool resizable)
{
    if (resizable == m_resizable)
        return;
    m_resizable = resizable;
    if (resizable) {
        m_layout->setSizeConstraint(QLayout::SetDefaultConstraint);
        return;
    }
    m_layout->setSizeConstraint(isWindow() ? QLayout::SetFixedSize : QLayout::SetDefaultConstraint);
    delete m_sizeGrip;
    m_sizeGrip = nullptr;
}

void GmSubWindow::updateVisibility()
{
    const bool wanted = m_userVisible && !m_suppressed && m_toggleAction->isEnabled();
    if (wanted == isVisibleTo(parentWidget()))
        return;
    if (wanted) {
        m_titleWidget->setVisible(!isWindow());
        reveal();
    } else {
        if (isWindow())
            storeGeometry();
        hide();
    }
}

void GmSubWindow::reveal()
{
    if (!isHidden())
        return;
    show();
    emit visibilityChanged();
}

void GmSubWindow::setFloating(bool floating, bool quiet)
{
    if (floating) {
        if (!quiet && isWindow()) {
            updateVisibility();
            return;
        }
        if (m_dock)
            m_dock->removeSubWindow(this);
        setParent(m_homeParent, Qt::Tool);
        // A panel taken out of a shown column gets its own window at once, where it sat in the
        // column. Under a busy window manager that first place can come back to Qt after the
        // panel has been given its floating one, and the panel's next resize then sends it
        // there, to the screen's corner. Made when the panel shows, the window starts out
        // where it floats.
        if (testAttribute(Qt::WA_WState_Created))
            destroy();
        m_titleWidget->hide();
        if (!m_resizable)
            m_layout->setSizeConstraint(QLayout::SetFixedSize);
        else if (!m_sizeGrip)
            createSizeGrip();
        if (!quiet)
            applyGeometry();
        updateVisibility();
        return;
    }

    if (m_dock) {
        if (!quiet)
            storeGeometry();
        if (!m_resizable) {
            setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
            m_layout->setSizeConstraint(QLayout::SetDefaultConstraint);
        }
        delete m_sizeGrip;
        m_sizeGrip = nullptr;
        setWindowFlags(Qt::Widget);
        // Re-parenting leaves a widget shown or hidden depending on its old and new parents;
        // hidden for certain, updateVisibility below decides alone.
        hide();
        m_titleWidget->show();
        m_dock->addSubWindow(this);
    }
    // Also when quiet: otherwise a docked panel's visibility would be whatever re-parenting
    // left behind, not what the user wants.
    updateVisibility();
}

void GmSubWindow::storeGeometry()
{
    // Where the program moved the panel in, and the user has left it, the record of the screen
    // it was made on stays: back on that screen the panel is where the user had put it.
    if (!m_fittedRecord.isEmpty() && geometry() == m_fittedPlace) {
        m_geometry = m_fittedRecord;
        return;
    }
    m_fittedRecord.clear();
    m_geometry = saveGeometry();
}

void GmSubWindow::applyGeometry()
{
    // Read from the record itself: Qt's restoreGeometry restores nothing from a record made on a
    // screen more than a quarter wider or narrower than this one, which left every such panel
    // at the place and size it was built with, piled on the others in the screen's corner.
    const QRect stored = storedGeometry(m_geometry);
    if (!stored.isValid()) {
        // A panel without a default size keeps its own rather than shrinking to nothing.
        if (m_defaultSize.isValid())
            resize(m_defaultSize);
        move(m_defaultPosition);
    } else {
        // By its inside, as saveGeometry keeps it: a move before the manager frames the panel
        // would put its inside where its frame was, a title bar lower at every start.
        const QRect place = isWindow() ? keptOnScreen(this, stored) : stored;
        setGeometry(place);
        m_fittedRecord = place != stored ? m_geometry : QByteArray();
        m_fittedPlace = place;
    }
    if (m_keepWidth)
        m_layout->setMinimumWidthHint(width());
    if (m_userVisible)
        reveal();
}

QByteArray GmSubWindow::saveState()
{
    // A floating panel that has never been on the screen has no place of its own to keep: the
    // next run gives it the default place of its screen mode.
    if (isWindow() && (isVisible() || !m_geometry.isEmpty()))
        storeGeometry();
    QByteArray blob(1, m_userVisible ? '\1' : '\0');
    blob.append(m_geometry);
    return blob;
}

void GmSubWindow::restoreState(const QByteArray& blob)
{
    if (blob.isEmpty())
        return;
    m_userVisible = false;
    m_geometry = blob.mid(1);
    applyGeometry();
    m_userVisible = blob.at(0) != 0 && restoresVisibility();
}

void GmSubWindow::userShow()
{
    m_userVisible = true;
    updateVisibility();
    reveal();
}

void GmSubWindow::toggleViewSlot(bool on)
{
    m_userVisible = on;
    if (on)
        m_suppressed = false;
    updateVisibility();
}

void GmSubWindow::closeViewSlot()
{
    m_userVisible = false;
    updateVisibility();
}

void GmSubWindow::viewTabChangedSlot(int tab)
{
    m_toggleAction->setEnabled((usableViewTabs() & tab) != 0);
    updateVisibility();
}

void GmSubWindow::showEvent(QShowEvent* event)
{
    m_closed = false;
    emit visibilityChanged();
    m_toggleAction->setChecked(true);
    QWidget::showEvent(event);
}

void GmSubWindow::hideEvent(QHideEvent* event)
{
    emit visibilityChanged();
    m_toggleAction->setChecked(false);
    QWidget::hideEvent(event);
}

void GmSubWindow::closeEvent(QCloseEvent* event)
{
    m_closed = true;
    m_userVisible = false;
    emit visibilityChanged();
    m_toggleAction->setChecked(false);
    QWidget::closeEvent(event);
}

void GmSubWindow::childEvent(QChildEvent* event)
{
    if (event->removed() && event->child() == m_content)
        m_content = nullptr;
    QWidget::childEvent(event);
}

void GmSubWindow::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::WindowTitleChange) {
        m_toggleAction->setText(windowTitle());
        m_titleWidget->setText(windowTitle());
    }
    QWidget::changeEvent(event);
}

void GmSubWindow::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        event->accept();
        emit escapeKeyPressed();
        break;
    case Qt::Key_Backspace:
        event->accept();
        if (GmModel* model = GmModel::existingInstance())
            model->deleteRegion();
        break;
    default:
        event->ignore();
        break;
    }
}

void GmSubWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeSizeGrip();
}

void GmSubWindow::createSizeGrip()
{
    m_sizeGrip = new QSizeGrip(this);
    m_sizeGrip->resize(m_sizeGrip->sizeHint());
    placeSizeGrip();
    m_sizeGrip->show();
}

void GmSubWindow::placeSizeGrip()
{
    if (!m_sizeGrip)
        return;
    const int y = height() - m_sizeGrip->height();
    if (QApplication::layoutDirection() == Qt::RightToLeft)
        m_sizeGrip->move(0, y);
    else
        m_sizeGrip->move(width() - m_sizeGrip->width(), y);
}
