// The crash guard in a real process: a program that crashes on purpose, or aborts, must leave a
// dump beside its run log, tell the user, and exit with 255; a crash inside the handling ends
// by its signal instead.
#include "shell/CrashGuard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Outcome {
    int status = 0;
    QString errors;
    QDir folder;
};

Outcome runCrashProgram(const char* kind, const std::string& tmpName = std::string())
{
    const std::string scratch = std::getenv("KESTRINE_TEST_SCRATCH");
    const std::string tmp = scratch + "/" + (tmpName.empty() ? std::string("crash-") + kind : tmpName);
    QDir().mkpath(QString::fromStdString(tmp));
    const std::string errors = scratch + "/stderr-" + kind;
    const pid_t child = fork();
    if (child == 0) {
        setenv("TMPDIR", tmp.c_str(), 1);
        const int fd = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, STDERR_FILENO);
        execl(KESTRINE_CRASH_PROGRAM, KESTRINE_CRASH_PROGRAM, kind, static_cast<char*>(nullptr));
        _exit(126);
    }
    Outcome outcome;
    waitpid(child, &outcome.status, 0);
    QFile file(QString::fromStdString(errors));
    if (file.open(QIODevice::ReadOnly))
        outcome.errors = QString::fromUtf8(file.readAll());
    outcome.folder = QDir(QFileInfo(QString::fromStdString(tmp)).canonicalFilePath()
                          + QStringLiteral("/Kestrine3"));
    return outcome;
}

QString textOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void expectDumpBesideLog(const Outcome& outcome, const char* signalName, const char* kind)
{
    ASSERT_TRUE(WIFEXITED(outcome.status)) << "ended by signal " << WTERMSIG(outcome.status);
    EXPECT_EQ(WEXITSTATUS(outcome.status), 255);
    EXPECT_TRUE(outcome.errors.contains(QString::fromLatin1(crashMessageShort())))
        << qPrintable(outcome.errors);

    const QStringList dumps = outcome.folder.entryList({QStringLiteral("*.dmp")}, QDir::Files);
    ASSERT_EQ(dumps.size(), 1);
    const QString stem = dumps[0].left(dumps[0].size() - 4);
    const QString log = outcome.folder.filePath(stem + QStringLiteral(".txt"));
    EXPECT_TRUE(textOf(log).contains(QStringLiteral("about to crash: ") + QLatin1String(kind)));

    const QString dumpPath = outcome.folder.filePath(dumps[0]);
    struct stat info;
    ASSERT_EQ(stat(QFile::encodeName(dumpPath).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    const QString dump = textOf(dumpPath);
    EXPECT_TRUE(dump.contains(QStringLiteral("\nsignal: ") + QLatin1String(signalName) + " ("))
        << qPrintable(dump.left(300));
    for (const char* section : {"\npid: ", "\ntid: ", "\nstamp: ", "\nregisters:\n",
                                "\nbacktrace:\n", "\nmaps:\n"})
        EXPECT_TRUE(dump.contains(QLatin1String(section))) << section;
    // The memory map names the program itself.
    EXPECT_TRUE(dump.contains(QFileInfo(QStringLiteral(KESTRINE_CRASH_PROGRAM)).fileName()));
}

TEST(CrashGuard, ANullPointerLeavesADumpBesideTheLog)
{
    expectDumpBesideLog(runCrashProgram("null"), "SIGSEGV", "null");
}

TEST(CrashGuard, ADivisionByZeroLeavesADumpBesideTheLog)
{
    expectDumpBesideLog(runCrashProgram("divide"), "SIGFPE", "divide");
}

TEST(CrashGuard, AStackOverflowIsCaughtOnTheAlternateStack)
{
    expectDumpBesideLog(runCrashProgram("recurse"), "SIGSEGV", "recurse");
}

TEST(CrashGuard, ACrashOnAnotherThreadIsCaughtToo)
{
    expectDumpBesideLog(runCrashProgram("thread"), "SIGSEGV", "thread");
}

TEST(CrashGuard, ACrashInsideTheHandlingEndsByTheSignal)
{
    const Outcome outcome = runCrashProgram("handler");
    ASSERT_TRUE(WIFSIGNALED(outcome.status));
    EXPECT_EQ(WTERMSIG(outcome.status), SIGSEGV);
}

TEST(CrashGuard, AFatalMessageIsLoggedThenItsAbortLeavesADump)
{
    const Outcome outcome = runCrashProgram("fatal");
    expectDumpBesideLog(outcome, "SIGABRT", "fatal");
    const QStringList logs = outcome.folder.entryList({QStringLiteral("*.txt")}, QDir::Files);
    ASSERT_EQ(logs.size(), 1);
    EXPECT_TRUE(textOf(outcome.folder.filePath(logs[0]))
                    .contains(QStringLiteral(" a fatal message before the end\n")));
}

// An exception that no one catches (an allocation that fails on a thread of a library, say)
// ends the program by abort: it is told, with a dump, like any crash.
TEST(CrashGuard, AnExceptionNoOneCatchesLeavesADumpBesideTheLog)
{
    expectDumpBesideLog(runCrashProgram("uncaught"), "SIGABRT", "uncaught");
}

TEST(CrashGuard, ADumpPathThatDoesNotFitGivesTheLongMessageAndNoDump)
{
    // Deeper than any path the system takes: no log folder, no dump path.
    std::string deep;
    while (deep.size() < 4200)
        deep += "a-long-folder-name-that-repeats/";
    const Outcome outcome = runCrashProgram("null", "deep/" + deep);
    ASSERT_TRUE(WIFEXITED(outcome.status));
    EXPECT_EQ(WEXITSTATUS(outcome.status), 255);
    EXPECT_TRUE(outcome.errors.contains(QString::fromLatin1(crashMessageLong())))
        << qPrintable(outcome.errors);
}

} // namespace
