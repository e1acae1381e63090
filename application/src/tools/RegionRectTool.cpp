#include "tools/RegionRectTool.h"

#include "document/GmModel.h"
#include "document/RectRegion.h"
#include "document/Texts.h"
#include "panels/EmptyOptionsWidget.h"

RegionRectTool::RegionRectTool(QActionGroup* actionGroup, QWidget* menuWidget, QWidget* barWidget,
                               ToolOptions* toolOptions)
    : RectangleTool(
          QStringLiteral("Rectangle Patch"), tr("Rectangle Patch"), QIcon(QStringLiteral(":images/tool_region_rect.png")),
          QStringLiteral("R"),
          tr("<p>Use Patches where difficult mask selection and complex blending requirements are needed. "
             "Rectangle Patch creates a rectangular patch in the image.</p><p>Use Patches to:</p><ul><li>Apply a "
             "different set of <b>Edge Finding</b> and <b>Edge Blending</b> options.</li><li>Allow the <b>Color "
             "Workspace</b> to analyze and mask the area.</li><li>Constrain the actions of the masking "
             "brushes.</li><li>Protect mask selections.</li></ul><p>Manipulation of Rectangle Patches:</p><ul><li>To "
             "create, click and drag the tool over the area you want to be in the Patch (the rectangle does not "
             "have to be precise&mdash;you can adjust it later).</li><li>Click with the <b>Select Tool</b> to "
             "activate (the Patch will be highlighted).</li><li>To deactivate press <b>Esc</b>.</li><li>To delete, "
             "make it &lsquo;active&rsquo; and then press <b>Delete</b>.</li><li>To move to another position, "
             "place the pointer inside the box, click and drag.</li><li>To re-size, drag a corner.</li><li>Double-"
             "click to make it full screen.</li></ul><p><b><i>Consider:</i></b> Using Patches only after you have "
             "attempted the first pass of your cut-out using brushes.</p>")
              + learnMoreParagraph(QStringLiteral("4-Kestrine_Tools/Working_with_Regions.htm")),
          actionGroup, menuWidget, barWidget, toolOptions)
{
    setOptionsWidget(createEmptyOptionsWidget());
}

QCursor RegionRectTool::cursor() const
{
    return QCursor(Qt::CrossCursor);
}

void RegionRectTool::escapeKeyPressed()
{
    if (m_region) {
        cancel();
        return;
    }
    RectangleTool::escapeKeyPressed();
}

ImageView::ViewTabs RegionRectTool::usableViewTabs() const
{
    return ImageView::Workspace | ImageView::CutOut;
}

ImageView::ViewTab RegionRectTool::homeViewTab() const
{
    return ImageView::Workspace;
}

int RegionRectTool::arrowTargetDisplayState(ArrowTarget* target) const
{
    if (!target)
        return 1;
    return m_region && target == m_region.data() ? 1 : 3;
}

void RegionRectTool::activate(GmTool*)
{
    clearButtonStates();
}

void RegionRectTool::deactivate(GmTool*)
{
    if (m_region)
        cancel();
    clearButtonStates();
}

void RegionRectTool::beginRect(const ImagePointF& point)
{
    // A patch left over from a drag that never saw its release goes first.
    if (m_region)
        cancel();
    m_region = new RectRegion(point);
}

void RegionRectTool::finishRect(const ImagePointF& point)
{
    RectRegion* region = m_region;
    m_region = nullptr;
    if (!region)
        return;
    region->rectangle().dragCornerTo(point);
    const QRectF bounds = region->shape()->boundingRect();
    if (bounds.width() > 0 && bounds.height() > 0) {
        region->beginSubSession();
        emit userCreatedRegion(region);
    } else {
        GmModel::instance()->deleteRegion(region);
    }
}

ks::Rectangle* RegionRectTool::currentRect() const
{
    return m_region ? &m_region->rectangle() : nullptr;
}

void RegionRectTool::cancel()
{
    clearButtonStates();
    RectRegion* region = m_region;
    m_region = nullptr;
    if (region)
        GmModel::instance()->deleteRegion(region);
}
