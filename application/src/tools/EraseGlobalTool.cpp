#include "tools/EraseGlobalTool.h"

#include "document/KsAppPreferences.h"
#include "document/Texts.h"

EraseGlobalTool::EraseGlobalTool(QActionGroup* actionGroup, QWidget* menuWidget, QWidget* barWidget, ToolOptions* toolOptions)
    : SelectTool(QStringLiteral("Erase Global Brush"), tr("Erase Global Brush"), QIcon(QStringLiteral(":images/tool_erase_global.png")),
                 tr("Ctrl+E"),
                 tr("<p>Paint over objects already masked that you want to erase.</p><p>Any other objects with similar color and texture <b><i>anywhere in the image</i></b> will also have their masks erased. The <b>Brush Strength</b> determines how similar objects in the image need to be before they will be selected. The greater the <b>Strength</b> the more a selection spreads.</p><p><b><i>Consider:</i></b> Protecting your existing masks by checking <b>Protect Masks</b>.</p>")
                     + learnMoreParagraph(QStringLiteral("4-Kestrine_Tools/Brush_Tools.htm")),
                 1, 2, -1, actionGroup, menuWidget, barWidget, toolOptions)
{
    sharedOptionsWidget();
    // The base checked availability before this tool's own answer existed.
    setEnabledSlot();
}
