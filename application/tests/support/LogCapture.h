#pragma once
// Collects the Qt messages (the program's log lines) written while it lives.

#include <QStringList>
#include <QtGlobal>

namespace testsupport {

class LogCapture {
public:
    LogCapture();
    ~LogCapture();

    QStringList lines() const;
    bool contains(const QString& line) const { return lines().contains(line); }
    void clear();

private:
    QtMessageHandler m_previous;
};

} // namespace testsupport
