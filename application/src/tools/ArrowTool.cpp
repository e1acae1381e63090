#include "tools/ArrowTool.h"

#include "canvas/ImageView.h"
#include "document/ArrowTarget.h"
#include "document/ForcedEdge.h"
#include "document/GmModel.h"
#include "document/GmRegion.h"
#include "document/Shape.h"
#include "document/Texts.h"
#include "panels/ParameterStack.h"
#include "tools/ForcedEdgeTool.h"

#include <QMouseEvent>
#include <QSpinBox>

namespace {

const QString featherWidthRow = QStringLiteral("Feather Width");

// Overwritten at every press; the drag in progress works on it.
ShapeHit g_hit;

ArrowTarget* activeObject()
{
    GmModel* model = GmModel::instance();
    if (GmRegion* patch = model->activeRegion())
        return patch;
    return model->activeForcedEdge();
}

bool isHandle(const ShapeHit& hit)
{
    return hit.kind == 1 || hit.kind == 2;
}

// How near the pointer must come to an outline or handle, in screen pixels: the same reach at
// every zoom, where a tolerance in image pixels would be a fraction of a screen pixel at 1:8.
constexpr double kReach = 4.0;

double reachInImagePixels()
{
    const ImageView* view = ImageView::instance();
    const double zoom = view ? view->zoom() : 1.0;
    return kReach / (zoom > 0 ? zoom : 1.0);
}

ShapeHit hitOn(ArrowTarget* target, const QPointF& point)
{
    Shape* shape = target->shape();
    shape->setHandleHalfSize(reachInImagePixels());
    ShapeHit hit = shape->hitTest(point);
    hit.target = target;
    return hit;
}

void activateNothing()
{
    GmModel* model = GmModel::instance();
    model->setActiveRegion(nullptr, 1);
    model->setActiveForcedEdge(nullptr);
}

} // namespace

ArrowTool::ArrowTool(QActionGroup* actionGroup, QWidget* menuWidget, QWidget* barWidget, ToolOptions* toolOptions)
    : GmTool(QStringLiteral("Select Tool"), tr("Select Tool"),
             QIcon(QStringLiteral(":images/tool_region_select.png")), QStringLiteral("A"),
             tr("<p>Use to select and activate objects such as ") + tr("<b>Patches</b> and ")
                 + tr("<b>Forced Edges</b> within an image.</p>")
                 + learnMoreParagraph(QStringLiteral("4-Kestrine_Tools/About_Kestrine_Tools.htm")),
             actionGroup, menuWidget, barWidget, toolOptions)
{
    setOptionsWidget(ForcedEdgeTool::createOptionsWidget(false, &m_stack));
    connect(m_stack->spinBox(featherWidthRow), QOverload<int>::of(&QSpinBox::valueChanged), this,
            &ArrowTool::forcedEdgeWidthChangedSlot);
    registerSelectTool(this);
    // A patch or forced edge deleted while it is dragged must not be dragged any further.
    GmModel::setForgetDragHook([this](ArrowTarget* target) {
        if (m_dragging && m_dragTarget == target)
            dropDrag();
    });
}

ArrowTool::~ArrowTool()
{
    GmModel::setForgetDragHook(nullptr);
}

ShapeHit ArrowTool::hitAt(const QPointF& point)
{
    ArrowTarget* active = activeObject();
    ShapeHit activeHit;
    if (active) {
        activeHit = hitOn(active, point);
        if (isHandle(activeHit))
            return activeHit;
    }
    ShapeHit otherHit;
    for (ArrowTarget* target : GmModel::instance()->arrowTargets()) {
        if (target == active)
            continue;
        const ShapeHit hit = hitOn(target, point);
        if (isHandle(hit))
            return hit;
        // Later objects lie on top of earlier ones.
        if (hit.kind != ShapeHit::None)
            otherHit = hit;
    }
    if (otherHit.kind == ShapeHit::None || activeHit.kind != ShapeHit::None)
        return activeHit;
    return otherHit;
}

QCursor ArrowTool::cursor() const
{
    return m_cursor;
}

void ArrowTool::mousePressed(const ImagePointF& point, QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    g_hit = hitAt(point);
    m_dragging = false;
    m_dragTarget = nullptr;
    if (g_hit.kind == ShapeHit::None) {
        activateNothing();
    } else {
        ArrowTarget* target = g_hit.target;
        if (!target->isActive())
            target->activate();
        m_dragging = true;
        m_dragTarget = target;
        target->shape()->beginDrag(g_hit, point);
    }
    refreshOptions();
    updateCursor(g_hit, true);
}

void ArrowTool::mouseMoved(const ImagePointF& point, QMouseEvent* event)
{
    if (m_dragging) {
        // The button went up outside the canvas: this move ends the drag.
        if (event->buttons() == Qt::NoButton) {
            endDrag();
            return;
        }
        ArrowTarget* active = activeObject();
        if (!active || active != m_dragTarget) {
            dropDrag();
            return;
        }
        active->shape()->dragTo(g_hit, point);
        return;
    }
    updateCursor(hitAt(point), false);
}

void ArrowTool::mouseReleased(const ImagePointF&, QMouseEvent* event)
{
    if (!m_dragging)
        return;
    if (event->button() == Qt::LeftButton || event->buttons() == Qt::NoButton)
        endDrag();
}

void ArrowTool::mouseDoubleClicked(const ImagePointF&, QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    ArrowTarget* active = activeObject();
    if (!active)
        return;
    const QRectF bounds = active->shape()->boundingRect();
    const double dx = bounds.width() * 0.05;
    const double dy = bounds.height() * 0.05;
    emit zoomToRectSignal(bounds.adjusted(-dx, -dy, dx, dy));
}

bool ArrowTool::usesBrush() const
{
    return false;
}

int ArrowTool::arrowTargetDisplayState(ArrowTarget* target) const
{
    return target && target->isActive() ? 5 : 3;
}

void ArrowTool::activate(GmTool*)
{
    clearButtonStates();
    refreshOptions();
}

void ArrowTool::deactivate(GmTool*)
{
    if (m_dragging)
        endDrag();
    GmModel* model = GmModel::instance();
    if (model->forcedEdgesChanged())
        model->resubmitForcedEdges();
    clearButtonStates();
}

void ArrowTool::activateArrowTargetAtSlot(ImagePointF point)
{
    const ShapeHit hit = hitAt(point);
    if (hit.kind == ShapeHit::None)
        activateNothing();
    else
        hit.target->activate();
}

void ArrowTool::forcedEdgeWidthChangedSlot(int width)
{
    GmModel* model = GmModel::instance();
    ForcedEdge* edge = model->activeForcedEdge();
    // Showing the edge's own width is no change.
    if (!edge || edge->width() == width)
        return;
    edge->setWidth(width);
    model->setForcedEdgesChanged(true);
}

void ArrowTool::refreshOptions()
{
    QWidget* page = optionsWidget();
    if (!page)
        return;
    ForcedEdge* edge = GmModel::instance()->activeForcedEdge();
    page->setEnabled(edge != nullptr);
    page->setVisible(edge != nullptr);
    if (edge)
        m_stack->setValue(featherWidthRow, edge->width());
}

void ArrowTool::updateCursor(const ShapeHit& hit, bool pressed)
{
    int shape = Qt::ArrowCursor;
    if (hit.kind != ShapeHit::None) {
        if (hit.target != activeObject())
            shape = Qt::PointingHandCursor;
        else if (pressed && hit.cursorShape == Qt::OpenHandCursor)
            shape = Qt::ClosedHandCursor;
        else
            shape = hit.cursorShape;
    }
    if (shape != m_cursor.shape())
        setCursorShape(shape);
}

void ArrowTool::setCursorShape(int shape)
{
    m_cursor = QCursor(Qt::CursorShape(shape));
    emit GmModel::instance()->cursorChanged(&m_cursor);
}

void ArrowTool::endDrag()
{
    ArrowTarget* target = m_dragTarget;
    if (target && target == activeObject()) {
        setCursorShape(g_hit.cursorShape);
        if (target->shape()->endDrag())
            target->shapeChanged();
        if (target->asRegion())
            GmModel::instance()->emitActiveRegionReady();
    }
    dropDrag();
}

void ArrowTool::dropDrag()
{
    m_dragging = false;
    m_dragTarget = nullptr;
}
