#include "tools/ComplexExactTool.h"

#include "document/KsAppPreferences.h"
#include "document/Texts.h"

ComplexExactTool::ComplexExactTool(QActionGroup* actionGroup, QWidget* menuWidget, QWidget* barWidget, ToolOptions* toolOptions)
    : SelectTool(QStringLiteral("Blend Exact Brush"), tr("Blend Exact Brush", "[ks3]"), QIcon(QStringLiteral(":images/tool_complex_exact.png")),
                 tr("B", "[ks3]"),
                 tr("<p>Paints a <b>Blend Mask</b> over a precise area that will then be blended in the final cut-out. Blend Mask lies between those areas you want to keep and those you wish to delete.</p><p><b><i>Consider:</i></b> Protecting your existing masks by checking <b>Protect Masks</b>.</p>")
                     + learnMoreParagraph(QStringLiteral("4-Kestrine_Tools/Brush_Tools.htm")),
                 8, 0, KsAppPreferences::BlendMaskColor, actionGroup, menuWidget, barWidget, toolOptions)
{
    sharedOptionsWidget();
    // The base checked availability before this tool's own answer existed.
    setEnabledSlot();
}
