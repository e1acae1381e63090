// The document's image and session life cycle through the real engine on a photograph: the
// session commands, status images, undo and redo, the wait for a busy engine, the change of
// resolution and the close.

#include "document/GmModel.h"
#include "document/GmStatusArray.h"
#include "document/KsAppPreferences.h"
#include "document/KsSourceImage.h"
#include "document/SegmentationStuff.h"
#include "engine/DravikCommand.h"
#include "engine/DravikThread.h"
#include "engine/DvCmdBeginSession.h"
#include "engine/DvCmdInit.h"
#include "engine/DvCmdRedo.h"
#include "engine/DvCmdSetStatus.h"
#include "engine/DvCmdUndo.h"
#include "shell/KsApp.h"
#include "shell/KsMainWindow.h"

#include "HoldCommand.h"
#include "LogCapture.h"
#include "ModelImage.h"
#include "ScriptedPrompt.h"
#include "EngineDocument.h"
#include "Wait.h"

#include "dravik.h"

#include <QApplication>
#include <QPointer>
#include <QSignalSpy>
#include <QSlider>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>

using testsupport::LogCapture;
using testsupport::ScriptedPrompt;
using testsupport::waitUntil;

namespace {

const QString photoPath = QStringLiteral(KESTRINE_TEST_DATA "/chelsea.png");
const QSize photoSize(451, 300);

// Keep on the left half, Unassigned on the right.
QImage keepHalf(QSize size)
{
    QImage status(size, QImage::Format_Indexed8);
    status.setColorCount(256);
    for (int y = 0; y < size.height(); ++y) {
        uchar* row = status.scanLine(y);
        for (int x = 0; x < size.width(); ++x)
            row[x] = x < size.width() / 2 ? 2 : 1;
    }
    return status;
}

QByteArray bytesOf(const QImage& image)
{
    QByteArray bytes;
    for (int y = 0; y < image.height(); ++y)
        bytes.append(reinterpret_cast<const char*>(image.constScanLine(y)), image.width());
    return bytes;
}

class ModelSessionTest : public testsupport::EngineDocument {
protected:
    void SetUp() override
    {
        EngineDocument::SetUp();
        listen();
    }

    void listen()
    {
        QObject::connect(m_thread.get(), &DravikThread::commandFinished, m_thread.get(),
                         [this](DravikCommand* command) { m_finished.append(command->description()); });
        QObject::connect(m_model, &GmModel::dvUndoStackChanged, m_thread.get(),
                         [this](int undo, int redo) { m_undoStack.append({undo, redo}); });
    }

    // The main window that the model disables while it waits. The window makes an engine
    // worker of its own; the test's is made again after it, so that the model goes on using
    // the test's. The window goes after the fixture's tear-down.
    KsMainWindow& mainWindow()
    {
        m_window = std::make_unique<KsMainWindow>();
        m_thread = std::make_unique<DravikThread>();
        listen();
        return *m_window;
    }

    // At full resolution, with the lists of what came before cleared.
    void open()
    {
        ASSERT_TRUE(m_model->setImage(1, 1, new KsSourceImage(photoPath), nullptr));
        ASSERT_TRUE(idle());
        ASSERT_NE(m_model->statusArray()->statusImage(), nullptr);
        m_finished.clear();
        m_undoStack.clear();
    }

    QSize workingSize() const { return m_model->source()->workingImage().size(); }

    QStringList m_finished;
    QList<QPair<int, int>> m_undoStack;
    std::unique_ptr<KsMainWindow> m_window;
};

TEST_F(ModelSessionTest, OpeningAnImageStartsTheEngineAndASession)
{
    QSignalSpy begun(m_model, &GmModel::sessionHasBegun);
    QObject listening;
    QList<const KsSourceImage*> imageChanged;
    QObject::connect(m_model, &GmModel::tellImageChanged, &listening,
                     [&](const KsSourceImage* image) { imageChanged.append(image); });
    auto* source = new KsSourceImage(photoPath);
    ASSERT_TRUE(m_model->setImage(1, 1, source, nullptr));
    ASSERT_TRUE(idle());

    EXPECT_EQ(m_finished, (QStringList{"Initializing...", "Creating New Status Image...", "Beginning Session..."}));
    EXPECT_EQ(m_model->source(), source);
    ASSERT_NE(m_model->output(), nullptr);
    EXPECT_NE(m_model->output(), source);
    EXPECT_EQ(m_model->output()->qImage(), source->qImage());
    EXPECT_EQ(m_model->loadState(), 1);
    EXPECT_EQ(m_model->resolution(), 1);
    EXPECT_NE(m_model->library(), nullptr);
    EXPECT_TRUE(m_model->segmentation()->isChecked());
    EXPECT_EQ(imageChanged.count(), 1);

    const DvSession* session = m_model->segmentation()->session();
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(m_model->segmentation()->analysisSession(), session);
    ASSERT_EQ(begun.count(), 1);
    const EDOs& edos = m_model->segmentation()->edos();
    const int sensitivity = int(std::lround(session->sensitivity * 99.0 + 1.0));
    EXPECT_EQ(edos.sensitivity().defaultValue(), sensitivity);
    EXPECT_EQ(edos.width().defaultValue(), session->edgeWidth);
    EXPECT_EQ(edos.contrast().defaultValue(), session->edgeContrast);
    EXPECT_EQ(edos.texture().defaultValue(), session->texture);
    for (const GmValue<int>* value : {&edos.sensitivity(), &edos.width(), &edos.contrast(), &edos.texture()}) {
        EXPECT_EQ(value->current(), value->defaultValue());
        EXPECT_EQ(value->applied(), value->current());
        EXPECT_EQ(value->stored(), value->applied());
    }

    // An opaque photograph: every pixel starts Unassigned.
    EXPECT_EQ(m_model->statusArray()->statusesPresent(), 1);
    EXPECT_EQ(m_model->statusArray()->statusImage()->size(), photoSize);
    EXPECT_EQ(m_model->statusArray()->statusImage()->constBits(), m_model->statusArray()->engineStatusImage()->data);
}

TEST_F(ModelSessionTest, KeptOptionsSurviveANewSession)
{
    m_preferences->setPersistOptions(true);
    m_model->segmentation()->edos().sensitivity().setCurrent(77);
    open();
    const EDOs& edos = m_model->segmentation()->edos();
    EXPECT_EQ(edos.sensitivity().current(), 77);
    EXPECT_EQ(edos.sensitivity().applied(), 77);
    EXPECT_EQ(edos.sensitivity().stored(), 77);
    EXPECT_EQ(edos.sensitivity().defaultValue(),
              int(std::lround(m_model->segmentation()->session()->sensitivity * 99.0 + 1.0)));
}

TEST_F(ModelSessionTest, AnInvalidSourceLeavesTheModelEmpty)
{
    LogCapture log;
    ScriptedPrompt prompts;
    EXPECT_FALSE(m_model->setImage(1, 1, new KsSourceImage(QStringLiteral("/nonexistent/file.png")), nullptr));
    EXPECT_EQ(m_model->source(), nullptr);
    EXPECT_EQ(m_model->output(), nullptr);
    EXPECT_TRUE(m_thread->isQueueEmpty());
    EXPECT_FALSE(m_thread->isBusy());
}

TEST_F(ModelSessionTest, ASourceRefusedForItsOutputIsDeletedWithIt)
{
    LogCapture log;
    ScriptedPrompt prompts;
    QPointer<KsSourceImage> source = new KsSourceImage(photoPath);
    QPointer<KsSourceImage> output = new KsSourceImage(QStringLiteral("/nonexistent/file.png"));
    ASSERT_TRUE(source->isValid());
    EXPECT_FALSE(m_model->setImage(1, 1, source, output));
    EXPECT_EQ(m_model->source(), nullptr);
    EXPECT_EQ(m_model->output(), nullptr);
    EXPECT_TRUE(source.isNull());
    EXPECT_TRUE(output.isNull());
}

TEST_F(ModelSessionTest, SetStatusIsOneUndoStepThatUndoAndRedoFollow)
{
    open();
    m_model->statusArray();
    const QByteArray before = statusBytes();
    const QImage keep = keepHalf(workingSize());
    QSlider slider;
    slider.setRange(0, 100);
    GmStatusArray::setOpacitySliderLookup([&] { return &slider; });

    submit(new DvCmdSetStatus(m_model, keep));
    EXPECT_EQ(m_model->statusArray()->statusesPresent(), 3);
    EXPECT_EQ(m_undoStack, (QList<QPair<int, int>>{{1, 0}}));
    EXPECT_EQ(statusBytes(), bytesOf(keep));
    EXPECT_EQ(m_model->statusArray()->statusImage()->constBits(), m_model->statusArray()->engineStatusImage()->data);

    slider.setValue(20);
    m_model->statusArray()->opacityChanged(20);
    EXPECT_EQ(m_model->statusArray()->statusImage()->constBits(), m_model->statusArray()->engineStatusImage()->data);

    submit(new DvCmdUndo(m_model));
    EXPECT_EQ(m_undoStack.last(), qMakePair(0, 1));
    EXPECT_EQ(statusBytes(), before);
    EXPECT_EQ(m_model->statusArray()->statusesPresent(), 1);
    EXPECT_EQ(m_model->statusArray()->snapshot().constBits() != nullptr, true);
    EXPECT_EQ(bytesOf(m_model->statusArray()->snapshot()), before);

    submit(new DvCmdRedo(m_model));
    EXPECT_EQ(m_undoStack.last(), qMakePair(1, 0));
    EXPECT_EQ(statusBytes(), bytesOf(keep));
    EXPECT_EQ(m_model->undoCount(), 1);
    EXPECT_EQ(m_model->redoCount(), 0);
    GmStatusArray::setOpacitySliderLookup(nullptr);
}

TEST_F(ModelSessionTest, AStatusImageOfTheWrongShapeIsRefused)
{
    open();
    const QByteArray before = statusBytes();
    LogCapture log;
    submit(new DvCmdSetStatus(m_model, keepHalf(workingSize() - QSize(1, 0))));
    QImage grey = keepHalf(workingSize()).convertToFormat(QImage::Format_Grayscale8);
    submit(new DvCmdSetStatus(m_model, grey));
    int refusals = 0;
    for (const QString& line : log.lines())
        refusals += line.contains(QStringLiteral("DvCmdSetStatus: refused"));
    EXPECT_EQ(refusals, 2);
    EXPECT_EQ(statusBytes(), before);
    EXPECT_EQ(m_model->undoCount(), 0);
}

TEST_F(ModelSessionTest, AProjectsStatusImageIsSentOnceWhenTheStatusImageArrives)
{
    m_model->statusArray()->setPendingStatusImage(keepHalf(photoSize));
    open();
    EXPECT_TRUE(m_model->statusArray()->pendingStatusImage().isNull());
    EXPECT_EQ(m_model->statusArray()->statusesPresent(), 3);
    EXPECT_EQ(m_model->undoCount(), 1);
    // Nothing is sent again when a session opens anew.
    m_model->openSession(1);
    ASSERT_TRUE(idle());
    EXPECT_EQ(m_finished.count(QStringLiteral("Setting Status Image...")), 0);
}

TEST_F(ModelSessionTest, ASessionOpenedWhileTheEngineIsBusyWaitsForTheQueue)
{
    KsMainWindow& window = mainWindow();
    std::atomic<bool> release{false};
    m_thread->submit(new testsupport::HoldCommand(&release));
    ASSERT_TRUE(m_model->setImage(1, 1, new KsSourceImage(photoPath), nullptr));

    EXPECT_FALSE(window.isEnabled());
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    // Only the engine's start is queued; the session waits.
    EXPECT_EQ(m_thread->queue().size(), 1);
    EXPECT_EQ(m_model->statusArray()->engineStatusImage(), nullptr);

    release = true;
    ASSERT_TRUE(idle());
    EXPECT_TRUE(window.isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(m_thread->isAccepting());
    // The window's edge-finding panel starts the analysis once the session has begun.
    EXPECT_EQ(m_finished, (QStringList{"Hold", "Initializing...", "Creating New Status Image...", "Beginning Session...",
                                       "Finding Edges in Image..."}));
    EXPECT_NE(m_model->statusArray()->statusImage(), nullptr);
}

TEST_F(ModelSessionTest, ClosingWhileTheSessionWaitsCancelsTheWait)
{
    KsMainWindow& window = mainWindow();
    std::atomic<bool> release{false};
    m_thread->submit(new testsupport::HoldCommand(&release));
    ASSERT_TRUE(m_model->setImage(1, 1, new KsSourceImage(photoPath), nullptr));
    QPointer<KsSourceImage> source = m_model->source();
    ASSERT_FALSE(window.isEnabled());

    EXPECT_TRUE(m_model->closeImage());
    EXPECT_TRUE(window.isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(m_thread->isAccepting());
    release = true;
    ASSERT_TRUE(idle());
    EXPECT_EQ(m_finished, (QStringList{"Hold", "Initializing...", "Ending Session...", "Finishing..."}));
    EXPECT_TRUE(source.isNull());
    EXPECT_EQ(m_model->library(), nullptr);
    EXPECT_EQ(m_model->statusArray()->engineStatusImage(), nullptr);
}

TEST_F(ModelSessionTest, AThreadClosedByTheShellStaysClosed)
{
    open();
    m_thread->setAccepting(false);
    m_model->openSession(1);
    EXPECT_FALSE(m_thread->isAccepting());
    EXPECT_TRUE(m_thread->isQueueEmpty());
    m_thread->setAccepting(true);
}

TEST_F(ModelSessionTest, ChangingResolutionWithMarksAsksFirst)
{
    open();
    submit(new DvCmdSetStatus(m_model, keepHalf(workingSize())));
    m_finished.clear();
    const DvImage* statusRecord = m_model->statusArray()->engineStatusImage();
    QSignalSpy resolution(m_model, &GmModel::resolutionChanged);
    ScriptedPrompt prompts;

    prompts.answer(QMessageBox::No);
    m_model->changeResolution(2);
    ASSERT_TRUE(idle());
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_EQ(prompts.messages().at(0).title, QStringLiteral("Confirm change of resolution"));
    EXPECT_EQ(prompts.messages().at(0).defaultButton, QMessageBox::No);
    EXPECT_EQ(m_model->resolution(), 1);
    ASSERT_EQ(resolution.count(), 1);
    EXPECT_EQ(resolution.at(0), (QList<QVariant>{1, 1}));
    EXPECT_EQ(m_model->statusArray()->engineStatusImage(), statusRecord);
    EXPECT_EQ(m_model->statusArray()->statusesPresent(), 3);
    EXPECT_TRUE(m_finished.isEmpty());

    prompts.answer(QMessageBox::Yes);
    m_model->changeResolution(2);
    ASSERT_TRUE(idle());
    EXPECT_EQ(m_model->resolution(), 2);
    ASSERT_EQ(resolution.count(), 2);
    EXPECT_EQ(resolution.at(1), (QList<QVariant>{1, 2}));
    const QSize half((photoSize.width() + 1) / 2, (photoSize.height() + 1) / 2);
    EXPECT_EQ(workingSize(), half);
    ASSERT_NE(m_model->statusArray()->statusImage(), nullptr);
    EXPECT_EQ(m_model->statusArray()->statusImage()->size(), half);
    EXPECT_EQ(m_model->statusArray()->statusesPresent(), 1);
    EXPECT_EQ(m_model->undoCount(), 0);
    EXPECT_EQ(m_finished, (QStringList{"Ending Session...", "Deleting Status Image...", "Creating New Status Image...",
                                       "Beginning Session..."}));

    const QImage& working = m_model->source()->workingImage();
    EXPECT_EQ(m_model->colourAt(QPointF(101.7, 50.2)), QColor::fromRgba(working.pixel(50, 25)));
    EXPECT_EQ(m_model->colourAt(QPointF(-0.5, 3)), QColor(Qt::black));
    EXPECT_EQ(m_model->colourAt(QPointF(2 * half.width(), 3)), QColor(Qt::black));
    EXPECT_EQ(m_model->colourAt(QPointF(2 * half.width() - 0.5, 3)),
              QColor::fromRgba(working.pixel(half.width() - 1, 1)));
}

TEST_F(ModelSessionTest, ChangingResolutionWithoutMarksAsksNothing)
{
    open();
    ScriptedPrompt prompts;
    m_model->changeResolution(4);
    ASSERT_TRUE(idle());
    EXPECT_TRUE(prompts.messages().isEmpty());
    EXPECT_EQ(m_model->resolution(), 4);
    EXPECT_EQ(m_model->statusArray()->statusImage()->width(), (photoSize.width() + 3) / 4);
}

TEST_F(ModelSessionTest, ClosingStandAloneEndsEverythingAndDeletesTheImages)
{
    open();
    submit(new DvCmdSetStatus(m_model, keepHalf(workingSize())));
    m_undoStack.clear();
    m_finished.clear();
    QPointer<KsSourceImage> source = m_model->source();
    QPointer<KsSourceImage> output = m_model->output();
    QObject listening;
    QList<const KsSourceImage*> imageChanged;
    QObject::connect(m_model, &GmModel::tellImageChanged, &listening,
                     [&](const KsSourceImage* image) { imageChanged.append(image); });
    QList<const QImage*> statusImageChanged;
    QObject::connect(m_model, &GmModel::statusImageChanged, &listening,
                     [&](const QImage* image) { statusImageChanged.append(image); });

    EXPECT_TRUE(m_model->closeImage());
    // The status array lets go at once; the images stay until the engine is done with them.
    EXPECT_EQ(m_model->statusArray()->statusImage(), nullptr);
    EXPECT_EQ(m_model->source(), nullptr);
    EXPECT_EQ(m_model->loadState(), 0);
    ASSERT_EQ(imageChanged.count(), 1);
    EXPECT_EQ(imageChanged.at(0), nullptr);
    ASSERT_TRUE(idle());

    EXPECT_EQ(m_finished, (QStringList{"Ending Session...", "Deleting Status Image...", "Finishing..."}));
    EXPECT_TRUE(source.isNull());
    EXPECT_TRUE(output.isNull());
    EXPECT_EQ(m_model->library(), nullptr);
    EXPECT_EQ(m_model->segmentation()->session(), nullptr);
    EXPECT_EQ(m_model->statusArray()->engineStatusImage(), nullptr);
    EXPECT_EQ(m_model->statusArray()->statusesPresent(), 0);
    EXPECT_EQ(m_undoStack, (QList<QPair<int, int>>{{0, 0}}));
    ASSERT_GE(statusImageChanged.count(), 1);
    EXPECT_EQ(statusImageChanged.last(), nullptr);

    // Closing again with nothing open does nothing.
    EXPECT_TRUE(m_model->closeImage());
    EXPECT_TRUE(m_thread->isQueueEmpty());
}

TEST_F(ModelSessionTest, ClosingRightAfterOpeningEndsWhatIsStillBeingMade)
{
    ASSERT_TRUE(m_model->setImage(1, 1, new KsSourceImage(photoPath), nullptr));
    EXPECT_TRUE(m_model->closeImage());
    ASSERT_TRUE(idle());
    EXPECT_EQ(m_model->library(), nullptr);
    EXPECT_EQ(m_model->segmentation()->session(), nullptr);
    EXPECT_EQ(m_model->statusArray()->engineStatusImage(), nullptr);
    EXPECT_TRUE(m_finished.contains(QStringLiteral("Finishing...")));
    EXPECT_FALSE(m_thread->isLibraryDead());
}

// An engine start that got no library.
class NoLibraryInit : public DvCmdInit {
public:
    using DvCmdInit::DvCmdInit;
    void execute() override { m_result = DvLibraryDead; }
};

TEST_F(ModelSessionTest, AnEngineStartWithoutLibraryIsALibraryFault)
{
    QSignalSpy dead(m_thread.get(), &DravikThread::deadLibrary);
    submit(new NoLibraryInit(m_model));
    EXPECT_TRUE(m_thread->isLibraryDead());
    ASSERT_EQ(dead.count(), 1);
    EXPECT_EQ(dead.at(0).at(1).toString(), QStringLiteral("Dravik library fault"));
    EXPECT_EQ(m_model->library(), nullptr);
}

TEST_F(ModelSessionTest, AFailedSessionSuggestsTheDefaults)
{
    // An image but no engine library: the session cannot begin.
    testsupport::ModelImage image(40, 30, 1);
    m_model = GmModel::instance();
    EDOs& edos = m_model->segmentation()->edos();
    edos.sensitivity().setDefaultValue(10);
    edos.width().setDefaultValue(9);
    edos.contrast().setDefaultValue(0);
    edos.texture().setDefaultValue(0);
    QSignalSpy begun(m_model, &GmModel::sessionHasBegun);
    submit(new DvCmdBeginSession(m_model));
    ASSERT_EQ(begun.count(), 1);
    EXPECT_EQ(m_model->segmentation()->session(), nullptr);
    EXPECT_EQ(edos.sensitivity().defaultValue(), EDOs::defaultSensitivity);
    EXPECT_EQ(edos.width().defaultValue(), EDOs::defaultWidth);
    EXPECT_EQ(edos.contrast().defaultValue(), EDOs::defaultContrast);
    EXPECT_EQ(edos.texture().defaultValue(), EDOs::defaultTexture);
    EXPECT_EQ(edos.sensitivity().applied(), EDOs::defaultSensitivity);
}

TEST_F(ModelSessionTest, DirtySlotsAnnounceTheWholeImage)
{
    open();
    testsupport::DirtyLog dirty;
    QSignalSpy cutout(m_model, &GmModel::cutoutChanged);
    m_model->signalDirtyImageSlot(DirtyHintOutline);
    EXPECT_EQ(dirty.last(), QRectF(QPointF(0, 0), QSizeF(photoSize)));
    m_model->signalDirtyOutputImageSlot();
    EXPECT_EQ(dirty.size(), 2);
    EXPECT_EQ(dirty.last(), QRectF(QPointF(0, 0), QSizeF(photoSize)));
    EXPECT_EQ(cutout.count(), 1);
    m_model->dirtyRectSlot(QRectF(1, 2, 3, 4));
    EXPECT_EQ(dirty.last(), QRectF(1, 2, 3, 4));
}

class HostLaunch : public ModelSessionTest, public ::testing::WithParamInterface<LaunchMode> {
protected:
    // A host's launch with its document open, then closed: the images stay for the hand-back.
    void openAndClose()
    {
        m_app = std::make_unique<KsApp>(GetParam());
        open();
        m_source = m_model->source();
        m_output = m_model->output();
        EXPECT_TRUE(m_model->closeImage());
        ASSERT_TRUE(idle());
    }
    // A case cut short still lets the application go before the document's own tear-down.
    void TearDown() override
    {
        m_app.reset();
        ModelSessionTest::TearDown();
    }
    // The application object takes the model with it; the images are the hand-back's.
    void endLaunch()
    {
        m_app.reset();
        delete m_source.data();
        delete m_output.data();
    }

    std::unique_ptr<KsApp> m_app;
    QPointer<KsSourceImage> m_source;
    QPointer<KsSourceImage> m_output;
};

TEST_P(HostLaunch, ClosingKeepsTheImagesForTheHandBack)
{
    ASSERT_NO_FATAL_FAILURE(openAndClose());
    EXPECT_EQ(m_finished, (QStringList{"Ending Session...", "Deleting Status Image...", "Finishing..."}));
    ASSERT_FALSE(m_source.isNull());
    ASSERT_FALSE(m_output.isNull());
    EXPECT_EQ(m_model->source(), m_source.data());
    EXPECT_EQ(m_model->library(), nullptr);
    EXPECT_EQ(m_model->statusArray()->engineStatusImage(), nullptr);
    EXPECT_EQ(m_model->loadState(), 0);
    endLaunch();
}

TEST_P(HostLaunch, ANewImageWhileTheLaunchsAreHeldIsDeleted)
{
    ASSERT_NO_FATAL_FAILURE(openAndClose());
    // A dropped image, say: the launch's images stay the document's.
    QPointer<KsSourceImage> dropped = new KsSourceImage(photoPath);
    QPointer<KsSourceImage> droppedOutput = new KsSourceImage(*dropped);
    EXPECT_TRUE(m_model->setImage(1, 1, dropped, droppedOutput));
    EXPECT_EQ(m_model->source(), m_source.data());
    EXPECT_EQ(m_model->output(), m_output.data());
    EXPECT_TRUE(dropped.isNull());
    EXPECT_TRUE(droppedOutput.isNull());
    ASSERT_TRUE(idle());
    EXPECT_TRUE(m_model->closeImage());
    ASSERT_TRUE(idle());
    endLaunch();
}

INSTANTIATE_TEST_SUITE_P(Modes, HostLaunch, ::testing::Values(LaunchTunnel, LaunchXmlTunnel, LaunchAperture));

TEST(ModelUnmodified, DependsOnHowTheImageCameAndTheUndoSteps)
{
    GmModel* model = GmModel::instance();
    struct Case {
        int loadState, undo, redo;
        bool unmodified;
    };
    const Case cases[] = {{0, 0, 0, true}, {0, 2, 1, true}, {1, 0, 0, true}, {1, 1, 0, false},
                          {1, 0, 1, false}, {2, 0, 0, true}, {2, 1, 0, true}, {2, 2, 0, false},
                          {2, 1, 1, false}, {2, 0, 1, false}};
    for (const Case& c : cases) {
        GmModelTestAccess::setLoadState(c.loadState);
        model->setUndoRedoCounts(c.undo, c.redo);
        EXPECT_EQ(model->isUnmodified(), c.unmodified) << c.loadState << " " << c.undo << " " << c.redo;
    }
    GmModel::destroy();
}

TEST(ModelDirty, MarkRectsDirtyJoinsOnlyMeetingRectangles)
{
    GmModel* model = GmModel::instance();
    QList<QRectF> rects;
    QObject::connect(model, &GmModel::rectDirty, [&](const ImageRectF& r, DirtyHint, PatchPreviewWanted) { rects.append(r); });
    const QRectF none(0, 0, -1, -1);
    model->markRectsDirty(QRectF(0, 0, 10, 10), QRectF(5, 5, 10, 10));
    EXPECT_EQ(rects, (QList<QRectF>{QRectF(0, 0, 15, 15)}));
    rects.clear();
    model->markRectsDirty(QRectF(0, 0, 10, 10), QRectF(20, 20, 5, 5));
    EXPECT_EQ(rects, (QList<QRectF>{QRectF(0, 0, 10, 10), QRectF(20, 20, 5, 5)}));
    rects.clear();
    model->markRectsDirty(none, QRectF(1, 2, 3, 4));
    model->markRectsDirty(QRectF(1, 2, 3, 4), none);
    model->markRectsDirty(none, none);
    EXPECT_EQ(rects, (QList<QRectF>{QRectF(1, 2, 3, 4), QRectF(1, 2, 3, 4)}));
    GmModel::destroy();
}

TEST(ModelRubberBands, ClearingAnnouncesTheBandOnce)
{
    GmModel* model = GmModel::instance();
    testsupport::DirtyLog dirty;
    model->beginZoomRect(QPointF(1, 1));
    ASSERT_NE(model->zoomRect(), nullptr);
    model->clearZoomRect();
    EXPECT_EQ(model->zoomRect(), nullptr);
    // An empty band repaints nothing.
    EXPECT_TRUE(dirty.isEmpty());
    model->clearTestRenderRect();
    EXPECT_TRUE(dirty.isEmpty());
    GmModel::destroy();
}

} // namespace
