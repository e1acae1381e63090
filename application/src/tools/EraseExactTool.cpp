#include "tools/EraseExactTool.h"

#include "document/KsAppPreferences.h"
#include "document/Texts.h"

EraseExactTool::EraseExactTool(QActionGroup* actionGroup, QWidget* menuWidget, QWidget* barWidget, ToolOptions* toolOptions)
    : SelectTool(QStringLiteral("Erase Exact Brush"), tr("Erase Exact Brush", "[ks3,glisa]"), QIcon(QStringLiteral(":images/tool_erase_exact.png")),
                 tr("E", "[ks3,glisa]"),
                 tr("<p>Paint over an area of mask you want to erase (i.e., unmask).</p><p><b><i>Consider:</i></b> Protecting your existing masks by checking <b>Protect Masks</b>.</p>")
                     + learnMoreParagraph(QStringLiteral("4-Kestrine_Tools/Brush_Tools.htm")),
                 1, 0, -1, actionGroup, menuWidget, barWidget, toolOptions)
{
    sharedOptionsWidget();
    // The base checked availability before this tool's own answer existed.
    setEnabledSlot();
}
