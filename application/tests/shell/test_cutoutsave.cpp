// Saving the cut-out from the started program: the Save As dialog and its names, the formats
// (the selected filter decides), TIFF with straight alpha, the warning for other suffixes and
// the question before a renamed file is replaced, Save without a dialog, write failures, and
// the saved stamp that the close check reads. Each case runs in its own process.

#include "document/GmModel.h"
#include "document/KsSourceImage.h"
#include "document/Texts.h"
#include "engine/DravikThread.h"
#include "shell/FileHandler.h"
#include "shell/KsApp.h"
#include "shell/KsMainWindow.h"

#include "CutoutDocument.h"
#include "HeldCutout.h"
#include "MainWindowRun.h"
#include "ProgramRun.h"
#include "ScriptedPrompt.h"
#include "Wait.h"
#include "thread_start_failure.h"

#include <QAction>
#include <QApplication>
#include <QProgressDialog>
#include <QStatusBar>
#include <QTimer>
#include <QSettings>

#include <gtest/gtest.h>

#include <tiffio.h>

#include <atomic>
#include <functional>

using namespace testsupport;

namespace {

const QString kPngFilter = QStringLiteral("Portable Network Graphics (*.png)");
const QString kTiffFilter = QStringLiteral("Tagged Image File Format (*.tif)");
const QByteArray kPngSignature("\x89PNG\r\n\x1a\n", 8);

FileHandler* handler()
{
    return FileHandler::instance();
}

QStringList texts(const ScriptedPrompt& prompt)
{
    QStringList list;
    for (const Prompt::Message& message : prompt.messages())
        list << message.text;
    return list;
}

class CutoutSaveTest : public ::testing::Test {
protected:
    void TearDown() override { KsApp::setStartUpHook(nullptr); }

    // Runs the body on the started program with the photograph cut out. Unless the case
    // watches the close check itself, the window then goes without asking.
    void run(const std::function<void()>& body, bool quietClose = true)
    {
        runOnCutOutDocument(body, quietClose);
    }
};

TEST_F(CutoutSaveTest, TheTiffFilterWritesTiffWithStraightAlpha)
{
    ScriptedPrompt prompt;
    const QString typed = scratchPath(QStringLiteral("out/result"));
    QDir().mkpath(scratchPath(QStringLiteral("out")));
    bool saved = false;
    QString path;
    int format = 0;
    double kept = -1;
    double deleted = -1;
    run([&] {
        prompt.answerFileName(typed, kTiffFilter);
        windowAction(QStringLiteral("Save &As..."))->trigger();
        saved = QFileInfo::exists(typed + QStringLiteral(".tif"));
        path = handler()->cutoutPath();
        format = handler()->cutoutFormat();
        KsSourceImage back(path);
        ASSERT_TRUE(back.isValid());
        kept = alphaAt(back, keptPoint);
        deleted = alphaAt(back, deletedPoint);
    });
    ASSERT_TRUE(saved);
    EXPECT_EQ(path, typed + QStringLiteral(".tif"));
    EXPECT_EQ(format, int(FileHandler::CutoutTiff));
    EXPECT_TRUE(prompt.messages().isEmpty());

    // The dialog as it was opened: beside the photograph, PNG first and selected.
    ASSERT_EQ(prompt.fileRequests().size(), 1);
    const Prompt::FileRequest& request = prompt.fileRequests()[0];
    EXPECT_EQ(request.kind, Prompt::SaveFile);
    EXPECT_EQ(request.caption, QStringLiteral("Save As"));
    EXPECT_EQ(request.directory, QStringLiteral(KESTRINE_TEST_DATA "/chelseaCutout"));
    EXPECT_EQ(request.filter, kPngFilter + QStringLiteral(";;") + kTiffFilter);
    EXPECT_EQ(request.selectedFilter, kPngFilter);
    EXPECT_EQ(QSettings().value(QStringLiteral("FileHandling/LastImageDir")).toString(), scratchPath("out"));

    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "r");
    ASSERT_TRUE(tiff);
    uint16_t samples = 0;
    uint16_t extraCount = 0;
    uint16_t* extra = nullptr;
    TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    const int hasExtra = TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    EXPECT_EQ(samples, 4);
    ASSERT_TRUE(hasExtra);
    ASSERT_EQ(extraCount, 1);
    EXPECT_EQ(extra[0], EXTRASAMPLE_UNASSALPHA);
    TIFFClose(tiff);
    EXPECT_DOUBLE_EQ(kept, 1.0);
    EXPECT_DOUBLE_EQ(deleted, 0.0);
}

TEST_F(CutoutSaveTest, ThePngFilterWritesPngWhateverTheSuffix)
{
    ScriptedPrompt prompt;
    const QString typed = scratchPath(QStringLiteral("result"));
    const QString upper = scratchPath(QStringLiteral("result.TIFF"));
    run([&] {
        prompt.answerFileName(typed, kPngFilter);
        EXPECT_TRUE(handler()->fileSaveAsSlot());
        prompt.answerFileName(upper, kPngFilter);
        EXPECT_TRUE(handler()->fileSaveAsSlot());
    });
    const QImage png(typed + QStringLiteral(".png"));
    ASSERT_FALSE(png.isNull());
    EXPECT_TRUE(png.hasAlphaChannel());
    EXPECT_EQ(qAlpha(png.pixel(keptPoint)), 255);
    EXPECT_EQ(qAlpha(png.pixel(deletedPoint)), 0);
    EXPECT_EQ(fileBytes(upper).left(8), kPngSignature);
    // The second Save As started at the first one's file.
    ASSERT_EQ(prompt.fileRequests().size(), 2);
    EXPECT_EQ(prompt.fileRequests()[1].directory, typed + QStringLiteral(".png"));
    EXPECT_TRUE(prompt.messages().isEmpty());
}

TEST_F(CutoutSaveTest, AJpegNameIsReplacedByAPngNameAfterAWarning)
{
    ScriptedPrompt prompt;
    bool saved = false;
    run([&] {
        prompt.answerFileName(scratchPath(QStringLiteral("result.jpg")), kPngFilter);
        saved = handler()->fileSaveAsSlot();
    });
    EXPECT_TRUE(saved);
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_EQ(prompt.messages()[0].title, QStringLiteral("Save As"));
    EXPECT_EQ(prompt.messages()[0].kind, Prompt::Warning);
    EXPECT_EQ(prompt.messages()[0].text,
              QStringLiteral("<p>To preserve the transparency of the background, cut-outs can be saved only in PNG or "
                             "TIF format.</p><p>The filename: <font color=blue>result.jpg</font> will be replaced by "
                             "<font color=blue>result.png</font></p>"));
    EXPECT_EQ(fileBytes(scratchPath(QStringLiteral("result.png"))).left(8), kPngSignature);
    EXPECT_FALSE(QFileInfo::exists(scratchPath(QStringLiteral("result.jpg"))));
}

TEST_F(CutoutSaveTest, ARenamedNameThatExistsIsReplacedOnlyWhenTheUserSaysSo)
{
    ScriptedPrompt prompt;
    const QString existing = writeScratchFile(QStringLiteral("result.png"), "keep me");
    bool savedAfterNo = true;
    QString pathAfterNo = QStringLiteral("unset");
    bool savedAfterYes = false;
    run([&] {
        prompt.answerFileName(scratchPath(QStringLiteral("result")), kPngFilter);
        prompt.answer(QMessageBox::No);
        savedAfterNo = handler()->fileSaveAsSlot();
        pathAfterNo = handler()->cutoutPath();

        prompt.answerFileName(scratchPath(QStringLiteral("result.jpg")), kPngFilter);
        prompt.answer(QMessageBox::Ok);
        prompt.answer(QMessageBox::Yes);
        savedAfterYes = handler()->fileSaveAsSlot();
    });
    EXPECT_FALSE(savedAfterNo);
    EXPECT_TRUE(pathAfterNo.isEmpty());
    EXPECT_TRUE(savedAfterYes);
    ASSERT_EQ(prompt.messages().size(), 3);
    const QString question = QStringLiteral("%1 already exists. Do you want to replace it?").arg(existing);
    EXPECT_EQ(prompt.messages()[0].kind, Prompt::Question);
    EXPECT_EQ(prompt.messages()[0].text, question);
    EXPECT_EQ(prompt.messages()[0].defaultButton, QMessageBox::No);
    EXPECT_EQ(prompt.messages()[2].text, question);
    EXPECT_EQ(fileBytes(existing).left(8), kPngSignature);
}

TEST_F(CutoutSaveTest, SaveWritesAgainWithoutADialogUntilAnotherImageOpens)
{
    ScriptedPrompt prompt;
    const QString path = scratchPath(QStringLiteral("again.png"));
    int requestsAfterSave = -1;
    bool rewritten = false;
    bool askedAfterOpen = false;
    run([&] {
        QAction* save = windowAction(QStringLiteral("&Save"));
        ASSERT_TRUE(save);
        prompt.answerFileName(path, kPngFilter);
        save->trigger();
        ASSERT_TRUE(QFile::remove(path));
        save->trigger();
        rewritten = QFileInfo::exists(path);
        // The window's own Save runs the same sequence.
        ASSERT_TRUE(QFile::remove(path));
        mainWindow()->fileSaveSlot();
        rewritten = rewritten && QFileInfo::exists(path);
        requestsAfterSave = prompt.fileRequests().size();

        ASSERT_TRUE(handler()->loadImage(chelseaPath));
        ASSERT_TRUE(engineIdle());
        ASSERT_TRUE(handler()->cutoutPath().isEmpty());
        prompt.cancelFileName();
        EXPECT_FALSE(handler()->fileSaveSlot());
        askedAfterOpen = prompt.fileRequests().size() == 2;
    });
    EXPECT_EQ(requestsAfterSave, 1);
    EXPECT_TRUE(rewritten);
    EXPECT_TRUE(askedAfterOpen);
}

TEST_F(CutoutSaveTest, AWriteFailureWarnsAndKeepsTheNameForTheNextSave)
{
    ScriptedPrompt prompt;
    const QString path = scratchPath(QStringLiteral("missing/result.png"));
    bool saved = true;
    QString kept;
    int stamp = -1;
    bool savedLater = false;
    run([&] {
        prompt.answerFileName(path, kPngFilter);
        saved = handler()->fileSaveAsSlot();
        kept = handler()->cutoutPath();
        stamp = handler()->cutoutSavedStamp();
        QDir().mkpath(scratchPath(QStringLiteral("missing")));
        savedLater = handler()->fileSaveSlot();
    });
    EXPECT_FALSE(saved);
    EXPECT_EQ(kept, path);
    EXPECT_EQ(stamp, 0);
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_EQ(prompt.messages()[0].title, productName());
    EXPECT_EQ(prompt.messages()[0].text,
              QStringLiteral("Could not save cut-out to file\n") + path + QStringLiteral("\n\nNo such file or directory"));
    EXPECT_TRUE(savedLater);
    EXPECT_EQ(fileBytes(path).left(8), kPngSignature);
}

TEST_F(CutoutSaveTest, AWriteCutShortBySizeLimitLeavesTheOldFileAndIsNotMarkedSaved)
{
    ScriptedPrompt prompt;
    const QString path = scratchPath(QStringLiteral("limited.png"));
    QByteArray before;
    bool limited = false;
    bool saved = true;
    int stamp = -1;
    int counter = -2;
    run([&] {
        prompt.answerFileName(path, kPngFilter);
        ASSERT_TRUE(handler()->fileSaveAsSlot());
        before = fileBytes(path);
        changeMarks();
        {
            FileSizeLimit limit(1024);
            limited = limit.isSet();
            saved = handler()->fileSaveSlot();
        }
        stamp = handler()->cutoutSavedStamp();
        counter = worker()->changeCounter();
    });
    ASSERT_TRUE(limited);
    EXPECT_FALSE(saved);
    EXPECT_NE(stamp, counter);
    EXPECT_EQ(fileBytes(path), before);
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_EQ(prompt.messages()[0].text.toStdString(),
              (QStringLiteral("Could not save cut-out to file\n") + path + QStringLiteral("\n\nFile too large"))
                  .toStdString());
}

TEST_F(CutoutSaveTest, ASavedCutoutClosesWithoutAskingUntilTheNextChange)
{
    ScriptedPrompt prompt;
    int stamp = -1;
    int counter = -2;
    bool closesQuietly = false;
    int messagesAfterStroke = -1;
    run(
        [&] {
            prompt.answerFileName(scratchPath(QStringLiteral("saved.png")), kPngFilter);
            ASSERT_TRUE(windowAction(QStringLiteral("&Save")));
            windowAction(QStringLiteral("&Save"))->trigger();
            stamp = handler()->cutoutSavedStamp();
            counter = worker()->changeCounter();
            closesQuietly = mainWindow()->okToClose(QStringLiteral("Unsaved changes")) && prompt.messages().isEmpty();

            changeMarks();
            prompt.answer(QMessageBox::Cancel);
            EXPECT_FALSE(mainWindow()->okToClose(QStringLiteral("Unsaved changes")));
            messagesAfterStroke = prompt.messages().size();
            // Saved again, but the cut-out written is still the one from before the stroke.
            windowAction(QStringLiteral("&Save"))->trigger();
            prompt.answer(QMessageBox::Cancel);
            EXPECT_FALSE(mainWindow()->okToClose(QStringLiteral("Unsaved changes")));
            // Cut out again and saved: the window's own close asks nothing.
            GmModel::instance()->generateMaskSlot();
            ASSERT_TRUE(engineIdle());
            windowAction(QStringLiteral("&Save"))->trigger();
        },
        false);
    EXPECT_EQ(stamp, counter);
    EXPECT_GT(stamp, 0);
    EXPECT_TRUE(closesQuietly);
    EXPECT_EQ(messagesAfterStroke, 1);
    // Only the questions after the stroke: the close itself asked nothing.
    const QString question = QStringLiteral("You have made unsaved changes that will be lost.\n"
                                            "Do you wish to discard these changes?");
    EXPECT_EQ(texts(prompt), (QStringList{question, question}));
}

TEST_F(CutoutSaveTest, AStrokeMadeAfterTheCutoutKeepsCloseAskingWhenTheCutoutIsSaved)
{
    ScriptedPrompt prompt;
    const QString path = scratchPath(QStringLiteral("older.png"));
    bool saved = false;
    bool closes = true;
    run([&] {
        // Finished before the save, but after the cut-out that the save writes.
        changeMarks();
        prompt.answerFileName(path, kPngFilter);
        saved = handler()->fileSaveAsSlot();
        prompt.answer(QMessageBox::Cancel);
        closes = mainWindow()->okToClose(QStringLiteral("Unsaved changes"));
    });
    EXPECT_TRUE(saved);
    EXPECT_FALSE(closes);
    EXPECT_EQ(texts(prompt), QStringList{QStringLiteral("You have made unsaved changes that will be lost.\n"
                                                        "Do you wish to discard these changes?")});
}

TEST_F(CutoutSaveTest, AStrokeStillOnTheWorkerWhenTheCutoutIsSavedMakesCloseAsk)
{
    ScriptedPrompt prompt;
    std::atomic<bool> release{false};
    bool saved = false;
    bool closes = true;
    run([&] {
        worker()->submit(new HoldCommand(&release));
        submitChangeOfMarks();
        prompt.answerFileName(scratchPath(QStringLiteral("early.png")), kPngFilter);
        saved = handler()->fileSaveAsSlot();
        release = true;
        ASSERT_TRUE(engineIdle());
        prompt.answer(QMessageBox::Cancel);
        closes = mainWindow()->okToClose(QStringLiteral("Unsaved changes"));
    });
    EXPECT_TRUE(saved);
    EXPECT_FALSE(closes);
    EXPECT_EQ(texts(prompt), QStringList{QStringLiteral("You have made unsaved changes that will be lost.\n"
                                                        "Do you wish to discard these changes?")});
}

TEST_F(CutoutSaveTest, SaveWaitsForTheCutoutBeingMadeAndWritesItWhole)
{
    ScriptedPrompt prompt;
    const QString path = scratchPath(QStringLiteral("waited.png"));
    std::atomic<bool> release{false};
    QByteArray before;
    QByteArray made;
    QByteArray written;
    bool saved = false;
    bool waitedModally = false;
    bool waitCursor = false;
    int stamp = -1;
    int counter = -2;
    run([&] {
        // The new cut-out waits behind a held command when Save As is chosen.
        before = changeMarksAndHoldTheNewCutout(release);
        QTimer::singleShot(50, mainWindow(), [&] {
            waitedModally = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget()) != nullptr;
            waitCursor = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
            release = true;
        });
        prompt.answerFileName(path, kPngFilter);
        saved = handler()->fileSaveAsSlot();
        stamp = handler()->cutoutSavedStamp();
        counter = worker()->changeCounter();
        ASSERT_TRUE(engineIdle());
        made = alphaBytes(*GmModel::instance()->output());
        KsSourceImage back(path);
        ASSERT_TRUE(back.isValid());
        written = alphaBytes(back);
    });
    ASSERT_TRUE(saved);
    EXPECT_TRUE(waitedModally);
    EXPECT_TRUE(waitCursor);
    ASSERT_TRUE(made != before);
    EXPECT_TRUE(written == made);
    EXPECT_EQ(stamp, counter);
    EXPECT_TRUE(prompt.messages().isEmpty());
}

TEST_F(CutoutSaveTest, CancellingTheCutoutWhileSaveWaitsRefusesTheSave)
{
    ScriptedPrompt prompt;
    const QString path = scratchPath(QStringLiteral("cancelled.png"));
    std::atomic<bool> release{false};
    bool cancelled = false;
    bool saved = true;
    QString message;
    int stampBefore = -1;
    int stampAfter = -2;
    run([&] {
        stampBefore = handler()->cutoutSavedStamp();
        worker()->submit(new HeldCutout(&release));
        QTimer::singleShot(50, mainWindow(), [&] {
            cancelled = clickCancelOfCutoutWait();
            // Without a Cancel to click, the cut-out still ends.
            if (!cancelled)
                release = true;
        });
        prompt.answerFileName(path, kPngFilter);
        saved = handler()->fileSaveAsSlot();
        message = mainWindow()->statusBar()->currentMessage();
        stampAfter = handler()->cutoutSavedStamp();
        release = true;
    });
    EXPECT_TRUE(cancelled);
    EXPECT_FALSE(saved);
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_EQ(stampAfter, stampBefore);
    EXPECT_EQ(message, QStringLiteral("Cut-out not saved to cancelled.png: the cut-out was not finished"));
    EXPECT_TRUE(prompt.messages().isEmpty());
}

// A cut-out whose worker thread the system cannot start (no memory for its stack) is not made:
// the save that waits for it writes nothing, and the user reads that memory ran short.
TEST_F(CutoutSaveTest, ACutoutWhoseWorkerCannotStartIsNotFinishedForTheSave)
{
    ScriptedPrompt prompt;
    const QString path = scratchPath(QStringLiteral("unstarted.png"));
    std::atomic<bool> releaseFirst{false};
    std::atomic<bool> releaseSecond{true};
    bool saved = true;
    bool failed = false;
    QString message;
    int stampBefore = -1;
    int stampAfter = -2;
    run([&] {
        stampBefore = handler()->cutoutSavedStamp();
        worker()->submit(new HeldCutout(&releaseFirst));
        worker()->submit(new HeldCutout(&releaseSecond));
        QTimer::singleShot(50, mainWindow(), [&] {
            // The next thread started is the second cut-out's worker, once the first has ended.
            failThreadStart(0);
            releaseFirst = true;
        });
        prompt.answerFileName(path, kPngFilter);
        saved = handler()->fileSaveAsSlot();
        message = mainWindow()->statusBar()->currentMessage();
        stampAfter = handler()->cutoutSavedStamp();
        failed = threadStartFailed();
        stopFailingThreadStarts();
        ASSERT_TRUE(engineIdle());
        waitUntil([&prompt] { return !prompt.messages().isEmpty(); });
    });
    EXPECT_TRUE(failed);
    EXPECT_FALSE(saved);
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_EQ(stampAfter, stampBefore);
    EXPECT_EQ(message, QStringLiteral("Cut-out not saved to unstarted.png: the cut-out was not finished"));
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_TRUE(prompt.messages()[0].text.startsWith(QStringLiteral("<p>Out of memory</p>")))
        << prompt.messages()[0].text.toStdString();
}

TEST_F(CutoutSaveTest, ASaveWhoseDocumentIsReplacedWhileItWaitsIsRefusedInAMessage)
{
    ScriptedPrompt prompt;
    const QString path = scratchPath(QStringLiteral("replaced.png"));
    std::atomic<bool> release{false};
    bool replaced = false;
    bool saved = true;
    run([&] {
        worker()->submit(new HeldCutout(&release));
        replaceTheDocumentWhileTheSaveWaits(release, replaced);
        prompt.answerFileName(path, kPngFilter);
        saved = handler()->fileSaveAsSlot();
        engineIdle();
    });
    EXPECT_TRUE(replaced);
    EXPECT_FALSE(saved);
    EXPECT_FALSE(QFileInfo::exists(path));
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_EQ(prompt.messages()[0].kind, Prompt::Warning);
    EXPECT_EQ(prompt.messages()[0].title, productName());
    EXPECT_EQ(prompt.messages()[0].text, QStringLiteral("Could not save cut-out to file\n") + path
                                             + QStringLiteral("\n\nThe document was replaced while the save waited"));
}

TEST_F(CutoutSaveTest, ALoopEndedFromOutsideWhileSaveWaitsIsNoFinishedCutout)
{
    ScriptedPrompt prompt;
    const QString path = scratchPath(QStringLiteral("quit.png"));
    std::atomic<bool> release{false};
    bool saved = true;
    bool stillMaking = false;
    int stampBefore = -1;
    int stampAfter = -2;
    run([&] {
        stampBefore = handler()->cutoutSavedStamp();
        worker()->submit(new HeldCutout(&release));
        QTimer::singleShot(50, mainWindow(), [] { QCoreApplication::exit(0); });
        prompt.answerFileName(path, kPngFilter);
        saved = handler()->fileSaveAsSlot();
        stillMaking = GmModel::instance()->cutoutPending();
        stampAfter = handler()->cutoutSavedStamp();
        release = true;
    });
    EXPECT_TRUE(stillMaking);
    EXPECT_FALSE(saved);
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_EQ(stampAfter, stampBefore);
}

TEST_F(CutoutSaveTest, WithoutACutoutImageNothingIsAsked)
{
    ScriptedPrompt prompt;
    bool saved = true;
    bool savedAs = true;
    KsApp::setStartUpHook([&](QWidget* window) {
        saved = handler()->fileSaveSlot();
        savedAs = handler()->fileSaveAsSlot();
        closeSoon(window);
    });
    runMain({"kestrine3"});
    EXPECT_FALSE(saved);
    EXPECT_FALSE(savedAs);
    EXPECT_TRUE(prompt.fileRequests().isEmpty());
    EXPECT_TRUE(prompt.messages().isEmpty());
}

} // namespace
