#include "tools/EraseLocalTool.h"

#include "document/KsAppPreferences.h"
#include "document/Texts.h"

EraseLocalTool::EraseLocalTool(QActionGroup* actionGroup, QWidget* menuWidget, QWidget* barWidget, ToolOptions* toolOptions)
    : SelectTool(QStringLiteral("Erase Local Brush"), tr("Erase Local Brush"), QIcon(QStringLiteral(":images/tool_erase_local.png")),
                 tr("Shift+E"),
                 tr("<p>Paint over objects already masked that you want to erase.</p><p>Increase <b>Brush Strength</b> to select neighboring objects of similar color and texture. The greater the <b>Strength</b> the more a selection spreads.</p><p><b><i>Consider:</i></b> Protecting your existing masks by checking <b>Protect Masks</b>.</p>")
                     + learnMoreParagraph(QStringLiteral("4-Kestrine_Tools/Brush_Tools.htm")),
                 1, 1, -1, actionGroup, menuWidget, barWidget, toolOptions)
{
    sharedOptionsWidget();
    // The base checked availability before this tool's own answer existed.
    setEnabledSlot();
}
