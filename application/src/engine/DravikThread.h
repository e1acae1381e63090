#pragma once
// The one engine worker: runs engine commands one at a time, in submission order. prepare and
// finish run on the GUI thread, execute and the progress callback on the worker.

#include <QList>
#include <QThread>

#include <atomic>
#include <functional>

class DravikCommand;
class GmModel;

class DravikThread : public QThread {
    Q_OBJECT
public:
    enum SubmitAsUncancellable : bool { SubmitCancellable = false, SubmitUncancellable = true };

    // Builds the command that refreshes the model's undo and redo counts after a command
    // that asks for it; none is run while no factory is set.
    using UndoCountFactory = std::function<DravikCommand*(GmModel*)>;

    // Registers itself as the process-wide engine worker.
    DravikThread();
    ~DravikThread() override;

    static DravikThread* instance();
    static void setUndoCountFactory(UndoCountFactory factory);

    // Takes ownership of the command, whether it is queued, run or refused.
    void submit(DravikCommand* command, SubmitAsUncancellable mode = SubmitCancellable);
    void cancelCommand(DravikCommand* command);
    void discardCommand(DravikCommand* command);
    bool canCancel() const;

    bool isAccepting() const { return m_accepting; }
    void setAccepting(bool accepting) { m_accepting = accepting; }
    bool isBusy() const { return m_busy; }
    bool isLibraryDead() const { return m_libraryDead; }
    // A cancel of the running command was asked for.
    bool isCancelRequested() const { return m_cancelRequested; }
    bool isQueueEmpty() const { return m_queue.isEmpty(); }
    DravikCommand* currentCommand() const { return m_current; }
    const QList<DravikCommand*>& queue() const { return m_queue; }
    // The document's change stamp: accepted submissions of commands that count as a change.
    int changeCounter() const { return m_changeCounter; }
    // The stamp of the document as the commands that have left the worker made it: a change
    // still queued or running is not in it yet. What is saved now carries this one.
    int finishedChangeCount() const;

    // Called by the engine on the worker: emits the progress and answers whether to abort.
    int reportProgress(unsigned char percent, void* context);

signals:
    void commandStarted(DravikCommand* command);
    void commandFinished(DravikCommand* command);
    void commandCancelling(DravikCommand* command);
    void commandDiscarded(DravikCommand* command);
    void commandProgress(int percent, void* context);
    void stateChanged();
    void closureComplete();
    void queueEmptied();
    void deadLibrary(const QString& description, const QString& message);
    // The command lacked memory (its worker thread could not be started, or the engine ran
    // out): what was done before it stands, the engine stays usable and the queue goes on.
    void outOfMemory(const QString& description, const QString& message);
    void submissionRejectedLibraryDead(DravikCommand* command);

public slots:
    void cancelCommandsSlot();
    void launchedSlot();
    void lSlot();
    void commandThreadFinishedSlot();

protected:
    void run() override;

private:
    void launchNext();
    // Starts the worker on the current command; false when the system could not create it.
    bool startWorker();
    void refreshUndoCounts(GmModel* model);

    bool m_accepting = true;
    bool m_busy = false;
    std::atomic<bool> m_cancelRequested{false};
    std::atomic<bool> m_shuttingDown{false};
    DravikCommand* m_current = nullptr;
    QList<DravikCommand*> m_queue;
    int m_changeCounter = 0;
    bool m_libraryDead = false;
};
