#include "LogCapture.h"

#include <QMutex>

namespace testsupport {

namespace {

QMutex g_mutex;
QStringList g_lines;

void collect(QtMsgType, const QMessageLogContext&, const QString& message)
{
    QMutexLocker lock(&g_mutex);
    g_lines.append(message);
}

} // namespace

LogCapture::LogCapture() : m_previous(qInstallMessageHandler(collect))
{
    clear();
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
}

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&g_mutex);
    return g_lines;
}

void LogCapture::clear()
{
    QMutexLocker lock(&g_mutex);
    g_lines.clear();
}

} // namespace testsupport
