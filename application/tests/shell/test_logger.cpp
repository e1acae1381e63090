// The run log on its own: whole lines from several threads, the folder it refuses, and the
// cleanup of old logs.
#include "shell/Klogger.h"

#include "platform/files.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <thread>

#include <sys/stat.h>

namespace {

QStringList linesOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

TEST(Logger, LinesFromTwoThreadsAreNeverTornOrLost)
{
    constexpr int perThread = 10000;
    QString path;
    {
        Klogger logger;
        logger.setMessageType(QtWarningMsg, false, true);
        logger.installMessageHandler();
        path = logger.logPath();
        ASSERT_FALSE(path.isEmpty());
        // One thread through the line stream, the other through Qt's warnings.
        std::thread streaming([] {
            for (int i = 0; i < perThread; ++i)
                Klogger::stream() << "stream line " << i << " of the first thread" << Klogger::endl;
        });
        std::thread warning([] {
            for (int i = 0; i < perThread; ++i)
                qWarning("warning line %d of the second thread", i);
        });
        streaming.join();
        warning.join();
    }
    const QRegularExpression whole(QStringLiteral(
        "^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} (stream line (\\d+) of the first thread|warning line (\\d+) of the second thread)$"));
    QVector<int> seen[2] = {QVector<int>(perThread), QVector<int>(perThread)};
    int count = 0;
    const QStringList lines = linesOf(path);
    for (int i = 1; i < lines.size(); ++i) {
        const auto match = whole.match(lines[i]);
        ASSERT_TRUE(match.hasMatch()) << qPrintable(lines[i]);
        const bool first = !match.captured(2).isEmpty();
        ++seen[first ? 0 : 1][(first ? match.captured(2) : match.captured(3)).toInt()];
        ++count;
    }
    EXPECT_EQ(count, 2 * perThread);
    for (const QVector<int>& thread : seen)
        EXPECT_EQ(thread.count(1), perThread);
}

TEST(Logger, AFolderOthersCanWriteIsRefusedAndTheLinesStayInMemory)
{
    const QString folder = Klogger::logDirectory().path();
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_EQ(chmod(QFile::encodeName(folder).constData(), 0777), 0);

    QStringList warnings;
    static QStringList* s_warnings = nullptr;
    s_warnings = &warnings;
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { s_warnings->append(text); });
    {
        Klogger logger;
        EXPECT_TRUE(logger.logPath().isEmpty());
        Klogger::stream() << "kept in memory" << Klogger::endl;
    }
    qInstallMessageHandler(previous);
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings[0].startsWith(QStringLiteral("Could not establish logger:")));
    EXPECT_TRUE(warnings[0].contains(folder));
    EXPECT_TRUE(QDir(folder).entryList(QDir::Files).isEmpty());
}

QHash<QString, QDateTime> g_madeOn;

QDateTime madeOn(const QString& path)
{
    return g_madeOn.value(QFileInfo(path).fileName());
}

// A file dated the given number of calendar days before today, modified in the given order.
void addLog(const QDir& folder, const QString& name, int daysOld, int order)
{
    const QString path = folder.filePath(name);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const QDateTime base = QDateTime::currentDateTime().addSecs(-100000);
    ASSERT_TRUE(file.setFileTime(base.addSecs(order), QFileDevice::FileModificationTime));
    g_madeOn.insert(name, QDateTime(Klogger::runStamp().date().addDays(-daysOld), QTime(12, 0)));
}

TEST(Logger, LogsSevenCalendarDaysOldGoOldestFirstUntilOneStays)
{
    QDir folder = Klogger::logDirectory();
    ASSERT_TRUE(Klogger::prepareLogDirectory().isEmpty());
    addLog(folder, "2020.01.01_00.00.00.000.txt", 30, 1);
    addLog(folder, "2020.01.02_00.00.00.000-shim.txt", 7, 2);
    addLog(folder, "2020.01.03_00.00.00.000.txt", 6, 3);
    // Modified later but dated older: the walk has stopped before it.
    addLog(folder, "2020.01.04_00.00.00.000.txt", 9, 4);
    addLog(folder, "notes.txt", 40, 0);
    addLog(folder, "2020.01.05_00.00.00.000.dmp", 40, 0);

    Klogger::setFileDateSource(&madeOn);
    {
        Klogger logger;
    }
    Klogger::setFileDateSource(nullptr);

    QStringList left = folder.entryList(QDir::Files, QDir::Name);
    left.removeAll(QFileInfo(Klogger::runStem() + QStringLiteral(".txt")).fileName());
    EXPECT_EQ(left, (QStringList{"2020.01.03_00.00.00.000.txt", "2020.01.04_00.00.00.000.txt",
                                 "2020.01.05_00.00.00.000.dmp", "notes.txt"}));
}

TEST(Logger, ByDefaultTheBirthTimeDecidesElseTheModificationTime)
{
    QDir folder = Klogger::logDirectory();
    ASSERT_TRUE(Klogger::prepareLogDirectory().isEmpty());
    const QString path = folder.filePath(QStringLiteral("2020.01.01_00.00.00.000.txt"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addDays(-30),
                                 QFileDevice::FileModificationTime));
    file.close();
    const bool birthKnown = platform::birthTime(QFile::encodeName(path).toStdString()).has_value();
    Klogger::removeOldLogs(folder, Klogger::runStamp().date());
    // Made today by its birth time, thirty days old by its modification time.
    EXPECT_EQ(QFileInfo::exists(path), birthKnown);
}

} // namespace
