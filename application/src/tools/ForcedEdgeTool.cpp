#include "tools/ForcedEdgeTool.h"

#include "document/ForcedEdge.h"
#include "document/GmModel.h"
#include "document/Texts.h"
#include "panels/ParameterStack.h"

#include <QHBoxLayout>

namespace {

const QString featherWidthRow = QStringLiteral("Feather Width");
QPointer<ParameterStack> g_stack;

} // namespace

ForcedEdgeTool::ForcedEdgeTool(QActionGroup* actionGroup, QWidget* menuWidget, QWidget* barWidget,
                               ToolOptions* toolOptions)
    : PolygonTool(QStringLiteral("Forced Edge Tool"), tr("Forced Edge Tool"),
                  QIcon(QStringLiteral(":images/tool_mark_edge.png")), QStringLiteral("G"),
                  tr("<p>Use the Forced Edge Tool to add edges to an image.</p><p>You may find this "
                     "necessary in cases where there is too little contrast between the part of the "
                     "image you are cutting out and the background.</p><p>Control the width of blend "
                     "of the Forced Edge using the feather adjustment.</p><p><b><i>Note:</i></b> This "
                     "adjustment applies to <b><i>all</i></b> forced edges in the image.</p><p><b><i>"
                     "Consider:</i></b> Think of the Forced Edge as an edge of &lsquo;last "
                     "resort&rsquo;. It works like edges shown on the edge overlay&mdash;preventing "
                     "masks made with the Local Brush from flooding through it. You should ensure the "
                     "Forced Edge touches other edges so the flooding is contained.</p>")
                      + learnMoreParagraph(QStringLiteral("4-Kestrine_Tools/Force_Edge_Tool.htm")),
                  actionGroup, menuWidget, barWidget, toolOptions)
{
    setOptionsWidget(createOptionsWidget(true));
}

QWidget* ForcedEdgeTool::createOptionsWidget(bool forForcedEdgeTool, ParameterStack** stack)
{
    auto* page = new QWidget;
    auto* layout = new QHBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* parameters = new ParameterStack(ParameterStack::Horizontal, ParameterStack::ShowSliders, page);
    parameters->setSettingsGroup(QStringLiteral("ToolOptions") + QStringLiteral("/ForcedEdgeTool"));
    parameters->addSlider(featherWidthRow, QString(), 2, 16, defaultFeatherWidth, tr("px"), nullptr, nullptr,
                          forForcedEdgeTool);
    parameters->setHelp(featherWidthRow, tr("Width of feather blending across the forced edge"), QString());
    layout->addWidget(parameters);
    layout->addWidget(new QWidget(page), 1);
    if (forForcedEdgeTool)
        g_stack = parameters;
    if (stack)
        *stack = parameters;
    return page;
}

ParameterStack* ForcedEdgeTool::parameterStack()
{
    return g_stack;
}

int ForcedEdgeTool::featherWidth()
{
    int width = defaultFeatherWidth;
    if (g_stack)
        g_stack->value(featherWidthRow, width);
    return width;
}

QCursor ForcedEdgeTool::cursor() const
{
    return QCursor(Qt::CrossCursor);
}

void ForcedEdgeTool::createShape(const QPointF& first)
{
    m_edge = new ForcedEdge(first, featherWidth());
    // A deletion elsewhere (the model closing the image, say) ends the drawing.
    connect(m_edge.data(), &QObject::destroyed, this, &PolygonTool::abort);
}

ks::Polygon* ForcedEdgeTool::currentPolygon() const
{
    return m_edge ? &m_edge->polygon() : nullptr;
}

void ForcedEdgeTool::finishShape()
{
    if (!m_edge)
        return;
    ks::Polygon& polygon = m_edge->polygon();
    polygon.dropRepeatedTailPoints();
    if (polygon.vertices().size() < 2) {
        discardShape();
        return;
    }
    ForcedEdge* edge = m_edge;
    disconnect(edge, &QObject::destroyed, this, &PolygonTool::abort);
    // The model has listed the edge since its creation.
    m_edge = nullptr;
    edge->submitToEngine();
    edge->activate();
}

void ForcedEdgeTool::discardShape()
{
    ForcedEdge* edge = m_edge;
    m_edge = nullptr;
    GmModel::instance()->deleteForcedEdge(edge);
}
