#include "tools/PipetteTool.h"

#include "canvas/BitmapCursor.h"
#include "document/GmAction.h"
#include "document/GmModel.h"

#include <QLabel>
#include <QMouseEvent>

PipetteTool::PipetteTool(QActionGroup* actionGroup, QWidget* menuWidget, QWidget* barWidget,
                         ToolOptions* toolOptions)
    : GmTool(QStringLiteral("Pick a color from the image."), tr("Pick a color from the image."),
             QIcon(QStringLiteral(":images/pipette.png")), QString(), QString(), actionGroup, menuWidget, barWidget,
             toolOptions),
      m_cursor(makeBitmapCursor(0, 31, QStringLiteral(":images/curs_data_pipette.png"),
                                QStringLiteral(":images/curs_mask_pipette.png")))
{
    setOptionsWidget(new QLabel);
}

PipetteTool::~PipetteTool() = default;

QCursor PipetteTool::cursor() const
{
    return m_cursor ? *m_cursor : QCursor(Qt::CrossCursor);
}

void PipetteTool::mousePressed(const ImagePointF& point, QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    emit pipetteToolColourSelected(GmModel::instance()->colourAt(point));
    escapeKeyPressed();
}

void PipetteTool::mouseMoved(const ImagePointF&, QMouseEvent*) {}

void PipetteTool::mouseReleased(const ImagePointF&, QMouseEvent*) {}

void PipetteTool::mouseDoubleClicked(const ImagePointF&, QMouseEvent*) {}

void PipetteTool::escapeKeyPressed()
{
    GmTool* previous = m_previous;
    if (!previous || !previous->isAvailable()) {
        GmTool::revalidateCurrentTool();
        // The pipette itself stays available, so the main window may keep it; after a pick
        // control must still leave it.
        if (GmTool::currentTool() == this) {
            GmTool* select = GmTool::selectTool();
            GmTool* fallback = select && select->isAvailable() ? select : GmTool::noTool();
            if (fallback && fallback != this)
                fallback->installSlot();
        }
        return;
    }
    if (previous != GmTool::currentTool() && previous->action())
        previous->action()->trigger();
}

void PipetteTool::activate(GmTool* previous)
{
    // A pipette chosen from a pipette keeps the tool the first one interrupted.
    if (auto* pipette = qobject_cast<PipetteTool*>(previous))
        m_previous = pipette->m_previous;
    else
        m_previous = previous;
    clearButtonStates();
    emit pipetteToolSelected(true);
}

void PipetteTool::deactivate(GmTool*)
{
    emit pipetteToolSelected(false);
    clearButtonStates();
}
