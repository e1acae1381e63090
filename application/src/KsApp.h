#pragma once
// The one application object: its logger comes first and goes last; it makes the Qt
// application, the settings store and the preferences, builds the main window, runs the event
// loop and, at the end, deletes every Qt object before the Qt application itself.

#include "Klogger.h"
#include "Launch.h"

#include <QObject>
#include <QPointer>

#include <functional>

class KsAppPreferences;
class KsApplication;
class KsMainWindow;
class KsSourceImage;
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

    // Tests only: called once the main window (or the About box) exists and is shown; an
    // exception it throws leaves start-up like any other.
    using StartUpHook = std::function<void(QWidget*)>;
    static void setStartUpHook(StartUpHook hook);
    static void runStartUpHook(QWidget* window);

private:
    Klogger m_logger;
    LaunchMode m_launchMode;
    KsApplication* m_application = nullptr;
    QSettings* m_settings = nullptr;
    KsAppPreferences* m_preferences = nullptr;
    int m_result = 0;
    QPointer<KsMainWindow> m_mainWindow;
    HandBackStatus m_handBackStatus = HandBackApply;
};
