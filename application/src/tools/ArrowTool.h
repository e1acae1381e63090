#pragma once
// The select tool: activates the patch or forced edge under the pointer, reshapes or moves the
// active one by its handles and body, zooms onto it on a double-click, and shows the active
// forced edge's feather width. One per process; it registers itself as the select tool.

#include "document/ShapeHit.h"
#include "tools/GmTool.h"

#include <QCursor>
#include <QPointer>

class ParameterStack;

class ArrowTool : public GmTool {
    Q_OBJECT
public:
    explicit ArrowTool(QActionGroup* actionGroup = nullptr, QWidget* menuWidget = nullptr,
                       QWidget* barWidget = nullptr, ToolOptions* toolOptions = nullptr);
    ~ArrowTool() override;

    // What is under an image point: a handle of the active object first, then a handle of any
    // other (the first in the model's list), then the active object's body, then the body of
    // the last other object hit. An empty hit (kind 0) when nothing is there. Outlines and
    // handles are hit within a few screen pixels at the canvas's zoom.
    static ShapeHit hitAt(const QPointF& point);

    // The options page's stack (its "Feather Width" row).
    ParameterStack* parameterStack() const { return m_stack; }
    bool isDragging() const { return m_dragging; }

    QCursor cursor() const override;
    void mousePressed(const ImagePointF& point, QMouseEvent* event) override;
    void mouseMoved(const ImagePointF& point, QMouseEvent* event) override;
    void mouseReleased(const ImagePointF& point, QMouseEvent* event) override;
    void mouseDoubleClicked(const ImagePointF& point, QMouseEvent* event) override;
    bool usesBrush() const override;
    int arrowTargetDisplayState(ArrowTarget* target) const override;
    void activate(GmTool* previous) override;
    // Sends the forced edges again when one was edited, and ends a drag in progress.
    void deactivate(GmTool* next) override;

signals:
    void zoomToRectSignal(const ImageRectF& rect);

public slots:
    void activateArrowTargetAtSlot(ImagePointF point);
    void forcedEdgeWidthChangedSlot(int width);

private:
    void refreshOptions();
    void updateCursor(const ShapeHit& hit, bool pressed);
    void setCursorShape(int shape);
    void endDrag();
    void dropDrag();

    QCursor m_cursor{Qt::ArrowCursor};
    bool m_dragging = false;
    // The dragged object; a deletion during the drag clears it.
    QPointer<ArrowTarget> m_dragTarget;
    ParameterStack* m_stack = nullptr;
};
