#include "tools/DeleteLocalTool.h"

#include "document/KsAppPreferences.h"
#include "document/Texts.h"

DeleteLocalTool::DeleteLocalTool(QActionGroup* actionGroup, QWidget* menuWidget, QWidget* barWidget, ToolOptions* toolOptions)
    : SelectTool(QStringLiteral("Delete Local Brush"), tr("Delete Local Brush", "[ks3, glisa]"), QIcon(QStringLiteral(":images/tool_delete_local.png")),
                 tr("Shift+D", "[ks3, glisa]"),
                 tr("<p>Flood-fills a <b>Delete Mask</b> over objects that will then be removed from the final cut-out.</p><p>The <b>Brush Strength</b> determines how similar neighboring objects need to be before they too will be covered. Increase the strength to cover more objects.</p><p><b><i>Consider:</i></b> Protecting your existing masks by checking <b>Protect Masks</b>.</p>")
                     + learnMoreParagraph(QStringLiteral("4-Kestrine_Tools/Brush_Tools.htm")),
                 4, 1, KsAppPreferences::DeleteMaskColor, actionGroup, menuWidget, barWidget, toolOptions)
{
    sharedOptionsWidget();
    // The base checked availability before this tool's own answer existed.
    setEnabledSlot();
}
