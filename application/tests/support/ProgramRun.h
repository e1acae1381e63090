#pragma once
// Runs the program's own main in the test process, with a body that runs once the main window
// is up and then ends the run.

#include "shell/KsApp.h"
#include "shell/Launch.h"

#include <QCoreApplication>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

namespace testsupport {

inline int runMain(std::vector<std::string> arguments)
{
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    return kestrineMain(int(arguments.size()), argv.data());
}

// Runs the body once the main window is up, then ends the run with the given status. The
// status is set once the loop has ended, over what the window's close check decided.
inline void onStart(std::function<void(KsApp&)> body, HandBackStatus status = HandBackApply)
{
    KsApp::setStartUpHook([body, status](QWidget* window) {
        KsApp& app = *KsApp::instance();
        body(app);
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &app,
                         [status] { KsApp::instance()->setHandBackStatus(status); });
        QTimer::singleShot(0, window, &QWidget::close);
    });
}

} // namespace testsupport
