#include "tools/ComplexLocalTool.h"

#include "document/KsAppPreferences.h"
#include "document/Texts.h"

ComplexLocalTool::ComplexLocalTool(QActionGroup* actionGroup, QWidget* menuWidget, QWidget* barWidget, ToolOptions* toolOptions)
    : SelectTool(QStringLiteral("Blend Local Brush"), tr("Blend Local Brush"), QIcon(QStringLiteral(":images/tool_complex_local.png")),
                 tr("Shift+B"),
                 tr("<p>Flood-fills a <b>Blend Mask</b> over objects that will then be blended in the final cut-out. Blend Mask lies between those areas you want to keep and those you wish to delete.</p><p>The <b>Brush Strength</b> determines how similar neighboring objects need to be before they too will be covered. Increase the strength to cover more objects.</p><p><b><i>Consider:</i></b> Protecting your existing masks by checking <b>Protect Masks</b>.</p>")
                     + learnMoreParagraph(QStringLiteral("4-Kestrine_Tools/Brush_Tools.htm")),
                 8, 1, KsAppPreferences::BlendMaskColor, actionGroup, menuWidget, barWidget, toolOptions)
{
    sharedOptionsWidget();
    // The base checked availability before this tool's own answer existed.
    setEnabledSlot();
}
