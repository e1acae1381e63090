#pragma once
// The run's log: one text file per run in a private folder under the temporary directory,
// named by the run stamp; Qt's warnings go into it through messageHandler, and the program's
// own lines through stream(). Lines from any thread are written whole: each thread builds its
// line in a buffer of its own, and one lock guards the file.

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTextStream>
#include <QtGlobal>

class QWidget;

class Klogger : public QTextStream {
public:
    // The date a log file counts as made on, for the cleanup of old logs.
    using FileDateSource = QDateTime (*)(const QString& path);

    // Opens the run log and becomes the process-wide logger. Never fails: without a usable
    // folder or file it warns and keeps the lines in memory.
    Klogger();
    ~Klogger() override;
    Klogger(const Klogger&) = delete;
    Klogger& operator=(const Klogger&) = delete;

    // Null when no logger exists.
    static Klogger* instance();

    // Starts a line, "hh:mm:ss.zzz ", on the calling thread's line buffer; end it with
    // Klogger::endl, which writes it whole to the log. Creates a logger when none exists.
    static QTextStream& stream();
    static QTextStream& endl(QTextStream& stream);

    // Which Qt message types go to standard error and which into the log; all off at first.
    void setMessageType(QtMsgType type, bool echo, bool log);
    // Installs messageHandler, keeping the previous handler to restore at destruction.
    void installMessageHandler();
    static void messageHandler(QtMsgType type, const QMessageLogContext& context,
                               const QString& text);
    // Echoes and logs the text as its type says; a fatal message then aborts the process.
    void write(QtMsgType type, const QString& text);

    // The canonical temporary folder + "/Kestrine3".
    static QDir logDirectory();
    // The local time at which it is first asked for, fixed for the run.
    static QDateTime runStamp();
    // Folder + "/" + run stamp ("yyyy.MM.dd_hh.mm.ss.zzz"), no extension.
    static QString runStem();
    static QString dumpPath();
    // Makes the log folder owner-only; an empty string when it may be used, else the reason.
    static QString prepareLogDirectory();

    // The file written to; empty when the lines are kept in memory.
    QString logPath() const { return m_file.isOpen() ? m_file.fileName() : QString(); }

    // Moves the crash dump left by an earlier run, with its log, into the "Event" folder
    // (emptied first), deletes any further dumps, and tells the user through the prompt seam.
    void reportProblems(QWidget* parent);

    // Deletes logs ("20*.txt") made 7 or more calendar days before today, oldest modified
    // first, stopping at the first that stays. Without a source: birth time, else the
    // modification time.
    static void removeOldLogs(const QDir& folder, const QDate& today,
                              FileDateSource source = nullptr);
    // Tests only: the date source the constructor's cleanup uses; null restores the default.
    static void setFileDateSource(FileDateSource source);

private:
    void fail(const QString& error);
    void writeLocked(QtMsgType type, const QString& text);
    void writeLine(const QString& line);
    static void commitLine(QString& line);

    QFile m_file;
    QString m_memory;
    bool m_inMemory = false;
    bool m_echo[4] = {};
    bool m_log[4] = {};
    bool m_handlerInstalled = false;
    QtMessageHandler m_previousHandler = nullptr;
};
