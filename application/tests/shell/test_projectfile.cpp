// Project files from the started program: the container's bytes, saving and loading a
// document, the dialogs and their names, the refusals (each leaves the open document and the
// project path as they were), the fingerprint check in a host launch, Revert, the question
// before a renamed file is replaced, and a save cut short by a file-size limit. Each case
// runs in its own process.

#include "canvas/GmZoomWidget.h"
#include "canvas/ImageView.h"
#include "document/GmAction.h"
#include "document/GmModel.h"
#include "document/GmRegion.h"
#include "document/KsSourceImage.h"
#include "document/RectRegion.h"
#include "document/Texts.h"
#include "engine/DravikThread.h"
#include "shell/FileHandler.h"
#include "shell/KsApp.h"
#include "shell/KsMainWindow.h"
#include "tools/BrushingTool.h"

#include "CutoutDocument.h"
#include "HeldCutout.h"
#include "HostileImages.h"
#include "MainWindowRun.h"
#include "PeakMemory.h"
#include "ProgramRun.h"
#include "ScriptedPrompt.h"
#include "StreamRoundTrip.h"
#include "Wait.h"
#include "WidgetInput.h"

#include <QAction>
#include <QStatusBar>
#include <QTimer>
#include <QDataStream>
#include <QSettings>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include <sys/stat.h>

using namespace testsupport;

namespace {

using testsupport::encoded;

const QString kFilter = QStringLiteral("Kestrine Project (*.okrp)");
const QString kNotAProject = QStringLiteral("File is not of the correct format \n");

FileHandler* handler()
{
    return FileHandler::instance();
}

QString canonical(const QString& path)
{
    return QDir::toNativeSeparators(QFileInfo(path).canonicalFilePath());
}

QStringList recentProjectsStored()
{
    return QSettings().value(QStringLiteral("FileHandling/RecentProjects")).toStringList();
}

QString lastImageDir()
{
    return QSettings().value(QStringLiteral("FileHandling/LastImageDir")).toString();
}

// A container as a file holds it.
QByteArray container(qint32 magic, qint32 version, quint16 fingerprint, const QVariant& document)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_5_15);
    out << magic << version << fingerprint << document;
    return bytes;
}

QByteArray openDocument()
{
    return container(FileHandler::projectMagic, FileHandler::projectVersion,
                     FileHandler::fingerprint(GmModel::instance()->source()),
                     QVariant(GmModel::instance()->saveToVariant()));
}

// The alpha of the cut-out that the project file holds.
QByteArray savedCutoutAlpha(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QDataStream in(&file);
    in.setVersion(QDataStream::Qt_5_15);
    qint32 magic = 0;
    qint32 version = 0;
    quint16 print = 0;
    QVariant document;
    in >> magic >> version >> print >> document;
    KsSourceImage cutout(document.toMap().value(QStringLiteral("blendImg_")));
    return cutout.isValid() ? alphaBytes(cutout) : QByteArray();
}

// A rectangular patch with a sub-session of its own.
void addPatch()
{
    auto* rect = new RectRegion(QPointF(60, 40));
    rect->rectangle().dragCornerTo({200, 160});
    rect->rectangle().endDrag();
    rect->beginSubSession();
    engineIdle();
}

QList<QRectF> patchBounds()
{
    QList<QRectF> bounds;
    for (const GmRegion* patch : GmModel::instance()->patches())
        bounds << patch->shape()->boundingRect();
    return bounds;
}

// What a refusal must leave alone.
struct DocumentState {
    const KsSourceImage* source = nullptr;
    QByteArray statuses;
    int patches = -1;
    QString projectPath;

    static DocumentState now()
    {
        return {GmModel::instance()->source(), statusBytes(), int(GmModel::instance()->patches().size()),
                handler()->projectPath()};
    }
    bool operator==(const DocumentState& other) const
    {
        return source == other.source && statuses == other.statuses && patches == other.patches
               && projectPath == other.projectPath;
    }
};

class ProjectFileTest : public ::testing::Test {
protected:
    void TearDown() override { KsApp::setStartUpHook(nullptr); }

    // Runs the body on the started program with the photograph cut out and a patch on it.
    // Unless the case watches the close check itself, the window then goes without asking.
    void run(const std::function<void()>& body, bool quietClose = true)
    {
        runOnCutOutDocument(
            [body] {
                addPatch();
                body();
            },
            quietClose);
    }

    // Saves the open document as the project "cut" in the scratch folder.
    static QString saveAsCut(ScriptedPrompt& prompt)
    {
        const QString path = scratchPath(QStringLiteral("cut.okrp"));
        prompt.answerFileName(scratchPath(QStringLiteral("cut")));
        handler()->projectSaveAsSlot();
        return path;
    }
};

TEST_F(ProjectFileTest, AProjectHoldsTheContainerAndLoadsBackTheDocument)
{
    ScriptedPrompt prompt;
    const QString path = scratchPath(QStringLiteral("cut.okrp"));
    quint16 fingerprint = 0;
    QByteArray pixels;
    QByteArray statuses;
    QList<QRectF> patches;
    QString pathAfterSave;
    bool loaded = false;
    bool replaced = false;
    QByteArray pixelsAfter;
    QByteArray statusesAfter;
    QList<QRectF> patchesAfter;
    int stamp = -1;
    int counter = -2;
    bool closesQuietly = false;
    run(
        [&] {
            fingerprint = quint16(GmModel::instance()->source()->checksum() & 0xFFFF);
            pixels = pixelBytes(GmModel::instance()->source());
            statuses = statusBytes();
            patches = patchBounds();
            ASSERT_TRUE(windowAction(QStringLiteral("Sa&ve Project As...")));
            prompt.answerFileName(scratchPath(QStringLiteral("cut")));
            windowAction(QStringLiteral("Sa&ve Project As..."))->trigger();
            pathAfterSave = handler()->projectPath();

            // Something else is open before the project comes back.
            changeMarks();
            const KsSourceImage* before = GmModel::instance()->source();
            loaded = handler()->loadProject(path);
            ASSERT_TRUE(engineIdle());
            replaced = GmModel::instance()->source() != before;
            pixelsAfter = pixelBytes(GmModel::instance()->source());
            statusesAfter = statusBytes();
            patchesAfter = patchBounds();
            stamp = handler()->projectSavedStamp();
            counter = worker()->changeCounter();
            closesQuietly = mainWindow()->okToClose(QStringLiteral("Unsaved changes"));
        });
    const QByteArray bytes = fileBytes(path);
    ASSERT_GT(bytes.size(), 10);
    EXPECT_EQ(bytes.left(8), QByteArray::fromHex("08E116020000000B"));
    EXPECT_EQ(quint16(quint8(bytes[8]) << 8 | quint8(bytes[9])), fingerprint);
    EXPECT_EQ(pathAfterSave, path);
    EXPECT_EQ(lastImageDir(), QString::fromLocal8Bit(qgetenv("KESTRINE_TEST_SCRATCH")));
    EXPECT_EQ(recentProjectsStored(), QStringList{canonical(path)});

    EXPECT_TRUE(loaded);
    EXPECT_TRUE(replaced);
    EXPECT_EQ(pixelsAfter, pixels);
    EXPECT_FALSE(statuses.isEmpty());
    EXPECT_EQ(statusesAfter, statuses);
    ASSERT_EQ(patches.size(), 1);
    EXPECT_EQ(patchesAfter, patches);
    EXPECT_EQ(stamp, counter);
    EXPECT_TRUE(closesQuietly);
    EXPECT_TRUE(prompt.messages().isEmpty()) << prompt.messages().value(0).text.toStdString();

    ASSERT_EQ(prompt.fileRequests().size(), 1);
    const Prompt::FileRequest& request = prompt.fileRequests()[0];
    EXPECT_EQ(request.kind, Prompt::SaveFile);
    EXPECT_EQ(request.caption, QStringLiteral("Save Project"));
    EXPECT_EQ(request.directory, QDir::homePath() + QStringLiteral("/chelsea.okrp"));
    EXPECT_EQ(request.filter, kFilter);
}

TEST_F(ProjectFileTest, TheProjectSuffixIsAppendedUnlessItIsExactlyThere)
{
    ScriptedPrompt prompt;
    QString path;
    run([&] {
        QDir().mkpath(scratchPath(QStringLiteral("sub")));
        prompt.answerFileName(scratchPath(QStringLiteral("sub/cut.OKRP")));
        handler()->projectSaveAsSlot();
        path = handler()->projectPath();
    });
    EXPECT_EQ(path, scratchPath(QStringLiteral("sub/cut.OKRP.okrp")));
    EXPECT_TRUE(QFileInfo::exists(path));
    EXPECT_FALSE(QFileInfo::exists(scratchPath(QStringLiteral("sub/cut.OKRP"))));
    EXPECT_EQ(lastImageDir(), scratchPath(QStringLiteral("sub")));
    EXPECT_EQ(recentProjectsStored(), QStringList{canonical(path)});
}

TEST_F(ProjectFileTest, SaveProjectWritesToTheProjectWithoutADialog)
{
    ScriptedPrompt prompt;
    QByteArray first;
    QByteArray second;
    int requests = -1;
    run([&] {
        ASSERT_TRUE(windowAction(QStringLiteral("Save &Project")));
        prompt.answerFileName(scratchPath(QStringLiteral("cut")));
        windowAction(QStringLiteral("Save &Project"))->trigger();
        first = fileBytes(scratchPath(QStringLiteral("cut.okrp")));
        changeMarks();
        windowAction(QStringLiteral("Save &Project"))->trigger();
        second = fileBytes(scratchPath(QStringLiteral("cut.okrp")));
        requests = prompt.fileRequests().size();
    });
    EXPECT_EQ(requests, 1);
    EXPECT_FALSE(first.isEmpty());
    EXPECT_FALSE(second.isEmpty());
    EXPECT_NE(first, second);
}

TEST_F(ProjectFileTest, SaveProjectWaitsForTheCutoutBeingMade)
{
    ScriptedPrompt prompt;
    std::atomic<bool> release{false};
    QString path;
    QByteArray before;
    QByteArray made;
    QByteArray saved;
    int stamp = -1;
    int counter = -2;
    run([&] {
        // The new cut-out waits behind a held command when the project is saved.
        before = changeMarksAndHoldTheNewCutout(release);
        QTimer::singleShot(50, mainWindow(), [&] { release = true; });
        path = saveAsCut(prompt);
        stamp = handler()->projectSavedStamp();
        counter = worker()->changeCounter();
        ASSERT_TRUE(engineIdle());
        made = alphaBytes(*GmModel::instance()->output());
        saved = savedCutoutAlpha(path);
    });
    ASSERT_TRUE(made != before);
    EXPECT_TRUE(saved == made);
    EXPECT_EQ(stamp, counter);
    EXPECT_TRUE(prompt.messages().isEmpty()) << prompt.messages().value(0).text.toStdString();
}

TEST_F(ProjectFileTest, SaveProjectIsRefusedWhenTheCutoutItWaitsForFails)
{
    ScriptedPrompt prompt;
    std::atomic<bool> release{false};
    QString path;
    QByteArray before;
    QString message;
    int stampBefore = -1;
    int stamp = -2;
    run([&] {
        path = saveAsCut(prompt);
        before = fileBytes(path);
        stampBefore = handler()->projectSavedStamp();
        changeMarks();
        worker()->submit(new HeldCutout(&release, {}, DvRefused));
        QTimer::singleShot(50, mainWindow(), [&] { release = true; });
        handler()->projectSaveSlot();
        message = mainWindow()->statusBar()->currentMessage();
        stamp = handler()->projectSavedStamp();
        release = true;
    });
    EXPECT_EQ(fileBytes(path), before);
    EXPECT_EQ(stamp, stampBefore);
    EXPECT_EQ(message, QStringLiteral("Project not saved to cut.okrp: the cut-out was not finished"));
    EXPECT_TRUE(prompt.messages().isEmpty()) << prompt.messages().value(0).text.toStdString();
}

TEST_F(ProjectFileTest, SaveProjectHoldsAStrokeQueuedBehindTheCutoutItWaitsFor)
{
    ScriptedPrompt prompt;
    std::atomic<bool> release{false};
    QByteArray marked;
    QByteArray loaded;
    int stamp = -1;
    int counter = -2;
    run([&] {
        worker()->submit(new HeldCutout(&release));
        submitChangeOfMarks();
        QTimer::singleShot(50, mainWindow(), [&] { release = true; });
        const QString path = saveAsCut(prompt);
        stamp = handler()->projectSavedStamp();
        counter = worker()->changeCounter();
        ASSERT_TRUE(engineIdle());
        marked = statusBytes();
        ASSERT_TRUE(handler()->loadProject(path));
        ASSERT_TRUE(engineIdle());
        loaded = statusBytes();
    });
    ASSERT_FALSE(marked.isEmpty());
    EXPECT_TRUE(loaded == marked);
    EXPECT_EQ(stamp, counter);
    EXPECT_TRUE(prompt.messages().isEmpty()) << prompt.messages().value(0).text.toStdString();
}

TEST_F(ProjectFileTest, AStrokeStillBeingDrawnWhenTheSaveBeginsToWaitIsInTheProject)
{
    ScriptedPrompt prompt;
    std::atomic<bool> release{false};
    QByteArray before;
    QByteArray marked;
    QByteArray loaded;
    run([&] {
        KsMainWindow* main = mainWindow();
        ASSERT_TRUE(showForInput(main));
        main->imageView()->zoomToSlot(1.0);
        QTest::qWait(30);
        GmZoomWidget* canvas = main->imageView()->canvas();
        main->deleteExactBrush()->action()->trigger();
        before = statusBytes();
        // Across the Keep stroke on the cat; the button stays down.
        const QPoint origin = canvas->imageRect().topLeft();
        mousePress(canvas, origin + QPoint(205, 152));
        mouseMove(canvas, origin + QPoint(220, 155));
        mouseMove(canvas, origin + QPoint(235, 158));
        // The save waits for the engine; its dialog takes the input, the release never comes.
        worker()->submit(new HoldCommand(&release));
        QTimer::singleShot(50, main, [&] { release = true; });
        const QString path = saveAsCut(prompt);
        ASSERT_TRUE(engineIdle());
        marked = statusBytes();
        ASSERT_TRUE(handler()->loadProject(path));
        ASSERT_TRUE(engineIdle());
        loaded = statusBytes();
    });
    ASSERT_FALSE(before.isEmpty());
    EXPECT_TRUE(marked != before);
    EXPECT_TRUE(loaded == marked);
    EXPECT_TRUE(prompt.messages().isEmpty()) << prompt.messages().value(0).text.toStdString();
}

TEST_F(ProjectFileTest, AStrokeThatLandsAfterTheSaveMakesCloseAsk)
{
    ScriptedPrompt prompt;
    std::atomic<bool> release{false};
    std::atomic<bool> releaseStroke{false};
    bool closes = true;
    run([&] {
        worker()->submit(new HeldCutout(&release));
        QTimer::singleShot(50, mainWindow(), [&] {
            // Asked for while the save waits: still on the worker when the file is written.
            worker()->submit(new HoldCommand(&releaseStroke));
            submitChangeOfMarks();
            release = true;
        });
        saveAsCut(prompt);
        releaseStroke = true;
        ASSERT_TRUE(engineIdle());
        prompt.answer(QMessageBox::Cancel);
        closes = mainWindow()->okToClose(QStringLiteral("Unsaved changes"));
    });
    EXPECT_FALSE(closes);
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_EQ(prompt.messages()[0].title, QStringLiteral("Unsaved changes"));
}

TEST_F(ProjectFileTest, ACancelledSaveProjectAsKeepsTheProjectItHad)
{
    ScriptedPrompt prompt;
    std::atomic<bool> release{false};
    QString path;
    bool cancelled = false;
    QString pathAfter;
    bool revertAfter = false;
    QByteArray before;
    QByteArray after;
    int requests = -1;
    run([&] {
        path = saveAsCut(prompt);
        changeMarks();
        worker()->submit(new HeldCutout(&release));
        QTimer::singleShot(50, mainWindow(), [&] {
            cancelled = clickCancelOfCutoutWait();
            if (!cancelled)
                release = true;
        });
        prompt.answerFileName(scratchPath(QStringLiteral("other")));
        handler()->projectSaveAsSlot();
        release = true;
        ASSERT_TRUE(engineIdle());
        pathAfter = handler()->projectPath();
        revertAfter = windowAction(QStringLiteral("Rever&t Project"))->isEnabled();
        before = fileBytes(path);
        windowAction(QStringLiteral("Save &Project"))->trigger();
        requests = prompt.fileRequests().size();
        after = fileBytes(path);
    });
    EXPECT_TRUE(cancelled);
    EXPECT_FALSE(QFileInfo::exists(scratchPath(QStringLiteral("other.okrp"))));
    EXPECT_EQ(pathAfter, path);
    EXPECT_TRUE(revertAfter);
    // Save Project wrote the changed marks to the project it had, without a dialog.
    EXPECT_EQ(requests, 2);
    EXPECT_TRUE(after != before);
    EXPECT_EQ(recentProjectsStored(), QStringList{canonical(path)});
}

TEST_F(ProjectFileTest, ASaveWhoseDocumentIsReplacedWhileItWaitsIsRefused)
{
    ScriptedPrompt prompt;
    std::atomic<bool> release{false};
    QString path;
    QByteArray before;
    bool replaced = false;
    QString message;
    run([&] {
        path = saveAsCut(prompt);
        before = fileBytes(path);
        changeMarks();
        worker()->submit(new HeldCutout(&release));
        replaceTheDocumentWhileTheSaveWaits(release, replaced);
        handler()->projectSaveSlot();
        message = mainWindow()->statusBar()->currentMessage();
        engineIdle();
    });
    EXPECT_TRUE(replaced);
    EXPECT_EQ(fileBytes(path), before);
    EXPECT_EQ(message, QStringLiteral("Project not saved to cut.okrp: the document was replaced while the save waited"));
    // The status bar's line is soon overwritten by the engine's own: a message box tells it.
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_EQ(prompt.messages()[0].title, productName());
    EXPECT_EQ(prompt.messages()[0].text, QStringLiteral("Could not save project to file\n") + path
                                             + QStringLiteral("\n\nThe document was replaced while the save waited"));
}

// A damaged or foreign file is refused with its message; the document, its project and the
// recent projects stay as they were.
struct Refusal {
    const char* name;
    std::function<QByteArray()> bytes;
    QString message;  // %1 is the file's path
};

void PrintTo(const Refusal& refusal, std::ostream* out)
{
    *out << refusal.name;
}

class RefusedProjectTest : public ProjectFileTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusedProjectTest, IsReportedAndLeavesTheDocument)
{
    ScriptedPrompt prompt;
    const Refusal& refusal = GetParam();
    const QString bad = scratchPath(QStringLiteral("bad.okrp"));
    QString previous;
    bool loaded = true;
    bool untouched = false;
    int imageChanges = -1;
    run([&] {
        previous = saveAsCut(prompt);
        writeScratchFile(QStringLiteral("bad.okrp"), refusal.bytes());
        const DocumentState before = DocumentState::now();
        int changes = 0;
        const QMetaObject::Connection counting = QObject::connect(
            GmModel::instance(), &GmModel::tellImageChanged, [&changes](const KsSourceImage*) { ++changes; });
        prompt.answerFileName(bad);
        windowAction(QStringLiteral("&Load Project..."))->trigger();
        loaded = handler()->projectPath() == bad;
        engineIdle();
        QObject::disconnect(counting);
        imageChanges = changes;
        untouched = DocumentState::now() == before;
    });
    EXPECT_FALSE(loaded);
    EXPECT_TRUE(untouched);
    EXPECT_EQ(imageChanges, 0);
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_EQ(prompt.messages()[0].kind, Prompt::Warning);
    EXPECT_EQ(prompt.messages()[0].title, productName());
    EXPECT_EQ(prompt.messages()[0].text, refusal.message.arg(bad));
    EXPECT_EQ(recentProjectsStored(), QStringList{canonical(previous)});
    EXPECT_EQ(lastImageDir(), QString::fromLocal8Bit(qgetenv("KESTRINE_TEST_SCRATCH")));
}

// A folder, or a file whose bytes cannot be read (a process's own memory gives an I/O error at
// address zero, whoever runs the test), cannot be opened and is reported so with its path; a
// file that was read and refused keeps the format message. The document stays as it was.
TEST_F(ProjectFileTest, AProjectThatCannotBeOpenedIsNotCalledOfTheWrongFormat)
{
    ScriptedPrompt prompt;
    const QString folder = scratchPath(QStringLiteral("folder.okrp"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString unreadable = QStringLiteral("/proc/self/mem");
    const QString malformed = writeScratchFile(QStringLiteral("malformed.okrp"), "not a project");
    bool untouched = false;
    run([&] {
        saveAsCut(prompt);
        const DocumentState before = DocumentState::now();
        for (const QString& path : {folder, unreadable, malformed}) {
            prompt.answerFileName(path);
            windowAction(QStringLiteral("&Load Project..."))->trigger();
            engineIdle();
        }
        untouched = DocumentState::now() == before;
    });
    EXPECT_TRUE(untouched);
    ASSERT_EQ(prompt.messages().size(), 3);
    EXPECT_EQ(prompt.messages()[0].text, QStringLiteral("Could not open file\n") + folder);
    EXPECT_EQ(prompt.messages()[1].text, QStringLiteral("Could not open file\n") + unreadable);
    EXPECT_EQ(prompt.messages()[2].text, kNotAProject + malformed);
}

QVariant documentWithCorruptImage()
{
    QVariantMap document = GmModel::instance()->saveToVariant();
    QVariantMap source = document.value(QStringLiteral("segImg_")).toMap();
    QByteArray pixels = source.value(QStringLiteral("imageImage_")).toByteArray();
    pixels.replace(pixels.size() / 2, 64, QByteArray(64, '\xA5'));
    source.insert(QStringLiteral("imageImage_"), pixels);
    document.insert(QStringLiteral("segImg_"), source);
    return document;
}

const QString kUnsupported = QStringLiteral("Cannot load unsupported version %2 of okrp file \n%1");

INSTANTIATE_TEST_SUITE_P(
    Files, RefusedProjectTest,
    ::testing::Values(
        Refusal{"WrongMagic", [] { return container(0x08E11603, 11, 0, QVariant(QVariantMap())); },
                kNotAProject + QStringLiteral("%1")},
        Refusal{"Version7", [] { return openDocument().replace(7, 1, "\x07", 1); }, kUnsupported.arg(QStringLiteral("%1"), QStringLiteral("7"))},
        Refusal{"Version12", [] { return openDocument().replace(7, 1, "\x0C", 1); }, kUnsupported.arg(QStringLiteral("%1"), QStringLiteral("12"))},
        Refusal{"TruncatedAfterTenBytes", [] { return openDocument().left(10); }, kNotAProject + QStringLiteral("%1")},
        Refusal{"TruncatedInTheDocument",
                [] {
                    const QByteArray whole = openDocument();
                    return whole.left(whole.size() / 2);
                },
                kNotAProject + QStringLiteral("%1")},
        Refusal{"NotAMap", [] { return container(FileHandler::projectMagic, 11, 0, QVariant(42)); },
                kNotAProject + QStringLiteral("%1")},
        Refusal{"CorruptImageBytes",
                [] {
                    return container(FileHandler::projectMagic, 11,
                                     FileHandler::fingerprint(GmModel::instance()->source()), documentWithCorruptImage());
                },
                kNotAProject + QStringLiteral("%1")}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

// Files made to harm the reader: each is refused with the format message, over work that was
// never saved, and that work stays as it was.
struct Hostile {
    const char* name;
    std::function<QByteArray()> bytes;  // made on the open document
};

void PrintTo(const Hostile& hostile, std::ostream* out)
{
    *out << hostile.name;
}

QByteArray seed(const char* name)
{
    QFile file(QStringLiteral(PROJECT_SEEDS "/%1").arg(QLatin1String(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The open document with one more entry: its map is the last value of the file, so the entry
// goes at the end and the map's count (after the header, the type and the null flag) grows.
QByteArray openDocumentWith(const QString& key, const QByteArray& value)
{
    QByteArray bytes = openDocument();
    const int countAt = 10 + 5;
    QDataStream count(&bytes, QIODevice::ReadWrite);
    count.device()->seek(countAt);
    quint32 entries = 0;
    count >> entries;
    count.device()->seek(countAt);
    count << entries + 1;
    return bytes + encoded([&key](QDataStream& out) { out << key; }) + value;
}

// Lists inside lists, far deeper than a stack takes when each level is read by recursion.
QByteArray deeplyNested()
{
    return encoded([](QDataStream& out) {
        out << FileHandler::projectMagic << FileHandler::projectVersion << quint16(0);
        for (int i = 0; i < 200000; ++i)
            out << quint32(QMetaType::QVariantList) << qint8(0) << quint32(1);
        out << QVariant(1);
    });
}

// An icon whose stored form names a FIFO: opening it waits for a writer that never comes.
QByteArray iconNamingAFifo()
{
    const QString fifo = scratchPath(QStringLiteral("icon.fifo"));
    if (mkfifo(QFile::encodeName(fifo).constData(), 0600) != 0)
        return QByteArray();
    return openDocumentWith(QStringLiteral("icon"), encoded([&fifo](QDataStream& out) {
        out << quint32(QMetaType::QIcon) << qint8(0) << QStringLiteral("QPixmapIconEngine") << qint32(1);
        // A null pixmap, the file's name, an empty size, the mode and the state.
        out << qint32(0) << fifo << qint32(0) << qint32(0) << quint32(0) << quint32(0);
    }));
}

// A picture of 16000 x 16000 pixels, as the seeds hold it, of the given type.
QByteArray hugePicture(QMetaType::Type type)
{
    const QByteArray stored = seed("foreign_pixmap_huge.okrp");
    const int png = stored.indexOf("\x89PNG");
    if (png < 0)
        return QByteArray();
    return encoded([type](QDataStream& out) { out << quint32(type) << qint8(0) << qint32(1); }) + stored.mid(png);
}

class HostileProjectTest : public ProjectFileTest, public ::testing::WithParamInterface<Hostile> {};

TEST_P(HostileProjectTest, IsRefusedAndTheUnsavedWorkStays)
{
    ScriptedPrompt prompt;
    const QString bad = scratchPath(QStringLiteral("hostile.okrp"));
    bool made = false;
    bool modified = false;
    bool loaded = true;
    bool untouched = false;
    bool stillModified = false;
    run([&] {
        const QByteArray bytes = GetParam().bytes();
        made = !bytes.isEmpty();
        writeScratchFile(QStringLiteral("hostile.okrp"), bytes);
        modified = !GmModel::instance()->isUnmodified();
        const DocumentState before = DocumentState::now();
        // Asked whether the work may go, the user lets it go; the file is refused all the same.
        prompt.answer(QMessageBox::Discard);
        handler()->loadFile(bad);
        engineIdle();
        loaded = handler()->projectPath() == bad;
        untouched = DocumentState::now() == before;
        stillModified = !GmModel::instance()->isUnmodified();
    });
    ASSERT_TRUE(made);
    EXPECT_TRUE(modified);
    EXPECT_FALSE(loaded);
    EXPECT_TRUE(untouched);
    EXPECT_TRUE(stillModified);
    ASSERT_EQ(prompt.messages().size(), 2);
    EXPECT_EQ(prompt.messages()[1].kind, Prompt::Warning);
    EXPECT_EQ(prompt.messages()[1].text, kNotAProject + bad);
    EXPECT_TRUE(recentProjectsStored().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, HostileProjectTest,
    ::testing::Values(
        Hostile{"NestedBeyondAnyStack", deeplyNested},
        Hostile{"ListClaimingBillions", [] { return seed("count_list.okrp"); }},
        Hostile{"StringListClaimingBillions", [] { return seed("count_stringlist.okrp"); }},
        Hostile{"PolygonClaimingBillions", [] { return seed("count_polygon.okrp"); }},
        Hostile{"IconNamingAFifo", iconNamingAFifo},
        Hostile{"HugePixmap", [] { return openDocumentWith(QStringLiteral("pixmap"), hugePicture(QMetaType::QPixmap)); }},
        Hostile{"HugePictureOutsideTheImages",
                [] { return openDocumentWith(QStringLiteral("preview"), hugePicture(QMetaType::QImage)); }},
        // A project the program wrote, one byte changed (at 6154): the checksum of the end
        // chunk of its source image's PNG, which the reader meets after the last row.
        Hostile{"ImageEndChecksumBroken", [] { return seed("real_image_end_checksum.okrp"); }}),
    [](const ::testing::TestParamInfo<Hostile>& info) { return std::string(info.param.name); });

// A document whose stored source and cut-out are pictures of 4096 x 4096 pixels in a few
// kilobytes each, while its status image is the open photograph's: refused from the pictures'
// headers before their pixels are decoded (which would take half a gigabyte), and the open
// document stays.
TEST_F(ProjectFileTest, ImagesThatDoNotFitTheStatusImageAreRefusedBeforeTheyAreDecoded)
{
    ScriptedPrompt prompt;
    const QString bad = scratchPath(QStringLiteral("huge-images.okrp"));
    bool reset = false;
    bool loaded = true;
    bool untouched = false;
    std::uint64_t grown = ~std::uint64_t(0);
    run([&] {
        QVariantMap document = GmModel::instance()->saveToVariant();
        const QByteArray picture = blackBilevelPng(4096, 4096);
        for (const char* key : {"segImg_", "blendImg_"}) {
            QVariantMap image = document.value(QLatin1String(key)).toMap();
            image.insert(QStringLiteral("imageImage_"), picture);
            document.insert(QLatin1String(key), image);
        }
        writeScratchFile(QStringLiteral("huge-images.okrp"),
                         container(FileHandler::projectMagic, FileHandler::projectVersion,
                                   FileHandler::fingerprint(GmModel::instance()->source()), document));
        const DocumentState before = DocumentState::now();
        PeakResidentGrowth peak;
        reset = peak.isReset();
        loaded = handler()->loadProject(bad);
        grown = peak.megabytes();
        engineIdle();
        untouched = DocumentState::now() == before;
    });
    ASSERT_TRUE(reset);
    EXPECT_FALSE(loaded);
    EXPECT_TRUE(untouched);
    EXPECT_LT(grown, 100u);
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_EQ(prompt.messages()[0].text, kNotAProject + bad);
}

// The form a project of a JPEG or of a dropped image takes: its source and cut-out stored as
// pictures, which Qt's reader decodes as it reads the document. Two of 20000 x 20000 grey
// pixels, a few hundred kilobytes each, beside the open photograph's status image, are refused
// from their headers before they are decoded (which would take 800 MB), and the open document
// stays.
TEST_F(ProjectFileTest, PicturesThatDoNotFitTheStatusImageAreRefusedBeforeTheyAreDecoded)
{
    ScriptedPrompt prompt;
    const QString bad = scratchPath(QStringLiteral("huge-pictures.okrp"));
    bool made = false;
    bool reset = false;
    bool loaded = true;
    bool untouched = false;
    std::uint64_t grown = ~std::uint64_t(0);
    run([&] {
        // Made with a picture of one pixel in place of each, which the large one replaces.
        QImage placeholder(1, 1, QImage::Format_Grayscale8);
        placeholder.fill(7);
        QVariantMap document = GmModel::instance()->saveToVariant();
        for (const char* key : {"segImg_", "blendImg_"}) {
            QVariantMap image = document.value(QLatin1String(key)).toMap();
            image.insert(QStringLiteral("imageMaster_"), int(KsSourceImage::MasterDisplayImage));
            image.insert(QStringLiteral("imageImage_"), placeholder);
            document.insert(QLatin1String(key), image);
        }
        QByteArray bytes = container(FileHandler::projectMagic, FileHandler::projectVersion,
                                     FileHandler::fingerprint(GmModel::instance()->source()), document);
        const QByteArray small = encoded([&placeholder](QDataStream& out) { out << placeholder; });
        const QByteArray large = encoded([](QDataStream& out) { out << qint32(1); }) + blackGreyPng(20000, 20000, 8);
        made = bytes.count(small) == 2;
        writeScratchFile(QStringLiteral("huge-pictures.okrp"), bytes.replace(small, large));
        const DocumentState before = DocumentState::now();
        PeakResidentGrowth peak;
        reset = peak.isReset();
        loaded = handler()->loadProject(bad);
        grown = peak.megabytes();
        engineIdle();
        untouched = DocumentState::now() == before;
    });
    ASSERT_TRUE(made);
    ASSERT_TRUE(reset);
    EXPECT_FALSE(loaded);
    EXPECT_TRUE(untouched);
    EXPECT_LT(grown, 250u);
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_EQ(prompt.messages()[0].text, kNotAProject + bad);
}

TEST_F(ProjectFileTest, EveryReadableVersionLoads)
{
    ScriptedPrompt prompt;
    QList<bool> loaded;
    run([&] {
        for (char version : {8, 9, 10, 11}) {
            const QString path =
                writeScratchFile(QStringLiteral("v%1.okrp").arg(int(version)), openDocument().replace(7, 1, &version, 1));
            loaded << handler()->loadProject(path);
            engineIdle();
        }
    });
    EXPECT_EQ(loaded, (QList<bool>{true, true, true, true}));
    EXPECT_TRUE(prompt.messages().isEmpty());
}

TEST_F(ProjectFileTest, RevertReadsTheProjectAgainAfterAsking)
{
    ScriptedPrompt prompt;
    bool nothingWithoutProject = false;
    bool enabledWithout = true;
    bool enabledWith = false;
    QByteArray saved;
    QByteArray afterCancel;
    QByteArray afterRevert;
    QByteArray changed;
    QStringList recentBefore;
    QStringList recentAfter;
    run([&] {
        QAction* revert = windowAction(QStringLiteral("Rever&t Project"));
        ASSERT_TRUE(revert);
        enabledWithout = revert->isEnabled();
        const QByteArray before = statusBytes();
        handler()->projectRevertSlot();
        nothingWithoutProject = prompt.messages().isEmpty() && prompt.fileRequests().isEmpty() && statusBytes() == before;

        saveAsCut(prompt);
        enabledWith = revert->isEnabled();
        saved = statusBytes();
        // Another, newer entry: a revert must not put the project first again.
        const QString other = scratchPath(QStringLiteral("other.okrp"));
        QFile::copy(scratchPath(QStringLiteral("cut.okrp")), other);
        handler()->addRecentProject(other);
        recentBefore = recentProjectsStored();

        changeMarks();
        changed = statusBytes();
        prompt.answer(QMessageBox::Cancel);
        revert->trigger();
        afterCancel = statusBytes();
        prompt.answer(QMessageBox::Discard);
        revert->trigger();
        engineIdle();
        afterRevert = statusBytes();
        recentAfter = recentProjectsStored();
    });
    EXPECT_FALSE(enabledWithout);
    EXPECT_TRUE(nothingWithoutProject);
    EXPECT_TRUE(enabledWith);
    EXPECT_NE(changed, saved);
    EXPECT_EQ(afterCancel, changed);
    EXPECT_EQ(afterRevert, saved);
    EXPECT_EQ(recentAfter, recentBefore);
    ASSERT_EQ(prompt.messages().size(), 2);
    EXPECT_EQ(prompt.messages()[0].title, QStringLiteral("Reverting project..."));
    EXPECT_EQ(prompt.messages()[1].title, QStringLiteral("Reverting project..."));
    // No file dialog for the revert.
    EXPECT_EQ(prompt.fileRequests().size(), 1);
}

TEST_F(ProjectFileTest, LoadProjectAsksFirstThenOpensTheDialogInTheLastFolder)
{
    ScriptedPrompt prompt;
    QString folder;
    run([&] {
        folder = scratchPath(QStringLiteral("projects"));
        QSettings().setValue(QStringLiteral("FileHandling/LastImageDir"), folder);
        changeMarks();
        prompt.answer(QMessageBox::Cancel);
        windowAction(QStringLiteral("&Load Project..."))->trigger();
        prompt.answer(QMessageBox::Discard);
        prompt.cancelFileName();
        windowAction(QStringLiteral("&Load Project..."))->trigger();
    });
    ASSERT_EQ(prompt.messages().size(), 2);
    EXPECT_EQ(prompt.messages()[0].title, QStringLiteral("Unsaved changes"));
    ASSERT_EQ(prompt.fileRequests().size(), 1);
    EXPECT_EQ(prompt.fileRequests()[0].kind, Prompt::OpenFile);
    EXPECT_EQ(prompt.fileRequests()[0].caption, QStringLiteral("Load Project"));
    EXPECT_EQ(prompt.fileRequests()[0].directory, folder);
    EXPECT_EQ(prompt.fileRequests()[0].filter, kFilter);
}

TEST_F(ProjectFileTest, ANameCompletedByTheProgramAsksBeforeReplacingAFile)
{
    ScriptedPrompt prompt;
    const QString existing = writeScratchFile(QStringLiteral("cut.okrp"), "someone's file");
    QString pathAfterNo = QStringLiteral("unset");
    QByteArray afterYes;
    run([&] {
        prompt.answerFileName(scratchPath(QStringLiteral("cut")));
        prompt.answer(QMessageBox::No);
        handler()->projectSaveAsSlot();
        pathAfterNo = handler()->projectPath();
        EXPECT_EQ(fileBytes(existing), QByteArray("someone's file"));

        // A name the user typed whole was asked about by the dialog itself.
        prompt.answerFileName(existing);
        handler()->projectSaveAsSlot();
        afterYes = fileBytes(existing);
    });
    EXPECT_TRUE(pathAfterNo.isEmpty());
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_EQ(prompt.messages()[0].kind, Prompt::Question);
    EXPECT_EQ(prompt.messages()[0].title, QStringLiteral("Save Project"));
    EXPECT_EQ(prompt.messages()[0].text, QStringLiteral("%1 already exists. Do you want to replace it?").arg(existing));
    EXPECT_EQ(afterYes.left(4), QByteArray::fromHex("08E11602"));
}

// A disk that fills up (a lowered file-size limit stands in for it) mid-file or in the last
// bytes, which are still in the file device's buffer when the file is to replace the old one.
TEST_F(ProjectFileTest, ASaveCutShortKeepsTheOldFileAndTheCloseStillAsks)
{
    ScriptedPrompt prompt;
    QString path;
    QByteArray before;
    qint64 size = 0;
    struct Result {
        qint64 limit;
        bool limited;
        bool kept;
        bool stamped;
        QStringList files;
    };
    QVector<Result> results;
    run(
        [&] {
            path = saveAsCut(prompt);
            before = fileBytes(path);
            changeMarks();
            // The size of the changed document's file.
            QFile whole(scratchPath(QStringLiteral("whole.okrp")));
            ASSERT_TRUE(whole.open(QIODevice::WriteOnly));
            ASSERT_TRUE(handler()->saveProject(whole));
            whole.close();
            size = whole.size();
            whole.remove();
            for (qint64 limit : {size / 2, size - 100}) {
                Result result{limit, false, false, false, {}};
                {
                    FileSizeLimit lowered{rlim_t(limit)};
                    result.limited = lowered.isSet();
                    handler()->projectSaveSlot();
                }
                result.kept = fileBytes(path) == before;
                result.stamped = handler()->projectSavedStamp() == worker()->changeCounter();
                result.files = QDir(scratchPath(QString())).entryList(QDir::Files | QDir::Hidden);
                results.append(result);
            }
            prompt.answer(QMessageBox::Discard);
        },
        false);
    ASSERT_EQ(results.size(), 2);
    for (const Result& result : results) {
        SCOPED_TRACE(testing::Message() << result.limit << " of " << size << " bytes");
        ASSERT_TRUE(result.limited);
        EXPECT_TRUE(result.kept);
        EXPECT_FALSE(result.stamped);
        EXPECT_EQ(result.files, QStringList{QFileInfo(path).fileName()});
    }
    ASSERT_EQ(prompt.messages().size(), 3);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(prompt.messages()[i].text.toStdString(),
                  (QStringLiteral("Could not save project to file\n") + path + QStringLiteral("\n\nFile too large"))
                      .toStdString());
        EXPECT_EQ(prompt.messages()[i].title, productName());
    }
    EXPECT_EQ(prompt.messages()[2].title, QStringLiteral("Unsaved changes"));
}

TEST_F(ProjectFileTest, AFolderThatCannotBeWrittenIsReported)
{
    ScriptedPrompt prompt;
    const QString path = scratchPath(QStringLiteral("missing/cut.okrp"));
    QString projectPath;
    run([&] {
        prompt.answerFileName(path);
        handler()->projectSaveAsSlot();
        projectPath = handler()->projectPath();
    });
    // The name of a file that was never written is not the project's.
    EXPECT_TRUE(projectPath.isEmpty());
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_EQ(prompt.messages()[0].text, QStringLiteral("Could not open file \n") + path);
    EXPECT_TRUE(recentProjectsStored().isEmpty());
}

// ---- A host's launch ----------------------------------------------------------------------------

TEST_F(ProjectFileTest, AHostLaunchTakesOnlyAProjectOfItsOwnImage)
{
    ScriptedPrompt prompt;
    PhotoHandOver handOver;
    const QString foreign = scratchPath(QStringLiteral("foreign.okrp"));
    const QString own = scratchPath(QStringLiteral("own.okrp"));
    bool foreignLoaded = true;
    bool untouched = false;
    bool ownLoaded = false;
    KsApp::setStartUpHook([&](QWidget* window) {
        if (openHandedOverImage()) {
            markStroke({200, 150}, {240, 160}, 2, 0);
            const quint16 print = FileHandler::fingerprint(GmModel::instance()->source());
            const QVariant document(GmModel::instance()->saveToVariant());
            writeScratchFile(QStringLiteral("foreign.okrp"),
                             container(FileHandler::projectMagic, 11, quint16(print ^ 0x5A5A), document));
            writeScratchFile(QStringLiteral("own.okrp"), container(FileHandler::projectMagic, 11, print, document));
            const DocumentState before = DocumentState::now();
            foreignLoaded = handler()->loadProject(foreign);
            untouched = DocumentState::now() == before;
            ownLoaded = handler()->loadProject(own);
            engineIdle();
        }
        mainWindow()->setPromptOnDiscard(false);
        closeSoon(window);
    });
    handOver.run();
    EXPECT_FALSE(foreignLoaded);
    EXPECT_TRUE(untouched);
    EXPECT_TRUE(ownLoaded);
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_EQ(prompt.messages()[0].text,
              QStringLiteral("Cannot load okrp file\n\n%1\n\nbecause it was not created from the current image").arg(foreign));
}

} // namespace
