// The update and news checks of the application object against a scripted server on the
// loopback interface: the checkers the distributor file allows, the start-up requests, the
// prompts and what their answers store, and the news availability. Each case runs in its own
// process.

#include "shell/DistributorRecord.h"
#include "shell/HttpRequest.h"
#include "shell/Identity.h"
#include "shell/KsApp.h"
#include "shell/KsMainWindow.h"

#include "HttpResponder.h"
#include "MainWindowRun.h"
#include "ProgramRun.h"
#include "ScriptedPrompt.h"
#include "UrlCatcher.h"
#include "Wait.h"

#include <QAction>
#include <QDateTime>
#include <QFile>
#include <QPointer>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

using testsupport::HttpResponder;
using testsupport::ScriptedPrompt;
using testsupport::UrlCatcher;
using testsupport::waitUntil;

namespace {

const QString updatePath = QStringLiteral("/current/ks_3.3.3.8-win.htm");
const QString newsPath = QStringLiteral("/news/ks_3_latest_news.htm");

QByteArray distributor(bool news, bool updates)
{
    return QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Distributor id=\"\">\n  <HomePage enabled=\"1\"/>\n")
           + "  <LatestNews enabled=\"" + (news ? "1" : "0") + "\"/>\n  <CheckForUpdates enabled=\""
           + (updates ? "1" : "0") + "\"/>\n  <AboutBoxText>Acme</AboutBoxText>\n"
           + "  <Email support=\"help@acme.example\"/>\n</Distributor>\n";
}

// The application object started against the responder, without a main window.
class NetworkChecksTest : public ::testing::Test {
protected:
    void start(const QByteArray& distributorXml = QByteArray())
    {
        ASSERT_TRUE(m_distributor.isValid());
        if (!distributorXml.isEmpty()) {
            QFile xml(m_distributor.filePath("distributor.xml"));
            ASSERT_TRUE(xml.open(QIODevice::WriteOnly));
            xml.write(distributorXml);
        }
        setDistributorFolder(m_distributor.path());
        const quint16 port = HttpResponder::freePort();
        ASSERT_NE(port, 0);
        // The checkers take their addresses when the application object starts.
        setWebRoot(QStringLiteral("http://127.0.0.1:%1").arg(port));
        m_app = std::make_unique<KsApp>(LaunchStandalone);
        m_app->init(m_argc, m_argv);
        m_server = std::make_unique<HttpResponder>(port);
        ASSERT_TRUE(m_server->isListening());
    }
    void TearDown() override
    {
        m_server.reset();
        m_app.reset();
    }
    bool idle(HttpRequest* request, int requests)
    {
        return waitUntil([&] { return m_server->count() >= requests && (!request || !request->isBusy()); }, 10000);
    }
    static QSettings settings() { return QSettings(organizationName(), applicationName()); }

    int m_argc = 1;
    char m_name[16] = "kestrine3";
    char* m_argv[2] = {m_name, nullptr};
    QTemporaryDir m_distributor;
    std::unique_ptr<KsApp> m_app;
    std::unique_ptr<HttpResponder> m_server;
};

TEST_F(NetworkChecksTest, StartUpSendsOneGetPerCheckerAndAnUpToDateVersionShowsNothing)
{
    ScriptedPrompt prompt;
    prompt.answer(QMessageBox::Cancel);
    start();
    m_server->answer(updatePath, HttpResponder::page("<html>uptodate</html>"));
    m_server->answer(newsPath, HttpResponder::page("<html>news</html>"));
    ASSERT_NE(m_app->updateChecker(), nullptr);
    ASSERT_NE(m_app->newsChecker(), nullptr);
    EXPECT_EQ(m_app->updateChecker()->url(), m_server->url(updatePath));
    EXPECT_FALSE(m_app->updateChecker()->isCaching());
    EXPECT_TRUE(m_app->newsChecker()->isCaching());

    m_app->runStartUpChecks();
    ASSERT_TRUE(idle(m_app->updateChecker(), 2));
    ASSERT_TRUE(idle(m_app->newsChecker(), 2));
    EXPECT_EQ(m_server->count("GET", updatePath), 1);
    EXPECT_EQ(m_server->count("GET", newsPath), 1);
    EXPECT_EQ(m_server->count(), 2);
    // Only the news is offered; declined, it waits a day.
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_EQ(prompt.messages()[0].title, QStringLiteral("Kestrine 3 - News Update"));
    EXPECT_EQ(prompt.messages()[0].text,
              QStringLiteral("<p>Would you like to read the latest Kestrine&nbsp;3 news now?</p>"));
    EXPECT_TRUE(settings().contains("NewsSupressUntil"));
    EXPECT_FALSE(settings().contains("NewsCache"));
}

TEST_F(NetworkChecksTest, WithUpdatesSwitchedOffThereIsNoUpdateChecker)
{
    ScriptedPrompt prompt;
    start(distributor(true, false));
    EXPECT_EQ(m_app->updateChecker(), nullptr);
    ASSERT_NE(m_app->newsChecker(), nullptr);
    m_server->answer(newsPath, HttpResponder::page("<html>news</html>", 404, "Not Found"));
    m_app->runStartUpChecks();
    ASSERT_TRUE(idle(m_app->newsChecker(), 1));
    waitUntil([] { return false; }, 200);
    EXPECT_EQ(m_server->requests(), QStringList{"GET " + newsPath});
}

TEST_F(NetworkChecksTest, WithNewsSwitchedOffThereIsNoNewsChecker)
{
    start(distributor(false, true));
    EXPECT_EQ(m_app->newsChecker(), nullptr);
    ASSERT_NE(m_app->updateChecker(), nullptr);
    UrlCatcher browser;
    m_app->checkForNewsSlot();
    EXPECT_TRUE(browser.urls().isEmpty());
}

TEST_F(NetworkChecksTest, AnOutOfDateVersionOffersTheDownloadAndRemindMeLaterWaitsADay)
{
    ScriptedPrompt prompt;
    prompt.answer(QMessageBox::Cancel);
    start();
    m_server->answer(updatePath, HttpResponder::page("<html>notuptodate</html>"));
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    m_app->updateChecker()->kickOffTransfer();
    ASSERT_TRUE(idle(m_app->updateChecker(), 1));
    ASSERT_EQ(prompt.messages().size(), 1);
    const Prompt::Message& offer = prompt.messages()[0];
    EXPECT_EQ(offer.title, QStringLiteral("Kestrine 3 - New version available"));
    EXPECT_EQ(offer.text, QStringLiteral("<p>Your copy of Kestrine&nbsp;3 is out of date. Please download the "
                                         "latest version now.</p>"));
    EXPECT_EQ(offer.kind, Prompt::Information);
    QStringList buttons;
    for (const auto& named : offer.buttonTexts)
        buttons.append(named.second);
    EXPECT_EQ(buttons, (QStringList{"Download Now", "Remind Me Later"}));
    const qint64 until = qint64(settings().value("UpdateSupressUntil").toULongLong());
    EXPECT_GE(until, before + 86400);
    EXPECT_LE(until, QDateTime::currentSecsSinceEpoch() + 86400);

    // Reminded tomorrow: a start-up check today sends nothing.
    m_server->clear();
    m_app->updateChecker()->kickOffTransfer();
    waitUntil([] { return false; }, 200);
    EXPECT_EQ(m_server->count(), 0);
}

TEST_F(NetworkChecksTest, ANewsPageAcceptedOpensTheBrowserAndIsNotOfferedTwice)
{
    ScriptedPrompt prompt;
    prompt.answer(QMessageBox::Yes);
    start();
    UrlCatcher browser;
    m_server->answer(newsPath, HttpResponder::page("<html>news of the day</html>"));
    m_app->newsChecker()->kickOffTransfer();
    ASSERT_TRUE(idle(m_app->newsChecker(), 1));
    EXPECT_EQ(browser.urls(), QList<QUrl>{QUrl(m_server->url(newsPath))});
    EXPECT_FALSE(settings().value("NewsCache").toByteArray().isEmpty());
    m_app->newsChecker()->kickOffTransfer();
    ASSERT_TRUE(idle(m_app->newsChecker(), 2));
    EXPECT_EQ(prompt.messages().size(), 1);
}

TEST_F(NetworkChecksTest, LatestNewsOpensThePageAndForcesACheckWithoutAPrompt)
{
    ScriptedPrompt prompt;
    start();
    UrlCatcher browser;
    settings().setValue("NewsSupressUntil", quint64(QDateTime::currentSecsSinceEpoch() + 86400));
    m_server->answer(newsPath, HttpResponder::page("<html>news</html>"));
    m_app->checkForNewsSlot();
    ASSERT_TRUE(idle(m_app->newsChecker(), 1));
    EXPECT_EQ(browser.urls(), QList<QUrl>{QUrl(m_server->url(newsPath))});
    EXPECT_TRUE(prompt.messages().isEmpty());
    // The page counts as read.
    EXPECT_FALSE(settings().value("NewsCache").toByteArray().isEmpty());
}

TEST_F(NetworkChecksTest, MissingNewsSaysSo)
{
    start();
    EXPECT_TRUE(m_app->newsAvailable());
    QSignalSpy availability(m_app.get(), &KsApp::newsAvailability);
    QSignalSpy codes(m_app->newsChecker(), &HttpRequest::httpStatusCode);
    m_server->answer(newsPath, HttpResponder::page("<html>gone</html>", 404, "Not Found"));
    m_app->newsChecker()->kickOffTransfer();
    ASSERT_TRUE(idle(m_app->newsChecker(), 1));
    ASSERT_EQ(codes.size(), 1);
    EXPECT_EQ(codes[0][0].toInt(), 404);
    ASSERT_EQ(availability.size(), 1);
    EXPECT_FALSE(availability[0][0].toBool());
    EXPECT_FALSE(m_app->newsAvailable());
}

TEST_F(NetworkChecksTest, CheckForUpdatesOpensTheVersionPage)
{
    start();
    UrlCatcher browser;
    m_app->checkForUpdateSlot();
    EXPECT_EQ(browser.urls(), QList<QUrl>{QUrl(m_server->url(updatePath))});
    EXPECT_EQ(m_server->count(), 0);
}

// With the main window: Download Now says goodbye, opens the download page and closes.
TEST(NetworkChecksWindow, DownloadNowOpensTheDownloadPageAndClosesTheWindow)
{
    ScriptedPrompt prompt;
    prompt.answer(QMessageBox::Ok);
    prompt.answer(QMessageBox::Ok);
    UrlCatcher browser;
    bool closed = false;
    bool newsActionFollows = false;
    KsApp::setStartUpHook([&](QWidget* window) {
        QPointer<QWidget> guarded(window);
        // The Latest News entry follows the news check's answer.
        QAction* news = nullptr;
        for (QAction* action : window->findChildren<QAction*>())
            if (action->text() == QStringLiteral("Latest &News"))
                news = action;
        if (news) {
            emit KsApp::instance()->newsAvailability(true);
            const bool on = news->isEnabled();
            emit KsApp::instance()->newsAvailability(false);
            newsActionFollows = on && !news->isEnabled();
        }
        // From the event loop, as a reply would come.
        QTimer::singleShot(0, [&closed, guarded] {
            KsApp::instance()->updateCheckerCallbackSlot(QStringLiteral("<html>notuptodate</html>"), false);
            closed = guarded.isNull() || !guarded->isVisible() || !guarded->isEnabled();
            if (!closed && guarded)
                guarded->close();
        });
    });
    EXPECT_EQ(testsupport::runMain({"kestrine3"}), 0);
    KsApp::setStartUpHook(nullptr);
    EXPECT_TRUE(closed);
    EXPECT_TRUE(newsActionFollows);
    ASSERT_EQ(prompt.messages().size(), 2);
    EXPECT_EQ(prompt.messages()[1].title, QStringLiteral("Kestrine 3 - Exiting"));
    EXPECT_EQ(prompt.messages()[1].text,
              QStringLiteral("<p>The download page will be loaded into your web browser, and Kestrine&nbsp;3 will "
                             "exit automatically ready for you to install the latest version.</p>"));
    EXPECT_TRUE(browser.urls().contains(QUrl(KsApp::downloadPageUrl())));
}

// Without a browser, Download Now still gives the user the page's address before it closes.
TEST(NetworkChecksWindow, DownloadNowWithoutABrowserGivesTheAddressToCopy)
{
    // The offscreen platform starts no browser.
    ScriptedPrompt prompt;
    prompt.answer(QMessageBox::Ok);
    prompt.answer(QMessageBox::Ok);
    KsApp::setStartUpHook([&](QWidget* window) {
        QPointer<QWidget> guarded(window);
        QTimer::singleShot(0, [guarded] {
            KsApp::instance()->updateCheckerCallbackSlot(QStringLiteral("<html>notuptodate</html>"), false);
            if (guarded && guarded->isVisible())
                guarded->close();
        });
    });
    EXPECT_EQ(testsupport::runMain({"kestrine3"}), 0);
    KsApp::setStartUpHook(nullptr);
    ASSERT_EQ(prompt.messages().size(), 3);
    const Prompt::Message& message = prompt.messages()[2];
    EXPECT_EQ(message.title, QStringLiteral("Kestrine 3 - No Web Browser"));
    EXPECT_TRUE(message.text.contains(QUrl(KsApp::downloadPageUrl()).toDisplayString().toHtmlEscaped()))
        << message.text.toStdString();
}

} // namespace
