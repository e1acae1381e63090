#include "shell/Klogger.h"

#include "document/Prompt.h"
#include "document/Texts.h"
#include "shell/Identity.h"

#include "platform/files.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace {

// Guards the process-wide logger pointer and every write to the log.
std::mutex g_mutex;
Klogger* g_instance = nullptr;
// The logger made by stream() when a line comes before the application object's.
std::unique_ptr<Klogger> g_firstUse;
Klogger::FileDateSource g_fileDateSource = nullptr;

struct LineBuffer {
    QString text;
    QTextStream stream{&text};
};

LineBuffer& lineBuffer()
{
    thread_local LineBuffer buffer;
    return buffer;
}

QDateTime defaultFileDate(const QString& path)
{
    const QFileInfo info(path);
    if (const auto born = platform::birthTime(QFile::encodeName(path).toStdString()))
        return QDateTime::fromSecsSinceEpoch(*born);
    return info.lastModified();
}

int typeIndex(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return 0;
    case QtWarningMsg:
        return 1;
    case QtCriticalMsg:
        return 2;
    case QtFatalMsg:
        return 3;
    case QtInfoMsg:
        break;
    }
    return -1;
}

} // namespace

Klogger::Klogger()
{
    // A logger made on first use before this one writes to the same file; it goes now.
    std::unique_ptr<Klogger> previous;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        previous = std::move(g_firstUse);
        g_instance = this;
    }
    previous.reset();

    const QDir folder = logDirectory();
    const QString problem = prepareLogDirectory();
    if (!problem.isEmpty()) {
        fail(problem);
        return;
    }
    removeOldLogs(folder, runStamp().date(), g_fileDateSource);

    const QString path = runStem() + QStringLiteral(".txt");
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::Append | QIODevice::Text)) {
        m_file.setFileName(QStringLiteral("/dev/null"));
        if (!m_file.open(QIODevice::Append | QIODevice::Text)) {
            fail(QStringLiteral("Failed to open file %1").arg(path));
            return;
        }
    }
    setDevice(&m_file);
    setCodec("UTF-8");
    *this << logTimeStamp() << path << '\n';
    flush();
}

Klogger::~Klogger()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (m_handlerInstalled)
        qInstallMessageHandler(m_previousHandler);
    flush();
    setDevice(nullptr);
    m_file.close();
    if (g_instance == this)
        g_instance = nullptr;
}

void Klogger::fail(const QString& error)
{
    qWarning("Could not establish logger: %s", qUtf8Printable(error));
    m_memory = error + QLatin1Char('\n');
    m_inMemory = true;
    setString(&m_memory, QIODevice::Append);
}

Klogger* Klogger::instance()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_instance;
}

QTextStream& Klogger::stream()
{
    {
        std::unique_lock<std::mutex> lock(g_mutex);
        if (!g_instance) {
            lock.unlock();
            auto logger = std::make_unique<Klogger>();
            lock.lock();
            if (g_instance == logger.get()) {
                g_firstUse = std::move(logger);
            }
        }
    }
    LineBuffer& line = lineBuffer();
    // A line left unfinished is written rather than run into the next one.
    if (!line.text.isEmpty())
        commitLine(line.text);
    line.stream << logTimeStamp();
    return line.stream;
}

QTextStream& Klogger::endl(QTextStream& stream)
{
    LineBuffer& line = lineBuffer();
    if (&stream != &line.stream) {
        // Some other stream: an ordinary line end.
        stream << '\n';
        stream.flush();
        return stream;
    }
    line.stream.flush();
    commitLine(line.text);
    return stream;
}

void Klogger::commitLine(QString& line)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_instance)
        g_instance->writeLine(line);
    line.clear();
}

void Klogger::writeLine(const QString& line)
{
    *this << line << '\n';
    flush();
}

void Klogger::setMessageType(QtMsgType type, bool echo, bool log)
{
    const int index = typeIndex(type);
    if (index < 0)
        return;
    m_echo[index] = echo;
    m_log[index] = log;
}

void Klogger::installMessageHandler()
{
    const QtMessageHandler previous = qInstallMessageHandler(&Klogger::messageHandler);
    if (!m_handlerInstalled)
        m_previousHandler = previous;
    m_handlerInstalled = true;
}

void Klogger::messageHandler(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_instance)
        g_instance->writeLocked(type, text);
}

void Klogger::write(QtMsgType type, const QString& text)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    writeLocked(type, text);
}

void Klogger::writeLocked(QtMsgType type, const QString& text)
{
    const int index = typeIndex(type);
    if (index < 0)
        return;
    if (m_echo[index])
        std::fprintf(stderr, "%s\n", text.toUtf8().constData());
    if (m_log[index])
        writeLine(logTimeStamp() + text);
    if (type == QtFatalMsg)
        std::abort();
}

QDir Klogger::logDirectory()
{
    QString temp = QFileInfo(QDir::tempPath()).canonicalFilePath();
    // Qt names no temporary folder when the one in TMPDIR does not exist; that one is still
    // the user's choice (it is made with the log folder), never the file system's root.
    if (temp.isEmpty())
        temp = QDir::cleanPath(qEnvironmentVariable("TMPDIR"));
    if (temp.isEmpty())
        temp = QStringLiteral("/tmp");
    return QDir(temp + QLatin1Char('/') + applicationName());
}

QDateTime Klogger::runStamp()
{
    static const QDateTime stamp = QDateTime::currentDateTime();
    return stamp;
}

QString Klogger::runStem()
{
    return logDirectory().path() + QLatin1Char('/')
           + runStamp().toString(QStringLiteral("yyyy.MM.dd_hh.mm.ss.zzz"));
}

QString Klogger::dumpPath()
{
    return runStem() + QStringLiteral(".dmp");
}

QString Klogger::prepareLogDirectory()
{
    const QString path = logDirectory().path();
    switch (platform::makePrivateFolder(QFile::encodeName(path).toStdString())) {
    case platform::PrivateFolder::Ready:
        return QString();
    case platform::PrivateFolder::CannotCreate:
        return QStringLiteral("Failed to mkdir %1").arg(path);
    case platform::PrivateFolder::NotAFolder:
        return QStringLiteral("Log folder %1 is not a folder").arg(path);
    case platform::PrivateFolder::NotOwned:
        return QStringLiteral("Log folder %1 belongs to another user").arg(path);
    case platform::PrivateFolder::OpenToOthers:
        return QStringLiteral("Log folder %1 can be written by other users").arg(path);
    }
    return QStringLiteral("Failed to mkdir %1").arg(path);
}

void Klogger::removeOldLogs(const QDir& folder, const QDate& today, FileDateSource source)
{
    if (!source)
        source = &defaultFileDate;
    const QFileInfoList logs = folder.entryInfoList({QStringLiteral("20*.txt")}, QDir::Files,
                                                    QDir::Time | QDir::Reversed);
    for (const QFileInfo& log : logs) {
        const QDate made = source(log.filePath()).date();
        if (!made.isValid() || made.daysTo(today) <= 6)
            break;
        QFile::remove(log.filePath());
    }
}

void Klogger::setFileDateSource(FileDateSource source)
{
    g_fileDateSource = source;
}

void Klogger::reportProblems(QWidget* parent)
{
    // The folder may not be ours: then nothing in it is touched.
    if (m_inMemory)
        return;
    QDir folder = logDirectory();
    QStringList dumps = folder.entryList({QStringLiteral("*.dmp")}, QDir::Files, QDir::Name);
    if (dumps.isEmpty())
        return;

    const QString eventName = QStringLiteral("Event");
    const QString eventPath = folder.filePath(eventName);
    if (platform::makePrivateFolder(QFile::encodeName(eventPath).toStdString())
        == platform::PrivateFolder::Ready) {
        QDir event(eventPath);
        for (const QString& old : event.entryList(QDir::Files | QDir::Hidden | QDir::System))
            event.remove(old);
        const QString first = dumps.takeFirst();
        folder.rename(first, event.filePath(first));
        const QString log = first.left(first.size() - 4) + QStringLiteral(".txt");
        if (folder.exists(log))
            folder.rename(log, event.filePath(log));
        for (const QString& other : dumps)
            folder.remove(other);
    }

    const QString canonicalEvent = QFileInfo(eventPath).canonicalFilePath();
    const QString text =
        QCoreApplication::translate(
            "Klogger",
            "<p>%1 recently shutdown unexpectedly.<br/>Log files were saved in:</p>"
            "<p align='center'><font color='blue'>%2</font></p>"
            "<p>Please help improve this product by emailing these files to:</p>"
            "<p align='center'><font color='blue'>%3</font></p><p>Thank you.</p>",
            "[all]")
            .arg(productName(), canonicalEvent.isEmpty() ? eventPath : canonicalEvent,
                 supportAddress());
    Prompt::information(parent,
                        QCoreApplication::translate("Klogger", "Problem Reports Detected", "[all]"),
                        text);
}
