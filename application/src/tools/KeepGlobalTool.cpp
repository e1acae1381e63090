#include "tools/KeepGlobalTool.h"

#include "document/KsAppPreferences.h"
#include "document/Texts.h"

KeepGlobalTool::KeepGlobalTool(QActionGroup* actionGroup, QWidget* menuWidget, QWidget* barWidget, ToolOptions* toolOptions)
    : SelectTool(QStringLiteral("Keep Global Brush"), tr("Keep Global Brush", "[ks3]"), QIcon(QStringLiteral(":images/tool_keep_global.png")),
                 tr("Ctrl+K", "[ks3]"),
                 tr("<p>Applies a <b>Keep Mask</b> to objects that will then remain in the final cut-out.</p><p>Paint over objects you want to be kept. Any other objects with similar color and texture <b><i>anywhere in the image</i></b> will also be covered by keep mask. The <b>Brush Strength</b> determines how similar objects need to be before they too will be covered. Increase the strength to cover more objects.</p><p><b><i>Consider:</i></b> Protecting your existing masks by checking <b>Protect Masks</b>.</p>")
                     + learnMoreParagraph(QStringLiteral("4-Kestrine_Tools/Brush_Tools.htm")),
                 2, 2, KsAppPreferences::KeepMaskColor, actionGroup, menuWidget, barWidget, toolOptions)
{
    sharedOptionsWidget();
    // The base checked availability before this tool's own answer existed.
    setEnabledSlot();
}
