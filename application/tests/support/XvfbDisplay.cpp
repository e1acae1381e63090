#include "XvfbDisplay.h"

#include <QElapsedTimer>
#include <QThread>

namespace testsupport {

XvfbDisplay::XvfbDisplay()
{
    // "-displayfd 1": the server picks a free display and writes its number to its standard
    // output once it accepts connections.
    m_server.setProgram(QStringLiteral("Xvfb"));
    m_server.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                           QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
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
}

XvfbDisplay::~XvfbDisplay()
{
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
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(QStringLiteral("xdotool"), arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        m_error = QStringLiteral("xdotool %1: no answer").arg(arguments.join(QLatin1Char(' ')));
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        m_error = QStringLiteral("xdotool %1: %2").arg(arguments.join(QLatin1Char(' ')),
                                                       QString::fromLocal8Bit(process.readAllStandardError()));
        return false;
    }
    if (output)
        *output = QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    return true;
}

qulonglong XvfbDisplay::waitForWindow(qint64 pid, int timeoutMs, const QString& titlePattern) const
{
    QStringList search{QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                       QString::number(pid)};
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

} // namespace testsupport
