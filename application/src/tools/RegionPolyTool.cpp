#include "tools/RegionPolyTool.h"

#include "document/GmModel.h"
#include "document/PolyRegion.h"
#include "document/Texts.h"
#include "panels/EmptyOptionsWidget.h"

RegionPolyTool::RegionPolyTool(QActionGroup* actionGroup, QWidget* menuWidget, QWidget* barWidget,
                               ToolOptions* toolOptions)
    : PolygonTool(
          QStringLiteral("Polygon Patch"), tr("Polygon Patch"), QIcon(QStringLiteral(":images/tool_region_poly.png")),
          QStringLiteral("P"),
          tr("<p>Use Patches where difficult mask selection and complex blending requirements are needed. "
             "Polygon Patch creates a polygonal patch in the image.</p><p>Use Patches to:</p><ul><li>Apply a "
             "different set of <b>Edge Finding</b> and <b>Edge Blending</b> options.</li><li>Allow the <b>Color "
             "Workspace</b> to analyze and mask the area.</li><li>Constrain the actions of the masking "
             "brushes.</li><li>Protect mask selections.</li></ul><p>Manipulation of Polygon Patches:</p><ul><li>To "
             "create, click to start; continue clicking to set the corners to the polygon; close the polygon by "
             "double-clicking (the polygon does not have to be precise&mdash;you can adjust it later).</li><li>Click "
             "with the <b>Select Tool</b> to activate (the Patch will be highlighted).</li><li>To deactivate press "
             "<b>Esc</b>.</li><li>To delete, make sure it is &lsquo;active&rsquo; and then press "
             "<b>Delete</b>.</li><li>To move to another position, place the pointer inside the box, click and "
             "drag.</li><li>To change the shape of a Polygonal Patch, click and drag a corner.</li><li>Double-click "
             "to make it full screen.</li></ul><p><b><i>Consider:</i></b> Using Patches only after you have "
             "attempted the first pass of your cut-out using brushes.</p>")
              + learnMoreParagraph(QStringLiteral("4-Kestrine_Tools/Working_with_Regions.htm")),
          actionGroup, menuWidget, barWidget, toolOptions)
{
    setOptionsWidget(optionsPage());
}

QWidget* RegionPolyTool::optionsPage() const
{
    return createEmptyOptionsWidget();
}

ImageView::ViewTabs RegionPolyTool::usableViewTabs() const
{
    return ImageView::Workspace | ImageView::CutOut;
}

ImageView::ViewTab RegionPolyTool::homeViewTab() const
{
    return ImageView::Workspace;
}

int RegionPolyTool::arrowTargetDisplayState(ArrowTarget* target) const
{
    if (!target)
        return 1;
    return m_region && target == m_region.data() ? 1 : 3;
}

void RegionPolyTool::createShape(const QPointF& first)
{
    if (m_region)
        discardShape();
    m_region = new PolyRegion(first);
    // A deletion elsewhere (the model closing the image, say) ends the drawing.
    connect(m_region.data(), &QObject::destroyed, this, &PolygonTool::abort);
}

ks::Polygon* RegionPolyTool::currentPolygon() const
{
    return m_region ? &m_region->polygon() : nullptr;
}

void RegionPolyTool::finishShape()
{
    if (!m_region)
        return;
    ks::Polygon& polygon = m_region->polygon();
    polygon.dropRepeatedTailPoints();
    if (polygon.vertices().size() < 3) {
        discardShape();
        return;
    }
    PolyRegion* region = m_region;
    disconnect(region, &QObject::destroyed, this, &PolygonTool::abort);
    m_region = nullptr;
    region->beginSubSession();
    emit userCreatedRegion(region);
}

void RegionPolyTool::discardShape()
{
    PolyRegion* region = m_region;
    m_region = nullptr;
    if (!region)
        return;
    disconnect(region, &QObject::destroyed, this, &PolygonTool::abort);
    GmModel::instance()->deleteRegion(region);
}
