#include "tools/CleanTool.h"

#include "document/GmModel.h"
#include "document/GmStatusArray.h"
#include "document/KsSourceImage.h"
#include "document/Texts.h"
#include "engine/CommandHooks.h"
#include "panels/ParameterStack.h"
#include "tools/BrushingTool.h"

#include <QHBoxLayout>
#include <QImage>
#include <QMouseEvent>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace {

const QString strengthRow = QStringLiteral("Strength");

QPointer<ParameterStack> g_stack;

} // namespace

CleanTool::CleanTool(QActionGroup* actionGroup, QWidget* menuWidget, QWidget* barWidget, ToolOptions* toolOptions)
    : GmTool(QStringLiteral("Clean Tool"), tr("Clean Tool"), QIcon(QStringLiteral(":images/tool_filter_clean.png")),
             tr("L"),
             tr("<p>Use to fill small holes in a larger masked area to make it continuous.</p><p>Click on the mask "
                "you want to be filled. The tool <b>Strength</b> determines how big the filled holes must be to be "
                "filled automatically.</p>")
                 + learnMoreParagraph(QStringLiteral("4-Kestrine_Tools/Clean_Tool.htm")),
             actionGroup, menuWidget, barWidget, toolOptions),
      m_strengthLabel(tr("Strength") + QStringLiteral(": "))
{
    auto* page = new QWidget;
    auto* layout = new QHBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* stack = new ParameterStack(ParameterStack::Horizontal, ParameterStack::ShowSliders, page);
    stack->setSettingsGroup(QStringLiteral("ToolOptions") + QStringLiteral("/CleanTool"));
    stack->addSlider(strengthRow, m_strengthLabel, 1, 20, 3, QString(), nullptr, nullptr, false);
    stack->setHelp(strengthRow, tr("Maximum size of the holes that will be filled"), QString());
    layout->addWidget(stack);
    layout->addWidget(new QWidget(page), 1);
    g_stack = stack;
    setOptionsWidget(page);

    GmModel::setImageInstalledHook(&BrushingTool::fitToolsToImage);
    CommandHooks::setCleanLevelHook([](int& level) {
        if (!g_stack)
            return false;
        return g_stack->value(strengthRow, level);
    });
}

void CleanTool::setStrength(int strength)
{
    if (g_stack && g_stack->setValue(strengthRow, strength))
        return;
    CommandHooks::setDespeckleLevel(strength);
}

ParameterStack* CleanTool::strengthStack()
{
    return g_stack;
}

QCursor CleanTool::cursor() const
{
    return QCursor(Qt::CrossCursor);
}

void CleanTool::mousePressed(const ImagePointF& point, QMouseEvent* event)
{
    if (event && event->button() != Qt::LeftButton)
        return;
    GmModel* model = GmModel::instance();
    const KsSourceImage* source = model->source();
    if (!source)
        return;
    // Only points on the image: the right and bottom edges lie outside it.
    if (!(point.x() >= 0 && point.x() < source->width() && point.y() >= 0 && point.y() < source->height()))
        return;
    const QImage* status = model->statusArray() ? model->statusArray()->statusImage() : nullptr;
    if (!status || status->isNull())
        return;
    const int divisor = std::max(1, model->resolution());
    const int x = std::clamp(int(point.x() / divisor), 0, status->width() - 1);
    const int y = std::clamp(int(point.y() / divisor), 0, status->height() - 1);
    model->cleanSelection(status->constScanLine(y)[x] & 15);
}

ImageView::ViewTabs CleanTool::usableViewTabs() const
{
    return ImageView::Workspace;
}

ImageView::ViewTab CleanTool::homeViewTab() const
{
    return ImageView::Workspace;
}

void CleanTool::activate(GmTool*)
{
    clearButtonStates();
}

void CleanTool::deactivate(GmTool*)
{
    clearButtonStates();
}
