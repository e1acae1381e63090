#include "tools/KeepLocalTool.h"

#include "document/KsAppPreferences.h"
#include "document/Texts.h"

KeepLocalTool::KeepLocalTool(QActionGroup* actionGroup, QWidget* menuWidget, QWidget* barWidget, ToolOptions* toolOptions)
    : SelectTool(QStringLiteral("Keep Local Brush"), tr("Keep Local Brush", "[ks3]"), QIcon(QStringLiteral(":images/tool_keep_local.png")),
                 tr("Shift+K", "[ks3]"),
                 tr("<p>Flood-fills a <b>Keep Mask</b> over objects that will then remain in the final cut-out.</p><p>The <b>Brush Strength</b> determines how similar neighboring objects need to be before they too will be covered. Increase the strength to cover more objects.</p><p><b><i>Consider:</i></b> Protecting your existing masks by checking <b>Protect Masks</b>.</p>")
                     + learnMoreParagraph(QStringLiteral("4-Kestrine_Tools/Brush_Tools.htm")),
                 2, 1, KsAppPreferences::KeepMaskColor, actionGroup, menuWidget, barWidget, toolOptions)
{
    sharedOptionsWidget();
    // The base checked availability before this tool's own answer existed.
    setEnabledSlot();
}
