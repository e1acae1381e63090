#include "tools/TestRenderTool.h"

#include "document/GmModel.h"
#include "document/GmRegion.h"
#include "document/GmStatusArray.h"
#include "document/Rectangle.h"
#include "document/SegmentationStuff.h"
#include "document/Shape.h"
#include "document/Texts.h"
#include "engine/DravikThread.h"
#include "engine/DvCmdGenerateMask.h"
#include "panels/EmptyOptionsWidget.h"

#include <QPointer>

#include <cmath>

namespace {

QPointer<TestRenderTool> g_instance;

void submit(DravikCommand* command)
{
    if (DravikThread* thread = DravikThread::instance())
        thread->submit(command);
    else
        delete command;
}

} // namespace

TestRenderTool::TestRenderTool(QActionGroup* actionGroup, QWidget* menuWidget, QWidget* barWidget,
                               ToolOptions* toolOptions)
    : RectangleTool(
          QStringLiteral("Preview Cut-out"), tr("Preview Cut-out"), QIcon(QStringLiteral(":images/tool_mark_preview.png")),
          QStringLiteral("T"),
          tr("<p>Preview part of the image as it will appear when the final cut-out is made.</p><p>Click and drag "
             "the tool over an area to preview. A test render (a &lsquo;mini cut-out&rsquo;) will appear in place "
             "of the selection. Click on the image or select a different tool to restore the mask "
             "view.</p><p>Using the <b>Preview Cut-out</b> tool is a great way of testing and editing masks and "
             "edge blending as you go.</p>")
              + tr("<p>You can also right click a previously made <b>Patch</b> and select <b>Preview Cut-out</b> and "
                   "the area under the <b>Patch</b> will be cut-out.</p>")
              + learnMoreParagraph(QStringLiteral("2-Using_Kestrine/Making_the_Cut-out.htm")),
          actionGroup, menuWidget, barWidget, toolOptions)
{
    setOptionsWidget(createEmptyOptionsWidget());
    g_instance = this;
    GmRegion::setTestRenderHook([](GmRegion* patch) {
        if (g_instance)
            g_instance->testRenderPatch(patch);
    });
    // The base checked availability before this tool's own answer existed.
    setEnabledSlot();
}

TestRenderTool::~TestRenderTool()
{
    if (g_instance == this) {
        g_instance = nullptr;
        GmRegion::setTestRenderHook(nullptr);
    }
}

TestRenderTool* TestRenderTool::instance()
{
    return g_instance;
}

QCursor TestRenderTool::cursor() const
{
    return QCursor(Qt::CrossCursor);
}

void TestRenderTool::mouseDoubleClicked(const ImagePointF&, QMouseEvent*) {}

void TestRenderTool::escapeKeyPressed()
{
    GmModel* model = GmModel::existingInstance();
    if (model && model->testRenderRect()) {
        clearButtonStates();
        model->clearTestRenderRect();
        return;
    }
    RectangleTool::escapeKeyPressed();
}

bool TestRenderTool::isAvailable() const
{
    const GmModel* model = GmModel::existingInstance();
    if (!model || !model->source())
        return false;
    const SegmentationStuff* record = model->segmentation();
    // The flag may be written by a pending analysis: it is read only when none is pending.
    const bool analysed = record && (record->hasPendingAnalysis() || record->isAnalysed());
    const GmStatusArray* statuses = model->statusArray();
    return analysed && statuses && (statuses->statusesPresent() & (2 | 4)) != 0;
}

void TestRenderTool::activate(GmTool*)
{
    clearButtonStates();
}

void TestRenderTool::deactivate(GmTool*)
{
    if (GmModel* model = GmModel::existingInstance())
        model->clearTestRenderRect();
    clearButtonStates();
}

void TestRenderTool::beginRect(const ImagePointF& point)
{
    GmModel::instance()->beginTestRenderRect(point);
}

void TestRenderTool::finishRect(const ImagePointF& point)
{
    if (previousButtonState() != 2)
        return;
    ks::Rectangle* rect = currentRect();
    if (!rect)
        return;
    rect->dragCornerTo(point);
    render(rect->boundingRect());
}

ks::Rectangle* TestRenderTool::currentRect() const
{
    const GmModel* model = GmModel::existingInstance();
    return model ? model->testRenderRect() : nullptr;
}

void TestRenderTool::render(const QRectF& imageRect)
{
    if (!(imageRect.width() > 0 && imageRect.height() > 0))
        return;
    GmModel* model = GmModel::instance();
    const double d = model->resolution();
    // Outward to whole working pixels, so that every touched pixel is rendered.
    const int left = int(std::floor(imageRect.left() / d));
    const int top = int(std::floor(imageRect.top() / d));
    const int right = int(std::ceil(imageRect.right() / d));
    const int bottom = int(std::ceil(imageRect.bottom() / d));
    submit(new DvCmdGenerateMask(model, QRect(left, top, right - left, bottom - top)));
}

void TestRenderTool::testRenderPatch(GmRegion* patch)
{
    if (!patch || !patch->shape())
        return;
    GmModel* model = GmModel::instance();
    const QRectF bounds = patch->shape()->boundingRect();
    model->beginTestRenderRect(bounds.topLeft());
    if (ks::Rectangle* rect = model->testRenderRect())
        rect->dragCornerTo(bounds.bottomRight());
    if (bounds.width() > 0 && bounds.height() > 0)
        submit(new DvCmdGenerateMask(model, patch));
}
