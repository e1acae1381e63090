#include "tools/ComplexGlobalTool.h"

#include "document/KsAppPreferences.h"
#include "document/Texts.h"

ComplexGlobalTool::ComplexGlobalTool(QActionGroup* actionGroup, QWidget* menuWidget, QWidget* barWidget, ToolOptions* toolOptions)
    : SelectTool(QStringLiteral("Blend Global Brush"), tr("Blend Global Brush"), QIcon(QStringLiteral(":images/tool_complex_global.png")),
                 tr("Ctrl+B"),
                 tr("<p>Applies a <b>Blend Mask</b> to objects that will then be blended in the final cut-out. Blend Mask lies between those areas you want to keep and those you wish to delete.</p><p>Paint over objects you want to be blended. Any other objects with similar color and texture <b><i>anywhere in the image</i></b> will also be covered by blend mask. The <b>Brush Strength</b> determines how similar objects need to be before they too will be covered. Increase the strength to cover more objects.</p><p><b><i>Consider:</i></b> Protecting your existing masks by checking <b>Protect Masks</b>.</p>")
                     + learnMoreParagraph(QStringLiteral("4-Kestrine_Tools/Brush_Tools.htm")),
                 8, 2, KsAppPreferences::BlendMaskColor, actionGroup, menuWidget, barWidget, toolOptions)
{
    sharedOptionsWidget();
    // The base checked availability before this tool's own answer existed.
    setEnabledSlot();
}
