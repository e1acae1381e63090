// Opening images, run through the program's own main in this process: the command line's
// photograph, paths handed to the file handler and by the operating system, the Open dialog,
// the Close command, the refusal while the engine is still starting, and the recent entries
// that ask before dropping unsaved work. Each case runs in its own process with fresh
// temporary and settings folders.

#include "canvas/ImageView.h"
#include "document/Brushing.h"
#include "document/GmAction.h"
#include "document/GmModel.h"
#include "document/KsSourceImage.h"
#include "engine/DravikCommand.h"
#include "engine/DravikThread.h"
#include "engine/DvCmdBeginSession.h"
#include "engine/DvCmdInit.h"
#include "engine/DvCmdSelect.h"
#include "shell/FileHandler.h"
#include "shell/KsApp.h"
#include "shell/KsApplication.h"
#include "shell/KsMainWindow.h"

#include "platform/clock.h"

#include "ExifBlock.h"
#include "HoldCommand.h"
#include "HostileImages.h"
#include "MainWindowRun.h"
#include "PeakMemory.h"
#include "ProgramRun.h"
#include "ScriptedPrompt.h"
#include "Wait.h"
#include "ScratchFiles.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileOpenEvent>
#include <QImageReader>
#include <QLocale>
#include <QSettings>
#include <QSignalMapper>
#include <QStatusBar>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include <sys/stat.h>

using testsupport::AddressSpaceLimit;
using testsupport::chelseaPath;
using testsupport::closeSoon;
using testsupport::keepStroke;
using testsupport::engineIdle;
using testsupport::HoldCommand;
using testsupport::mainWindow;
using testsupport::windowAction;
using testsupport::openPhoto;
using testsupport::ReportedMemory;
using testsupport::runEmptyTunnel;
using testsupport::runMain;
using testsupport::ScriptedPrompt;
using testsupport::waitUntil;
using testsupport::worker;

using testsupport::fileBytes;
using testsupport::scratchPath;
using testsupport::writeScratchFile;

namespace {

// A copy of the photograph under another name (the PNG reader does not go by the suffix).
QString photoCopy(const QString& name)
{
    return writeScratchFile(name, fileBytes(chelseaPath));
}

// The fruit photograph, stored sideways with an EXIF orientation of 6.
QString turnedFruits()
{
    return writeScratchFile(QStringLiteral("photos/fruits6.jpg"),
                     testsupport::spliceAfterSoi(fileBytes(QStringLiteral(KESTRINE_TEST_DATA "/fruits.jpg")),
                                                 testsupport::ExifBlock::orientationApp1(6)));
}

QString canonical(const QString& path)
{
    return QDir::toNativeSeparators(QFileInfo(path).canonicalFilePath());
}

QString setting(const char* key)
{
    return QSettings().value(QLatin1String(key)).toString();
}

QStringList recentFilesStored()
{
    return QSettings().value(QStringLiteral("FileHandling/RecentFiles")).toStringList();
}

FileHandler* handler()
{
    return FileHandler::instance();
}

QString documentFile()
{
    const KsSourceImage* source = GmModel::instance()->source();
    return source ? source->fileName() : QString();
}

// Counts the model's announcements of a new or closed image.
class ImageChanges {
public:
    ImageChanges()
    {
        m_connection = QObject::connect(GmModel::instance(), &GmModel::tellImageChanged,
                                        [this](const KsSourceImage*) { ++m_count; });
    }
    ~ImageChanges() { QObject::disconnect(m_connection); }
    int count() const { return m_count; }

private:
    QMetaObject::Connection m_connection;
    int m_count = 0;
};

// The expected filter of the Open dialog.
QString imageFilter()
{
    QStringList patterns;
    for (const QByteArray& format : QImageReader::supportedImageFormats())
        patterns << QStringLiteral("*.") + QString::fromLatin1(format);
    return QStringLiteral("Images (") + patterns.join(QLatin1Char(' '))
           + QStringLiteral(" *.tif *.tiff);;All files (*)");
}

// Engine-start commands that stay in place while the test looks: when held, they wait in
// execute for the release; they leave the model alone.
std::atomic<bool> g_release{false};

void waitForRelease()
{
    while (!g_release.load())
        QThread::msleep(1);
}

class HeldInit : public DvCmdInit {
public:
    HeldInit() : DvCmdInit(nullptr) {}
    void execute() override { waitForRelease(); }
    void finish() override {}
};

class HeldSession : public DvCmdBeginSession {
public:
    HeldSession() : DvCmdBeginSession(nullptr) {}
    bool prepare() override { return true; }
    void execute() override { waitForRelease(); }
    void finish() override {}
};

// A handler whose project loading is watched.
class ProjectSpy : public FileHandler {
public:
    using FileHandler::FileHandler;
    bool loadProject(const QString& path) override
    {
        projects << path;
        return true;
    }
    QStringList projects;
};

class FileHandlerTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        KsApp::setStartUpHook(nullptr);
        platform::setProcessorCountOverride(0);
        g_release = true;
    }

    // Runs the body on the started stand-alone program with the photograph as the document,
    // then closes the window.
    void runWithPhoto(const std::function<void()>& body)
    {
        KsApp::setStartUpHook([body](QWidget* window) {
            ASSERT_TRUE(openPhoto());
            body();
            engineIdle();
            closeSoon(window);
        });
        runMain({"kestrine3"});
    }

    // A FIFO would hold the open until a writer comes, a folder is no file: neither is opened, and
    // the open document stays and the message names each.
    void expectFifoAndFolderRefused(const QString& suffix,
                                    const std::function<bool(FileHandler*, const QString&)>& load,
                                    const QString& message)
    {
        ScriptedPrompt prompt;
        const QString fifo = scratchPath(QStringLiteral("pipe.") + suffix);
        const QString folder = scratchPath(QStringLiteral("folder.") + suffix);
        ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        ASSERT_TRUE(QDir().mkpath(folder));
        QList<bool> loaded;
        const KsSourceImage* before = nullptr;
        const KsSourceImage* after = nullptr;
        runWithPhoto([&] {
            before = GmModel::instance()->source();
            loaded << load(handler(), fifo) << load(handler(), folder);
            after = GmModel::instance()->source();
        });
        EXPECT_EQ(loaded, (QList<bool>{false, false}));
        EXPECT_EQ(after, before);
        ASSERT_EQ(prompt.messages().size(), 2);
        EXPECT_EQ(prompt.messages()[0].text, message + fifo);
        EXPECT_EQ(prompt.messages()[1].text, message + folder);
    }

    // With the photograph open and the engine held as the setup leaves it, the installation
    // of another file is refused and leaves the document alone.
    void expectRefusedWhile(const std::function<void()>& holdEngine)
    {
        const QString other = photoCopy(QStringLiteral("other.png"));
        bool refused = false;
        bool stillOurs = false;
        int changes = -1;
        const KsSourceImage* before = nullptr;
        const KsSourceImage* after = nullptr;
        QString firstRecent;
        runWithPhoto([&] {
            before = GmModel::instance()->source();
            holdEngine();
            ImageChanges imageChanges;
            auto* image = new KsSourceImage(other);
            refused = !handler()->setSourceImage(image, nullptr);
            if (refused) {
                // Still ours: the model must not have taken or freed it.
                stillOurs = image->isValid();
                delete image;
            }
            after = GmModel::instance()->source();
            changes = imageChanges.count();
            firstRecent = handler()->recentFiles().value(0);
            g_release = true;
        });
        EXPECT_TRUE(refused);
        EXPECT_TRUE(stillOurs);
        EXPECT_EQ(after, before);
        EXPECT_EQ(changes, 0);
        EXPECT_EQ(firstRecent, canonical(other));
        EXPECT_EQ(recentFilesStored().value(0), canonical(other));
    }
};

// ---- Start-up ------------------------------------------------------------------------------------

TEST_F(FileHandlerTest, APhotoOnTheCommandLineOpensUprightAsTheDocument)
{
    const QString photo = turnedFruits();
    QSize size;
    QString file;
    QString projectPath = QStringLiteral("unset");
    int tab = 0;
    KsApp::setStartUpHook([&](QWidget* window) {
        if (const KsSourceImage* source = GmModel::instance()->source()) {
            size = QSize(source->width(), source->height());
            file = source->fileName();
        }
        projectPath = handler()->projectPath();
        tab = mainWindow()->imageView()->currentViewTab();
        engineIdle();
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"p", photo.toStdString()}), 0);
    EXPECT_EQ(size, QSize(480, 512));
    EXPECT_EQ(file, photo);
    EXPECT_TRUE(projectPath.isEmpty());
    EXPECT_EQ(tab, int(ImageView::Workspace));
    EXPECT_EQ(recentFilesStored().value(0), canonical(photo));
    EXPECT_EQ(setting("FileHandling/LastImageDir"), scratchPath(QStringLiteral("photos")));
}

// The engine's progress takes the status bar over at once, so the messages are watched as they
// come.
TEST_F(FileHandlerTest, TheOpenedPathShowsInTheStatusBarForTwoSeconds)
{
    const QString png = photoCopy(QStringLiteral("shown.png"));
    QStringList messages;
    QList<int> timeouts;
    runWithPhoto([&] {
        QStatusBar* bar = mainWindow()->statusBar();
        QObject::connect(bar, &QStatusBar::messageChanged, bar, [&, bar](const QString& message) {
            messages << message;
            // The status bar times a message out with a timer of its own.
            int timeout = 0;
            for (QTimer* timer : bar->findChildren<QTimer*>(QString(), Qt::FindDirectChildrenOnly))
                if (timer->isActive())
                    timeout = timer->interval();
            timeouts << timeout;
        });
        handler()->loadFile(png);
        engineIdle();
        QObject::disconnect(bar, &QStatusBar::messageChanged, bar, nullptr);
    });
    ASSERT_FALSE(messages.isEmpty());
    EXPECT_EQ(messages.first(), png);
    EXPECT_EQ(timeouts.first(), 2000);
}

TEST_F(FileHandlerTest, AStartWithoutAnArgumentOpensNothing)
{
    bool empty = false;
    KsApp::setStartUpHook([&](QWidget* window) {
        empty = !GmModel::instance()->source() && handler() && handler()->recentFiles().isEmpty();
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_TRUE(empty);
}

// ---- Paths from the command line and the operating system ---------------------------------------

TEST_F(FileHandlerTest, OnlyTheExactProjectSuffixLoadsAProject)
{
    const QString upper = photoCopy(QStringLiteral("shot.OKRP"));
    QStringList projects;
    QString opened;
    runWithPhoto([&] {
        ProjectSpy spy(mainWindow());
        spy.loadFile(scratchPath(QStringLiteral("work.okrp")));
        spy.loadFile(upper);
        engineIdle();
        projects = spy.projects;
        opened = documentFile();
    });
    EXPECT_EQ(projects, QStringList{scratchPath(QStringLiteral("work.okrp"))});
    EXPECT_EQ(opened, upper);
}

TEST_F(FileHandlerTest, AProjectPathNamingNoProjectIsRefused)
{
    ScriptedPrompt prompt;
    bool loaded = true;
    const KsSourceImage* before = nullptr;
    const KsSourceImage* after = nullptr;
    const QString project = writeScratchFile(QStringLiteral("work.okrp"), "not a project");
    runWithPhoto([&] {
        before = GmModel::instance()->source();
        handler()->loadFile(project);
        loaded = handler()->loadProject(project);
        after = GmModel::instance()->source();
    });
    EXPECT_FALSE(loaded);
    EXPECT_EQ(after, before);
    ASSERT_EQ(prompt.messages().size(), 2);
    EXPECT_EQ(prompt.messages()[0].text, QStringLiteral("File is not of the correct format \n") + project);
}

TEST_F(FileHandlerTest, AFifoOrAFolderNamedAsAProjectIsRefusedUnopened)
{
    expectFifoAndFolderRefused(
        QStringLiteral("okrp"), [](FileHandler* handler, const QString& path) { return handler->loadProject(path); },
        QStringLiteral("Could not open file\n"));
}

TEST_F(FileHandlerTest, AFifoOrAFolderIsNoImage)
{
    expectFifoAndFolderRefused(
        QStringLiteral("png"), [](FileHandler* handler, const QString& path) { return handler->loadImage(path); },
        QStringLiteral("Sorry - could not open file "));
}

// An image whose pixels cannot be allocated while it is read (weighed as fitting, the address
// space limited below what they take) is reported as lacking memory, not as a file that cannot
// be read, and the open document stays.
TEST_F(FileHandlerTest, AnImageWhosePixelsCannotBeAllocatedIsToldAndTheDocumentStays)
{
    const QString big = writeScratchFile(QStringLiteral("grey-20000.png"), testsupport::blackBilevelPng(20000, 20000));
    ScriptedPrompt prompt;
    bool limited = false;
    bool loaded = true;
    const KsSourceImage* before = nullptr;
    const KsSourceImage* after = nullptr;
    QString file;
    runWithPhoto([&] {
        before = GmModel::instance()->source();
        ReportedMemory plenty(qint64(1) << 40);
        {
            AddressSpaceLimit limit(std::uint64_t(1) << 30);
            limited = limit.isSet();
            loaded = handler()->loadImage(big);
        }
        after = GmModel::instance()->source();
        file = documentFile();
    });
    ASSERT_TRUE(limited);
    EXPECT_FALSE(loaded);
    EXPECT_EQ(after, before);
    EXPECT_EQ(file, chelseaPath);
    ASSERT_EQ(prompt.messages().size(), 1);
    const QString& text = prompt.messages()[0].text;
    EXPECT_TRUE(text.startsWith(QStringLiteral("Sorry - not enough memory to open file ") + big
                                + QStringLiteral("\n\nThe image has 20000 x 20000 pixels: ")))
        << text.toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral("more than the system could give."))) << text.toStdString();
}

// An image read whole whose cut-out copy cannot be allocated is told with what opening it takes
// in all, the image and its copy, not half of it; the open document stays.
TEST_F(FileHandlerTest, ACutOutCopyThatCannotBeAllocatedIsToldWithTheWholeNeed)
{
    const QString file = writeScratchFile(QStringLiteral("grey-4000.png"), testsupport::blackBilevelPng(4000, 4000));
    const quint64 image = imagememory::toHold(4000, 4000, imagememory::Held::Own16Bit);
    ScriptedPrompt prompt;
    bool limited = false;
    bool loaded = true;
    const KsSourceImage* before = nullptr;
    const KsSourceImage* after = nullptr;
    runWithPhoto([&] {
        before = GmModel::instance()->source();
        ReportedMemory plenty(qint64(1) << 40);
        {
            // Room for the image, not for its copy as well.
            AddressSpaceLimit limit(image + image / 2);
            limited = limit.isSet();
            loaded = handler()->loadImage(file);
        }
        after = GmModel::instance()->source();
    });
    ASSERT_TRUE(limited);
    EXPECT_FALSE(loaded);
    EXPECT_EQ(after, before);
    ASSERT_EQ(prompt.messages().size(), 1);
    const QString whole = QLocale().formattedDataSize(qint64(imagememory::toOpen(4000, 4000, imagememory::Held::Own16Bit)),
                                                      1, QLocale::DataSizeTraditionalFormat);
    EXPECT_EQ(prompt.messages()[0].text, QStringLiteral("Sorry - not enough memory to open file ") + file
                                             + QStringLiteral("\n\nThe image has 4000 x 4000 pixels: opening it takes about ")
                                             + whole + QStringLiteral(" of memory, more than the system could give."));
}

// Under an address-space limit the engine's threads take their stacks and heap arenas out of it
// once they work on the image: an image whose pixels would fit in what the limit leaves, but
// not beside those threads, is refused before it is read, and the open document stays.
TEST_F(FileHandlerTest, AnImageThatFitsTheAddressSpaceOnlyWithoutTheEnginesThreadsIsRefused)
{
    const QString file = writeScratchFile(QStringLiteral("grey-2000.png"), testsupport::blackBilevelPng(2000, 1500));
    ScriptedPrompt prompt;
    bool limited = false;
    bool loaded = true;
    const KsSourceImage* before = nullptr;
    const KsSourceImage* after = nullptr;
    runWithPhoto([&] {
        before = GmModel::instance()->source();
        // Sixty-four processors: their analysis threads' stacks alone take more than a gigabyte.
        platform::setProcessorCountOverride(64);
        {
            AddressSpaceLimit limit(imagememory::toOpen(2000, 1500, imagememory::Held::Own16Bit) + (std::uint64_t(256) << 20));
            limited = limit.isSet();
            loaded = handler()->loadImage(file);
        }
        platform::setProcessorCountOverride(0);
        after = GmModel::instance()->source();
    });
    ASSERT_TRUE(limited);
    EXPECT_FALSE(loaded);
    EXPECT_EQ(after, before);
    ASSERT_EQ(prompt.messages().size(), 1);
    const QString& text = prompt.messages()[0].text;
    EXPECT_TRUE(text.startsWith(QStringLiteral("Sorry - not enough memory to open file ") + file
                                + QStringLiteral("\n\nThe image has 2000 x 1500 pixels: ")))
        << text.toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral(" is available."))) << text.toStdString();
}

TEST_F(FileHandlerTest, AFileOpenEventForAnImageOpensItAndIsHandled)
{
    const QString png = photoCopy(QStringLiteral("event.png"));
    bool handled = false;
    QString opened;
    KsApp::setStartUpHook([&](QWidget* window) {
        QFileOpenEvent event(png);
        handled = QCoreApplication::sendEvent(KsApp::instance()->application(), &event);
        engineIdle();
        opened = documentFile();
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_TRUE(handled);
    EXPECT_EQ(opened, png);
    EXPECT_EQ(recentFilesStored().value(0), canonical(png));
}

TEST_F(FileHandlerTest, AHostLaunchTakesNoImagePath)
{
    const QString png = photoCopy(QStringLiteral("host.png"));
    int loadState = -1;
    bool nothingStarted = false;
    QStringList recent{QStringLiteral("unset")};
    KsApp::setStartUpHook([&](QWidget* window) {
        handler()->loadFile(png);
        QFileOpenEvent event(png);
        QCoreApplication::sendEvent(KsApp::instance()->application(), &event);
        // The model notes the load state first thing in every installation.
        loadState = GmModel::instance()->loadState();
        nothingStarted = !worker()->currentCommand() && worker()->isQueueEmpty() && !GmModel::instance()->source();
        recent = handler()->recentFiles();
        closeSoon(window);
    });
    runEmptyTunnel();
    EXPECT_EQ(loadState, 0);
    EXPECT_TRUE(nothingStarted);
    EXPECT_TRUE(recent.isEmpty());
}

TEST_F(FileHandlerTest, AHostLaunchInstallsTheHandedOverImages)
{
    testsupport::PhotoHandOver handOver;
    bool installed = false;
    bool sameOutput = false;
    int tab = 0;
    KsApp::setStartUpHook([&](QWidget* window) {
        KsApp* app = KsApp::instance();
        installed = app->sourceImage() && GmModel::instance()->source() == app->sourceImage();
        sameOutput = GmModel::instance()->output() == app->outputImage();
        tab = mainWindow()->imageView()->currentViewTab();
        engineIdle();
        closeSoon(window);
    });
    EXPECT_EQ(handOver.run(), int(HandBackNothing));
    EXPECT_TRUE(installed);
    EXPECT_TRUE(sameOutput);
    EXPECT_EQ(tab, int(ImageView::Workspace));
}

// ---- Installation while the engine starts --------------------------------------------------------

TEST_F(FileHandlerTest, RefusedWhileAnEngineStartRuns)
{
    expectRefusedWhile([] {
        worker()->submit(new HeldInit);
        ASSERT_TRUE(waitUntil([] { return DvCmdInit::staticMetaObject.cast(worker()->currentCommand()); }));
    });
}

TEST_F(FileHandlerTest, RefusedWhileAnEngineStartIsQueued)
{
    expectRefusedWhile([] {
        worker()->submit(new HoldCommand(&g_release));
        worker()->submit(new HeldInit);
        ASSERT_FALSE(DvCmdInit::staticMetaObject.cast(worker()->currentCommand()));
        ASSERT_EQ(worker()->queue().size(), 1);
    });
}

TEST_F(FileHandlerTest, RefusedWhileASessionStartRuns)
{
    expectRefusedWhile([] {
        worker()->submit(new HeldSession);
        ASSERT_TRUE(waitUntil([] { return DvCmdBeginSession::staticMetaObject.cast(worker()->currentCommand()); }));
    });
}

TEST_F(FileHandlerTest, RefusedWhileASessionStartIsQueued)
{
    expectRefusedWhile([] {
        worker()->submit(new HoldCommand(&g_release));
        worker()->submit(new HeldSession);
        ASSERT_EQ(worker()->queue().size(), 1);
    });
}

TEST_F(FileHandlerTest, AnotherCommandRunningDoesNotRefuse)
{
    const QString other = photoCopy(QStringLiteral("other.png"));
    bool installed = false;
    runWithPhoto([&] {
        worker()->submit(new HoldCommand(&g_release));
        installed = handler()->setSourceImage(new KsSourceImage(other), nullptr);
        g_release = true;
        engineIdle();
    });
    EXPECT_TRUE(installed);
}

// ---- The Open dialog and the Close command -------------------------------------------------------

TEST_F(FileHandlerTest, TheOpenDialogAsksInTheLastFolderForImages)
{
    ScriptedPrompt prompt;
    const QString folder = scratchPath(QStringLiteral("pictures"));
    runWithPhoto([&] {
        QAction* open = windowAction(QStringLiteral("&Open..."));
        ASSERT_TRUE(open);
        prompt.cancelFileName();
        open->trigger();
        QSettings().setValue(QStringLiteral("FileHandling/LastImageDir"), folder);
        prompt.cancelFileName();
        open->trigger();
    });
    ASSERT_EQ(prompt.fileRequests().size(), 2);
    const Prompt::FileRequest& first = prompt.fileRequests()[0];
    EXPECT_EQ(first.kind, Prompt::OpenFile);
    EXPECT_EQ(first.caption, QStringLiteral("Open"));
    EXPECT_EQ(first.directory, QDir::homePath());
    EXPECT_EQ(first.filter, imageFilter());
    EXPECT_EQ(first.options, QFileDialog::Options(QFileDialog::Option(0x8)) /* DontUseSheet */);
    EXPECT_EQ(prompt.fileRequests()[1].directory, folder);
}

TEST_F(FileHandlerTest, OpenInstallsTheChosenFileInTheWorkspaceTab)
{
    ScriptedPrompt prompt;
    const QString png = photoCopy(QStringLiteral("chosen/open.png"));
    QString opened;
    int tab = 0;
    runWithPhoto([&] {
        mainWindow()->imageView()->sourceAction()->trigger();
        ASSERT_EQ(mainWindow()->imageView()->currentViewTab(), ImageView::Source);
        prompt.answerFileName(png);
        windowAction(QStringLiteral("&Open..."))->trigger();
        engineIdle();
        opened = documentFile();
        tab = mainWindow()->imageView()->currentViewTab();
    });
    EXPECT_EQ(opened, png);
    EXPECT_EQ(tab, int(ImageView::Workspace));
    EXPECT_EQ(setting("FileHandling/LastImageDir"), scratchPath(QStringLiteral("chosen")));
    EXPECT_EQ(recentFilesStored().value(0), canonical(png));
    EXPECT_TRUE(prompt.messages().isEmpty());
}

TEST_F(FileHandlerTest, AskingForAnImageStoresItsFolderAtOnceOpenDoesNot)
{
    ScriptedPrompt prompt;
    const QString bad = writeScratchFile(QStringLiteral("broken/bad.png"), "not a picture");
    QString asked;
    QString folderAfterAsk;
    QString folderAfterOpen;
    const KsSourceImage* before = nullptr;
    const KsSourceImage* after = nullptr;
    int changes = -1;
    runWithPhoto([&] {
        prompt.answerFileName(scratchPath(QStringLiteral("asked/never.png")));
        asked = handler()->askImageFilename();
        folderAfterAsk = setting("FileHandling/LastImageDir");
        QSettings().setValue(QStringLiteral("FileHandling/LastImageDir"), scratchPath(QStringLiteral("kept")));

        before = GmModel::instance()->source();
        ImageChanges imageChanges;
        prompt.answerFileName(bad);
        windowAction(QStringLiteral("&Open..."))->trigger();
        folderAfterOpen = setting("FileHandling/LastImageDir");
        after = GmModel::instance()->source();
        changes = imageChanges.count();
    });
    EXPECT_EQ(asked, scratchPath(QStringLiteral("asked/never.png")));
    EXPECT_EQ(folderAfterAsk, scratchPath(QStringLiteral("asked")));
    ASSERT_EQ(prompt.fileRequests().size(), 2);
    EXPECT_EQ(prompt.fileRequests()[0].caption, QStringLiteral("Open"));
    EXPECT_EQ(prompt.fileRequests()[0].filter, imageFilter());
    // The unreadable file was reported by the reader and left the document as it was.
    EXPECT_EQ(folderAfterOpen, scratchPath(QStringLiteral("kept")));
    EXPECT_EQ(after, before);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(prompt.messages().size(), 1);
    EXPECT_FALSE(recentFilesStored().contains(canonical(bad)));
}

TEST_F(FileHandlerTest, CancellingTheDialogOrTheDiscardCheckChangesNothing)
{
    ScriptedPrompt prompt;
    const QString png = photoCopy(QStringLiteral("unused.png"));
    const KsSourceImage* before = nullptr;
    const KsSourceImage* after = nullptr;
    int changes = -1;
    int requestsAfterDialogCancel = -1;
    runWithPhoto([&] {
        before = GmModel::instance()->source();
        ImageChanges imageChanges;
        prompt.cancelFileName();
        windowAction(QStringLiteral("&Open..."))->trigger();
        requestsAfterDialogCancel = prompt.fileRequests().size();

        keepStroke();
        prompt.answer(QMessageBox::Cancel);
        prompt.answerFileName(png);
        windowAction(QStringLiteral("&Open..."))->trigger();
        after = GmModel::instance()->source();
        changes = imageChanges.count();
        // Let the window go without asking again.
        mainWindow()->setPromptOnDiscard(false);
    });
    EXPECT_EQ(requestsAfterDialogCancel, 1);
    // The discard check said Cancel: no dialog.
    EXPECT_EQ(prompt.fileRequests().size(), 1);
    ASSERT_GE(prompt.messages().size(), 1);
    EXPECT_EQ(prompt.messages()[0].title, QStringLiteral("Unsaved changes"));
    EXPECT_EQ(after, before);
    EXPECT_EQ(changes, 0);
    EXPECT_TRUE(recentFilesStored().isEmpty());
}

TEST_F(FileHandlerTest, CloseAsksThenClosesTheImage)
{
    ScriptedPrompt prompt;
    bool keptAfterCancel = false;
    bool closed = false;
    runWithPhoto([&] {
        QAction* close = windowAction(QStringLiteral("&Close"));
        ASSERT_TRUE(close);
        keepStroke();
        prompt.answer(QMessageBox::Cancel);
        close->trigger();
        keptAfterCancel = GmModel::instance()->source() != nullptr;
        prompt.answer(QMessageBox::Discard);
        close->trigger();
        closed = GmModel::instance()->source() == nullptr;
    });
    EXPECT_TRUE(keptAfterCancel);
    EXPECT_TRUE(closed);
    ASSERT_EQ(prompt.messages().size(), 2);
    EXPECT_EQ(prompt.messages()[1].title, QStringLiteral("Unsaved changes"));
}

// ---- Recent entries ------------------------------------------------------------------------------

TEST_F(FileHandlerTest, ARecentEntryAsksBeforeDroppingUnsavedWork)
{
    ScriptedPrompt prompt;
    const QString png = photoCopy(QStringLiteral("recent.png"));
    bool askedAtOnce = true;
    QString afterCancel;
    QString afterDiscard;
    runWithPhoto([&] {
        keepStroke();
        QObject entry;
        QSignalMapper* mapper = mainWindow()->recentFilesMapper();
        mapper->setMapping(&entry, png);
        prompt.answer(QMessageBox::Cancel);
        mapper->map(&entry);
        // Queued: the menu closes first.
        askedAtOnce = !prompt.messages().isEmpty();
        ASSERT_TRUE(waitUntil([&] { return !prompt.messages().isEmpty(); }));
        afterCancel = documentFile();

        prompt.answer(QMessageBox::Discard);
        mapper->map(&entry);
        ASSERT_TRUE(waitUntil([&] { return documentFile() == png; }));
        engineIdle();
        afterDiscard = documentFile();
    });
    EXPECT_FALSE(askedAtOnce);
    ASSERT_EQ(prompt.messages().size(), 2);
    EXPECT_EQ(prompt.messages()[0].title, QStringLiteral("Unsaved changes"));
    EXPECT_EQ(prompt.messages()[0].kind, Prompt::Critical);
    EXPECT_EQ(afterCancel, chelseaPath);
    EXPECT_EQ(afterDiscard, png);
}

TEST_F(FileHandlerTest, ARecentProjectAsksBeforeLoading)
{
    ScriptedPrompt prompt;
    const QString project = writeScratchFile(QStringLiteral("recent.okrp"), "project");
    QStringList afterCancel{QStringLiteral("unset")};
    QStringList afterDiscard;
    runWithPhoto([&] {
        keepStroke();
        // A spy in place of the window's handler watches the loads.
        QSignalMapper* mapper = mainWindow()->recentProjectsMapper();
        QObject::disconnect(mapper, nullptr, mainWindow()->fileHandler(), nullptr);
        ProjectSpy spy(mainWindow());
        QObject::connect(mapper, &QSignalMapper::mappedString, &spy, &FileHandler::recentProjectChosenSlot,
                         Qt::QueuedConnection);
        QObject entry;
        mapper->setMapping(&entry, project);
        prompt.answer(QMessageBox::Cancel);
        mapper->map(&entry);
        ASSERT_TRUE(waitUntil([&] { return prompt.messages().size() == 1; }));
        afterCancel = spy.projects;
        prompt.answer(QMessageBox::Discard);
        mapper->map(&entry);
        ASSERT_TRUE(waitUntil([&] { return !spy.projects.isEmpty(); }));
        afterDiscard = spy.projects;
        mainWindow()->setPromptOnDiscard(false);
    });
    EXPECT_TRUE(afterCancel.isEmpty());
    EXPECT_EQ(afterDiscard, QStringList{project});
    ASSERT_EQ(prompt.messages().size(), 2);
    EXPECT_EQ(prompt.messages()[0].title, QStringLiteral("Unsaved changes"));
}

} // namespace
