#include "panels/ToolPalette.h"

#include "panels/Browser.h"
#include "panels/KeptOnScreen.h"
#include "panels/ToolPaletteButton.h"

#include <QAction>
#include <QCloseEvent>
#include <QDataStream>
#include <QFrame>
#include <QGridLayout>
#include <QLayout>
#include <QMainWindow>
#include <QPixmap>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// The blob's format: Qt 4.0's stream version, which older settings were written with.
constexpr int stateStreamVersion = 7;

} // namespace

ToolPalette::ToolPalette(QMainWindow* mainWindow, QWidget* actionHost, const QString& shortcut)
    : QDockWidget(tr("Tools"), mainWindow)
{
    setObjectName(QStringLiteral("DockWidget: Tools"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable
                | QDockWidget::DockWidgetFloatable);
    setAllowedAreas(Qt::LeftDockWidgetArea);
    if (mainWindow) {
        m_iconSize = mainWindow->iconSize();
    } else {
        const int side = style()->pixelMetric(QStyle::PM_ToolBarIconSize, nullptr, this);
        m_iconSize = QSize(side, side);
    }

    QAction* toggle = toggleViewAction();
    toggle->setText(tr("Tools"));
    if (actionHost) {
        if (!shortcut.isEmpty())
            toggle->setShortcut(QKeySequence(shortcut));
        actionHost->addAction(toggle);
    }

    auto* content = new QFrame(this);
    m_mainLayout = new QVBoxLayout(content);
    m_mainLayout->setContentsMargins(0, 0, 0, 0);
    m_mainLayout->setSpacing(0);
    m_grid = new QGridLayout;
    m_grid->setContentsMargins(0, 0, 0, 0);
    m_mainLayout->addLayout(m_grid);
    m_mainLayout->addStretch(1);
    setWidget(content);
    if (QLayout* own = layout()) {
        own->setContentsMargins(0, 0, 0, 0);
        own->setSpacing(0);
    }
    connect(this, &QDockWidget::topLevelChanged, this, &ToolPalette::slotTopLevelChanged);

    if (mainWindow)
        mainWindow->addDockWidget(Qt::LeftDockWidgetArea, this);
    else
        setFloating(true);
}

void ToolPalette::setHeader(const QString& normalPixmap, const QString& activePixmap, const QString& toolTip,
                            const QString& link)
{
    const QPixmap normal(normalPixmap);
    QIcon icon;
    icon.addPixmap(normal, QIcon::Normal);
    icon.addPixmap(QPixmap(activePixmap), QIcon::Active);
    delete m_headerButton;
    m_headerButton = new ToolPaletteButton(widget());
    m_headerButton->setIcon(icon);
    m_headerButton->setIconSize(normal.size());
    m_headerButton->setMinimumSize(normal.size());
    m_headerButton->setToolTip(toolTip);
    m_headerButton->setAutoRaise(true);
    m_headerButton->setFocusPolicy(Qt::NoFocus);
    connect(m_headerButton, &QToolButton::clicked, this, &ToolPalette::invokeHeaderLink);
    m_mainLayout->insertWidget(0, m_headerButton, 0, Qt::AlignCenter);
    m_headerLink = link;
}

ToolPaletteButton* ToolPalette::newButton()
{
    auto* button = new ToolPaletteButton(widget());
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

ToolPaletteButton* ToolPalette::addAction(QAction* action, int columnSpan, Qt::Alignment alignment)
{
    if (!action)
        return nullptr;
    ToolPaletteButton* button = newButton();
    button->setDefaultAction(action);
    button->setIconSize(QSize(m_iconSize.width() * columnSpan, m_iconSize.height()));
    addWidget(button, 1, columnSpan, alignment);
    return button;
}

ToolPaletteButton* ToolPalette::addActionMenuButton(const QList<QAction*>& actions)
{
    if (actions.size() < 2 || !actions[0] || !actions[1])
        return nullptr;
    ToolPaletteButton* button = newButton();
    for (QAction* action : actions) {
        if (action)
            button->addAction(action);
    }
    button->setDefaultAction(actions[0]);
    button->setIconSize(m_iconSize);
    connect(button, &QToolButton::triggered, button, &QToolButton::setDefaultAction);
    addWidget(button, 1, 1, Qt::AlignCenter);
    return button;
}

ToolPaletteButton* ToolPalette::addDoubleClickButton(QAction* action, QAction* doubleClickAction)
{
    if (!action || !doubleClickAction)
        return nullptr;
    ToolPaletteButton* button = newButton();
    button->setDefaultAction(action);
    button->setDoubleClickAction(doubleClickAction);
    button->setIconSize(m_iconSize);
    addWidget(button, 1, 1, Qt::AlignCenter);
    return button;
}

void ToolPalette::addWidget(QWidget* widget, int rowSpan, int columnSpan, Qt::Alignment alignment)
{
    if (!widget || columnSpan < 1)
        return;
    if (m_nextColumn + columnSpan > m_columnCount) {
        qWarning("Tool Palette: Misaligned widget add");
        ++m_nextRow;
        m_nextColumn = 0;
    }
    m_grid->addWidget(widget, m_nextRow, m_nextColumn, rowSpan, columnSpan, alignment);
    m_nextColumn += columnSpan;
    if (m_nextColumn > m_columnCount - 1) {
        m_nextRow += rowSpan;
        m_nextColumn = 0;
    }
}

void ToolPalette::addSeparator()
{
    auto* line = new QFrame(widget());
    line->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    // Only vertically centred: a line needs the full width of its cells to show.
    addWidget(line, 1, m_columnCount, Qt::AlignVCenter);
}

bool ToolPalette::isShownInParent() const
{
    return parentWidget() ? isVisibleTo(parentWidget()) : isVisible();
}

void ToolPalette::setSuppressed(bool suppressed)
{
    m_state.suppressed = suppressed;
    if (suppressed) {
        if (isShownInParent())
            hide();
    } else if (m_state.visible && !isShownInParent()) {
        show();
    }
}

QByteArray ToolPalette::saveState()
{
    if (isFloating())
        m_state.position = pos();
    // Moved in from a larger screen and left there: the place the user gave it there stays.
    const QPoint kept =
        m_fittedFrom != QPoint(-1, -1) && m_state.position == m_fittedTo ? m_fittedFrom : m_state.position;
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(stateStreamVersion);
    stream << kept << m_state.visible << m_state.floating;
    return bytes;
}

void ToolPalette::restoreState(const QByteArray& state)
{
    if (state.size() < 4)
        return;
    QDataStream stream(state);
    stream.setVersion(stateStreamVersion);
    QPoint position;
    bool visible = false;
    bool floating = false;
    stream >> position >> visible >> floating;
    // A cut-short blob would leave defaults in the later values: take none of it.
    if (stream.status() != QDataStream::Ok)
        return;
    m_state.position = position == QPoint(-1, -1) ? position : keptOnScreen(this, position);
    m_fittedFrom = m_state.position != position ? position : QPoint(-1, -1);
    m_fittedTo = m_state.position;
    m_state.visible = visible;
    m_state.floating = floating;
    if (position != QPoint(-1, -1))
        move(m_state.position);
    // A palette the user had closed stays closed; hiding is no close, so the wish is kept.
    if (visible)
        show();
    else
        hide();
}

void ToolPalette::invokeHeaderLink()
{
    if (!m_headerLink.isEmpty())
        Browser::openOnDesktop(QUrl(m_headerLink), this);
}

void ToolPalette::slotTopLevelChanged(bool floating)
{
    if (QLayout* own = widget() ? widget()->layout() : nullptr)
        own->setSizeConstraint(floating ? QLayout::SetFixedSize : QLayout::SetNoConstraint);
    if (!floating)
        m_state.position = pos();
}

void ToolPalette::showEvent(QShowEvent* event)
{
    m_state.suppressed = false;
    m_state.visible = true;
    QDockWidget::showEvent(event);
}

void ToolPalette::closeEvent(QCloseEvent* event)
{
    m_state.suppressed = false;
    m_state.visible = false;
    QDockWidget::closeEvent(event);
}
