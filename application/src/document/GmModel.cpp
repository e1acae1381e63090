#include "document/GmModel.h"

#include "document/ArrowTarget.h"
#include "document/BlendingStuff.h"
#include "document/ForcedEdge.h"
#include "document/GmAction.h"
#include "document/GmRegion.h"
#include "document/GmStatusArray.h"
#include "document/ImageMemory.h"
#include "document/KsAppPreferences.h"
#include "document/KsSourceImage.h"
#include "document/PixelState.h"
#include "document/Prompt.h"
#include "document/Rectangle.h"
#include "document/SegmentationStuff.h"
#include "document/Shape.h"
#include "document/Texts.h"
#include "engine/CommandHooks.h"
#include "engine/DravikThread.h"
#include "engine/DvCmdAutoFill.h"
#include "engine/DvCmdBeginSession.h"
#include "engine/DvCmdDeleteStatusImage.h"
#include "engine/DvCmdDespeckleSelection.h"
#include "engine/DvCmdEndSession.h"
#include "engine/DvCmdFinish.h"
#include "engine/DvCmdGenerateMask.h"
#include "engine/DvCmdInit.h"
#include "engine/DvCmdNewStatusImage.h"
#include "engine/DvCmdNumAvailableUndoRedo.h"
#include "engine/DvCmdProtect.h"
#include "engine/DvCmdSelect.h"

#include <QApplication>
#include <QCursor>
#include <QEventLoop>
#include <QIcon>
#include <QKeySequence>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QVariantList>
#include <QtMath>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {

GmModel* g_instance = nullptr;
GmModel::ImageInstalledHook g_imageInstalledHook;
GmModel::ForgetDragHook g_forgetDragHook;
GmModel::EdgePanelVisibleHook g_edgePanelVisibleHook;

// Project map keys.
const QString sourceKey = QStringLiteral("segImg_");
const QString outputKey = QStringLiteral("blendImg_");
const QString statusKey = QStringLiteral("statusArray_");
const QString smegKey = QStringLiteral("imageSmeg_");
const QString blendageKey = QStringLiteral("imageBlendage_");
const QString resolutionKey = QStringLiteral("resolution_");
const QString arrowTargetsKey = QStringLiteral("arrowTargetList");

const QRectF noRect(0, 0, -1, -1);

constexpr qint64 kMaxWorkingPixels = 4000000;
constexpr int kMaxDivisor = 8;
constexpr quint8 kMarkClasses = 2 | 4 | 8;

// The workspace setting that keeps the user's edge-finding values over a new image.
bool keepsOptions()
{
    const KsAppPreferences* preferences = KsAppPreferences::instance();
    return preferences && preferences->persistOptions();
}

// Started by a host or to edit a file in place: the images stay for the hand-back.
bool keepsImages()
{
    return CommandHooks::launchKeepsImages();
}

// The images a host launch made are its own until the hand-back: the model never deletes them.
bool heldByLaunch(const KsSourceImage* image)
{
    return image && CommandHooks::heldByLaunch(image);
}

void deleteUnlessLaunchHolds(KsSourceImage* image)
{
    if (!heldByLaunch(image))
        delete image;
}

// What the canvas draws of a patch or forced edge: its shape and the engine's outline of it.
QRectF boundsOf(const ArrowTarget* target)
{
    if (!target)
        return noRect;
    const Shape* shape = target->shape();
    QRectF bounds = shape->boundingRect();
    const QRectF& outline = shape->outlineBounds();
    if (!outline.isNull())
        bounds = bounds.united(outline);
    return bounds;
}

bool isFinite(const QRectF& r)
{
    return std::isfinite(r.x()) && std::isfinite(r.y()) && std::isfinite(r.width()) && std::isfinite(r.height());
}

// A project's statuses as they were saved: the status bytes, whatever table the picture format
// gave them; null when the format cannot carry them.
QImage statusBytes(const QImage& stored)
{
    QImage status;
    if (stored.format() == QImage::Format_Indexed8) {
        status = stored;
    } else if (stored.format() == QImage::Format_Grayscale8) {
        status = QImage(stored.size(), QImage::Format_Indexed8);
        if (status.isNull())
            return status;
        for (int y = 0; y < stored.height(); ++y)
            std::memcpy(status.scanLine(y), stored.constScanLine(y), std::size_t(stored.width()));
    } else {
        return QImage();
    }
    QVector<QRgb> ramp(256);
    for (int i = 0; i < 256; ++i)
        ramp[i] = qRgb(i, i, i);
    status.setColorTable(ramp);
    return status;
}

// Writes every row of one full-resolution image into another of the same size and layout.
bool copyPixels(const DvImageDesc& from, const DvImageDesc& to)
{
    if (!from.data || !to.data || from.width != to.width || from.height != to.height
        || from.pixelType != to.pixelType)
        return false;
    const std::size_t row = std::size_t(from.width) * (from.pixelType == DvPixelRgba8 ? 4 : 8);
    for (int y = 0; y < from.height; ++y)
        std::memcpy(static_cast<uchar*>(to.data) + std::size_t(y) * to.stride,
                    static_cast<const uchar*>(from.data) + std::size_t(y) * from.stride, row);
    return true;
}

} // namespace

GmModel::GmModel()
{
    static const int segmentationType = qRegisterMetaType<SegmentationStuff>("SegmentationStuff");
    Q_UNUSED(segmentationType);
    m_statusArray = new GmStatusArray(this, this);
    m_segmentation = new SegmentationStuff(nullptr);
    m_blending = new BlendingStuff;
    DravikThread::setUndoCountFactory([](GmModel* model) -> DravikCommand* {
        return model ? new DvCmdNumAvailableUndoRedo(model) : nullptr;
    });
    // The colour workspace's highlight keeps to the active patch.
    GmStatusArray::setPatchMaskLookup([]() -> QImage {
        GmModel* model = GmModel::existingInstance();
        GmRegion* patch = model ? model->activeRegion() : nullptr;
        return patch ? patch->filledMask()->mask() : QImage();
    });
    createPatchActions();
    connect(this, &GmModel::protectionChanged, this, [this](GmRegion* patch) {
        if (patch && patch == m_activeRegion)
            updatePatchActions(patch);
    });
}

GmModel::~GmModel()
{
    QObject::disconnect(m_closureConnection);
    endWaitForClosure();
    // What is left goes with the model; the lists are emptied first, so that the objects'
    // own goodbyes find nothing to do.
    const QList<GmRegion*> patches = m_patches;
    const QList<ForcedEdge*> edges = m_forcedEdges;
    m_patches.clear();
    m_forcedEdges.clear();
    m_activeRegion = nullptr;
    m_activeForcedEdge = nullptr;
    qDeleteAll(patches);
    qDeleteAll(edges);
    delete m_testRenderRect;
    delete m_zoomRect;
    delete m_segmentation;
    delete m_blending;
    delete m_statusArray;
    m_brushings.clear();
    if (g_instance == this)
        g_instance = nullptr;
}

GmModel* GmModel::instance()
{
    if (!g_instance)
        g_instance = new GmModel;
    return g_instance;
}

GmModel* GmModel::existingInstance()
{
    return g_instance;
}

void GmModel::destroy()
{
    delete g_instance;
    g_instance = nullptr;
}

void GmModel::setImageInstalledHook(ImageInstalledHook hook)
{
    g_imageInstalledHook = std::move(hook);
}

void GmModel::setForgetDragHook(ForgetDragHook hook)
{
    g_forgetDragHook = std::move(hook);
}

void GmModel::setEdgePanelVisibleHook(EdgePanelVisibleHook hook)
{
    g_edgePanelVisibleHook = std::move(hook);
}

int GmModel::divisorForPixelCount(qint64 pixelCount)
{
    int divisor = 1;
    while (divisor < kMaxDivisor && pixelCount / divisor > kMaxWorkingPixels)
        divisor *= 2;
    return divisor;
}

void GmModel::chooseResolutionForPixelCount(qint64 pixelCount)
{
    const int divisor = divisorForPixelCount(pixelCount);
    const int old = m_resolution;
    m_resolution = divisor;
    emit resolutionChanged(old, divisor);
}

void GmModel::addBrushing(GmBrushing* brushing)
{
    if (brushing && !m_brushings.contains(brushing))
        m_brushings.append(brushing);
}

void GmModel::removeBrushing(GmBrushing* brushing)
{
    m_brushings.removeOne(brushing);
}

void GmModel::submit(DravikCommand* command)
{
    if (DravikThread* thread = DravikThread::instance()) {
        thread->submit(command);
    } else {
        qWarning("GmModel: no engine worker for \"%s\"", qUtf8Printable(command->description()));
        delete command;
    }
}

bool GmModel::setImage(int flag, int loadState, KsSourceImage* source, KsSourceImage* output)
{
    m_loadState = loadState;
    if (!m_source && source && source->isValid()) {
        m_source = source;
        m_output = output ? output : new KsSourceImage(*source);
    }
    // Images not kept (refused, or new ones while a launch's are held) are the model's all the
    // same: nobody else would delete them.
    if (output && output != source && output != m_source && output != m_output)
        deleteUnlessLaunchHolds(output);
    if (source && source != m_source && source != m_output)
        deleteUnlessLaunchHolds(source);
    if (!m_source || !m_source->isValid() || !m_output || !m_output->isValid()) {
        // An output that is not valid (or a copy that failed) takes the source with it.
        if (m_output != m_source)
            deleteUnlessLaunchHolds(m_output);
        deleteUnlessLaunchHolds(m_source);
        m_source = nullptr;
        m_output = nullptr;
        return false;
    }
    if (flag == 1 && !keepsOptions())
        chooseResolutionForPixelCount(qint64(m_source->width()) * m_source->height());
    auto* init = new DvCmdInit(this);
    m_pendingInit = init;
    submit(init);
    m_segmentation->setChecked(true);
    emit smegChanged();
    openSession(flag);
    if (g_imageInstalledHook)
        g_imageInstalledHook(m_source);
    return true;
}

void GmModel::openSession(int flag)
{
    DravikThread* thread = DravikThread::instance();
    if (!thread)
        return;
    if (thread->isAccepting()) {
        m_sessionFlag = flag;
        thread->setAccepting(false);
        if (thread->isRunning())
            thread->setPriority(QThread::HighPriority);
        if (thread->isBusy() || !thread->isQueueEmpty()) {
            if (!m_waitingForClosure) {
                m_waitingForClosure = true;
                if (QWidget* window = CommandHooks::mainWindow())
                    window->setEnabled(false);
                if (qobject_cast<QApplication*>(QCoreApplication::instance()))
                    QApplication::setOverrideCursor(Qt::WaitCursor);
            }
            QObject::disconnect(m_closureConnection);
            m_closureConnection =
                connect(thread, &DravikThread::closureComplete, this, [this] { openSession(); });
            return;
        }
    } else {
        // Not waiting: the shell has closed the thread for good.
        if (!m_waitingForClosure)
            return;
        // Called back once the queue has drained.
        QObject::disconnect(m_closureConnection);
        m_closureConnection = {};
        endWaitForClosure();
    }
    thread->setAccepting(true);
    if (!m_source)
        return;
    // No session reads the working image now: it may be rebuilt at the current divisor.
    m_source->updateWorkingImage();
    auto* newStatusImage = new DvCmdNewStatusImage(this);
    m_pendingNewStatusImage = newStatusImage;
    submit(newStatusImage);
    auto* beginSession = new DvCmdBeginSession(this);
    m_pendingBeginSession = beginSession;
    submit(beginSession);
    for (ArrowTarget* target : arrowTargets())
        target->submitToEngine();
    emit tellImageChanged(m_source);
}

namespace {

bool isCutout(const DravikCommand* command)
{
    return qobject_cast<const DvCmdGenerateMask*>(command) != nullptr;
}

bool cancellable(const DravikCommand* command)
{
    return command->isCancellable() && !command->uncancellable();
}

// The wait's dialog stays until the wait ends: Escape and the window's close button ask for
// a cancel as its button does, and nothing else closes it.
class CutoutWaitDialog : public QProgressDialog {
public:
    using QProgressDialog::QProgressDialog;
    void reject() override {}
};

} // namespace

bool GmModel::cutoutPending() const
{
    const DravikThread* thread = DravikThread::instance();
    if (!thread)
        return false;
    if (isCutout(thread->currentCommand()))
        return true;
    for (const DravikCommand* command : thread->queue())
        if (isCutout(command))
            return true;
    return false;
}

bool GmModel::cutoutCancellable() const
{
    const DravikThread* thread = DravikThread::instance();
    if (!thread)
        return false;
    const DravikCommand* current = thread->currentCommand();
    if (isCutout(current) && cancellable(current) && !thread->isCancelRequested())
        return true;
    for (const DravikCommand* command : thread->queue())
        if (isCutout(command) && cancellable(command))
            return true;
    return false;
}

void GmModel::cancelCutouts()
{
    DravikThread* thread = DravikThread::instance();
    if (!thread)
        return;
    if (isCutout(thread->currentCommand()))
        thread->cancelCommand(thread->currentCommand());
    // A cancelled command that waits leaves the queue at once.
    const QList<DravikCommand*> queued = thread->queue();
    for (DravikCommand* command : queued)
        if (isCutout(command))
            thread->cancelCommand(command);
}

bool GmModel::waitForCutout()
{
    return waitForEngine({}) == WaitCompleted;
}

GmModel::EngineWait GmModel::waitForEngine(const CommandFilter& alsoFor)
{
    DravikThread* thread = DravikThread::instance();
    if (!thread)
        return WaitCompleted;
    // A command goes (and its guard with it) once it has finished or was discarded.
    QList<QPointer<DravikCommand>> awaited;
    const auto pickAwaited = [thread, &alsoFor, &awaited] {
        awaited.clear();
        if (!alsoFor)
            return;
        if (DravikCommand* current = thread->currentCommand(); current && alsoFor(current))
            awaited << current;
        for (DravikCommand* command : thread->queue())
            if (alsoFor(command))
                awaited << command;
    };
    pickAwaited();
    bool givenUp = false;
    const auto othersPending = [&awaited, &givenUp] {
        if (givenUp)
            return false;
        for (const QPointer<DravikCommand>& command : awaited)
            if (command)
                return true;
        return false;
    };
    const auto isAwaited = [&awaited, &givenUp](const DravikCommand* command) {
        if (!command)
            return false;
        if (isCutout(command))
            return true;
        if (givenUp)
            return false;
        for (const QPointer<DravikCommand>& other : awaited)
            if (other == command)
                return true;
        return false;
    };
    if (!cutoutPending() && !othersPending())
        return WaitCompleted;
    if (m_waitingForEngine)
        return cutoutPending() ? WaitCutoutUnfinished : WaitGivenUp;
    m_waitingForEngine = true;
    // The dialog below takes the input: a stroke still being drawn ends now, as its release
    // would end it, and what it submits is waited for like the rest.
    emit aboutToWaitForEngine();
    pickAwaited();
    if (!cutoutPending() && !othersPending()) {
        m_waitingForEngine = false;
        return WaitCompleted;
    }
    // Each cut-out tells how it ended as it leaves the worker. The loop may also end from
    // outside (an application quit, the worker gone), which completes nothing.
    bool interrupted = false;
    bool settled = false;
    QEventLoop loop;
    const auto interrupt = [&interrupted](DravikCommand* command) {
        if (isCutout(command))
            interrupted = true;
    };
    connect(thread, &DravikThread::commandCancelling, &loop, interrupt);
    connect(thread, &DravikThread::commandDiscarded, &loop, interrupt);
    connect(thread, &DravikThread::commandFinished, &loop, [&interrupted](DravikCommand* command) {
        // A cancelled or failed cut-out may have written part of the output; one whose worker
        // could not be started (out of memory) made none. One that found nothing to do is done.
        if (isCutout(command) && command->result() != DvOk)
            interrupted = true;
    });
    const auto settle = [this, &loop, &settled, othersPending] {
        if (!cutoutPending() && !othersPending()) {
            settled = true;
            loop.quit();
        }
    };
    connect(thread, &DravikThread::stateChanged, &loop, settle);
    connect(thread, &QObject::destroyed, &loop, &QEventLoop::quit);

    // Input goes only to the dialog, whose Cancel stops the cut-out; the wait's own end closes it.
    std::unique_ptr<CutoutWaitDialog> dialog;
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        dialog.reset(new CutoutWaitDialog(CommandHooks::mainWindow()));
        dialog->setWindowTitle(productName());
        dialog->setWindowModality(Qt::ApplicationModal);
        dialog->setAutoReset(false);
        dialog->setAutoClose(false);
        // Set directly: the dialog's own setValue would run the event loop from inside a slot.
        auto* bar = new QProgressBar;
        bar->setRange(0, 100);
        dialog->setBar(bar);
        // Cancel stops the cut-outs alone (the other commands are the user's work) and gives up
        // waiting for the others; the dialog's own reaction, which hides it, is dropped.
        disconnect(dialog.get(), &QProgressDialog::canceled, dialog.get(), nullptr);
        QPushButton* cancel = dialog->findChild<QPushButton*>();
        // The worker is looked up each time: it may have gone by then.
        const auto update = [this, bar, cancel, &dialog, isAwaited, othersPending] {
            const DravikThread* worker = DravikThread::instance();
            const DravikCommand* current = worker ? worker->currentCommand() : nullptr;
            if (isAwaited(current) && !worker->isCancelRequested())
                dialog->setLabelText(current->description());
            if (cancel)
                cancel->setEnabled(cutoutCancellable() || othersPending());
            if (!isAwaited(current))
                bar->setValue(0);
        };
        connect(dialog.get(), &QProgressDialog::canceled, &loop,
                [this, update, settle, othersPending, &givenUp, &dialog] {
                    const bool others = othersPending();
                    if (!cutoutCancellable() && !others)
                        return;
                    givenUp = others;
                    cancelCutouts();
                    // A cut-out that only waited is gone at once; one that runs stops at its next
                    // progress report.
                    settle();
                    const DravikThread* worker = DravikThread::instance();
                    if (worker && worker->isCancelRequested())
                        dialog->setLabelText(tr("Canceling..."));
                    update();
                });
        connect(thread, &DravikThread::stateChanged, dialog.get(), update);
        connect(thread, &DravikThread::commandProgress, bar, [bar, isAwaited](int percent) {
            const DravikThread* worker = DravikThread::instance();
            if (worker && isAwaited(worker->currentCommand()))
                bar->setValue(percent);
        });
        for (const DravikCommand* command : thread->queue())
            if (isAwaited(command)) {
                dialog->setLabelText(command->description());
                break;
            }
        update();
        dialog->show();
    }
    loop.exec();
    if (dialog) {
        dialog.reset();
        QApplication::restoreOverrideCursor();
    }
    m_waitingForEngine = false;
    if (interrupted || (!settled && cutoutPending()))
        return WaitCutoutUnfinished;
    return settled && !givenUp ? WaitCompleted : WaitGivenUp;
}

void GmModel::endWaitForClosure()
{
    if (!m_waitingForClosure)
        return;
    m_waitingForClosure = false;
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        QApplication::restoreOverrideCursor();
    if (QWidget* window = CommandHooks::mainWindow())
        window->setEnabled(true);
}

void GmModel::sessionBegun(const SessionSuggestion& suggestion, int flag)
{
    EDOs& edos = m_segmentation->edos();
    const int sensitivity = int(std::lround(double(suggestion.tolerance) * 99.0 + 1.0));
    edos.sensitivity().setDefaultValue(sensitivity);
    edos.width().setDefaultValue(suggestion.width);
    edos.contrast().setDefaultValue(suggestion.contrast);
    edos.texture().setDefaultValue(suggestion.texture);
    if (flag == 1 && !keepsOptions())
        edos.setDefaultAll();
    edos.applyAll();
    edos.storeAll();
    emit sessionHasBegun();
}

void GmModel::closeSession(KsSourceImage* oldSource, KsSourceImage* oldOutput)
{
    QObject::disconnect(m_closureConnection);
    m_closureConnection = {};
    DravikThread* thread = DravikThread::instance();
    // A session still waiting for the queue to drain will not open: the thread takes the
    // closing commands again.
    if (m_waitingForClosure && thread)
        thread->setAccepting(true);
    endWaitForClosure();
    if (thread)
        thread->cancelCommandsSlot();
    clearTestRenderRect();
    resetArrowTargets();
    DvSession* session = m_segmentation->session();
    DvSession* analysisSession = m_segmentation->analysisSession();
    if (session || analysisSession) {
        m_segmentation->setSession(nullptr);
        m_segmentation->setAnalysisSession(nullptr);
        m_segmentation->sessionChanged();
    }
    auto* end = new DvCmdEndSession(this, session, analysisSession, oldSource, oldOutput);
    end->setResetsUndoCounts(true);
    // A session still being begun is taken from the record when its end comes to run.
    if (!session && !analysisSession && m_pendingBeginSession)
        end->setLateRecord(m_segmentation);
    if (session || analysisSession || m_pendingBeginSession || oldSource || oldOutput)
        submit(end);
    else
        delete end;
    if (m_statusArray->engineStatusImage() || m_pendingNewStatusImage)
        submit(new DvCmdDeleteStatusImage(this));
}

bool GmModel::closeImage()
{
    if (!m_source)
        return true;
    deleteAllArrowTargets();
    m_forcedEdgesChanged = false;
    if (keepsImages()) {
        closeSession(nullptr, nullptr);
    } else {
        closeSession(m_source, m_output);
        m_source = nullptr;
        m_output = nullptr;
    }
    // A library still being started is finished too: the finish takes the handle when it runs.
    if (m_library || m_pendingInit)
        submit(new DvCmdFinish(this));
    emit tellImageChanged(nullptr);
    m_loadState = 0;
    return true;
}

void GmModel::setStatusImage(DvImage* record)
{
    m_statusArray->setStatusImage(record);
    emit statusImageChanged(m_statusArray->statusImage());
}

bool GmModel::isUnmodified() const
{
    if (!m_patches.isEmpty() || !m_forcedEdges.isEmpty())
        return false;
    switch (m_loadState) {
    case 0:
        return true;
    case 1:
        return m_undoCount == 0 && m_redoCount == 0;
    case 2:
        return m_undoCount <= 1 && m_redoCount == 0;
    default:
        return false;
    }
}

void GmModel::changeResolution(int divisor)
{
    const int old = m_resolution;
    if (!m_source) {
        m_resolution = divisor;
        emit resolutionChanged(old, divisor);
        return;
    }
    if (divisor == old) {
        emit resolutionChanged(old, old);
        return;
    }
    if (m_statusArray->statusesPresent() & kMarkClasses) {
        const QMessageBox::StandardButton answer = Prompt::question(
            CommandHooks::mainWindow(), tr("Confirm change of resolution"),
            tr("<p>When changing resolution, the image will be reverted, and masks laid down in the "
               "workspace will be lost.</p><p>Do you wish to continue?</p>"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            emit resolutionChanged(old, old);
            return;
        }
    }
    closeSession(nullptr, nullptr);
    m_resolution = divisor;
    openSession(1);
    emit resolutionChanged(old, divisor);
}

QColor GmModel::colourAt(const ImagePointF& point) const
{
    if (!m_source)
        return Qt::black;
    const QImage& working = m_source->workingImage();
    const double d = m_resolution;
    const double x = std::floor(point.x() / d);
    const double y = std::floor(point.y() / d);
    if (working.isNull() || !(x >= 0 && y >= 0 && x < working.width() && y < working.height()))
        return Qt::black;
    return QColor::fromRgba(working.pixel(int(x), int(y)));
}

DvImageDesc GmModel::workingPixels() const
{
    if (!m_source)
        return DvImageDesc{};
    m_source->updateWorkingImage();
    const KsSourceImage::View8& view = m_source->workingView();
    if (!view.data)
        return DvImageDesc{};
    return DvImageDesc{view.width, view.height, unsigned(view.bytesPerLine), DvPixelRgba8, view.data};
}

void GmModel::setUndoRedoCounts(int undo, int redo)
{
    m_undoCount = undo;
    m_redoCount = redo;
    emit dvUndoStackChanged(undo, redo);
}

void GmModel::statusRefresh()
{
    m_statusArray->refresh();
    signalDirtyImageSlot(DirtyHintNone);
}

void GmModel::signalDirtyImageSlot(int hint)
{
    if (m_source)
        emit rectDirty(QRectF(0, 0, m_source->width(), m_source->height()), DirtyHint(hint));
}

void GmModel::signalDirtyOutputImageSlot()
{
    if (!m_output)
        return;
    m_output->setPixmapDirty();
    emit rectDirty(QRectF(0, 0, m_output->width(), m_output->height()));
    emit cutoutChanged();
}

void GmModel::autoFillImageSlot()
{
    submit(new DvCmdAutoFill(this, 0));
}

void GmModel::autoFillImageWithKeepSlot()
{
    submit(new DvCmdAutoFill(this, 4));
}

void GmModel::autoFillImageWithDeleteSlot()
{
    submit(new DvCmdAutoFill(this, 2));
}

void GmModel::generateMaskSlot()
{
    CommandHooks::ensureTab(CommandHooks::CutoutTab);
    submit(new DvCmdGenerateMask(this));
}

void GmModel::cleanSelection(int classes)
{
    submit(new DvCmdDespeckleSelection(this, classes));
}

void GmModel::dirtyRectSlot(const ImageRectF& rect)
{
    emit rectDirty(rect);
}

void GmModel::signalDirtyHighlightArea()
{
    // Without an active patch the highlight may lie anywhere.
    if (m_activeRegion)
        emit rectDirty(boundsOf(m_activeRegion));
    else
        signalDirtyImageSlot(DirtyHintNone);
}

void GmModel::markRectsDirty(const QRectF& a, const QRectF& b)
{
    const bool aValid = a.width() >= 0 && a.height() >= 0;
    const bool bValid = b.width() >= 0 && b.height() >= 0;
    if (aValid && bValid) {
        if (a.intersects(b)) {
            emit rectDirty(a.united(b));
        } else {
            emit rectDirty(a);
            emit rectDirty(b);
        }
    } else if (aValid) {
        emit rectDirty(a);
    } else if (bValid) {
        emit rectDirty(b);
    }
}

void GmModel::beginZoomRect(const ImagePointF& point)
{
    delete m_zoomRect;
    m_zoomRect = new ks::Rectangle(point);
}

void GmModel::clearZoomRect()
{
    clearRubberBand(m_zoomRect);
}

void GmModel::beginTestRenderRect(const ImagePointF& point)
{
    delete m_testRenderRect;
    m_testRenderRect = new ks::Rectangle(point);
}

void GmModel::clearTestRenderRect()
{
    clearRubberBand(m_testRenderRect);
}

void GmModel::clearRubberBand(ks::Rectangle*& band)
{
    if (!band)
        return;
    const QRectF bounds = band->boundingRect();
    if (!bounds.isEmpty())
        emit rectDirty(bounds);
    delete band;
    band = nullptr;
}

// --- patches and forced edges --------------------------------------------------------------

void GmModel::createPatchActions()
{
    const auto make = [this](const QString& text) {
        auto* action = new GmAction(text, this);
        action->setEnabled(false);
        return action;
    };
    m_deletePatchAction = make(tr("Delete Patch"));
    connect(m_deletePatchAction, &QAction::triggered, this, &GmModel::deleteActiveRegionSlot);
    m_deleteForcedEdgeAction = make(tr("Delete Forced Edge"));
    connect(m_deleteForcedEdgeAction, &QAction::triggered, this, &GmModel::deleteActiveForcedEdgeSlot);
    m_clearMaskAction = make(tr("Erase Mask in Patch"));
    connect(m_clearMaskAction, &QAction::triggered, this, &GmModel::clearMaskInActiveRegionSlot);
    m_protectAction = make(tr("Protect Patch"));
    m_protectAction->setCheckable(true);
    connect(m_protectAction, &QAction::triggered, this, &GmModel::protectActiveRegionSlot);
    m_autoFillKeepAction = make(tr("Auto-Fill Patch with &Keep"));
    connect(m_autoFillKeepAction, &QAction::triggered, this, &GmModel::autoFillWithKeepSlot);
    m_autoFillDeleteAction = make(tr("Auto-Fill Patch with &Delete"));
    connect(m_autoFillDeleteAction, &QAction::triggered, this, &GmModel::autoFillWithDeleteSlot);
    m_previewAction = new GmAction(QIcon(QStringLiteral(":images/tool_mark_preview.png")),
                                   tr("Preview Cut-out in Patch"), this);
    m_previewAction->setEnabled(false);
    connect(m_previewAction, &QAction::triggered, this, &GmModel::testRenderActiveRegionSlot);
}

void GmModel::updatePatchActions(GmRegion* patch)
{
    const bool exists = patch != nullptr;
    const bool open = exists && !patch->isProtected();
    m_deletePatchAction->setEnabled(exists);
    m_clearMaskAction->setEnabled(open);
    m_autoFillKeepAction->setEnabled(open);
    m_autoFillDeleteAction->setEnabled(open);
    m_protectAction->setEnabled(exists);
    m_protectAction->setChecked(exists && patch->isProtected());
    m_previewAction->setEnabled(exists && patch->canTestRender());
}

void GmModel::updateDeleteShortcut(ArrowTarget* target)
{
    if (!target)
        return;
    const QKeySequence deleteKey(tr("Delete"));
    if (target->isForcedEdge()) {
        m_deletePatchAction->setShortcut(QKeySequence());
        m_deleteForcedEdgeAction->setShortcut(deleteKey);
    } else {
        m_deleteForcedEdgeAction->setShortcut(QKeySequence());
        m_deletePatchAction->setShortcut(deleteKey);
    }
}

QList<ArrowTarget*> GmModel::arrowTargets() const
{
    QList<ArrowTarget*> targets;
    targets.reserve(m_patches.size() + m_forcedEdges.size());
    for (GmRegion* patch : m_patches)
        targets.append(patch);
    for (ForcedEdge* edge : m_forcedEdges)
        targets.append(edge);
    return targets;
}

void GmModel::addRegion(GmRegion* patch)
{
    if (patch && !m_patches.contains(patch))
        m_patches.append(patch);
}

void GmModel::addForcedEdge(ForcedEdge* edge)
{
    if (edge && !m_forcedEdges.contains(edge))
        m_forcedEdges.append(edge);
}

void GmModel::forgetArrowTarget(ArrowTarget* target)
{
    for (int i = m_patches.size() - 1; i >= 0; --i)
        if (static_cast<ArrowTarget*>(m_patches[i]) == target)
            m_patches.removeAt(i);
    for (int i = m_forcedEdges.size() - 1; i >= 0; --i)
        if (static_cast<ArrowTarget*>(m_forcedEdges[i]) == target)
            m_forcedEdges.removeAt(i);
    if (m_activeRegion && static_cast<ArrowTarget*>(m_activeRegion) == target)
        m_activeRegion = nullptr;
    if (m_activeForcedEdge && static_cast<ArrowTarget*>(m_activeForcedEdge) == target)
        m_activeForcedEdge = nullptr;
}

GmRegion* GmModel::setActiveRegion(GmRegion* patch, int emitReady)
{
    if (patch)
        setActiveForcedEdge(nullptr);
    GmRegion* old = m_activeRegion;
    if (patch != old) {
        if (patch && m_patches.removeOne(patch))
            m_patches.append(patch);
        m_activeRegion = patch;
        emit activeRegionChanged(patch);
        updatePatchActions(patch);
        updateDeleteShortcut(patch);
        // The canvas shows the edges of the patch's own analysis instead of the image's.
        GmRegion* either = patch ? patch : old;
        if ((!patch || !old) && g_edgePanelVisibleHook && g_edgePanelVisibleHook() && either->hasOwnSegmentation()
            && m_segmentation->analysisSession())
            signalDirtyImageSlot(DirtyHintNone);
        markRectsDirty(boundsOf(old), boundsOf(patch));
    } else if (patch) {
        emit activeRegionChanged(patch);
    }
    if (!patch && emitReady == 1)
        emit activeRegionReady(nullptr);
    return old;
}

void GmModel::setActiveForcedEdge(ForcedEdge* edge)
{
    if (edge)
        setActiveRegion(nullptr, 1);
    if (edge == m_activeForcedEdge)
        return;
    ForcedEdge* old = m_activeForcedEdge;
    m_activeForcedEdge = edge;
    m_deleteForcedEdgeAction->setEnabled(edge != nullptr);
    markRectsDirty(boundsOf(old), boundsOf(edge));
    updateDeleteShortcut(edge);
}

void GmModel::emitActiveRegionReady()
{
    emit activeRegionReady(m_activeRegion);
}

void GmModel::deleteRegion(GmRegion* patch)
{
    if (!patch)
        patch = m_activeRegion;
    if (!patch || !m_patches.contains(patch))
        return;
    if (g_forgetDragHook)
        g_forgetDragHook(patch);
    patch->cancelPendingCommands();
    m_patches.removeOne(patch);
    patch->deactivate();
    const QRectF bounds = boundsOf(patch);
    if (!bounds.isEmpty())
        emit rectDirty(bounds, DirtyHintHandles);
    // From here on the patch belongs to the command that ends its sessions.
    patch->reset(patch);
}

void GmModel::deleteForcedEdge(ForcedEdge* edge)
{
    if (!edge || !m_forcedEdges.contains(edge))
        return;
    if (g_forgetDragHook)
        g_forgetDragHook(edge);
    m_forcedEdges.removeOne(edge);
    edge->deactivate();
    const QRectF bounds = boundsOf(edge);
    if (!bounds.isEmpty())
        emit rectDirty(bounds, DirtyHintHandles);
    delete edge;
}

void GmModel::deleteAllArrowTargets()
{
    while (!m_patches.isEmpty())
        deleteRegion(m_patches.first());
    while (!m_forcedEdges.isEmpty())
        deleteForcedEdge(m_forcedEdges.first());
}

void GmModel::resetArrowTargets()
{
    const QList<GmRegion*> patches = m_patches;
    for (GmRegion* patch : patches)
        patch->reset(nullptr);
    for (ForcedEdge* edge : m_forcedEdges)
        edge->reset();
    // A stroke's mask belongs to the working resolution it was painted at.
    for (GmRegion* patch : patches)
        if (patch->isBrushRegion())
            deleteRegion(patch);
}

void GmModel::reapplyProtections()
{
    submit(new DvCmdSelect(this, static_cast<GmRegion*>(nullptr), 32, 1));
    for (GmRegion* patch : m_patches) {
        if (!patch->isProtected())
            continue;
        auto* protect = new DvCmdProtect(this, patch);
        patch->trackCommand(protect);
        submit(protect);
    }
}

void GmModel::resubmitForcedEdges()
{
    m_forcedEdgesChanged = false;
    submit(new DvCmdSelect(this, static_cast<GmRegion*>(nullptr), 16, 1));
    for (ForcedEdge* edge : m_forcedEdges)
        submit(new DvCmdSelect(this, edge));
}

void GmModel::revertMask()
{
    if (m_source && m_output && m_output != m_source) {
        if (!copyPixels(m_source->fullResolutionPixels(), m_output->fullResolutionPixels()))
            qWarning("GmModel::revertMask: the cut-out does not match the source image");
        signalDirtyOutputImageSlot();
    }
    for (GmRegion* patch : m_patches)
        patch->shape()->pixelState()->clearSnapshot();
}

void GmModel::savePatchResult(GmRegion* patch)
{
    const QImage* status = m_statusArray->statusImage();
    if (!patch || !status)
        return;
    PixelState* state = patch->filledMask();
    state->savemask(*status);
    if (!state->isSaved())
        return;
    state->setKey(patch->blending().options().toMap());
    for (GmRegion* other : m_patches)
        if (other != patch)
            other->filledMask()->copySavedFrom(*state);
}

void GmModel::deleteActiveRegionSlot()
{
    if (m_activeRegion)
        deleteRegion(m_activeRegion);
}

void GmModel::deleteActiveForcedEdgeSlot()
{
    if (!m_activeForcedEdge)
        return;
    deleteForcedEdge(m_activeForcedEdge);
    resubmitForcedEdges();
}

void GmModel::clearMaskInActiveRegionSlot()
{
    CommandHooks::ensureTab(CommandHooks::WorkspaceTab);
    // Without a patch the command would erase the whole image.
    if (!m_activeRegion)
        return;
    auto* clear = new DvCmdSelect(this, m_activeRegion, 14, 1);
    m_activeRegion->trackCommand(clear);
    submit(clear);
}

void GmModel::protectActiveRegionSlot()
{
    if (!m_activeRegion)
        return;
    m_activeRegion->setProtected(!m_activeRegion->isProtected());
    updatePatchActions(m_activeRegion);
}

void GmModel::autoFillWithKeepSlot()
{
    if (!m_activeRegion)
        return;
    auto* fill = new DvCmdAutoFill(this, m_activeRegion, 4);
    m_activeRegion->trackCommand(fill);
    submit(fill);
}

void GmModel::autoFillWithDeleteSlot()
{
    if (!m_activeRegion)
        return;
    auto* fill = new DvCmdAutoFill(this, m_activeRegion, 2);
    m_activeRegion->trackCommand(fill);
    submit(fill);
}

void GmModel::testRenderActiveRegionSlot()
{
    if (m_activeRegion && m_activeRegion->canTestRender())
        m_activeRegion->testRender();
}

// --- project map ---------------------------------------------------------------------------

QVariantMap GmModel::saveToVariant() const
{
    QVariantMap map;
    if (m_source)
        map.insert(sourceKey, m_source->toVariant());
    if (m_output)
        map.insert(outputKey, m_output->toVariant());
    // The snapshot is the statuses as of the last change, readable while the engine works. The
    // stored table is a grey ramp: the picture then carries the status bytes as they are.
    QImage status = m_statusArray->snapshot();
    if (status.isNull())
        status = m_statusArray->pendingStatusImage();
    map.insert(statusKey, statusBytes(status));
    map.insert(smegKey, m_segmentation->toVariant());
    map.insert(blendageKey, m_blending->toVariant());
    map.insert(resolutionKey, m_resolution);
    QVariantList targets;
    for (ArrowTarget* target : arrowTargets()) {
        QVariant entry;
        target->toVariant(entry);
        targets.append(entry);
    }
    map.insert(arrowTargetsKey, targets);
    return map;
}

bool GmModel::storedPicturesUsable(const QList<ProjectStreamCheck::Picture>& pictures,
                                   imagememory::Shortage* shortage) const
{
    const auto refuse = [](const char* why) {
        qWarning("GmModel: the project's %s; it is refused before it is read", why);
        return false;
    };
    const auto find = [&pictures](const QString& documentKey, const QString& key) -> const ProjectStreamCheck::Picture* {
        for (const ProjectStreamCheck::Picture& picture : pictures)
            if (picture.documentKey == documentKey && picture.key == key)
                return &picture;
        return nullptr;
    };
    const QString imageKey = QStringLiteral("imageImage_");
    const ProjectStreamCheck::Picture* source = find(sourceKey, imageKey);
    const ProjectStreamCheck::Picture* output = find(outputKey, imageKey);
    const ProjectStreamCheck::Picture* status = find(statusKey, statusKey);

    // Started by a host or to edit a file in place, the document keeps the image it has.
    const bool keepImages = keepsImages();
    qint64 width = 0;
    qint64 height = 0;
    if (keepImages) {
        if (m_source && m_source->isValid()) {
            width = m_source->width();
            height = m_source->height();
        }
    } else if (source || output) {
        if (source && output && (source->width != output->width || source->height != output->height))
            return refuse("cut-out and source images differ in size");
        width = (source ? source : output)->width;
        height = (source ? source : output)->height;
    }
    if (status && width > 0) {
        bool fits = false;
        for (int divisor = 1; divisor <= kMaxDivisor && !fits; divisor *= 2)
            fits = status->width == (width + divisor - 1) / divisor && status->height == (height + divisor - 1) / divisor;
        if (!fits)
            return refuse("status image fits its image at no workspace resolution");
    }

    // Reading the document decodes its pictures, which it holds until the images are made
    // from them; images kept as PNG files are weighed once their sizes are known.
    quint64 needed = 0;
    for (const ProjectStreamCheck::Picture& picture : pictures)
        needed += picture.decodedBytes;
    const bool decodesImages = (source && source->decoded) || (output && output->decoded);
    if (!keepImages && decodesImages)
        needed += imagememory::toOpen(width, height, imagememory::Held::Own8Bit);
    // Without an image of its own the message names the largest picture.
    if (width <= 0)
        for (const ProjectStreamCheck::Picture& picture : pictures)
            if (picture.width * picture.height > width * height) {
                width = picture.width;
                height = picture.height;
            }
    const imagememory::Shortage lack = imagememory::weigh(width, height, needed);
    if (lack.isSet()) {
        if (shortage)
            *shortage = lack;
        return refuse("pictures do not fit in the memory available");
    }
    return true;
}

bool GmModel::loadFromVariant(const QVariant& variant, imagememory::Shortage* shortage)
{
    const auto refuse = [](const char* why) {
        qWarning("GmModel::loadFromVariant: %s; the project is not loaded", why);
        return false;
    };
    if (!variant.canConvert<QVariantMap>())
        return refuse("the document is not a map");
    const QVariantMap map = variant.toMap();

    bool ok = false;
    const int divisor = map.value(resolutionKey).toInt(&ok);
    if (!ok || (divisor != 1 && divisor != 2 && divisor != 4 && divisor != 8))
        return refuse("the workspace resolution is not 1, 2, 4 or 8");

    // Started by a host or to edit a file in place, the document keeps the images it has.
    const bool keepImages = keepsImages();
    // The images' sizes come from their stored headers, so that images that cannot belong to
    // the document are refused before their pixels are decoded.
    QSize imageSize;
    int sourceKind = KsSourceImage::MasterDisplayImage;
    int outputKind = KsSourceImage::MasterDisplayImage;
    const bool hasOutput = map.contains(outputKey);
    if (keepImages) {
        if (!m_source || !m_source->isValid())
            return refuse("there is no image to load the project onto");
        imageSize = QSize(m_source->width(), m_source->height());
    } else {
        if (!map.contains(sourceKey))
            return refuse("it holds no source image");
        if (!KsSourceImage::storedLayout(map.value(sourceKey), imageSize, sourceKind))
            return refuse("its source image cannot be read");
        outputKind = sourceKind;
        QSize outputSize;
        if (hasOutput) {
            if (!KsSourceImage::storedLayout(map.value(outputKey), outputSize, outputKind))
                return refuse("its cut-out image cannot be read");
            if (outputSize != imageSize)
                return refuse("its cut-out and source images differ in size");
        }
    }
    const QSize working((imageSize.width() + divisor - 1) / divisor, (imageSize.height() + divisor - 1) / divisor);

    QImage status;
    if (map.contains(statusKey)) {
        const QImage stored = map.value(statusKey).value<QImage>();
        if (!stored.isNull()) {
            status = statusBytes(stored);
            if (status.isNull())
                return refuse("its status image is not one byte a pixel");
            if (status.size() != working)
                return refuse("its status image does not fit the image at its resolution");
        }
    }

    const SegmentationStuff segmentation(map.value(smegKey), nullptr);
    const BlendingStuff blending(map.value(blendageKey));

    std::vector<std::unique_ptr<ArrowTarget>> targets;
    bool shapesUsable = true;
    for (const QVariant& entry : map.value(arrowTargetsKey).toList()) {
        std::unique_ptr<ArrowTarget> target(createArrowTargetFromVariant(entry));
        if (!target) {
            qWarning("GmModel::loadFromVariant: skipped an object of unknown type");
            continue;
        }
        if (!isFinite(target->shape()->boundingRect())) {
            shapesUsable = false;
            break;
        }
        targets.push_back(std::move(target));
    }
    if (!shapesUsable)
        return refuse("a patch or forced edge has coordinates that are not numbers");

    // The pixels last, once everything else is known to be usable.
    std::unique_ptr<KsSourceImage> source;
    std::unique_ptr<KsSourceImage> output;
    if (!keepImages) {
        const auto held = [](int kind) {
            return kind == KsSourceImage::Master16Bit ? imagememory::Held::Own16Bit : imagememory::Held::Own8Bit;
        };
        const qint64 width = imageSize.width();
        const qint64 height = imageSize.height();
        const quint64 needed = imagememory::toHold(width, height, held(sourceKind))
                               + imagememory::toHold(width, height, held(outputKind))
                               + imagememory::toWork(width, height);
        const imagememory::Shortage lack = imagememory::weigh(width, height, needed);
        if (lack.isSet()) {
            if (shortage)
                *shortage = lack;
            return refuse("its images do not fit in the memory available");
        }
        const auto lacked = [&](const char* why) {
            if (shortage)
                *shortage = imagememory::allocationFailed(width, height, needed);
            return refuse(why);
        };
        source = std::make_unique<KsSourceImage>(map.value(sourceKey));
        if (!source->isValid())
            return source->lackedMemory() ? lacked("there is not enough memory for its source image")
                                          : refuse("its source image cannot be read");
        if (hasOutput) {
            output = std::make_unique<KsSourceImage>(map.value(outputKey));
            if (!output->isValid())
                return output->lackedMemory() ? lacked("there is not enough memory for its cut-out image")
                                              : refuse("its cut-out image cannot be read");
        }
    }

    // Everything is usable: the open document goes, the loaded one comes.
    closeImage();
    if (divisor != m_resolution) {
        const int oldDivisor = m_resolution;
        m_resolution = divisor;
        emit resolutionChanged(oldDivisor, divisor);
    }
    if (!keepImages) {
        m_source = source.release();
        m_output = output ? output.release() : new KsSourceImage(*m_source);
    }
    if (!status.isNull())
        m_statusArray->setPendingStatusImage(status);
    m_segmentation->edos().assign(segmentation.edos());
    m_segmentation->setChecked(segmentation.isChecked());
    m_blending->options().assign(blending.options());
    for (std::unique_ptr<ArrowTarget>& target : targets) {
        if (GmRegion* patch = target->asRegion())
            m_patches.append(patch);
        else if (ForcedEdge* edge = target->asForcedEdge())
            m_forcedEdges.append(edge);
        else
            continue;
        target.release();
    }
    return setImage(0, 2, nullptr, nullptr);
}
