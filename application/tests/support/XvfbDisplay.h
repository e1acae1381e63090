#pragma once
// A private X display for tests that look at real windows: an Xvfb server on a free display
// number that it picks itself (so parallel cases never collide), without an access cookie, so
// that xdotool run by the test reaches it as well as the program under test. The server is
// stopped when the object goes, and with the test should it die.

#include "ChildProcess.h"

#include <QKeySequence>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace testsupport {

class XvfbDisplay {
public:
    XvfbDisplay();
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    // False (with the reason in error()) when the server did not come up.
    bool isRunning() const { return !m_display.isEmpty(); }
    // Why the server did not come up, or what the last failed xdotool call said.
    QString error() const { return m_error; }
    // ":N".
    QString display() const { return m_display; }

    // The calling process's environment with DISPLAY set and Qt's X11 plug-in chosen.
    QProcessEnvironment environment() const;

    // Runs xdotool on this display; false when it failed or took longer than the timeout.
    // The output, trimmed, goes to output when given.
    bool xdotool(const QStringList& arguments, QString* output = nullptr, int timeoutMs = 10000) const;
    // The first visible window of the process (whose title matches the pattern, when one is
    // given), waiting for it up to the timeout; 0 when none.
    qulonglong waitForWindow(qint64 pid, int timeoutMs = 20000, const QString& titlePattern = QString()) const;
    // Focuses the window and types the key sequence into it (XTEST, as a user would).
    bool sendKeys(qulonglong window, const QKeySequence& keys) const;

    // A key sequence in xdotool's notation: "Ctrl+F4" becomes "ctrl+F4", "Ctrl+W" "ctrl+w".
    static QString xdotoolKeys(const QKeySequence& keys);

private:
    ChildProcess m_server;
    QString m_display;
    mutable QString m_error;
};

} // namespace testsupport
