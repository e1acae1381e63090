#include "tools/DeleteExactTool.h"

#include "document/KsAppPreferences.h"
#include "document/Texts.h"

DeleteExactTool::DeleteExactTool(QActionGroup* actionGroup, QWidget* menuWidget, QWidget* barWidget, ToolOptions* toolOptions)
    : SelectTool(QStringLiteral("Delete Exact Brush"), tr("Delete Exact Brush", "[ks3, glisa]"), QIcon(QStringLiteral(":images/tool_delete_exact.png")),
                 tr("D", "[ks3, glisa]"),
                 tr("<p>Paints a <b>Delete Mask</b> over a precise area that will then be removed from the final cut-out.</p><p>Where <b>Keep</b> and <b>Delete Masks</b> are close to each other, %1 assumes the presence of an edge and automatically inserts a <b>Blend Mask</b>. The width of the blend mask is determined by the <b>Blend Mask Width</b> setting in the <b>Edge Blending</b> panel.</p><p><b><i>Consider:</i></b> Protecting your existing masks by checking <b>Protect Masks</b>.</p>").arg(productName())
                     + learnMoreParagraph(QStringLiteral("4-Kestrine_Tools/Brush_Tools.htm")),
                 4, 0, KsAppPreferences::DeleteMaskColor, actionGroup, menuWidget, barWidget, toolOptions)
{
    sharedOptionsWidget();
    // The base checked availability before this tool's own answer existed.
    setEnabledSlot();
}
