#pragma once
// Draws forced edges: open polylines that tell the engine an edge runs where the user drew
// it. A finished line is sent to the engine and becomes the active forced edge. The tool owns
// the "Feather Width" options page; the select tool builds a second page of its own.

#include "tools/PolygonTool.h"

#include <QPointer>

class ForcedEdge;
class ParameterStack;

class ForcedEdgeTool : public PolygonTool {
    Q_OBJECT
public:
    static constexpr int defaultFeatherWidth = 3;

    explicit ForcedEdgeTool(QActionGroup* actionGroup = nullptr, QWidget* menuWidget = nullptr,
                            QWidget* barWidget = nullptr, ToolOptions* toolOptions = nullptr);

    // Builds a new "Feather Width" page; its stack is handed back through stack when given.
    // The forced-edge tool's page (forForcedEdgeTool) becomes the one new edges take their
    // width from and stores its value when destroyed. Any other page only shows a value: it
    // loads the stored width but never writes it back.
    static QWidget* createOptionsWidget(bool forForcedEdgeTool, ParameterStack** stack = nullptr);
    // The forced-edge tool's stack, null while there is none.
    static ParameterStack* parameterStack();
    // The width a new edge takes: that stack's value, else the default.
    static int featherWidth();

    // The edge being drawn, null when none is.
    ForcedEdge* edgeBeingDrawn() const { return m_edge; }

    QCursor cursor() const override;

protected:
    void createShape(const QPointF& first) override;
    ks::Polygon* currentPolygon() const override;
    void finishShape() override;
    void discardShape() override;

private:
    QPointer<ForcedEdge> m_edge;
};
