#include "engine/DravikThread.h"

#include "engine/DravikCommand.h"

#include "dravik.h"
#include "platform/crash_guard.h"

#include <QtGlobal>

namespace {

DravikThread* g_instance = nullptr;
DravikThread::UndoCountFactory g_undoCountFactory;

QByteArray utf8(const QString& text)
{
    return text.toUtf8();
}

} // namespace

// The engine calls this by name for the entries that take no progress argument, and the
// commands pass it to those that do; it replaces the engine's default, which never aborts.
extern "C" int DvProgressCallback(unsigned char percent, void* context)
{
    DravikThread* thread = g_instance;
    return thread ? thread->reportProgress(percent, context) : 0;
}

DravikThread::DravikThread()
{
    setObjectName(QStringLiteral("DravikThread"));
    qRegisterMetaType<DravikCommand*>("DravikCommand*");
    connect(this, &QThread::finished, this, &DravikThread::commandThreadFinishedSlot);
    g_instance = this;
}

DravikThread::~DravikThread()
{
    m_shuttingDown = true;
    wait();
    if (g_instance == this)
        g_instance = nullptr;
    // A command cut short by the shutdown never reaches its finish.
    delete m_current;
    qDeleteAll(m_queue);
}

DravikThread* DravikThread::instance()
{
    return g_instance;
}

void DravikThread::setUndoCountFactory(UndoCountFactory factory)
{
    g_undoCountFactory = std::move(factory);
}

void DravikThread::submit(DravikCommand* command, SubmitAsUncancellable mode)
{
    if (!m_accepting) {
        qWarning("Trapped a DravikCommand being submitted when DravikThread is closed");
        command->deleteLater();
        return;
    }
    if (m_libraryDead) {
        emit submissionRejectedLibraryDead(command);
        command->deleteLater();
        return;
    }
    if (mode == SubmitUncancellable)
        command->m_uncancellable = true;
    if (command->countsAsChange())
        ++m_changeCounter;
    m_queue.append(command);
    if (!m_busy)
        launchNext();
}

void DravikThread::launchNext()
{
    m_busy = true;
    m_cancelRequested = false;
    m_current = m_queue.takeFirst();
    emit stateChanged();
    launchedSlot();
}

void DravikThread::launchedSlot()
{
    DravikCommand* command = m_current;
    const QByteArray description = utf8(command->description());
    const QByteArray arguments = utf8(command->argumentText());
    qWarning("%s - prepare (%s)", description.constData(), arguments.constData());
    if (!command->prepare()) {
        qWarning("%s - prepare failed", description.constData());
        commandThreadFinishedSlot();
        return;
    }
    qWarning("%s - execute (%s)", description.constData(), arguments.constData());
    if (m_libraryDead) {
        emit commandDiscarded(command);
        commandThreadFinishedSlot();
        return;
    }
    if (!startWorker()) {
        // No thread will finish the command: it completes here, as one that lacked memory.
        qWarning("%s - the worker thread could not be started (%s)", description.constData(), arguments.constData());
        command->m_result = DvOutOfMemory;
        commandThreadFinishedSlot();
        return;
    }
    emit commandStarted(command);
}

bool DravikThread::startWorker()
{
    // Thread priorities are best effort; on Linux they mostly leave the scheduler alone.
    start(m_accepting ? QThread::LowPriority : QThread::HighPriority);
    // Qt only logs a thread it could not create ("Thread creation error"); one that was
    // created is running now or has already run.
    return isRunning() || isFinished();
}

void DravikThread::lSlot() {}

void DravikThread::run()
{
    // A stack overflow in the engine still reaches the crash guard.
    platform::prepareThreadForCrashes();
    m_current->execute();
    m_current->m_executed = true;
}

void DravikThread::commandThreadFinishedSlot()
{
    wait();
    DravikCommand* finished = m_current;
    const QByteArray description = utf8(finished->description());
    qWarning("%s - hasFinished (%s)", description.constData(),
             utf8(finished->argumentText()).constData());
    emit commandFinished(finished);
    try {
        finished->finish();
        if (finished->result() == DvOutOfMemory)
            emit outOfMemory(finished->description(), DravikCommand::outOfMemoryMessage());
    } catch (const DravikCommand::Error& error) {
        m_libraryDead = true;
        emit deadLibrary(finished->description(), error.message);
        cancelCommandsSlot();
    }
    m_busy = false;
    if (finished->refreshesUndoRedo())
        refreshUndoCounts(finished->model());
    // A slot reached from the refresh may have submitted and launched a new command, which
    // is then current and must be left alone.
    if (m_current == finished)
        m_current = nullptr;
    delete finished;
    emit stateChanged();
    if (m_busy)
        return;
    if (!m_queue.isEmpty())
        launchNext();
    else if (!m_accepting)
        emit closureComplete();
    else
        emit queueEmptied();
}

void DravikThread::refreshUndoCounts(GmModel* model)
{
    if (!g_undoCountFactory || m_libraryDead)
        return;
    DravikCommand* counts = g_undoCountFactory(model);
    if (!counts)
        return;
    if (counts->prepare()) {
        counts->execute();
        counts->m_executed = true;
        try {
            counts->finish();
        } catch (const DravikCommand::Error&) {
            // The count command has no finish check; a fault shows up with the next command.
        }
    }
    delete counts;
}

void DravikThread::cancelCommand(DravikCommand* command)
{
    if (!m_libraryDead && (!command->isCancellable() || command->m_uncancellable))
        return;
    if (command == m_current) {
        emit commandCancelling(command);
        m_cancelRequested = true;
        qWarning("%s - cancelling (%s)", utf8(command->description()).constData(),
                 utf8(command->argumentText()).constData());
        return;
    }
    if (m_queue.removeOne(command))
        discardCommand(command);
}

void DravikThread::discardCommand(DravikCommand* command)
{
    emit commandDiscarded(command);
    qWarning("%s - discarded (%s)", utf8(command->description()).constData(),
             utf8(command->argumentText()).constData());
    command->discarded();
    delete command;
}

void DravikThread::cancelCommandsSlot()
{
    if (m_current)
        cancelCommand(m_current);
    for (int i = m_queue.size() - 1; i >= 0; --i) {
        DravikCommand* command = m_queue.at(i);
        if (m_libraryDead || (command->isCancellable() && !command->m_uncancellable)) {
            m_queue.removeAt(i);
            discardCommand(command);
        }
    }
    emit stateChanged();
}

int DravikThread::finishedChangeCount() const
{
    int pending = m_current && m_current->countsAsChange() ? 1 : 0;
    for (const DravikCommand* command : m_queue)
        if (command->countsAsChange())
            ++pending;
    return m_changeCounter - pending;
}

bool DravikThread::canCancel() const
{
    if (m_current && !m_libraryDead && (!m_current->isCancellable() || m_current->m_uncancellable))
        return false;
    if (m_queue.isEmpty() && (!m_busy || m_cancelRequested))
        return false;
    return true;
}

int DravikThread::reportProgress(unsigned char percent, void* context)
{
    emit commandProgress(int(percent), context);
    return m_shuttingDown || m_cancelRequested ? DvProgressAbort : 0;
}
