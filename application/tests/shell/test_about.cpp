// The About box (offscreen, and once as a real window of the program under Xvfb), the help and
// tutorial addresses, and the addresses of the maker's pages.
#include "XvfbDisplay.h"
#include "shell/DistributorRecord.h"
#include "shell/Identity.h"
#include "shell/KsAboutBox.h"
#include "shell/KsApp.h"
#include "shell/KsMainWindow.h"
#include "shell/Launch.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

const QString testRoot = QStringLiteral("http://www.test.invalid");

class AboutFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "about-test";
        static char* argv[] = {name, nullptr};
        m_application = std::make_unique<QApplication>(argc, argv);
        ASSERT_TRUE(m_folder.isValid());
        // Read from here, never from the build tree.
        setDistributorFolder(m_folder.path());
        setWebRoot(testRoot);
    }
    void TearDown() override
    {
        KsAboutBox::destroyInstance();
        QSettings settings(organizationName(), applicationName());
        settings.clear();
        setDistributorFolder(QString());
        setWebRoot(QString());
        m_application.reset();
    }

    void writeLogo(int width) const
    {
        QImage logo(width, 40, QImage::Format_ARGB32);
        logo.fill(Qt::blue);
        ASSERT_TRUE(logo.save(m_folder.filePath(QStringLiteral("distributor.png"))));
    }
    void writeDistributor(const char* id, const char* text) const
    {
        QFile file(m_folder.filePath(QStringLiteral("distributor.xml")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("<Distributor id=\"%1\"><HomePage enabled=\"1\"/><LatestNews enabled=\"1\"/>"
                                  "<CheckForUpdates enabled=\"1\"/><AboutBoxText>%2</AboutBoxText>"
                                  "<Email support=\"s@d.example\"/></Distributor>")
                       .arg(QLatin1String(id), QLatin1String(text))
                       .toUtf8());
    }
    static KsAboutBox* openBox()
    {
        KsApp::about(nullptr);
        KsAboutBox* box = KsAboutBox::instance();
        EXPECT_NE(box, nullptr);
        return box;
    }

    std::unique_ptr<QApplication> m_application;
    QTemporaryDir m_folder;
};

using About = AboutFixture;
using Addresses = AboutFixture;

TEST_F(About, AWideLogoIsScaledToTwoHundredPixelsANarrowOneIsNot)
{
    writeLogo(640);
    KsAboutBox* box = openBox();
    ASSERT_NE(box, nullptr);
    ASSERT_FALSE(box->logoLabel()->pixmap(Qt::ReturnByValue).isNull());
    EXPECT_EQ(box->logoLabel()->pixmap(Qt::ReturnByValue).width(), 200);
    EXPECT_EQ(box->logoLabel()->pixmap(Qt::ReturnByValue).height(), 13); // 40 * 200 / 640, rounded
    KsAboutBox::destroyInstance();

    writeLogo(150);
    setDistributorFolder(m_folder.path());
    box = openBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->logoLabel()->pixmap(Qt::ReturnByValue).width(), 150);
}

TEST_F(About, WithoutALogoTheBoxShowsTheInformationIcon)
{
    KsAboutBox* box = openBox();
    ASSERT_NE(box, nullptr);
    ASSERT_FALSE(box->logoLabel()->pixmap(Qt::ReturnByValue).isNull());
    EXPECT_EQ(box->logoLabel()->pixmap(Qt::ReturnByValue).toImage(),
              QMessageBox::standardIcon(QMessageBox::Information).toImage());
}

TEST_F(About, ASecondRequestBringsTheSameBoxForwardAndAClosedOneIsGone)
{
    KsAboutBox* first = openBox();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_FALSE(first->isModal());
    EXPECT_EQ(openBox(), first);

    QPointer<KsAboutBox> closed(first);
    first->findChild<QPushButton*>()->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(closed.isNull());
    EXPECT_EQ(KsAboutBox::instance(), nullptr);
    EXPECT_NE(openBox(), nullptr);
}

TEST_F(About, TheBoxIsThreeHundredTwentyPixelsWideAndFixedToItsContent)
{
    KsAboutBox* box = openBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->width(), 320);
    EXPECT_EQ(box->minimumSize(), box->maximumSize());
    EXPECT_GT(box->height(), 0);
    EXPECT_LE(box->height(), 1024);
    EXPECT_LE(box->textLabel()->width(), 280);
    EXPECT_FALSE(box->isSizeGripEnabled());
    EXPECT_TRUE(box->windowFlags() & Qt::MSWindowsFixedSizeDialogHint);
}

TEST_F(About, TheTextNamesTheVersionBuildAndDistributor)
{
    writeDistributor("acme", "Sold by Acme Imaging");
    KsAboutBox* box = openBox();
    ASSERT_NE(box, nullptr);
    QString text = box->textLabel()->text();
    // The zero-width space that lets the long revision wrap is not part of it.
    text.remove(QChar(0x200B));
    EXPECT_TRUE(text.contains(QStringLiteral("Version 3.3.8 (%1)").arg(sourceRevision()))) << qPrintable(text);
    EXPECT_TRUE(text.contains(QStringLiteral("<p><font size=\"+1\"><b>Sold by Acme Imaging</b></font></p>")));
    EXPECT_TRUE(text.contains(QStringLiteral("Kestrine&nbsp;3")));
    EXPECT_TRUE(text.contains(QStringLiteral("OrlenthTech. All rights reserved.")));
    EXPECT_TRUE(box->textLabel()->wordWrap());
}

TEST_F(About, WithoutADistributorTextThereIsNoParagraphForIt)
{
    const QString text = KsAboutBox::aboutText();
    EXPECT_EQ(text.count(QStringLiteral("<font size=\"+1\">")), 1);
}

TEST_F(About, TheCloseKeySequenceClosesIt)
{
    KsAboutBox* box = openBox();
    ASSERT_NE(box, nullptr);
    QPointer<KsAboutBox> watched(box);
    QApplication::setActiveWindow(box);
    ASSERT_TRUE(QTest::qWaitForWindowActive(box));
    QTest::keySequence(box, QKeySequence(QKeySequence::keyBindings(QKeySequence::Close).value(0)));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(watched.isNull());
}

TEST_F(Addresses, TheMakersPagesHangOffTheWebRoot)
{
    EXPECT_EQ(KsApp::distributorBaseUrl(), testRoot);
    EXPECT_EQ(KsApp::updateCheckUrl(), testRoot + QStringLiteral("/current/ks_3.3.3.8-win.htm"));
    EXPECT_EQ(KsApp::downloadPageUrl(), testRoot + QStringLiteral("/current/ks_3-download.htm"));
    EXPECT_EQ(KsApp::newsUrl(), testRoot + QStringLiteral("/news/ks_3_latest_news.htm"));
    setWebRoot(QString());
    EXPECT_EQ(KsApp::newsUrl(), QStringLiteral("http://www.orlenthtech.example/news/ks_3_latest_news.htm"));
}

TEST_F(Addresses, ADistributorsUpdatePagesLieInItsOwnFolder)
{
    writeDistributor("acme", "");
    EXPECT_EQ(KsApp::updateCheckUrl(), testRoot + QStringLiteral("/distributors/acme/current/ks_3.3.3.8-win.htm"));
    EXPECT_EQ(KsApp::downloadPageUrl(), testRoot + QStringLiteral("/distributors/acme/current/ks_3-download.htm"));
    // The news stay the maker's.
    EXPECT_EQ(KsApp::newsUrl(), testRoot + QStringLiteral("/news/ks_3_latest_news.htm"));
}

TEST_F(Addresses, APercentSignInTheDistributorIdIsTakenLiterally)
{
    writeDistributor("a%4b", "");
    EXPECT_EQ(KsApp::updateCheckUrl(), testRoot + QStringLiteral("/distributors/a%4b/current/ks_3.3.3.8-win.htm"));
}

TEST_F(Addresses, TheHelpRootIsTheProgramsHelpFolderUnlessSet)
{
    const QString programFolder = QDir::cleanPath(QCoreApplication::applicationDirPath());
    EXPECT_EQ(KsApp::helpUrl(), QStringLiteral("file://") + programFolder + QStringLiteral("/Help/en"));
    QSettings(organizationName(), applicationName()).setValue(QStringLiteral("HelpRoot"), QStringLiteral("/opt/help pages"));
    EXPECT_EQ(KsApp::helpUrl(), QStringLiteral("file:///opt/help pages/en"));
}

TEST_F(Addresses, TheTutorialsAreLocalOnlyWhenTheirFileExists)
{
    QSettings settings(organizationName(), applicationName());
    settings.setValue(QStringLiteral("TutorialsRoot"), m_folder.filePath(QStringLiteral("missing.htm")));
    EXPECT_EQ(KsApp::tutorialsUrl(), testRoot + QStringLiteral("/ks_tutorials.htm"));

    const QString index = m_folder.filePath(QStringLiteral("index.htm"));
    QFile file(index);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    settings.setValue(QStringLiteral("TutorialsRoot"), index);
    EXPECT_EQ(KsApp::tutorialsUrl(), QStringLiteral("file://") + index);
    EXPECT_TRUE(KsApp::tutorialsUrl().startsWith(QStringLiteral("file:///")));
    EXPECT_FALSE(KsApp::tutorialsUrl().startsWith(QStringLiteral("file:////")));
}

TEST(AboutProgram, TheCloseKeyEndsTheAboutLaunchOnARealDisplay)
{
    testsupport::XvfbDisplay display;
    ASSERT_TRUE(display.isRunning()) << qPrintable(display.error());
    // The program's Close key sequence is the X11 platform's: asked of a GUI application of
    // this process on the same display.
    int argc = 5;
    QByteArray arguments[] = {"about-test", "-platform", "xcb", "-display", display.display().toLocal8Bit()};
    char* argv[] = {arguments[0].data(), arguments[1].data(), arguments[2].data(),
                    arguments[3].data(), arguments[4].data(), nullptr};
    QApplication application(argc, argv);
    const QKeySequence close = QKeySequence::keyBindings(QKeySequence::Close).value(0);
    ASSERT_FALSE(close.isEmpty());

    // Its output is kept here: an inherited pipe would hold the test runner up after a crash.
    testsupport::ChildProcess program;
    program.setProcessEnvironment(display.environment());
    program.start(QStringLiteral(KESTRINE_PROGRAM), {QStringLiteral("--about")});
    ASSERT_TRUE(program.waitForStarted(10000));
    const qulonglong window = display.waitForWindow(program.processId());
    EXPECT_NE(window, 0u);
    if (window != 0) {
        EXPECT_TRUE(display.sendKeys(window, close)) << qPrintable(display.error());
    }
    if (!program.waitForFinished(20000)) {
        program.kill();
        program.waitForFinished(5000);
        FAIL() << "the About box did not close: " << program.readAllStandardError().constData();
    }
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().constData();
}

TEST(AboutProgram, TheMainWindowsAboutSlotOpensTheBoxOverItAndTheRunCleansUp)
{
    QWidget* parent = nullptr;
    bool visible = false;
    bool modal = true;
    KsApp::setStartUpHook([&](QWidget* window) {
        static_cast<KsMainWindow*>(window)->aboutSlot();
        if (KsAboutBox* box = KsAboutBox::instance()) {
            parent = box->parentWidget();
            visible = box->isVisible();
            modal = box->isModal();
        }
        QTimer::singleShot(0, window, &QWidget::close);
    });
    char program[] = "kestrine3";
    char* argv[] = {program, nullptr};
    EXPECT_EQ(kestrineMain(1, argv), 0);
    KsApp::setStartUpHook(nullptr);
    EXPECT_NE(parent, nullptr);
    EXPECT_TRUE(visible);
    EXPECT_FALSE(modal);
    EXPECT_EQ(KsAboutBox::instance(), nullptr);
}

TEST(AboutProgram, TheAboutLaunchRunsTheBoxModallyWithACloseButtonOnly)
{
    bool modal = false;
    Qt::WindowFlags flags;
    KsApp::setStartUpHook([&](QWidget* window) {
        modal = window->isModal();
        flags = window->windowFlags();
        QTimer::singleShot(0, window, &QWidget::close);
    });
    char program[] = "kestrine3";
    char about[] = "--about";
    char* argv[] = {program, about, nullptr};
    EXPECT_EQ(kestrineMain(2, argv), 0);
    KsApp::setStartUpHook(nullptr);
    EXPECT_TRUE(modal);
    EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(KsAboutBox::instance(), nullptr);
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

TEST(XdotoolKeys, AreWrittenInXdotoolsNotation)
{
    using testsupport::XvfbDisplay;
    EXPECT_EQ(XvfbDisplay::xdotoolKeys(QKeySequence(Qt::CTRL + Qt::Key_F4)), QStringLiteral("ctrl+F4"));
    EXPECT_EQ(XvfbDisplay::xdotoolKeys(QKeySequence(Qt::CTRL + Qt::SHIFT + Qt::Key_W)), QStringLiteral("ctrl+shift+w"));
    EXPECT_EQ(XvfbDisplay::xdotoolKeys(QKeySequence(Qt::Key_Escape)), QStringLiteral("Escape"));
}

} // namespace
