// The program's process entry run in this process: launch modes, exit codes, the run log it
// writes, and the problem report the main window makes about an earlier crash. Each case runs
// in its own process with fresh temporary and settings folders.
#include "ProgramRun.h"
#include "ScriptedPrompt.h"
#include "document/GmColor.h"
#include "document/GmModel.h"
#include "document/KsAppPreferences.h"
#include "panels/Browser.h"
#include "panels/KsAppStyle.h"
#include "shell/Identity.h"
#include "shell/KsApp.h"
#include "shell/KsApplication.h"
#include "shell/KsMainWindow.h"
#include "shell/Launch.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileOpenEvent>
#include <QRegularExpression>
#include <QTimer>

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/stat.h>

using testsupport::runMain;

namespace {

void closeWhenShown()
{
    KsApp::setStartUpHook([](QWidget* window) { QTimer::singleShot(0, window, &QWidget::close); });
}

QStringList logLines()
{
    QFile log(Klogger::runStem() + QStringLiteral(".txt"));
    if (!log.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool logHas(const QString& text)
{
    for (const QString& line : logLines())
        if (line.contains(text))
            return true;
    return false;
}

class StartUp : public ::testing::Test {
protected:
    void TearDown() override { KsApp::setStartUpHook(nullptr); }
};

TEST(LaunchModes, ArgumentsAreCountedAndComparedExactly)
{
    const char* tn[] = {"p", "--tn", "1", "2", "3", "4", "8", "little", "title", "extra"};
    EXPECT_EQ(launchModeFor(9, tn), LaunchTunnel);
    EXPECT_EQ(launchModeFor(8, tn), LaunchStandalone);
    EXPECT_EQ(launchModeFor(10, tn), LaunchStandalone);
    const char* xml[] = {"p", "--xmltn", "control.okrx", "x"};
    EXPECT_EQ(launchModeFor(3, xml), LaunchXmlTunnel);
    EXPECT_EQ(launchModeFor(4, xml), LaunchStandalone);
    const char* aperture[] = {"p", "--aperture", "photo.png"};
    EXPECT_EQ(launchModeFor(3, aperture), LaunchAperture);
    EXPECT_EQ(launchModeFor(2, aperture), LaunchStandalone);
    const char* upper[] = {"p", "--TN", "1", "2", "3", "4", "8", "little", "title"};
    EXPECT_EQ(launchModeFor(9, upper), LaunchStandalone);
    const char* later[] = {"p", "photo.png", "--aperture"};
    EXPECT_EQ(launchModeFor(3, later), LaunchStandalone);
    const char* none[] = {"p"};
    EXPECT_EQ(launchModeFor(1, none), LaunchStandalone);
}

TEST_F(StartUp, ClosingTheWindowEndsTheRunWithZero)
{
    QString title;
    bool registered = false;
    bool pictureFound = false;
    KsApp::setStartUpHook([&](QWidget* window) {
        pictureFound = QFile::exists(QStringLiteral(":/images/pipette.png"));
        title = window->windowTitle();
        registered = KsMainWindow::instance() == window && window->isVisible()
                     && window->testAttribute(Qt::WA_DeleteOnClose);
        QTimer::singleShot(0, window, &QWidget::close);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(title, QStringLiteral("Kestrine 3"));
    EXPECT_TRUE(registered);
    // The compiled-in pictures are there for the window's parts.
    EXPECT_TRUE(pictureFound);
    // Everything is gone: the window, the application object, the Qt application.
    EXPECT_EQ(KsMainWindow::instance(), nullptr);
    EXPECT_EQ(KsApp::instance(), nullptr);
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
    EXPECT_EQ(Klogger::instance(), nullptr);
}

TEST_F(StartUp, EveryQtObjectGoesBeforeTheQtApplicationAndTheLoggerLast)
{
    bool modelGoneFirst = false;
    bool preferencesGoneFirst = false;
    KsApp::setStartUpHook([&](QWidget* window) {
        QObject::connect(GmModel::instance(), &QObject::destroyed, [&] {
            modelGoneFirst = QCoreApplication::instance() && Klogger::instance();
        });
        QObject::connect(KsAppPreferences::instance()->color(KsAppPreferences::KeepMaskColor),
                         &QObject::destroyed, [&] {
                             preferencesGoneFirst = QCoreApplication::instance() && Klogger::instance();
                         });
        QTimer::singleShot(0, window, &QWidget::close);
    });
    ASSERT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_TRUE(modelGoneFirst);
    EXPECT_TRUE(preferencesGoneFirst);
    EXPECT_EQ(KsAppPreferences::instance(), nullptr);
}

TEST_F(StartUp, AFileOpenEventKeepsItsPathAndCountsAsHandledOnceTheWindowExists)
{
    // The window tries to open the missing file and says so.
    testsupport::ScriptedPrompt prompt;
    QString kept;
    bool handled = false;
    KsApp::setStartUpHook([&](QWidget* window) {
        QFileOpenEvent event(QStringLiteral("/photos/cat.png"));
        handled = QCoreApplication::sendEvent(KsApp::instance()->application(), &event);
        kept = KsApp::instance()->application()->fileOpenPath();
        QTimer::singleShot(0, window, &QWidget::close);
    });
    ASSERT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_TRUE(handled);
    EXPECT_EQ(kept, QStringLiteral("/photos/cat.png"));
}

TEST_F(StartUp, AboutAloneMakesNoApplication)
{
    bool started = false;
    KsApp::setStartUpHook([&](QWidget* window) {
        started = KsApp::instance() != nullptr;
        QTimer::singleShot(0, window, &QWidget::close);
    });
    EXPECT_EQ(runMain({"kestrine3", "--about"}), 0);
    EXPECT_FALSE(started);
    EXPECT_FALSE(QFileInfo::exists(Klogger::runStem() + QStringLiteral(".txt")));
}

TEST_F(StartUp, AboutWithMoreArgumentsAndAShortTunnelLineStartStandAlone)
{
    // Stand-alone, the first argument is taken for an image file, which cannot be read.
    testsupport::ScriptedPrompt prompt;
    std::vector<int> modes;
    KsApp::setStartUpHook([&](QWidget* window) {
        modes.push_back(KsApp::instance()->launchMode());
        QTimer::singleShot(0, window, &QWidget::close);
    });
    EXPECT_EQ(runMain({"kestrine3", "--about", "x"}), 0);
    EXPECT_EQ(runMain({"kestrine3", "--tn", "1", "2", "3", "4", "8", "little"}), 0);
    EXPECT_EQ(modes, (std::vector<int>{LaunchStandalone, LaunchStandalone}));
}

TEST_F(StartUp, ATunnelLaunchExitsWithTheHandBackStatusNotTheLoopResult)
{
    LaunchMode mode = LaunchStandalone;
    KsApp::setStartUpHook([&](QWidget*) {
        mode = KsApp::instance()->launchMode();
        KsApp::instance()->setHandBackStatus(HandBackNothing);
        QTimer::singleShot(0, [] { QCoreApplication::exit(7); });
    });
    EXPECT_EQ(runMain({"kestrine3", "--tn", "1", "2", "3", "4", "8", "little", "title"}),
              int(HandBackNothing));
    EXPECT_EQ(mode, LaunchTunnel);
    // Any other launch exits with the loop's result.
    EXPECT_EQ(runMain({"kestrine3"}), 7);
}

TEST_F(StartUp, TheApplicationStyleWrapsThePlatformsAndHelpLinksPointIntoTheLocalHelp)
{
    bool wrapped = false;
    QString helpRoot;
    QString helpUrl;
    KsApp::setStartUpHook([&](QWidget* window) {
        auto* style = qobject_cast<KsAppStyle*>(QApplication::style());
        wrapped = style && style->baseStyle() && style->baseStyle()->parent() == style;
        helpRoot = Browser::helpRoot();
        helpUrl = KsApp::helpUrl();
        QTimer::singleShot(0, window, &QWidget::close);
    });
    ASSERT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_TRUE(wrapped);
    EXPECT_EQ(helpRoot, helpUrl);
    EXPECT_TRUE(helpRoot.startsWith("file:///"));
}

TEST_F(StartUp, AnExceptionDuringStartUpGivesTwelveAndStillTearsDown)
{
    KsApp::setStartUpHook([](QWidget*) { throw std::runtime_error("start-up broke"); });
    EXPECT_EQ(runMain({"kestrine3"}), 12);
    EXPECT_EQ(KsApp::instance(), nullptr);
    EXPECT_EQ(KsMainWindow::instance(), nullptr);
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
    EXPECT_TRUE(logHas(QStringLiteral("Exiting on an unexpected error: start-up broke")));
}

TEST_F(StartUp, RunningOutOfMemoryGivesEleven)
{
    KsApp::setStartUpHook([](QWidget*) { throw std::bad_alloc(); });
    EXPECT_EQ(runMain({"kestrine3"}), 11);
    EXPECT_EQ(KsApp::instance(), nullptr);
}

TEST_F(StartUp, TheLogStartsWithItsPathThenTheVersion)
{
    QString path;
    KsApp::setStartUpHook([&](QWidget* window) {
        path = Klogger::instance()->logPath();
        QTimer::singleShot(0, window, &QWidget::close);
    });
    ASSERT_EQ(runMain({"kestrine3"}), 0);
    const QString folder = Klogger::logDirectory().path();
    EXPECT_EQ(QFileInfo(path).path(), folder);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}\\.\\d\\d\\.\\d\\d_\\d\\d\\.\\d\\d\\.\\d\\d\\.\\d{3}\\.txt$"))
                    .match(QFileInfo(path).fileName())
                    .hasMatch())
        << qPrintable(path);
    struct stat info;
    ASSERT_EQ(stat(QFile::encodeName(folder).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    const QStringList lines = logLines();
    ASSERT_GE(lines.size(), 2);
    const QString stamp = QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} ");
    EXPECT_TRUE(QRegularExpression(stamp + QRegularExpression::escape(path) + QLatin1Char('$'))
                    .match(lines[0])
                    .hasMatch())
        << qPrintable(lines[0]);
    // The version follows the start-up's own lines (the language, the translation files).
    const int at = lines.indexOf(QRegularExpression(stamp + QStringLiteral("Version: .*")));
    ASSERT_GE(at, 1);
    EXPECT_TRUE(QRegularExpression(stamp + QStringLiteral("Version: 3\\.3\\.8 \\(([0-9a-f]{40}|unknown)\\); Linux$"))
                    .match(lines[at])
                    .hasMatch())
        << qPrintable(lines[at]);
    EXPECT_TRUE(lines[at].endsWith(versionLine()));
    EXPECT_TRUE(lines[1].contains(QStringLiteral("Your active language is [")));
}

TEST_F(StartUp, WarningsAreLoggedDebugMessagesAreNot)
{
    KsApp::setStartUpHook([](QWidget* window) {
        qDebug("a debug message that stays out");
        qWarning("a warning that goes in");
        qCritical("a critical message that goes in");
        QTimer::singleShot(0, window, &QWidget::close);
    });
    ASSERT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_TRUE(logHas(QStringLiteral("a warning that goes in")));
    EXPECT_TRUE(logHas(QStringLiteral("a critical message that goes in")));
    EXPECT_FALSE(logHas(QStringLiteral("a debug message")));
}

QString writeFile(const QString& path, const QByteArray& content = "x")
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
    return path;
}

TEST_F(StartUp, TheMainWindowMovesTheFirstDumpAndItsLogToAnEmptiedEventFolder)
{
    QDir folder = Klogger::logDirectory();
    ASSERT_TRUE(Klogger::prepareLogDirectory().isEmpty());
    const QString first = QStringLiteral("2026.01.02_03.04.05.006");
    const QString second = QStringLiteral("2026.01.03_03.04.05.006");
    writeFile(folder.filePath(first + ".dmp"), "first dump");
    writeFile(folder.filePath(first + ".txt"), "first log");
    writeFile(folder.filePath(second + ".DMP"), "second dump");
    writeFile(folder.filePath(second + ".txt"), "second log");
    ASSERT_TRUE(folder.mkdir(QStringLiteral("Event")));
    writeFile(folder.filePath(QStringLiteral("Event/2025.12.01_00.00.00.000.dmp")), "older report");

    testsupport::ScriptedPrompt prompt;
    QWidget* owner = nullptr;
    KsApp::setStartUpHook([&](QWidget* window) {
        owner = window;
        QTimer::singleShot(0, window, &QWidget::close);
    });
    ASSERT_EQ(runMain({"kestrine3"}), 0);

    const QDir event(folder.filePath(QStringLiteral("Event")));
    EXPECT_EQ(event.entryList(QDir::Files, QDir::Name),
              (QStringList{first + ".dmp", first + ".txt"}));
    EXPECT_FALSE(folder.exists(first + ".dmp"));
    EXPECT_FALSE(folder.exists(second + ".DMP"));
    EXPECT_TRUE(folder.exists(second + ".txt"));

    ASSERT_EQ(prompt.messages().size(), 1);
    const Prompt::Message& box = prompt.messages().first();
    EXPECT_EQ(box.kind, Prompt::Information);
    EXPECT_EQ(box.title, QStringLiteral("Problem Reports Detected"));
    EXPECT_EQ(box.text,
              QStringLiteral("<p>Kestrine 3 recently shutdown unexpectedly.<br/>Log files were "
                             "saved in:</p><p align='center'><font color='blue'>")
                  + QFileInfo(event.path()).canonicalFilePath()
                  + QStringLiteral("</font></p><p>Please help improve this product by emailing "
                                   "these files to:</p><p align='center'><font "
                                   "color='blue'>support@orlenthtech.example</font></p><p>Thank "
                                   "you.</p>"));
    EXPECT_NE(owner, nullptr);
}

TEST_F(StartUp, NoDumpNoReport)
{
    testsupport::ScriptedPrompt prompt;
    closeWhenShown();
    ASSERT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_TRUE(prompt.messages().isEmpty());
    EXPECT_FALSE(Klogger::logDirectory().exists(QStringLiteral("Event")));
}

} // namespace
