#include "tools/GmTool.h"

#include "document/GmAction.h"
#include "document/GmModel.h"
#include "document/GmRegion.h"
#include "document/KsSourceImage.h"
#include "engine/CommandHooks.h"
#include "engine/DravikThread.h"
#include "panels/ToolOptions.h"

#include <QActionGroup>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPushButton>
#include <QToolBar>

namespace {

GmTool* g_currentTool = nullptr;
bool g_toolInstalled = false;
GmTool* g_noTool = nullptr;
GmTool* g_selectTool = nullptr;
QPointer<QActionGroup> g_sharedActionGroup;
QPointer<ToolOptions> g_defaultToolOptions;
GmTool::RevalidateHook g_revalidateHook;
GmTool::HandHoldsToolHook g_handHoldsToolHook;
GmTool::ClearColourHighlightHook g_clearColourHighlightHook;

bool defaultRevalidation()
{
    GmTool* current = g_currentTool;
    if (current && current->isAvailable())
        return true;
    if (g_selectTool && g_selectTool->isAvailable())
        g_selectTool->installSlot();
    else if (g_noTool)
        g_noTool->installSlot();
    return g_currentTool != nullptr;
}

} // namespace

GmTool::GmTool(const QString& name, const QString& displayName, const QIcon& icon, const QString& shortcut,
               const QString& helpText, QActionGroup* actionGroup, QWidget* menuWidget, QWidget* barWidget,
               ToolOptions* toolOptions)
    : m_name(name), m_displayName(displayName)
{
    QActionGroup* group = actionGroup ? actionGroup : sharedActionGroup();
    m_action = new GmAction(icon, displayName, group);
    if (!shortcut.isEmpty())
        m_action->setShortcut(QKeySequence(shortcut, QKeySequence::NativeText));
    m_action->setCheckable(true);
    m_toolOptions = toolOptions ? toolOptions : defaultToolOptions();
    setHelpText(helpText);
    if (menuWidget)
        menuWidget->addAction(m_action);
    if (qobject_cast<QToolBar*>(barWidget) || qobject_cast<QPushButton*>(barWidget))
        barWidget->addAction(m_action);

    connect(m_action, &QAction::triggered, this, &GmTool::selectToolSlot);
    GmModel* model = GmModel::instance();
    connect(model, &GmModel::activeRegionChanged, this, &GmTool::setEnabledSlot);
    connect(model, &GmModel::tellImageChanged, this, &GmTool::setEnabledSlot);
    connect(model, &GmModel::smegChanged, this, &GmTool::setEnabledSlot);
    if (DravikThread* thread = DravikThread::instance())
        connect(thread, &DravikThread::stateChanged, this, &GmTool::setEnabledSlot);
    if (ImageView* view = ImageView::instance())
        connect(view, &ImageView::viewTabChanged, this, &GmTool::setEnabledSlot);
    setEnabledSlot();
}

GmTool::~GmTool()
{
    if (g_currentTool == this) {
        // The tool is half gone: it must not be deactivated, so the hand-over starts from no
        // current tool.
        g_currentTool = nullptr;
        if (g_noTool && g_noTool != this)
            g_noTool->installSlot();
    }
    if (g_noTool == this)
        g_noTool = nullptr;
    if (g_selectTool == this)
        g_selectTool = nullptr;
    delete m_optionsWidget.data();
    // An action left behind would stay in menus and palettes, triggering nothing.
    delete m_action.data();
}

GmAction* GmTool::action() const
{
    return m_action;
}

ToolOptions* GmTool::toolOptions() const
{
    return m_toolOptions;
}

GmTool* GmTool::currentTool()
{
    if (g_currentTool)
        g_toolInstalled = true;
    return g_currentTool;
}

bool GmTool::toolHasBeenInstalled()
{
    return g_toolInstalled;
}

QActionGroup* GmTool::sharedActionGroup()
{
    if (!g_sharedActionGroup)
        g_sharedActionGroup = new QActionGroup(CommandHooks::mainWindow());
    return g_sharedActionGroup;
}

ToolOptions* GmTool::defaultToolOptions()
{
    if (!g_defaultToolOptions)
        g_defaultToolOptions = new ToolOptions;
    return g_defaultToolOptions;
}

GmTool* GmTool::noTool()
{
    return g_noTool;
}

GmTool* GmTool::selectTool()
{
    return g_selectTool;
}

void GmTool::registerNoTool(GmTool* tool)
{
    g_noTool = tool;
}

void GmTool::registerSelectTool(GmTool* tool)
{
    g_selectTool = tool;
}

void GmTool::setRevalidateHook(RevalidateHook hook)
{
    g_revalidateHook = std::move(hook);
}

void GmTool::setHandHoldsToolHook(HandHoldsToolHook hook)
{
    g_handHoldsToolHook = std::move(hook);
}

void GmTool::setClearColourHighlightHook(ClearColourHighlightHook hook)
{
    g_clearColourHighlightHook = std::move(hook);
}

bool GmTool::revalidateCurrentTool()
{
    return g_revalidateHook ? g_revalidateHook() : defaultRevalidation();
}

bool GmTool::isUsableInCurrentTab() const
{
    const ImageView* view = ImageView::instance();
    const ImageView::ViewTab tab = view ? view->currentViewTab() : ImageView::Workspace;
    return (usableViewTabs() & tab) != 0;
}

void GmTool::setHelpText(const QString& helpText)
{
    if (!m_action)
        return;
    if (helpText.isEmpty())
        m_action->setWhatsThis(QString());
    else
        m_action->setWhatsThis(QStringLiteral("<p><b>%1</b></p>").arg(m_displayName) + helpText);
}

void GmTool::trackButtons(const QMouseEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (event->button() == Qt::LeftButton) {
            m_previousButtonState = m_buttonState;
            m_buttonState = 1;
        }
        break;
    case QEvent::MouseButtonRelease:
        if (event->button() == Qt::LeftButton) {
            m_previousButtonState = m_buttonState;
            m_buttonState = 0;
        }
        break;
    case QEvent::MouseMove:
        // A drag needs a press this tool saw: one that began elsewhere is no drag.
        if ((event->buttons() & Qt::LeftButton) && m_buttonState != 0) {
            m_previousButtonState = m_buttonState;
            m_buttonState = 2;
        }
        break;
    default:
        break;
    }
}

QCursor GmTool::cursor() const
{
    return QCursor(Qt::ArrowCursor);
}

void GmTool::mousePressed(const ImagePointF&, QMouseEvent*) {}
void GmTool::mouseMoved(const ImagePointF&, QMouseEvent*) {}
void GmTool::mouseReleased(const ImagePointF&, QMouseEvent*) {}
void GmTool::mouseDoubleClicked(const ImagePointF&, QMouseEvent*) {}

void GmTool::escapeKeyPressed()
{
    clearButtonStates();
    GmModel* model = GmModel::instance();
    if (model->testRenderRect()) {
        model->clearTestRenderRect();
    } else if (model->activeRegion()) {
        model->setActiveRegion(nullptr);
    } else if (!model->activeForcedEdge()) {
        if (GmTool* fallback = g_selectTool ? g_selectTool : g_noTool)
            fallback->installSlot();
    } else {
        model->setActiveForcedEdge(nullptr);
    }
}

void GmTool::keyEvent(QKeyEvent*) {}

ImageView::ViewTabs GmTool::usableViewTabs() const
{
    return ImageView::Workspace;
}

ImageView::ViewTab GmTool::homeViewTab() const
{
    return ImageView::Workspace;
}

bool GmTool::clearsPreviewOnPress() const
{
    return true;
}

bool GmTool::usesBrush() const
{
    return false;
}

QColor GmTool::outlineColour() const
{
    return Qt::black;
}

QColor GmTool::strokeColour() const
{
    return Qt::black;
}

bool GmTool::isAvailable() const
{
    const GmModel* model = GmModel::existingInstance();
    return model && model->source();
}

int GmTool::arrowTargetDisplayState(ArrowTarget*) const
{
    return 3;
}

GmTool* GmTool::underlyingTool() const
{
    return nullptr;
}

bool GmTool::clearsColourHighlight() const
{
    return true;
}

void GmTool::setEnabledSlot()
{
    if (!m_action)
        return;
    const bool available = isAvailable();
    m_action->setEnabled(available);
    if (!available && g_currentTool == this)
        revalidateCurrentTool();
}

bool GmTool::installSlot()
{
    if (!isAvailable()) {
        revalidateCurrentTool();
        return false;
    }
    if (g_currentTool != this && m_action)
        m_action->trigger();
    return true;
}

void GmTool::selectToolSlot()
{
    GmTool* previous = g_currentTool;
    if (clearsColourHighlight() && g_clearColourHighlightHook)
        g_clearColourHighlightHook();
    if (previous)
        previous->deactivate(this);
    g_currentTool = this;
    if (m_action)
        m_action->setChecked(true);
    if (GmModel* model = GmModel::existingInstance())
        emit model->toolChanged(this);
    if (m_toolOptions)
        m_toolOptions->showToolOptions(this);
    activate(previous);
    const bool handHoldsTool = g_handHoldsToolHook && g_handHoldsToolHook();
    if (!handHoldsTool) {
        if (ImageView* view = ImageView::instance())
            view->ensureTabAllows(usableViewTabs(), homeViewTab());
    }
}

void GmTool::clearButtonStates()
{
    m_buttonState = 0;
    m_previousButtonState = 0;
}
