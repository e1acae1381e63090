#include "XvfbDisplay.h"

#include <QElapsedTimer>
#include <QThread>

namespace testsupport {

XvfbDisplay::XvfbDisplay(WindowManager manager, const QSize& screen)
{
    // "-displayfd 1": the server picks a free display and writes its number to its standard
    // output once it accepts connections.
    m_server.setProgram(QStringLiteral("Xvfb"));
    m_server.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                           QStringLiteral("0"), QStringLiteral("%1x%2x24").arg(screen.width()).arg(screen.height()),
                           QStringLiteral("-nolisten"),
                           QStringLiteral("tcp")});
    m_server.setProcessChannelMode(QProcess::SeparateChannels);
    m_server.start();
    if (!m_server.waitForStarted(10000)) {
        m_error = QStringLiteral("Xvfb did not start: ") + m_server.errorString();
        return;
    }
    QByteArray output;
    QElapsedTimer timer;
    timer.start();
    while (!output.contains('\n') && timer.elapsed() < 20000 && m_server.state() == QProcess::Running) {
        m_server.waitForReadyRead(200);
        output += m_server.readAllStandardOutput();
    }
    bool ok = false;
    const int number = output.trimmed().toInt(&ok);
    if (!ok) {
        m_error = QStringLiteral("Xvfb named no display: ")
                  + QString::fromLocal8Bit(output + m_server.readAllStandardError());
        return;
    }
    m_display = QStringLiteral(":%1").arg(number);
    if (manager == WindowManager::Openbox)
        m_managerReady = startWindowManager();
}

bool XvfbDisplay::startWindowManager()
{
    // A loaded machine now and then has the manager give up on a display that has only just
    // opened: it is tried again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0)
            QThread::msleep(500);
        if (startWindowManagerOnce())
            return true;
    }
    return false;
}

bool XvfbDisplay::startWindowManagerOnce()
{
    m_manager.setProcessEnvironment(environment());
    m_manager.setProcessChannelMode(QProcess::MergedChannels);
    m_manager.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    if (!m_manager.waitForStarted(10000)) {
        m_error = QStringLiteral("openbox did not start: ") + m_manager.errorString();
        return false;
    }
    // The manager takes the display over a moment after it starts: until then windows would be
    // mapped unmanaged. wmctrl names it once it has.
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 60000) {
        QString answer;
        if (runTool(QStringLiteral("wmctrl"), {QStringLiteral("-m")}, &answer)
            && answer.contains(QLatin1String("Openbox")))
            return true;
        // Waiting on the process also notices when it has given up.
        if (m_manager.waitForFinished(100) || m_manager.state() != QProcess::Running)
            break;
    }
    m_error = QStringLiteral("openbox did not take over the display: ")
              + QString::fromLocal8Bit(m_manager.readAll());
    if (m_manager.state() != QProcess::NotRunning) {
        m_manager.kill();
        m_manager.waitForFinished(5000);
    }
    return false;
}

XvfbDisplay::~XvfbDisplay()
{
    if (m_manager.state() != QProcess::NotRunning) {
        m_manager.terminate();
        if (!m_manager.waitForFinished(5000)) {
            m_manager.kill();
            m_manager.waitForFinished(5000);
        }
    }
    if (m_server.state() != QProcess::NotRunning) {
        m_server.terminate();
        if (!m_server.waitForFinished(5000)) {
            m_server.kill();
            m_server.waitForFinished(5000);
        }
    }
}

QProcessEnvironment XvfbDisplay::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.remove(QStringLiteral("XAUTHORITY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return environment;
}

bool XvfbDisplay::xdotool(const QStringList& arguments, QString* output, int timeoutMs) const
{
    return runTool(QStringLiteral("xdotool"), arguments, output, timeoutMs);
}

bool XvfbDisplay::runTool(const QString& program, const QStringList& arguments, QString* output,
                          int timeoutMs) const
{
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        m_error = QStringLiteral("%1 %2: no answer").arg(program, arguments.join(QLatin1Char(' ')));
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        m_error = QStringLiteral("%1 %2: %3").arg(program, arguments.join(QLatin1Char(' ')),
                                                  QString::fromLocal8Bit(process.readAllStandardError()));
        return false;
    }
    if (output)
        *output = QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    return true;
}

qulonglong XvfbDisplay::waitForWindow(qint64 pid, int timeoutMs, const QString& titlePattern) const
{
    // "--all": without it xdotool takes a window that meets any one of the conditions, so the
    // title would not narrow the program's windows at all (its splash screen among them).
    QStringList search{QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                       QStringLiteral("--pid"), QString::number(pid)};
    if (!titlePattern.isEmpty())
        search << QStringLiteral("--name") << titlePattern;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        QString found;
        xdotool(search, &found);
        bool ok = false;
        const qulonglong window = found.section(QLatin1Char('\n'), 0, 0).toULongLong(&ok);
        if (ok && window != 0)
            return window;
        QThread::msleep(100);
    }
    return 0;
}

bool XvfbDisplay::sendKeys(qulonglong window, const QKeySequence& keys) const
{
    const QString id = QString::number(window);
    return xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), id})
           && xdotool({QStringLiteral("key"), xdotoolKeys(keys)});
}

QString XvfbDisplay::xdotoolKeys(const QKeySequence& keys)
{
    if (keys.isEmpty())
        return QString();
    // The first key of the sequence only.
    QStringList parts = QKeySequence(keys[0]).toString(QKeySequence::PortableText).split(QLatin1Char('+'));
    QString key = parts.takeLast();
    // A capital letter would be typed with Shift; a few keys have other names there.
    if (key.size() == 1)
        key = key.toLower();
    else if (key == QLatin1String("Esc"))
        key = QStringLiteral("Escape");
    else if (key == QLatin1String("Del"))
        key = QStringLiteral("Delete");
    else if (key == QLatin1String("Ins"))
        key = QStringLiteral("Insert");
    else if (key == QLatin1String("PgUp"))
        key = QStringLiteral("Prior");
    else if (key == QLatin1String("PgDown"))
        key = QStringLiteral("Next");
    QStringList names;
    for (const QString& modifier : qAsConst(parts)) {
        if (modifier == QLatin1String("Ctrl"))
            names << QStringLiteral("ctrl");
        else if (modifier == QLatin1String("Shift"))
            names << QStringLiteral("shift");
        else if (modifier == QLatin1String("Alt"))
            names << QStringLiteral("alt");
        else if (modifier == QLatin1String("Meta"))
            names << QStringLiteral("super");
    }
    names << key;
    return names.join(QLatin1Char('+'));
}

QList<qulonglong> XvfbDisplay::visibleWindows(qint64 pid) const
{
    QString found;
    // No match is an error to xdotool: no windows.
    xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"), QString::number(pid)},
            &found);
    QList<qulonglong> windows;
    for (const QString& line : found.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        bool ok = false;
        const qulonglong window = line.trimmed().toULongLong(&ok);
        if (ok)
            windows.append(window);
    }
    return windows;
}

QString XvfbDisplay::windowName(qulonglong window) const
{
    QString name;
    xdotool({QStringLiteral("getwindowname"), QString::number(window)}, &name);
    return name;
}

namespace {

// The value of one line of xprop's answer, after "=" or "#" ("... = a, b" or "... # 0x1, 0x2"),
// as its comma-separated items.
QStringList xpropItems(const QString& answer, QChar mark)
{
    const int at = answer.indexOf(mark);
    if (at < 0)
        return {};
    QStringList items = answer.mid(at + 1).split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (QString& item : items)
        item = item.trimmed();
    items.removeAll(QString());
    return items;
}

} // namespace

QList<qulonglong> XvfbDisplay::stackingOrder() const
{
    QString answer;
    runTool(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_CLIENT_LIST_STACKING")}, &answer);
    QList<qulonglong> windows;
    for (const QString& item : xpropItems(answer, QLatin1Char('#'))) {
        bool ok = false;
        const qulonglong window = item.toULongLong(&ok, 0);
        if (ok)
            windows.append(window);
    }
    return windows;
}

QRect XvfbDisplay::windowGeometry(qulonglong window) const
{
    QString answer;
    if (!runTool(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(window)}, &answer))
        return QRect();
    int x = 0, y = 0, width = 0, height = 0;
    for (const QString& line : answer.split(QLatin1Char('\n'))) {
        const QString key = line.section(QLatin1Char(':'), 0, 0).trimmed();
        const int value = line.section(QLatin1Char(':'), 1).trimmed().toInt();
        if (key == QLatin1String("Absolute upper-left X"))
            x = value;
        else if (key == QLatin1String("Absolute upper-left Y"))
            y = value;
        else if (key == QLatin1String("Width"))
            width = value;
        else if (key == QLatin1String("Height"))
            height = value;
    }
    return QRect(x, y, width, height);
}

QMargins XvfbDisplay::frameExtents(qulonglong window) const
{
    QString answer;
    runTool(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window), QStringLiteral("_NET_FRAME_EXTENTS")},
            &answer);
    const QStringList items = xpropItems(answer, QLatin1Char('='));
    if (items.size() != 4)
        return QMargins();
    // left, right, top, bottom
    return QMargins(items.at(0).toInt(), items.at(2).toInt(), items.at(1).toInt(), items.at(3).toInt());
}

QStringList XvfbDisplay::windowStates(qulonglong window) const
{
    QString answer;
    runTool(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window), QStringLiteral("_NET_WM_STATE")},
            &answer);
    return xpropItems(answer, QLatin1Char('='));
}

QSize XvfbDisplay::screenSize() const
{
    QString answer;
    xdotool({QStringLiteral("getdisplaygeometry")}, &answer);
    const QStringList size = answer.split(QLatin1Char(' '));
    return size.size() == 2 ? QSize(size.at(0).toInt(), size.at(1).toInt()) : QSize();
}

} // namespace testsupport
