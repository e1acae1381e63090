#include "tools/DeleteGlobalTool.h"

#include "document/KsAppPreferences.h"
#include "document/Texts.h"

DeleteGlobalTool::DeleteGlobalTool(QActionGroup* actionGroup, QWidget* menuWidget, QWidget* barWidget, ToolOptions* toolOptions)
    : SelectTool(QStringLiteral("Delete Global Brush"), tr("Delete Global Brush"), QIcon(QStringLiteral(":images/tool_delete_global.png")),
                 tr("Ctrl+D"),
                 tr("<p>Applies a <b>Delete Mask</b> to objects that will then be removed from the final cut-out.</p><p>Any other objects with similar color and texture <b><i>anywhere in the image</i></b> will also be covered by delete mask. The <b>Brush Strength</b> determines how similar objects need to be before they too will be covered. Increase the strength to cover more objects.</p><p><b><i>Consider:</i></b> Protecting your existing masks by checking <b>Protect Masks</b>.</p>")
                     + learnMoreParagraph(QStringLiteral("4-Kestrine_Tools/Brush_Tools.htm")),
                 4, 2, KsAppPreferences::DeleteMaskColor, actionGroup, menuWidget, barWidget, toolOptions)
{
    sharedOptionsWidget();
    // The base checked availability before this tool's own answer existed.
    setEnabledSlot();
}
