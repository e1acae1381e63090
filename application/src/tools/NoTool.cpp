#include "tools/NoTool.h"

#include <QLabel>

NoTool::NoTool(QActionGroup* actionGroup, QWidget* menuWidget, ToolOptions* toolOptions)
    : GmTool(QStringLiteral("No Tool"), tr("No Tool"), QIcon(), QString(), QString(), actionGroup, menuWidget,
             nullptr, toolOptions)
{
    setOptionsWidget(new QLabel);
    registerNoTool(this);
    // The base checked availability as a tool that needs an image.
    setEnabledSlot();
}

QCursor NoTool::cursor() const
{
    return QCursor(Qt::ArrowCursor);
}

ImageView::ViewTabs NoTool::usableViewTabs() const
{
    return ImageView::ViewTabs(127);
}

bool NoTool::isAvailable() const
{
    return true;
}

void NoTool::activate(GmTool*)
{
    clearButtonStates();
}

void NoTool::deactivate(GmTool*)
{
    clearButtonStates();
}
