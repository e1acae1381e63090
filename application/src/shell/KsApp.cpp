#include "shell/KsApp.h"

#include "document/GmModel.h"
#include "document/KsAppPreferences.h"
#include "document/Prompt.h"
#include "document/Texts.h"
#include "engine/CommandHooks.h"
#include "panels/Browser.h"
#include "panels/KsAppStyle.h"
#include "shell/DistributorRecord.h"
#include "shell/HttpRequest.h"
#include "shell/Identity.h"
#include "shell/KsAboutBox.h"
#include "shell/KsApplication.h"
#include "shell/KsMainWindow.h"
#include "shell/KsTranslations.h"

#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QPainterPath>
#include <QPolygonF>
#include <QSettings>
#include <QSplashScreen>
#include <QUrl>

namespace {

KsApp* g_app = nullptr;
KsApp::StartUpHook g_startUpHook;

// Whether a window is open that keeps the run going, decided as Qt decides that the last
// window has closed.
bool windowLeftOpen()
{
    for (const QWidget* widget : QApplication::topLevelWidgets())
        if (widget->isVisible() && !widget->parentWidget() && widget->testAttribute(Qt::WA_QuitOnClose))
            return true;
    return false;
}

} // namespace

KsApp::KsApp(LaunchMode mode) : m_launchMode(mode)
{
    g_app = this;
    // The model asks the launch of the moment through these; with no application they answer
    // as one started on its own.
    CommandHooks::setLaunchKeepsImagesHook([] {
        const KsApp* app = KsApp::instance();
        const int mode = app ? int(app->launchMode()) : 0;
        return mode >= 1 && mode <= 4;
    });
    CommandHooks::setHeldByLaunchHook([](const KsSourceImage* image) {
        KsApp* app = KsApp::instance();
        return app && (image == app->sourceImage() || image == app->outputImage());
    });
}

KsApp::~KsApp()
{
    // The main window normally went with its close. When the loop ended otherwise it goes
    // first, while the preferences and the model it reads on its way out still exist.
    delete m_mainWindow.data();
    // Every other Qt object goes before the Qt application; the logger (a member) goes last.
    delete m_preferences;
    m_preferences = nullptr;
    delete m_translations;
    m_translations = nullptr;
    KsAboutBox::destroyInstance();
    GmModel::destroy();
    delete m_settings;
    m_settings = nullptr;
    delete m_updateChecker;
    m_updateChecker = nullptr;
    delete m_newsChecker;
    m_newsChecker = nullptr;
    delete m_application;
    m_application = nullptr;
    if (g_app == this)
        g_app = nullptr;
}

KsApp* KsApp::instance()
{
    return g_app;
}

void KsApp::init(int& argc, char** argv)
{
    QCoreApplication::setOrganizationName(organizationName());
    QCoreApplication::setOrganizationDomain(organizationDomain());
    QCoreApplication::setApplicationName(applicationName());
    // No colour specification: Qt 5 no longer has colour-mapped displays to allocate for.

    m_application = new KsApplication(argc, argv);

    auto* splash = new QSplashScreen(QPixmap(QStringLiteral(":/images/splash.png")));
    m_application->setSplash(splash);
    splash->show();
    splash->repaint();
    QCoreApplication::processEvents();

    m_settings = new QSettings(QSettings::UserScope, organizationName(), applicationName());

    loadTranslations();

    m_preferences = new KsAppPreferences();

    createCheckers();

    m_logger.setMessageType(QtDebugMsg, false, false);
    m_logger.setMessageType(QtWarningMsg, false, true);
    m_logger.setMessageType(QtCriticalMsg, false, true);
    m_logger.setMessageType(QtFatalMsg, false, true);
    m_logger.installMessageHandler();

    Klogger::stream() << versionLine() << Klogger::endl;

    qRegisterMetaType<QPolygonF>("QPolygonF");
    qRegisterMetaType<QPainterPath>("QPainterPath");
    qRegisterMetaTypeStreamOperators<QPainterPath>("QPainterPath");

    KsAppStyle::install();
    Browser::setHelpRootHook(&KsApp::helpUrl);

    QFont font = QApplication::font();
    if (font.pointSize() > 1)
        font.setPointSize(font.pointSize() - 1);
    QApplication::setFont(font, "GmSubWindow");
    QApplication::setFont(font, "QToolBar");

    QSettings machine(QSettings::SystemScope, organizationName(), applicationName());
    machine.setFallbacksEnabled(false);
    const QStringList libraries = machine.value(QStringLiteral("Libraries")).toStringList();
    if (!libraries.isEmpty())
        QCoreApplication::setLibraryPaths(libraries);
}

KsMainWindow* KsApp::mainWindow() const
{
    return m_mainWindow.data();
}

KsSourceImage* KsApp::sourceImage()
{
    return nullptr;
}

KsSourceImage* KsApp::outputImage()
{
    return nullptr;
}

int KsApp::run()
{
    connect(m_application, &QGuiApplication::lastWindowClosed, m_application,
            &QCoreApplication::quit);
    // The window may have closed already: a close asked for while a large photo was still
    // loading drains the engine during the start-up's last events (the splash screen waits
    // for the window), and Qt announces the last window closed only inside the loop.
    if (!windowLeftOpen())
        QMetaObject::invokeMethod(m_application, &QCoreApplication::quit, Qt::QueuedConnection);
    m_result = QCoreApplication::exec();
    return m_result;
}

void KsApp::createMainWindow()
{
    // The window shows itself as its restored layout says.
    m_mainWindow = new KsMainWindow();
    if (launchedByHost())
        m_mainWindow->raise();
    if (QSplashScreen* splash = m_application->takeSplash()) {
        splash->finish(m_mainWindow);
        delete splash;
    }
    runStartUpHook(m_mainWindow);
}

QString KsApp::productNameNbsp()
{
    return productName().replace(QLatin1Char(' '), QStringLiteral("&nbsp;"));
}

void KsApp::setStartUpHook(StartUpHook hook)
{
    g_startUpHook = std::move(hook);
}

void KsApp::runStartUpHook(QWidget* window)
{
    if (g_startUpHook)
        g_startUpHook(window);
}

QString KsApp::systemLanguage(const QString& localeName)
{
    return KsTranslations::systemLanguage(localeName);
}

namespace {

QSettings userSettings()
{
    return QSettings(QSettings::UserScope, organizationName(), applicationName());
}

// A setting naming a path; by default the relative path resolved in the program's folder.
QString pathSetting(const QString& key, const QString& relativeDefault)
{
    const QString fallback = QDir::cleanPath(QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(relativeDefault));
    return userSettings().value(key, fallback).toString();
}

} // namespace

QString KsApp::translationDir()
{
    return pathSetting(QStringLiteral("TransDir"), QStringLiteral("."));
}

bool KsApp::loadTranslations(const QString& localeName)
{
    if (!m_translations)
        m_translations = new KsTranslations(translationDir());
    return m_translations->loadTranslations(localeName);
}

bool KsApp::loadLanguage(const QString& language)
{
    if (!m_translations)
        m_translations = new KsTranslations(translationDir());
    return m_translations->loadLanguage(language);
}

void KsApp::unloadTranslations()
{
    if (m_translations)
        m_translations->unloadTranslations();
}

QString KsApp::trProduct(const char* text)
{
    return ksAppTr(text, "[ks3]");
}

void KsApp::about(QWidget* parent)
{
    KsAboutBox::about(parent);
}

QString KsApp::helpUrl()
{
    const QString root = pathSetting(QStringLiteral("HelpRoot"), QStringLiteral("Help"));
    return QStringLiteral("%1/%2").arg(QUrl::fromLocalFile(root).toString(),
                                       ksAppTr("en", "[all]Two letter code of the current locale"));
}

QString KsApp::tutorialsUrl()
{
    const QString root = pathSetting(QStringLiteral("TutorialsRoot"), QStringLiteral("Tutorials/index.htm"));
    // Through a file address: "file:///" before an absolute path would give four slashes.
    if (QFileInfo(root).isFile())
        return QUrl::fromLocalFile(QFileInfo(root).absoluteFilePath()).toString();
    return webPageUrl(trProduct("ks_tutorials.htm"));
}

QString KsApp::distributorBaseUrl()
{
    const QString id = distributorId();
    if (id.isEmpty())
        return webRoot();
    return QStringLiteral("%1/distributors/%2").arg(webRoot(), id);
}

QString KsApp::updateCheckUrl()
{
    // The version numbers and the platform, with an empty suffix between them; in one pass,
    // so that a "%" in the distributor's folder name is never taken for a marker.
    return QStringLiteral("%1/%2/%3.%4.%5.%6%7-%8.htm")
        .arg(distributorBaseUrl(), currentFolderName(), editionKey(), QString::number(3),
             QString::number(3), QString::number(8), QString(), QStringLiteral("win"));
}

QString KsApp::downloadPageUrl()
{
    return QStringLiteral("%1/%2/%3-download.htm").arg(distributorBaseUrl(), currentFolderName(), editionKey());
}

QString KsApp::newsPageName()
{
    return QStringLiteral("news/%1_latest_news.htm").arg(editionKey());
}

QString KsApp::newsUrl()
{
    return webPageUrl(newsPageName());
}

// ---- Update and news checks -------------------------------------------------------------------

void KsApp::createCheckers()
{
    const DistributorRecord& distributor = distributorRecord();
    if (distributor.checkForUpdates) {
        m_updateChecker = new HttpRequest(updateCheckUrl(), QStringLiteral("Update"), false);
        connect(m_updateChecker, &HttpRequest::response, this, &KsApp::updateCheckerCallbackSlot,
                Qt::DirectConnection);
    }
    if (distributor.latestNews && !newsPageName().isEmpty()) {
        m_newsChecker = new HttpRequest(newsUrl(), QStringLiteral("News"), true);
        connect(m_newsChecker, &HttpRequest::response, this, &KsApp::newsCheckerCallbackSlot,
                Qt::DirectConnection);
        connect(m_newsChecker, &HttpRequest::httpStatusCode, this, &KsApp::newsCheckerHttpStatusCodeSlot);
    }
}

void KsApp::runStartUpChecks()
{
    const DistributorRecord& distributor = distributorRecord();
    if (distributor.checkForUpdates && m_updateChecker)
        m_updateChecker->kickOffTransfer();
    if (m_newsChecker)
        m_newsChecker->kickOffTransfer();
}

void KsApp::checkForUpdateSlot()
{
    Browser::openOnDesktop(QUrl(updateCheckUrl()), mainWindow());
}

void KsApp::checkForNewsSlot()
{
    if (!m_newsChecker)
        return;
    Browser::openOnDesktop(QUrl(newsUrl()), mainWindow());
    m_newsChecker->kickOffTransfer(true);
}

bool KsApp::updateCheckerCallbackSlot(const QString& body, bool /*forced*/)
{
    if (!body.contains(QLatin1String("notuptodate")))
        return true;
    const QString title = QStringLiteral("%1 - %2").arg(productName(), tr("New version available", "[all]"));
    const QString text = QStringLiteral("<p>")
                         + tr("Your copy of %1 is out of date. Please download the latest version now.", "[all]")
                               .arg(productNameNbsp())
                         + QStringLiteral("</p>");
    const QMessageBox::StandardButton answer =
        Prompt::withButtonTexts(mainWindow(), Prompt::Information, title, text,
                                {{QMessageBox::Ok, tr("Download Now", "[all]")},
                                 {QMessageBox::Cancel, tr("Remind Me Later", "[all]")}});
    if (answer != QMessageBox::Ok) {
        if (m_updateChecker)
            m_updateChecker->supress(1);
        return true;
    }
    Prompt::information(nullptr, QStringLiteral("%1 - %2").arg(productName(), tr("Exiting", "[all]")),
                        QStringLiteral("<p>")
                            + tr("The download page will be loaded into your web browser, and %1 will exit "
                                 "automatically ready for you to install the latest version.",
                                 "[all]")
                                  .arg(productNameNbsp())
                            + QStringLiteral("</p>"));
    Browser::openOnDesktop(QUrl(downloadPageUrl()), mainWindow());
    if (KsMainWindow* window = mainWindow())
        window->close();
    return true;
}

bool KsApp::newsCheckerCallbackSlot(const QString& /*body*/, bool forced)
{
    if (forced)
        return true;
    const QString title = QStringLiteral("%1 - %2").arg(productName(), tr("News Update", "[all]"));
    const QString text = QStringLiteral("<p>")
                         + tr("Would you like to read the latest %1 news now?", "[all]").arg(productNameNbsp())
                         + QStringLiteral("</p>");
    const QMessageBox::StandardButton answer =
        Prompt::withButtonTexts(mainWindow(), Prompt::Information, title, text,
                                {{QMessageBox::Yes, tr("Yes", "[all]")},
                                 {QMessageBox::Cancel, tr("Remind Me Later", "[all]")}});
    if (answer == QMessageBox::Yes) {
        Browser::openOnDesktop(QUrl(newsUrl()), mainWindow());
        return true;
    }
    if (m_newsChecker)
        m_newsChecker->supress(1);
    return false;
}

void KsApp::newsCheckerHttpStatusCodeSlot(int code)
{
    m_newsAvailable = code < 400;
    emit newsAvailability(m_newsAvailable);
}
