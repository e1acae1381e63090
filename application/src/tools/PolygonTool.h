#pragma once
// The base of the tools that draw a polygon vertex by vertex. Each click fixes a vertex and
// the last vertex follows the pointer as a rubber band; a double-click ends the polygon and
// Escape steps back one vertex or, with too few left, abandons it. The subclass decides what
// object holds the polygon and what finishing or abandoning it means.

#include "tools/GmTool.h"

#include <memory>

namespace ks {
class Polygon;
}

class PolygonTool : public GmTool {
    Q_OBJECT
public:
    PolygonTool(const QString& name, const QString& displayName, const QIcon& icon, const QString& shortcut,
                const QString& helpText, QActionGroup* actionGroup = nullptr, QWidget* menuWidget = nullptr,
                QWidget* barWidget = nullptr, ToolOptions* toolOptions = nullptr);
    ~PolygonTool() override;

    // From the first click until the polygon is finished or abandoned.
    bool isDrawing() const { return m_drawing; }

    QCursor cursor() const override;
    void mousePressed(const ImagePointF& point, QMouseEvent* event) override;
    void mouseMoved(const ImagePointF& point, QMouseEvent* event) override;
    void mouseDoubleClicked(const ImagePointF& point, QMouseEvent* event) override;
    void escapeKeyPressed() override;
    void activate(GmTool* previous) override;
    // Abandons a polygon being drawn.
    void deactivate(GmTool* next) override;

public slots:
    // Ends the drawing without touching the object: it is being deleted elsewhere.
    void abort();

protected:
    // Creates the object that holds the polygon, with its first vertex at the point.
    virtual void createShape(const QPointF& first) = 0;
    // The polygon being drawn; null when there is no object.
    virtual ks::Polygon* currentPolygon() const = 0;
    // The polygon was ended by a double-click.
    virtual void finishShape() = 0;
    // Abandons the object.
    virtual void discardShape() = 0;

private:
    bool m_drawing = false;
    std::unique_ptr<QCursor> m_cursor;
};
