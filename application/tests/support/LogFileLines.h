#pragma once
// Reading a log file of the program's (its "hh:mm:ss.zzz " line format) from a test, whether
// the file is this process's run log or that of a program the test started.

#include <QFile>
#include <QString>
#include <QStringList>

namespace testsupport {

// The file's lines without their time stamps; empty while the file does not exist.
inline QStringList logFileLines(const QString& path)
{
    QFile log(path);
    if (!log.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QStringList lines = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (QString& line : lines)
        if (line.size() >= 13 && line[2] == QLatin1Char(':') && line[12] == QLatin1Char(' '))
            line.remove(0, 13);
    return lines;
}

// Whether the file holds the text.
inline bool logFileHas(const QString& path, const QString& text)
{
    QFile log(path);
    return log.open(QIODevice::ReadOnly | QIODevice::Text) && QString::fromUtf8(log.readAll()).contains(text);
}

} // namespace testsupport
