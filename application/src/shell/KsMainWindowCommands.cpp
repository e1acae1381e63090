// The main window's engine commands: those it submits, the undo and cancel states, and its feedback.
#include "shell/KsMainWindow.h"

#include "document/GmModel.h"
#include "document/Prompt.h"
#include "document/Texts.h"
#include "engine/DravikCommand.h"
#include "engine/DravikThread.h"
#include "engine/DvCmdDespeckleSelection.h"
#include "engine/DvCmdGenerateMask.h"
#include "engine/DvCmdRedo.h"
#include "engine/DvCmdSelect.h"
#include "engine/DvCmdUndo.h"
#include "shell/Klogger.h"
#include "shell/KsApp.h"
#include "shell/KsMainWindowHelpers.h"

#include <QKeySequence>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>

using namespace mainwindow;

namespace {

// The engine's undo and redo counts as last reported; 0xFFFFFFFF in a report means unchanged.
constexpr std::uint32_t kCountUnchanged = 0xFFFFFFFF;
std::uint32_t g_undoCount = 0;
std::uint32_t g_redoCount = 0;

} // namespace

// ---- Engine feedback --------------------------------------------------------------------

void KsMainWindow::commandStartedSlot(DravikCommand* command)
{
    const QString description = command->description();
    m_progressBar->setToolTip(description);
    m_progressBar->setTextVisible(true);
    statusBar()->showMessage(description);
}

void KsMainWindow::commandProgressSlot(int percent)
{
    m_progressBar->setValue(percent);
}

void KsMainWindow::commandFinishedSlot(DravikCommand*)
{
    m_progressBar->setValue(0);
    m_progressBar->setTextVisible(false);
    statusBar()->clearMessage();
    m_progressBar->setToolTip(QString());
}

void KsMainWindow::commandCancellingSlot(DravikCommand*)
{
    statusBar()->showMessage(tr("Canceling..."));
}

void KsMainWindow::commandDiscardedSlot(DravikCommand* command)
{
    m_progressBar->setValue(0);
    m_progressBar->setTextVisible(false);
    statusBar()->showMessage(tr("%1 discarded").arg(command->description()));
    m_progressBar->setToolTip(QString());
}

void KsMainWindow::submissionRejectedOnDeadLibSlot(DravikCommand*)
{
    statusBar()->showMessage(tr("Please save project and exit"));
}

void KsMainWindow::internalErrorSlot(const QString& operation, const QString& message)
{
    // The worker is inside its command's completion: a modal box must not run its own event
    // loop from there.
    QTimer::singleShot(0, this, [this, operation, message] { showInternalError(operation, message); });
}

void KsMainWindow::outOfMemorySlot(const QString& operation, const QString& message)
{
    if (m_outOfMemoryTold)
        return;
    m_outOfMemoryTold = true;
    QTimer::singleShot(0, this, [this, operation, message] {
        Prompt::warning(this, productName(), outOfMemoryText(operation, message));
    });
}

QString KsMainWindow::outOfMemoryText(const QString& operation, const QString& message)
{
    return tr("<p>%1</p><p>while performing the operation:</p><p><center>%2</center></p>"
              "<p>What was done before it is kept. Close other programs, or work on a smaller image, and "
              "try again.</p>")
        .arg(message, operation);
}

QString KsMainWindow::internalErrorText(const QString& operation, const QString& message,
                                        const QAction* saveProject, const QAction* loadProject)
{
    const QString product = KsApp::productNameNbsp();
    QString text = tr("<p>%1 has detected an internal error:</p><p><center>%2</center></p>"
                      "<p>while performing the operation:</p><p><center>%3</center></p>")
                       .arg(product, message, operation);
    if (saveProject && loadProject) {
        text += tr("<p>If possible, you should Save your work in a<br/>Project File (%2) and then "
                   "Exit.</p><p>When you restart %1, you can <br/>Load the Project File (%3) and"
                   "<br/>continue with your work.</p>")
                    .arg(product, saveProject->shortcut().toString(QKeySequence::NativeText),
                         loadProject->shortcut().toString(QKeySequence::NativeText));
    }
    return text;
}

void KsMainWindow::showInternalError(const QString& operation, const QString& message)
{
    Prompt::critical(this, tr("Internal Error"),
                     internalErrorText(operation, message, m_saveProjectAction, m_loadProjectAction),
                     QMessageBox::Ok, QMessageBox::Ok);
}

// ---- Undo, redo and cancel --------------------------------------------------------------

void KsMainWindow::dvUndoStackChangedSlot(std::uint32_t undoCount, std::uint32_t redoCount)
{
    if (undoCount != kCountUnchanged)
        g_undoCount = undoCount;
    if (redoCount != kCountUnchanged)
        g_redoCount = redoCount;
    // An undo must not overtake the commands before it; a redo may.
    const bool idle = !m_engineWorker || (m_engineWorker->isQueueEmpty() && !m_engineWorker->isBusy());
    enable(m_undoAction, g_undoCount != 0 && idle);
    enable(m_redoAction, g_redoCount != 0);
}

void KsMainWindow::updateUndoRedoEnabledness()
{
    dvUndoStackChangedSlot(kCountUnchanged, kCountUnchanged);
}

void KsMainWindow::updateCancelEnabledness()
{
    enable(m_cancelAction, m_engineWorker && m_engineWorker->canCancel());
}

void KsMainWindow::undoSlot()
{
    m_imageView->ensureTabAllows(ImageView::Workspace, ImageView::Workspace);
    if (m_engineWorker)
        m_engineWorker->submit(new DvCmdUndo(GmModel::instance()), DravikThread::SubmitCancellable);
}

void KsMainWindow::redoSlot()
{
    m_imageView->ensureTabAllows(ImageView::Workspace, ImageView::Workspace);
    if (m_engineWorker)
        m_engineWorker->submit(new DvCmdRedo(GmModel::instance()), DravikThread::SubmitCancellable);
}

// ---- Commands ---------------------------------------------------------------------------

void KsMainWindow::generateMaskSlot()
{
    GmModel::instance()->generateMaskSlot();
}

void KsMainWindow::submitClean(int classes)
{
    if (m_engineWorker)
        m_engineWorker->submit(new DvCmdDespeckleSelection(GmModel::instance(), classes),
                               DravikThread::SubmitCancellable);
}

void KsMainWindow::cleanAllSlot()
{
    submitClean(kKeepBit | kDeleteBit | kBlendBit);
}

void KsMainWindow::cleanKeepSlot()
{
    submitClean(kKeepBit);
}

void KsMainWindow::cleanDeleteSlot()
{
    submitClean(kDeleteBit);
}

void KsMainWindow::cleanComplexSlot()
{
    submitClean(kBlendBit);
}

void KsMainWindow::cleanLastSelectionSlot()
{
    submitClean(0);
}

void KsMainWindow::saveAndApplySlot()
{
    m_imageView->ensureTabAllows(ImageView::CutOut, ImageView::CutOut);
    m_promptOnDiscard = false;
    if (m_engineWorker && m_engineWorker->changeCounter() != DvCmdGenerateMask::cutoutStamp()) {
        // Uncancellable: closing the image drops only what may be cancelled.
        m_engineWorker->submit(new DvCmdGenerateMask(GmModel::instance()), DravikThread::SubmitUncancellable);
        m_applyStamp = m_engineWorker->changeCounter();
    }
    close();
}

void KsMainWindow::settleSaveAndApply()
{
    // A completed cut-out stamps the counter it ran at, which is at least the one recorded when
    // it was asked for; a refused, discarded or failed one leaves an older stamp.
    if (m_applyStamp >= 0 && DvCmdGenerateMask::cutoutStamp() < m_applyStamp) {
        Klogger::stream() << "The cut-out was not made: nothing is handed back" << Klogger::endl;
        setHandBack(HandBackNothing);
    }
}

void KsMainWindow::revertSlot()
{
    enable(m_revertMaskAction, false);
    m_imageView->ensureTabAllows(ImageView::Workspace, ImageView::Workspace);
    GmModel* model = GmModel::instance();
    if (m_engineWorker)
        m_engineWorker->submit(new DvCmdSelect(model, nullptr, kKeepBit | kDeleteBit | kBlendBit, 1),
                               DravikThread::SubmitCancellable);
    model->revertMask();
    if (m_showEdgesAction)
        m_showEdgesAction->setChecked(true);
}

void KsMainWindow::revertAllSlot()
{
    enable(m_revertAllAction, false);
    GmModel* model = GmModel::instance();
    model->clearTestRenderRect();
    model->resetArrowTargets();
    model->deleteAllArrowTargets();
    revertSlot();
}
