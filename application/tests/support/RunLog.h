#pragma once
// The lines of this run's log file, for tests that check what the program logged (before its
// Qt message handler is installed, lines go straight into the file).

#include "LogFileLines.h"
#include "shell/Klogger.h"

namespace testsupport {

// Without their time stamps; empty while nothing has been logged.
inline QStringList runLogLines()
{
    return logFileLines(Klogger::runStem() + QStringLiteral(".txt"));
}

// Whether this run's log holds the text.
inline bool runLogHas(const QString& text)
{
    return logFileHas(Klogger::runStem() + QStringLiteral(".txt"), text);
}

} // namespace testsupport
