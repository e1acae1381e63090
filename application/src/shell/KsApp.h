#pragma once
// The one application object: its logger comes first and goes last; it makes the Qt
// application, the settings store and the preferences, builds the main window, runs the event
// loop and, at the end, deletes every Qt object before the Qt application itself.

#include "shell/Klogger.h"
#include "shell/Launch.h"

#include <QLocale>
#include <QObject>
#include <QPointer>

#include <functional>

class HttpRequest;
class KsAppPreferences;
class KsApplication;
class KsMainWindow;
class KsSourceImage;
class KsTranslations;
class QSettings;
class QWidget;

class KsApp : public QObject {
    Q_OBJECT
public:
    explicit KsApp(LaunchMode mode);
    ~KsApp() override;

    // Null while no application object exists.
    static KsApp* instance();

    // The start-up sequence: settings names, Qt application, splash, settings, preferences,
    // log hook-up, meta-types, fonts, library paths.
    virtual void init(int& argc, char** argv);
    // The image to edit and the image that receives the cut-out, when the launch handed one
    // over; null here.
    virtual KsSourceImage* sourceImage();
    virtual KsSourceImage* outputImage();

    // Runs the event loop until the last window closes; returns and keeps its result.
    int run();
    // Builds and shows the main window; raised above other windows when a host started us.
    void createMainWindow();

    LaunchMode launchMode() const { return m_launchMode; }
    bool launchedByHost() const { return m_launchMode != LaunchStandalone; }
    HandBackStatus handBackStatus() const { return m_handBackStatus; }
    void setHandBackStatus(HandBackStatus status) { m_handBackStatus = status; }
    int result() const { return m_result; }
    KsApplication* application() const { return m_application; }
    QSettings* settings() const { return m_settings; }
    KsMainWindow* mainWindow() const;
    Klogger& logger() { return m_logger; }

    // "Kestrine 3" with its blanks as "&nbsp;", for rich-text messages.
    static QString productNameNbsp();

    // Translations. The language code of a locale name (see KsTranslations).
    static QString systemLanguage(const QString& localeName = QLocale::system().name());
    // The "TransDir" setting; by default the program's folder.
    static QString translationDir();
    // Loads the translations of the locale's language from the translation folder; true when
    // ours is in force.
    bool loadTranslations(const QString& localeName = QLocale::system().name());
    bool loadLanguage(const QString& language);
    void unloadTranslations();
    // The text translated as one of this product's own ("[ks3]").
    static QString trProduct(const char* text);

    // The About box, shown without blocking (or brought forward when open).
    static void about(QWidget* parent);
    // The local help pages' root as a file address, followed by "/" and the locale code;
    // callers append a topic.
    static QString helpUrl();
    // The tutorials' start page: the local one when "TutorialsRoot" names an existing file,
    // else the maker's web page.
    static QString tutorialsUrl();

    // The maker's pages: the web root, or the distributor's folder under it when the
    // distributor file names one.
    static QString distributorBaseUrl();
    static QString updateCheckUrl();
    static QString downloadPageUrl();
    static QString newsUrl();
    // "news/ks_3_latest_news.htm".
    static QString newsPageName();

    // Tests only: called once the main window (or the About box) exists and is shown; an
    // exception it throws leaves start-up like any other.
    using StartUpHook = std::function<void(QWidget*)>;
    static void setStartUpHook(StartUpHook hook);
    static void runStartUpHook(QWidget* window);

    // The update and news checkers; null when the distributor file switched the check off.
    HttpRequest* updateChecker() const { return m_updateChecker; }
    HttpRequest* newsChecker() const { return m_newsChecker; }
    // The last news check found a page (any status below 400); true before one has answered.
    bool newsAvailable() const { return m_newsAvailable; }

signals:
    void newsAvailability(bool available);

public slots:
    // Once the main window is built: one unforced request per checker.
    void runStartUpChecks();
    // Check for Updates: the version page in the browser.
    void checkForUpdateSlot();
    // Latest News: the news page in the browser, and a forced check so that the page counts
    // as read.
    void checkForNewsSlot();
    // The version page's answer: offers the download when it says "notuptodate".
    bool updateCheckerCallbackSlot(const QString& body, bool forced);
    // A news page: offered unless the user asked for it; true when it was read.
    bool newsCheckerCallbackSlot(const QString& body, bool forced);
    void newsCheckerHttpStatusCodeSlot(int code);

private:
    void createCheckers();

    Klogger m_logger;
    LaunchMode m_launchMode;
    KsApplication* m_application = nullptr;
    QSettings* m_settings = nullptr;
    KsAppPreferences* m_preferences = nullptr;
    KsTranslations* m_translations = nullptr;
    int m_result = 0;
    QPointer<KsMainWindow> m_mainWindow;
    HandBackStatus m_handBackStatus = HandBackApply;
    HttpRequest* m_updateChecker = nullptr;
    HttpRequest* m_newsChecker = nullptr;
    bool m_newsAvailable = !newsPageName().isEmpty();
};
