#pragma once
// The lines of this run's log file, for tests that check what the program logged (before its
// Qt message handler is installed, lines go straight into the file).

#include "Klogger.h"

#include <QFile>
#include <QStringList>

namespace testsupport {

// Without their time stamps; empty while nothing has been logged.
inline QStringList runLogLines()
{
    QFile log(Klogger::runStem() + QStringLiteral(".txt"));
    if (!log.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QStringList lines = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (QString& line : lines)
        if (line.size() >= 13 && line[2] == QLatin1Char(':') && line[12] == QLatin1Char(' '))
            line.remove(0, 13);
    return lines;
}

// Whether this run's log holds the text.
inline bool runLogHas(const QString& text)
{
    QFile log(Klogger::runStem() + QStringLiteral(".txt"));
    return log.open(QIODevice::ReadOnly | QIODevice::Text) && QString::fromUtf8(log.readAll()).contains(text);
}

} // namespace testsupport
