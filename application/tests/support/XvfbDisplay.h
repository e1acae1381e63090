#pragma once
// A private X display for tests that look at real windows: an Xvfb server on a free display
// number that it picks itself (so parallel cases never collide), without an access cookie, so
// that xdotool run by the test reaches it as well as the program under test. On request a
// window manager runs on it, as on a desktop: frames, stacking and placement are then its.
// The server (and the manager) are stopped when the object goes, and with the test should it die.

#include "ChildProcess.h"

#include <QKeySequence>
#include <QList>
#include <QMargins>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

namespace testsupport {

class XvfbDisplay {
public:
    enum class WindowManager { None, Openbox };

    explicit XvfbDisplay(WindowManager manager = WindowManager::None, const QSize& screen = QSize(1024, 768));
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    // False (with the reason in error()) when the server, or the window manager asked for, did
    // not come up.
    bool isRunning() const { return !m_display.isEmpty() && m_managerReady; }
    // Why the display did not come up, or what the last failed tool call said.
    QString error() const { return m_error; }
    // ":N".
    QString display() const { return m_display; }

    // The calling process's environment with DISPLAY set and Qt's X11 plug-in chosen.
    QProcessEnvironment environment() const;

    // Runs an X tool (xdotool, xprop, wmctrl, xwininfo) on this display; false when it failed
    // or took longer than the timeout. The output, trimmed, goes to output when given.
    bool runTool(const QString& program, const QStringList& arguments, QString* output = nullptr,
                 int timeoutMs = 10000) const;
    bool xdotool(const QStringList& arguments, QString* output = nullptr, int timeoutMs = 10000) const;
    // The first visible window of the process (whose title matches the pattern, when one is
    // given), waiting for it up to the timeout; 0 when none.
    qulonglong waitForWindow(qint64 pid, int timeoutMs = 20000, const QString& titlePattern = QString()) const;
    // Focuses the window and types the key sequence into it (XTEST, as a user would).
    bool sendKeys(qulonglong window, const QKeySequence& keys) const;

    // A key sequence in xdotool's notation: "Ctrl+F4" becomes "ctrl+F4", "Ctrl+W" "ctrl+w".
    static QString xdotoolKeys(const QKeySequence& keys);

    // The visible windows of the process, in no particular order.
    QList<qulonglong> visibleWindows(qint64 pid) const;
    QString windowName(qulonglong window) const;
    // The managed windows from bottom to top, as the window manager stacks them; empty without
    // a manager.
    QList<qulonglong> stackingOrder() const;
    // The window's own area (without the manager's frame) in screen coordinates; null when the
    // window is gone.
    QRect windowGeometry(qulonglong window) const;
    // The frame the manager draws around the window: left, top, right and bottom widths.
    QMargins frameExtents(qulonglong window) const;
    // The window's area with its frame.
    QRect frameGeometry(qulonglong window) const { return windowGeometry(window) + frameExtents(window); }
    // The atoms of the window's _NET_WM_STATE ("_NET_WM_STATE_FULLSCREEN", ...).
    QStringList windowStates(qulonglong window) const;
    // The screen's size.
    QSize screenSize() const;

private:
    bool startWindowManager();
    bool startWindowManagerOnce();

    ChildProcess m_server;
    ChildProcess m_manager;
    QString m_display;
    bool m_managerReady = true;
    mutable QString m_error;
};

} // namespace testsupport
