#include "panels/ToolOptions.h"

#include "document/GmAction.h"
#include "panels/TipWindow.h"
#include "tools/GmTool.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QStackedWidget>

ToolOptions::ToolOptions(QWidget* parent)
    : QWidget(parent), m_iconLabel(new QLabel(this)), m_stack(new QStackedWidget(this))
{
    setObjectName(QStringLiteral("ToolOptions"));
    m_stack->setObjectName(QStringLiteral("ToolOptionsStackedWidget"));
    auto* layout = new QHBoxLayout(this);
    layout->setObjectName(QStringLiteral("ToolOptionsLayout"));
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_iconLabel);
    layout->addSpacing(8);
    layout->addWidget(m_stack);
    setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Minimum);
}

void ToolOptions::showToolOptions(GmTool* tool)
{
    if (!tool)
        return;
    QWidget* options = tool->optionsWidget();
    if (options)
        options->setObjectName(QStringLiteral("ToolOptionsWidget"));

    GmAction* action = tool->action();
    const bool hasIcon = action && !action->icon().isNull();
    m_iconLabel->setPixmap(hasIcon ? action->icon().pixmap(m_iconSize, QIcon::Normal, QIcon::Off) : QPixmap());
    m_iconLabel->setToolTip(tr("Current Tool: %1").arg(tool->displayName()));

    if (options) {
        if (m_stack->indexOf(options) < 0)
            m_stack->addWidget(options);
        m_stack->setCurrentWidget(options);
    }
    setWindowTitle(tool->displayName());
    TipWindow::showActionHelp(action);
}
