#include "KsApp.h"

#include "GmModel.h"
#include "Identity.h"
#include "KsAppPreferences.h"
#include "KsApplication.h"
#include "KsMainWindow.h"
#include "Texts.h"

#include <QFont>
#include <QPainterPath>
#include <QPolygonF>
#include <QSettings>
#include <QSplashScreen>

namespace {

KsApp* g_app = nullptr;
KsApp::StartUpHook g_startUpHook;

} // namespace

KsApp::KsApp(LaunchMode mode) : m_launchMode(mode)
{
    g_app = this;
}

KsApp::~KsApp()
{
    // The main window normally went with its close. When the loop ended otherwise it goes
    // first, while the preferences and the model it reads on its way out still exist.
    delete m_mainWindow.data();
    // Every other Qt object goes before the Qt application; the logger (a member) goes last.
    delete m_preferences;
    m_preferences = nullptr;
    GmModel::destroy();
    delete m_settings;
    m_settings = nullptr;
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

    // Translations are loaded here.

    m_preferences = new KsAppPreferences();

    // The distributor customisation is read here, and the update and news checkers made.

    m_logger.setMessageType(QtDebugMsg, false, false);
    m_logger.setMessageType(QtWarningMsg, false, true);
    m_logger.setMessageType(QtCriticalMsg, false, true);
    m_logger.setMessageType(QtFatalMsg, false, true);
    m_logger.installMessageHandler();

    Klogger::stream() << versionLine() << Klogger::endl;

    qRegisterMetaType<QPolygonF>("QPolygonF");
    qRegisterMetaType<QPainterPath>("QPainterPath");
    qRegisterMetaTypeStreamOperators<QPainterPath>("QPainterPath");

    // The application style proxy is installed here.

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
    m_result = QCoreApplication::exec();
    return m_result;
}

void KsApp::createMainWindow()
{
    m_mainWindow = new KsMainWindow();
    // Shown here, as on a first start, until the window restores its saved layout itself.
    m_mainWindow->showMaximized();
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
