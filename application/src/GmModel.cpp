#include "GmModel.h"

#include "BlendingStuff.h"
#include "CommandHooks.h"
#include "DravikThread.h"
#include "DvCmdAutoFill.h"
#include "DvCmdBeginSession.h"
#include "DvCmdDeleteStatusImage.h"
#include "DvCmdDespeckleSelection.h"
#include "DvCmdEndSession.h"
#include "DvCmdFinish.h"
#include "DvCmdGenerateMask.h"
#include "DvCmdInit.h"
#include "DvCmdNewStatusImage.h"
#include "DvCmdNumAvailableUndoRedo.h"
#include "GmStatusArray.h"
#include "KsApp.h"
#include "KsAppPreferences.h"
#include "KsMainWindow.h"
#include "KsSourceImage.h"
#include "Prompt.h"
#include "Rectangle.h"
#include "SegmentationStuff.h"

#include <QApplication>
#include <QCursor>
#include <QtMath>

#include <cmath>

namespace {

GmModel* g_instance = nullptr;
GmModel::ImageInstalledHook g_imageInstalledHook;

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
    const KsApp* app = KsApp::instance();
    const int mode = app ? int(app->launchMode()) : 0;
    return mode >= 1 && mode <= 4;
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
}

GmModel::~GmModel()
{
    QObject::disconnect(m_closureConnection);
    endWaitForClosure();
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

void GmModel::chooseResolutionForPixelCount(qint64 pixelCount)
{
    int divisor = 1;
    while (divisor < kMaxDivisor && pixelCount / divisor > kMaxWorkingPixels)
        divisor *= 2;
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
    if (!m_source) {
        if (!source || !source->isValid()) {
            // Refused images are the model's all the same: nobody else would delete them.
            if (output != source)
                delete output;
            delete source;
            m_source = nullptr;
            m_output = nullptr;
            return false;
        }
        m_source = source;
        m_output = output ? output : new KsSourceImage(*source);
    }
    if (!m_source || !m_source->isValid() || !m_output || !m_output->isValid()) {
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
                if (KsMainWindow* window = KsMainWindow::instance())
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
    emit tellImageChanged(m_source);
}

void GmModel::endWaitForClosure()
{
    if (!m_waitingForClosure)
        return;
    m_waitingForClosure = false;
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        QApplication::restoreOverrideCursor();
    if (KsMainWindow* window = KsMainWindow::instance())
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
            KsMainWindow::instance(), tr("Confirm change of resolution"),
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
    // Without patches the highlight may lie anywhere.
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
