// The main window's screen modes, the panels' default places and the layout kept between runs.
#include "shell/KsMainWindow.h"

#include "colour/ColourWorkspace.h"
#include "panels/FakeDock.h"
#include "panels/GmSubWindow.h"
#include "panels/ImageBlendingWindow.h"
#include "panels/ImageEdgeFinder.h"
#include "panels/NavigatorWindow.h"
#include "panels/RegionalProperties.h"
#include "panels/TipWindow.h"
#include "panels/ToolPalette.h"
#include "panels/ToolPaletteButton.h"
#include "shell/WindowLayoutRules.h"

#include <QActionGroup>
#include <QButtonGroup>
#include <QCoreApplication>
#include <QDockWidget>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLayout>
#include <QMenuBar>
#include <QPair>
#include <QScreen>
#include <QSettings>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QWindow>

#include <algorithm>

namespace {

// The layout's keys; a stored version other than this one is ignored as a whole.
constexpr int kPersistVersion = 2;
const char* const kPersistVersionKey = "PersistVersion";
const char* const kGeometryKey = "UI/Geometry";
const char* const kScreenModeKey = "UI/ScreenMode";
const char* const kMaximizedKey = "UI/Maximized";
const char* const kNormalGeometryKey = "UI/NormalGeometry";
const char* const kChildStateKey = "UI/ChildState";
const QString subWindowKey(const QObject* window)
{
    return QStringLiteral("UI/SubWindows/") + window->objectName();
}

} // namespace

QActionGroup* KsMainWindow::screenModeGroup() const
{
    return m_screenModeGroup;
}

void KsMainWindow::addScreenModeButtons()
{
    if (!m_screenModeGroup)
        return;
    static const char* const pictures[] = {":images/scrn-mode-nrml-13x12.png", ":images/scrn-mode-full-menu-13x12.png",
                                           ":images/scrn-mode-full-13x12.png"};
    const QString toggleKey = m_toggleScreenModeAction
                                  ? m_toggleScreenModeAction->shortcut().toString(QKeySequence::NativeText)
                                  : QString();
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    m_screenModeButtons = new QButtonGroup(this);
    const QList<QAction*> modes = m_screenModeGroup->actions();
    for (int i = 0; i < modes.size() && i < 3; ++i) {
        QAction* mode = modes.at(i);
        auto* button = new ToolPaletteButton(row);
        button->setCheckable(true);
        button->setAutoRaise(true);
        const QPixmap picture(QString::fromLatin1(pictures[i]));
        button->setIcon(QIcon(picture));
        button->setIconSize(picture.size() + QSize(3, 4));
        button->setToolTip(mode->toolTip() + QStringLiteral(" (") + toggleKey + QLatin1Char(')'));
        button->setWhatsThis(mode->whatsThis());
        button->setChecked(mode->isChecked());
        m_screenModeButtons->addButton(button, i);
        connect(button, &QAbstractButton::clicked, mode, &QAction::trigger);
        connect(mode, &QAction::toggled, button, &QAbstractButton::setChecked);
        layout->addWidget(button);
    }
    m_toolPalette->addWidget(row, 1, 2, Qt::AlignCenter);
}

QRect KsMainWindow::availableScreenGeometry() const
{
    QScreen* screen = this->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

void KsMainWindow::restoreWindowState()
{
    QSettings settings;
    if (settings.value(QLatin1String(kPersistVersionKey), -1).toInt() != kPersistVersion) {
        // Until the full-screen modes or the user put the panels to use.
        m_defaultPlacesFollowWindow = true;
        useDefaultLayout();
    } else {
        // Not before the stored places are in: the window's moves on its way up would give
        // the palette its default place first and then take it for one to keep following.
        m_defaultPlacesFollowWindow = false;
        restoreGeometry(settings.value(QLatin1String(kGeometryKey)).toByteArray());
        m_maximized = settings.value(QLatin1String(kMaximizedKey), true).toBool();
        m_normalGeometry = settings.value(QLatin1String(kNormalGeometryKey)).toRect();
        const int mode = settings.value(QLatin1String(kScreenModeKey), 0).toInt();
        // A mode this program does not know would leave the window in none.
        m_screenMode = mode >= 0 && mode <= 2 ? mode : 0;
        // A window manager keeps a panel over the window it belongs to only when that window
        // was on the screen before the panel: the window comes up in its mode first, and the
        // palette and the panels float over it afterwards, as a change of mode in a run has it.
        showInScreenMode(m_screenMode);
        restoreState(settings.value(QLatin1String(kChildStateKey)).toByteArray(), kPersistVersion);
        for (GmSubWindow* window : subWindows())
            window->restoreState(settings.value(subWindowKey(window)).toByteArray());
        if (m_toolPalette)
            m_toolPalette->restoreState(settings.value(subWindowKey(m_toolPalette)).toByteArray());
        m_defaultPlacesFollowWindow = true;
        setScreenMode(m_screenMode, true);
        // A quiet dock leaves the panels' visibility to be settled here.
        for (GmSubWindow* window : subWindows())
            window->updateVisibility();
        if (m_screenMode == 0 && m_toolPalette && m_toolPalette->state().visible && m_toolPalette->state().floating)
            m_toolPalette->show();
    }
    // The places depend on the sizes the panels take once laid out.
    QTimer::singleShot(0, this, &KsMainWindow::setDefaultSubWindowStateSlot);
}

void KsMainWindow::useDefaultLayout()
{
    // Un-maximising later gives four fifths of the screen, centred.
    m_normalGeometry = WindowLayoutRules::insetByTenth(availableScreenGeometry());
    // Docked first: docking takes a panel out of sight, the visibility is settled afterwards.
    if (m_dock)
        for (GmSubWindow* window : subWindows())
            window->setFloating(false, true);
    for (GmSubWindow* window : {static_cast<GmSubWindow*>(m_navigatorWindow), static_cast<GmSubWindow*>(m_edgeFinder),
                                static_cast<GmSubWindow*>(m_blendingWindow), static_cast<GmSubWindow*>(m_tipWindow)}) {
        if (window) {
            window->setUserVisible(true);
            window->updateVisibility();
        }
    }
    m_screenMode = 0;
    if (m_screenModeGroup && !m_screenModeGroup->actions().isEmpty())
        m_screenModeGroup->actions().first()->setChecked(true);
    if (m_toolPalette) {
        m_toolPalette->setAllowedAreas(Qt::LeftDockWidgetArea);
        m_toolPalette->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable
                                   | QDockWidget::DockWidgetFloatable);
        m_toolPalette->setFloating(false);
    }
    if (m_dock)
        m_dock->childVisibilityChanged();
    menuBar()->show();
    // Once the column is in, whose panels decide how low the window can be.
    setGeometry(fittedOnScreen(m_normalGeometry));
    showMaximized();
}

void KsMainWindow::setScreenMode(int mode, bool force)
{
    if (mode < 0 || mode > 2)
        return;
    if (m_screenMode == 0 && mode != 0)
        rememberStandardGeometry();
    if (mode != 0)
        m_defaultPlacesFollowWindow = false;
    if (mode == 0)
        setPanelsFloating(false, force);
    else
        floatPanels(force);
    showInScreenMode(mode);
    // Without the menu the way back has to be on screen.
    if (mode == 2 && m_screenModeGroup && m_screenModeGroup->actions().size() > 2)
        TipWindow::showActionHelp(m_screenModeGroup->actions().at(2));
    if (m_screenModeGroup && mode < m_screenModeGroup->actions().size())
        m_screenModeGroup->actions().at(mode)->setChecked(true);
    const int previous = m_screenMode;
    m_screenMode = mode;
    if (mode != 0)
        placeClearOfFloatingPanels();
    else if (previous != 0)
        restoreStandardPlaces();
    if (isVisible())
        activateWindow();
}

void KsMainWindow::showInScreenMode(int mode)
{
    menuBar()->setVisible(mode != 2);
    setUpdatesEnabled(false);
    const Qt::WindowStates windowed = windowState() & ~(Qt::WindowMaximized | Qt::WindowFullScreen);
    switch (mode) {
    case 0:
        changeWindowFlags(Qt::Window);
        setWindowState(windowed);
        // Nothing remembered yet: the window keeps the geometry it has.
        if (m_normalGeometry.isValid())
            setGeometry(fittedOnScreen(m_normalGeometry));
        if (m_maximized)
            setWindowState(windowState() | Qt::WindowMaximized);
        break;
    case 1:
        changeWindowFlags(Qt::Window | Qt::FramelessWindowHint);
        setWindowState(windowed);
        setGeometry(availableScreenGeometry());
        break;
    default:
        changeWindowFlags(Qt::Window);
        setWindowState(windowed | Qt::WindowFullScreen);
        break;
    }
    setUpdatesEnabled(true);
    show();
}

void KsMainWindow::rememberStandardGeometry()
{
    m_maximized = isMaximized();
    // A window maximised before it was ever shown normally has no normal geometry of its own:
    // the one it was given stays.
    const QRect normal = normalGeometry();
    if (normal.isValid())
        m_normalGeometry = normal;
}

void KsMainWindow::changeWindowFlags(Qt::WindowFlags flags)
{
    if (windowFlags() == flags)
        return;
    // QWidget::setWindowFlags hides a shown window and maps it anew: a window manager then
    // takes it in as a new window, stacks it over the floating panels it no longer counts as
    // its own, and drops the state changes and key presses that come meanwhile.
    if (isVisible() && windowHandle()) {
        overrideWindowFlags(flags);
        windowHandle()->setFlags(flags);
    } else {
        setWindowFlags(flags);
    }
}

void KsMainWindow::floatPanels(bool force)
{
    QList<GmSubWindow*> docked;
    for (GmSubWindow* window : defaultColumn())
        if (!window->isWindow())
            docked.append(window);
    setPanelsFloating(true, force);
    // Only their first time afloat: after that each goes back to where it last floated.
    if (!m_columnRestacked && !docked.isEmpty()) {
        m_columnRestacked = true;
        restackFloatedColumn(docked);
    }
}

void KsMainWindow::setPanelsFloating(bool full, bool force)
{
    const QDockWidget::DockWidgetFeatures features =
        QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable;
    if (ToolPalette* palette = m_toolPalette) {
        if (full) {
            // The user's own choice, to go back to in Standard mode.
            if (m_screenMode == 0)
                palette->setFloatingChoice(palette->isFloating());
            palette->setAllowedAreas(Qt::NoDockWidgetArea);
            palette->setFeatures(features);
            if (!palette->isFloating() || force) {
                // Floating it again would unmap and map it at once, which a window manager
                // may take in as a window gone and then leave unmapped.
                if (!palette->isFloating())
                    palette->setFloating(true);
                const QPoint saved = palette->state().position;
                if (saved != QPoint(-1, -1))
                    palette->move(saved);
            }
        } else {
            const bool floated = palette->isFloating() && !force;
            const QPoint floatingPlace = floated ? palette->pos() : palette->state().position;
            palette->setAllowedAreas(Qt::LeftDockWidgetArea);
            palette->setFeatures(features);
            if (palette->isFloating() != palette->state().floating)
                palette->setFloating(palette->state().floating);
            // Docking records the palette's place in the window; the full-screen modes bring it
            // back where it floated, not over the tool bar.
            if (floated)
                palette->setSavedPosition(floatingPlace);
        }
    }
    if (m_dock) {
        for (GmSubWindow* window : subWindows())
            window->setFloating(full, force);
        m_dock->childVisibilityChanged();
    }
    // The window's minimum size follows the panels it now holds before it is given a geometry.
    if (layout())
        layout()->activate();
}

void KsMainWindow::setScreenModeNormalSlot()
{
    setScreenMode(0, false);
}

void KsMainWindow::setScreenModeFullWithMenuSlot()
{
    setScreenMode(1, false);
}

void KsMainWindow::setScreenModeFullSlot()
{
    setScreenMode(2, false);
}

void KsMainWindow::toggleScreenModeSlot()
{
    setScreenMode((m_screenMode + 1) % 3, false);
}

void KsMainWindow::tabPressed(bool backtab)
{
    m_tabHideState = WindowLayoutRules::nextTabHideState(m_tabHideState, backtab);
    if (m_optionsToolBar)
        m_optionsToolBar->setVisible(m_tabHideState != 1);
    if (m_toolPalette)
        m_toolPalette->setSuppressed(m_tabHideState == 1);
    for (GmSubWindow* window : subWindows()) {
        window->setSuppressed(m_tabHideState != 0);
        window->updateVisibility();
    }
    activateWindow();
}

int KsMainWindow::defaultPanelTop() const
{
    if (m_optionsToolBar)
        return m_optionsToolBar->mapToGlobal(m_optionsToolBar->rect().bottomLeft()).y() + 12;
    return availableScreenGeometry().top();
}

int KsMainWindow::decorationGap()
{
    int gap = frameGeometry().height() - geometry().height();
    for (GmSubWindow* window : subWindows())
        gap = std::max(gap, window->frameGeometry().height() - window->geometry().height());
    // A frameless or full-screen window and panels the manager has not framed yet show none:
    // the title bars that come still need their room.
    if (gap > 0)
        m_decorationGap = gap;
    return m_decorationGap;
}

QMargins KsMainWindow::expectedPanelFrame()
{
    // The widest frame the manager has put round a panel so far.
    for (GmSubWindow* window : subWindows()) {
        const QRect frame = window->frameGeometry();
        const QRect inside = window->geometry();
        if (!window->isWindow() || frame == inside)
            continue;
        const QMargins seen(inside.left() - frame.left(), inside.top() - frame.top(), frame.right() - inside.right(),
                            frame.bottom() - inside.bottom());
        m_panelFrame = m_panelFrame.isNull() ? seen
                                             : QMargins(std::max(m_panelFrame.left(), seen.left()),
                                                        std::max(m_panelFrame.top(), seen.top()),
                                                        std::max(m_panelFrame.right(), seen.right()),
                                                        std::max(m_panelFrame.bottom(), seen.bottom()));
    }
    if (!m_panelFrame.isNull())
        return m_panelFrame;
    // None yet: the title bar seen on the window (at least the style's), and a border's
    // allowance on the other sides, rather a few pixels too many than a panel's edge under the
    // screen's or its title bar under another panel.
    const int border = 8;
    const int titleBar = std::max(decorationGap(), style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this));
    return QMargins(border, titleBar, border, border);
}

QRect KsMainWindow::placeOnScreen(const GmSubWindow* panel, const QRect& place)
{
    const QRect work = availableScreenGeometry();
    if (!work.isValid())
        return place;
    // Qt moves a panel the manager has framed by its frame's corner, and one not framed yet by
    // its inside's, the frame then coming round it.
    const QRect frame = panel->frameGeometry();
    const QRect inside = panel->geometry();
    const QMargins around = panel->isWindow() && frame != inside
                                ? QMargins(0, 0, frame.width() - inside.width(), frame.height() - inside.height())
                                : expectedPanelFrame();
    return WindowLayoutRules::keptInsideWithFrame(place, around, work);
}

QMargins KsMainWindow::expectedWindowFrame()
{
    const QMargins panels = expectedPanelFrame();
    // Maximised or full screen the manager leaves the borders out.
    const QRect frame = frameGeometry();
    const QRect inside = geometry();
    if (frame != inside && !(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        return QMargins(inside.left() - frame.left(), inside.top() - frame.top(), frame.right() - inside.right(),
                        frame.bottom() - inside.bottom());
    return panels;
}

QRect KsMainWindow::fittedOnScreen(const QRect& rect)
{
    // The window is never lower or narrower than its bars and panels let it be.
    if (layout())
        layout()->activate();
    const QRect grown(rect.topLeft(), rect.size().expandedTo(minimumSize()).expandedTo(minimumSizeHint()));
    const QRect work = availableScreenGeometry();
    if (!work.isValid())
        return grown;
    return WindowLayoutRules::keptInsideWithFrame(grown, expectedWindowFrame(), work);
}

QList<GmSubWindow*> KsMainWindow::defaultColumn() const
{
    QList<GmSubWindow*> column;
    for (GmSubWindow* window : {static_cast<GmSubWindow*>(m_navigatorWindow), static_cast<GmSubWindow*>(m_edgeFinder),
                                static_cast<GmSubWindow*>(m_blendingWindow), static_cast<GmSubWindow*>(m_tipWindow)})
        if (window)
            column.append(window);
    return column;
}

QList<QRect> KsMainWindow::defaultColumnPlaces(const QList<GmSubWindow*>& column, int top, int gap)
{
    const QRect work = availableScreenGeometry();
    int columnWidth = 0;
    QList<int> heights;
    for (GmSubWindow* window : column) {
        columnWidth = std::max(columnWidth, window->sizeHint().width());
        heights.append(window->isWindow() && window->isVisible() ? window->height() : window->sizeHint().height());
    }
    // A panel reaches down as far as its frame; one that is taller than the work area on its
    // own is shrunk to it.
    QList<QRect> places = WindowLayoutRules::stackedColumn(heights, work.right() - 26 - columnWidth, columnWidth, top,
                                                           work.bottom() - expectedPanelFrame().bottom(), gap);
    for (int i = 0; i < places.size(); ++i)
        places[i] = placeOnScreen(column.at(i), places.at(i));
    return places;
}

namespace {

// A panel the user has placed keeps its place.
bool unplaced(const QObject* window)
{
    return QSettings().value(subWindowKey(window)).toByteArray().size() <= 1;
}

} // namespace

void KsMainWindow::setDefaultSubWindowStateSlot()
{
    const QRect work = availableScreenGeometry();
    const int top = defaultPanelTop();
    const int gap = decorationGap();

    const auto place = [](GmSubWindow* window, const QRect& rect, bool applyNow) {
        window->setDefaultPosition(rect.topLeft());
        window->setDefaultSize(rect.size());
        if (applyNow && window->isWindow()) {
            window->move(rect.topLeft());
            window->resize(rect.size());
        }
    };

    int left = work.left() + 8 + gap;
    // While the places follow the window the palette's is still the one given here.
    m_paletteDefaultPlaced = m_toolPalette
                             && (m_toolPalette->state().position == QPoint(-1, -1)
                                 || (m_paletteDefaultPlaced && m_defaultPlacesFollowWindow));
    if (m_paletteDefaultPlaced) {
        const QPoint position(work.left() + 8, top);
        m_toolPalette->setSavedPosition(position);
        if (m_toolPalette->isFloating())
            m_toolPalette->move(position);
        left += m_toolPalette->sizeHint().width();
    }
    if (m_colourWorkspace && unplaced(m_colourWorkspace))
        place(m_colourWorkspace,
              placeOnScreen(m_colourWorkspace, QRect(QPoint(left, top), m_colourWorkspace->sizeHint())), true);
    if (m_patchProperties && unplaced(m_patchProperties)) {
        const int below = m_colourWorkspace ? m_colourWorkspace->height() + 3 * gap : 0;
        QRect rect(QPoint(left, top + below), m_patchProperties->sizeHint());
        // A screen too low for the two one above the other has them side by side where that
        // fits: moved up, the one would cover the other's title bar.
        if (m_colourWorkspace && placeOnScreen(m_patchProperties, rect) != rect) {
            const QRect beside(QPoint(left + m_colourWorkspace->width() + gap, top), rect.size());
            if (placeOnScreen(m_patchProperties, beside) == beside)
                rect = beside;
        }
        place(m_patchProperties, placeOnScreen(m_patchProperties, rect), true);
    }

    const QList<GmSubWindow*> column = defaultColumn();
    const QList<QRect> stacked = defaultColumnPlaces(column, top, gap);
    for (int i = 0; i < column.size(); ++i)
        place(column.at(i), stacked.at(i), unplaced(column.at(i)));
    if (m_screenMode != 0)
        placeClearOfFloatingPanels();
}

QMargins KsMainWindow::panelFrameMargins(const GmSubWindow* panel)
{
    const QRect frame = panel->frameGeometry();
    const QRect inside = panel->geometry();
    if (panel->isWindow() && frame != inside)
        return QMargins(inside.left() - frame.left(), inside.top() - frame.top(), frame.right() - inside.right(),
                        frame.bottom() - inside.bottom());
    return expectedPanelFrame();
}

QRect KsMainWindow::panelFrameAt(const GmSubWindow* panel, const QPoint& place, const QSize& size)
{
    // Qt moves a panel by its frame's corner once the manager has framed it, and one without a
    // native window yet, whose frame comes round it later; one whose window is made but not
    // framed yet, by its inside's.
    const QMargins around = panelFrameMargins(panel);
    const bool byFrame = !panel->testAttribute(Qt::WA_WState_Created)
                         || (panel->isWindow() && panel->frameGeometry() != panel->geometry());
    const QPoint inside = byFrame ? place + QPoint(around.left(), around.top()) : place;
    return QRect(inside, size).marginsAdded(around);
}

bool KsMainWindow::atProgramPlace(const GmSubWindow* panel) const
{
    // Framed or not yet, Qt reports the place it was moved to as the frame's or the inside's.
    const auto at = [panel](const QPoint& place) {
        return panel->pos() == place || panel->geometry().topLeft() == place;
    };
    return at(panel->defaultPosition()) || (m_clearPlaces.contains(panel) && at(m_clearPlaces.value(panel)));
}

void KsMainWindow::placeClearOfFloatingPanels(const GmSubWindow* only)
{
    const QRect work = availableScreenGeometry();
    if (!work.isValid())
        return;
    const int top = defaultPanelTop();
    const int gap = decorationGap();
    QList<QRect> taken;
    QList<QRect> titleBars;
    const auto take = [&](const QRect& frame, int title) {
        taken << frame;
        titleBars << QRect(frame.left(), frame.top(), frame.width(), title);
    };
    // The tools are not to be covered at all, as a title bar is not.
    if (m_toolPalette && m_toolPalette->isFloating() && m_toolPalette->isVisible())
        take(m_toolPalette->frameGeometry(), m_toolPalette->frameGeometry().height());
    QList<GmSubWindow*> placing;
    for (GmSubWindow* window : subWindows()) {
        if (!window->isWindow())
            continue;
        const bool ours = only ? window == only : window == m_colourWorkspace || window == m_patchProperties;
        if (ours && unplaced(window) && atProgramPlace(window))
            placing << window;
        else if (window->isVisible() && window != only)
            take(panelFrameAt(window, window->pos(), window->size()), panelFrameMargins(window).top());
    }
    struct Placed {
        GmSubWindow* window;
        QRect frame;
    };
    // One after the other, each clear of those before it; the first way that leaves every
    // panel uncovered, else the one that covers the fewest title bars and then the least. On
    // a screen just wide enough the taller one goes first, and the frames may touch.
    const auto placeInOrder = [&](const QList<GmSubWindow*>& order, int between, QPair<qint64, qint64>* covered) {
        QList<QRect> others = taken;
        QList<QRect> titles = titleBars;
        QList<Placed> placed;
        *covered = {0, 0};
        for (GmSubWindow* window : order) {
            const QSize size =
                window->isVisible() || !window->defaultSize().isValid() ? window->size() : window->defaultSize();
            // Beside the palette at the top line, as Standard mode has it, or the nearest free
            // place from there; the frame below the line.
            const QMargins around = panelFrameMargins(window);
            const QRect wanted(QPoint(work.left() + 8 + gap, top), size.grownBy(around));
            QRect area = work;
            area.setTop(top);
            const int title = around.top();
            const QRect frame = WindowLayoutRules::placeAmong(wanted, title, others, titles, area, between);
            const QRect ownTitle(frame.topLeft(), QSize(frame.width(), title));
            covered->first +=
                WindowLayoutRules::coveredArea(frame, titles) + WindowLayoutRules::coveredArea(ownTitle, others);
            covered->second += WindowLayoutRules::coveredArea(frame, others);
            placed.append({window, frame});
            others << frame;
            titles << ownTitle;
        }
        return placed;
    };
    QList<Placed> best;
    QPair<qint64, qint64> bestCovered;
    const QList<GmSubWindow*> reversed(placing.crbegin(), placing.crend());
    for (int between : {gap, 0}) {
        for (const QList<GmSubWindow*>& order : {placing, reversed}) {
            QPair<qint64, qint64> covered;
            const QList<Placed> placed = placeInOrder(order, between, &covered);
            if (best.isEmpty() || covered < bestCovered) {
                best = placed;
                bestCovered = covered;
            }
        }
    }
    for (const Placed& placed : best) {
        GmSubWindow* window = placed.window;
        const QPoint place = placed.frame.topLeft() - panelFrameAt(window, QPoint(0, 0), window->size()).topLeft();
        m_clearPlaces.insert(window, place);
        window->move(place);
        // Over the panels whose body it may cover, the later over the earlier.
        if (window->isVisible())
            window->raise();
    }
}

bool KsMainWindow::eventFilter(QObject* watched, QEvent* event)
{
    // Before the window is mapped: the manager takes it in where it is to stay. The frames of
    // the panels shown are known by now, which they may not have been when the mode began.
    if (event->type() == QEvent::Show && m_screenMode != 0
        && (watched == m_colourWorkspace || watched == m_patchProperties))
        placeClearOfFloatingPanels(static_cast<GmSubWindow*>(watched));
    return QMainWindow::eventFilter(watched, event);
}

void KsMainWindow::restoreStandardPlaces()
{
    for (GmSubWindow* window :
         {static_cast<GmSubWindow*>(m_colourWorkspace), static_cast<GmSubWindow*>(m_patchProperties)})
        if (window && m_clearPlaces.contains(window) && atProgramPlace(window) && unplaced(window))
            window->move(window->defaultPosition());
}

void KsMainWindow::restackFloatedColumn(const QList<GmSubWindow*>& floated)
{
    // The column's places were worked out from the panels' docked sizes, some before the photo
    // was in (the navigator's height follows its shape): floating, each has its own size now,
    // and the default places are given again from those so that none covers the one below.
    for (GmSubWindow* window : floated) {
        // A panel whose content follows its width (the navigator's) settles its size over a
        // few layout passes; the places need the size it ends with.
        for (int pass = 0; pass < 4 && window->isWindow() && window->layout(); ++pass) {
            const QSize before = window->size();
            window->layout()->activate();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            if (window->size() == before)
                break;
        }
    }
    // The title bar's height came from the maximised window, which shows no borders: a framed
    // panel's borders need a little more.
    const int borders = 4;
    const QList<GmSubWindow*> column = defaultColumn();
    const QList<QRect> stacked = defaultColumnPlaces(column, defaultPanelTop(), decorationGap() + borders);
    for (int i = 0; i < column.size(); ++i) {
        GmSubWindow* window = column.at(i);
        window->setDefaultPosition(stacked.at(i).topLeft());
        if (floated.contains(window) && window->isWindow() && unplaced(window)) {
            window->move(stacked.at(i).topLeft());
            // Each keeps its own width; only one too tall for the screen is shortened.
            if (stacked.at(i).height() < window->height())
                window->resize(window->width(), stacked.at(i).height());
        }
    }
}

void KsMainWindow::followWindowWithDefaultPlaces()
{
    if (!m_defaultPlacesFollowWindow)
        return;
    // A panel with a native window of its own has been placed by the window manager and may
    // have been moved by the user: the places are in use from then on.
    const auto opened = [](const QWidget* window) { return window && window->testAttribute(Qt::WA_WState_Created); };
    if (opened(m_colourWorkspace) || opened(m_patchProperties) || (m_toolPalette && m_toolPalette->isFloating())) {
        m_defaultPlacesFollowWindow = false;
        return;
    }
    setDefaultSubWindowStateSlot();
}

void KsMainWindow::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    // Under a window manager the window's place, its tool bar's and its frame are known only
    // once the manager has taken it in, after the first default layout.
    followWindowWithDefaultPlaces();
}

void KsMainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    followWindowWithDefaultPlaces();
}

void KsMainWindow::saveWindowState()
{
    QSettings settings;
    settings.setValue(QLatin1String(kPersistVersionKey), kPersistVersion);
    settings.setValue(QLatin1String(kGeometryKey), saveGeometry());
    settings.setValue(QLatin1String(kScreenModeKey), m_screenMode);
    // The stored layout has the palette and the tool bar shown, even while Tab hides them.
    if (m_toolPalette)
        m_toolPalette->setSuppressed(false);
    if (m_optionsToolBar && m_optionsToolBar->isHidden())
        m_optionsToolBar->show();
    settings.setValue(QLatin1String(kChildStateKey), saveState(kPersistVersion));
    for (GmSubWindow* window : subWindows())
        settings.setValue(subWindowKey(window), window->saveState());
    // Full-screen modes keep what Standard mode last had.
    if (m_screenMode == 0) {
        if (m_toolPalette)
            m_toolPalette->setFloatingChoice(m_toolPalette->isFloating());
        rememberStandardGeometry();
    }
    if (m_toolPalette)
        settings.setValue(subWindowKey(m_toolPalette), m_toolPalette->saveState());
    settings.setValue(QLatin1String(kMaximizedKey), m_maximized);
    settings.setValue(QLatin1String(kNormalGeometryKey), m_normalGeometry);
}
