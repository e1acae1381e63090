#include "tools/RegionBrushTool.h"

#include "document/BrushRegion.h"
#include "document/Brushing.h"
#include "document/GmBrushing.h"
#include "document/GmColor.h"
#include "document/KsAppPreferences.h"
#include "document/Texts.h"

RegionBrushTool::RegionBrushTool(QActionGroup* actionGroup, QWidget* menuWidget, QWidget* barWidget,
                                 ToolOptions* toolOptions)
    : BrushingTool(
          QStringLiteral("Patch Brush"), tr("Patch Brush"), QIcon(QStringLiteral(":images/tool_region_exact.png")),
          QStringLiteral("U"),
          tr("<p>Use Patches where difficult mask selection and complex blending requirements are needed. Patch "
             "Brush creates an unconstrained Patch by &lsquo;painting&rsquo; an area in the image.</p><p>Use Patches "
             "to:</p><ul><li>Apply a different set of <b>Edge Finding</b> and <b>Edge Blending</b> "
             "options.</li><li>Allow the <b>Color Workspace</b> to analyze and mask the area.</li><li>Constrain the "
             "actions of the masking brushes.</li><li>Protect mask selections.</li></ul><p>Manipulation of Brushed "
             "Patches:</p><ul><li>To create, simply paint over the pixels you want to be in the Patch.</li><li>Click "
             "with the <b>Select Tool</b> to activate (the Patch will be highlighted).</li><li>To deactivate press "
             "<b>Esc</b>.</li><li>To delete, make it &lsquo;active&rsquo; and then press "
             "<b>Delete</b>.</li><li>Double-click to make it full screen.</li></ul><p><b><i>Note:</i></b> You cannot "
             "adjust the shape or move a Brushed Patch once it is created (unlike a Rectangular or Polygonal "
             "Patch).</p><p><b><i>Consider:</i></b> Using Patches only after you have attempted the first pass of "
             "your cut-out using brushes.</p>")
              + learnMoreParagraph(QStringLiteral("4-Kestrine_Tools/Working_with_Regions.htm")),
          actionGroup, menuWidget, barWidget, toolOptions)
{
    sharedOptionsWidget();
}

QColor RegionBrushTool::strokeColour() const
{
    const KsAppPreferences* preferences = KsAppPreferences::instance();
    const GmColor* colour = preferences ? preferences->color(KsAppPreferences::ActivePatchOrForcedEdgeColor) : nullptr;
    return colour ? colour->color() : QColor(Qt::gray);
}

QWidget* RegionBrushTool::createOptionsPage()
{
    return new QWidget;
}

void RegionBrushTool::beginStroke(const ImagePointF&)
{
    if (GmBrushing* stroke = brushing())
        stroke->brushing()->clearStroke();
    else
        setBrushing(new GmBrushing(new Brushing(strokeColour())));
}

void RegionBrushTool::finishStroke()
{
    GmBrushing* stroke = brushing();
    if (!stroke)
        return;
    const QRectF bounds = stroke->brushing()->boundingRect();
    if (bounds.width() > 0 && bounds.height() > 0) {
        // The patch keeps a copy of the stroke; the stroke itself goes.
        auto* region = new BrushRegion(*stroke->brushing());
        region->beginSubSession();
        emit userCreatedRegion(region);
    }
    deleteBrushing();
}

bool RegionBrushTool::usesStrength() const
{
    return false;
}
