#include "tools/PolygonTool.h"

#include "canvas/BitmapCursor.h"
#include "document/Polygon.h"

#include <QMouseEvent>

PolygonTool::PolygonTool(const QString& name, const QString& displayName, const QIcon& icon,
                         const QString& shortcut, const QString& helpText, QActionGroup* actionGroup,
                         QWidget* menuWidget, QWidget* barWidget, ToolOptions* toolOptions)
    : GmTool(name, displayName, icon, shortcut, helpText, actionGroup, menuWidget, barWidget, toolOptions),
      m_cursor(makeBitmapCursor(5, 16, QStringLiteral(":images/curs_data_poly.png"),
                                QStringLiteral(":images/curs_mask_poly.png")))
{
}

PolygonTool::~PolygonTool() = default;

QCursor PolygonTool::cursor() const
{
    return m_cursor ? *m_cursor : QCursor(Qt::CrossCursor);
}

void PolygonTool::mousePressed(const ImagePointF& point, QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (!m_drawing) {
        createShape(point);
        m_drawing = true;
    }
    if (ks::Polygon* polygon = currentPolygon()) {
        polygon->dropRepeatedTailPoints();
        // The new vertex is the rubber band; the one before it is now fixed.
        polygon->appendPoint(point);
    }
}

void PolygonTool::mouseMoved(const ImagePointF& point, QMouseEvent*)
{
    if (!m_drawing)
        return;
    if (ks::Polygon* polygon = currentPolygon())
        polygon->moveLastPoint(point);
}

void PolygonTool::mouseDoubleClicked(const ImagePointF& point, QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_drawing)
        return;
    // The press before the double-click appended a vertex here already; the repeats are
    // dropped when the polygon is finished.
    if (ks::Polygon* polygon = currentPolygon()) {
        polygon->dropRepeatedTailPoints();
        polygon->appendPoint(point);
    }
    m_drawing = false;
    finishShape();
}

void PolygonTool::escapeKeyPressed()
{
    if (!m_drawing) {
        GmTool::escapeKeyPressed();
        return;
    }
    ks::Polygon* polygon = currentPolygon();
    // The rubber band counts: below 3 vertices only the first click is left.
    if (!polygon || polygon->vertices().size() < 3) {
        discardShape();
        m_drawing = false;
        clearButtonStates();
        return;
    }
    polygon->redrawLastSegment();
}

void PolygonTool::activate(GmTool*)
{
    clearButtonStates();
}

void PolygonTool::deactivate(GmTool*)
{
    if (m_drawing) {
        discardShape();
        m_drawing = false;
    }
    clearButtonStates();
}

void PolygonTool::abort()
{
    m_drawing = false;
}
