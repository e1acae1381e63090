// The engine worker with scripted commands: ordering of prepare, execute and finish, cancels,
// library faults and the undo-count refresh, and the progress callback over the real engine.

#include "engine/DravikCommand.h"
#include "engine/DravikThread.h"

#include "LogCapture.h"
#include "Wait.h"
#include "thread_start_failure.h"

#include "dravik.h"

#include <QPointer>
#include <QStringList>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <vector>

using testsupport::LogCapture;
using testsupport::waitUntil;

namespace {

struct Script {
    bool prepares = true;
    int result = 0;
    bool cancellable = true;
    bool change = true;
    bool refreshes = false;
    bool pollUntilAborted = false;  // execute polls the callback until it answers 2
    bool useFinishCheck = true;
    std::function<void()> onExecute;
    std::function<void()> onFinish;
};

// Records what happened to it in a trace shared by the test.
class FakeCommand : public DravikCommand {
public:
    FakeCommand(QString name, QStringList* trace, Script script = {})
        : DravikCommand(nullptr, name), m_name(name), m_trace(trace), m_script(std::move(script))
    {
    }
    ~FakeCommand() override { m_trace->append(m_name + " deleted"); }

    QString argumentText() const override { return QStringLiteral("args of ") + m_name; }
    bool prepare() override
    {
        m_trace->append(m_name + " prepare");
        return m_script.prepares;
    }
    void execute() override
    {
        if (m_script.onExecute)
            m_script.onExecute();
        if (m_script.pollUntilAborted) {
            m_ready = true;
            while (DvProgressCallback(50, nullptr) != DvProgressAbort)
                QThread::msleep(1);
            m_sawAbort = true;
        }
        m_result = m_script.result;
    }
    void finish() override
    {
        m_trace->append(m_name + (hasExecuted() ? " finish after execute" : " finish unexecuted"));
        if (m_script.onFinish)
            m_script.onFinish();
        if (m_script.useFinishCheck)
            checkResult(m_result);
    }
    bool isCancellable() const override { return m_script.cancellable; }
    bool countsAsChange() const override { return m_script.change; }
    bool refreshesUndoRedo() const override { return m_script.refreshes; }

    std::atomic<bool> m_ready{false};
    std::atomic<bool> m_sawAbort{false};

private:
    QString m_name;
    QStringList* m_trace;
    Script m_script;
};

class DravikThreadTest : public ::testing::Test {
protected:
    DravikThreadTest()
    {
        QObject::connect(&m_thread, &DravikThread::commandStarted, [this](DravikCommand* c) {
            m_signals.append("started " + c->description());
        });
        QObject::connect(&m_thread, &DravikThread::commandFinished, [this](DravikCommand* c) {
            m_signals.append("finished " + c->description());
        });
        QObject::connect(&m_thread, &DravikThread::commandDiscarded, [this](DravikCommand* c) {
            m_signals.append("discarded " + c->description());
        });
        QObject::connect(&m_thread, &DravikThread::commandCancelling, [this](DravikCommand* c) {
            m_signals.append("cancelling " + c->description());
        });
        QObject::connect(&m_thread, &DravikThread::queueEmptied,
                         [this] { m_signals.append("queueEmptied"); });
        QObject::connect(&m_thread, &DravikThread::closureComplete,
                         [this] { m_signals.append("closureComplete"); });
        QObject::connect(&m_thread, &DravikThread::deadLibrary,
                         [this](const QString& d, const QString& m) {
                             m_signals.append("deadLibrary " + d + ": " + m);
                         });
        QObject::connect(&m_thread, &DravikThread::submissionRejectedLibraryDead,
                         [this](DravikCommand* c) { m_signals.append("rejected " + c->description()); });
        QObject::connect(&m_thread, &DravikThread::outOfMemory, [this](const QString& d, const QString& m) {
            m_signals.append("outOfMemory " + d + ": " + m);
        });
    }
    ~DravikThreadTest() override
    {
        testsupport::stopFailingThreadStarts();
        DravikThread::setUndoCountFactory({});
    }

    bool idle()
    {
        return waitUntil([this] { return !m_thread.isBusy() && m_thread.isQueueEmpty(); });
    }

    // The trace outlives the thread, whose destructor deletes what is left.
    QStringList m_trace;
    QStringList m_signals;
    LogCapture m_log;
    DravikThread m_thread;
};

TEST_F(DravikThreadTest, IdleSubmissionPreparesAtOnceAndLogsEachStep)
{
    m_thread.submit(new FakeCommand("A", &m_trace));
    EXPECT_EQ(m_trace, QStringList{"A prepare"});
    EXPECT_TRUE(m_thread.isBusy());
    ASSERT_TRUE(idle());

    EXPECT_EQ(m_trace, (QStringList{"A prepare", "A finish after execute", "A deleted"}));
    EXPECT_EQ(m_signals, (QStringList{"started A", "finished A", "queueEmptied"}));
    EXPECT_EQ(m_log.lines(), (QStringList{"A - prepare (args of A)", "A - execute (args of A)",
                                          "A - hasFinished (args of A)"}));
    EXPECT_EQ(m_thread.currentCommand(), nullptr);
}

TEST_F(DravikThreadTest, FailedPrepareCompletesWithoutRunning)
{
    Script script;
    script.prepares = false;
    m_thread.submit(new FakeCommand("A", &m_trace, script));
    ASSERT_TRUE(idle());
    EXPECT_EQ(m_trace, (QStringList{"A prepare", "A finish unexecuted", "A deleted"}));
    EXPECT_FALSE(m_signals.contains("started A"));
    EXPECT_TRUE(m_log.contains("A - prepare failed"));
    EXPECT_FALSE(m_log.contains("A - execute (args of A)"));
}

TEST_F(DravikThreadTest, QueueRunsInOrderAndClosureCompletesWhenClosed)
{
    Script slow;
    slow.onExecute = [] { QThread::msleep(30); };
    m_thread.submit(new FakeCommand("A", &m_trace, slow));
    m_thread.submit(new FakeCommand("B", &m_trace));
    EXPECT_EQ(m_trace, QStringList{"A prepare"});  // B waits for A
    m_thread.setAccepting(false);
    ASSERT_TRUE(waitUntil([this] { return m_signals.contains("closureComplete"); }));
    EXPECT_EQ(m_trace, (QStringList{"A prepare", "A finish after execute", "A deleted", "B prepare",
                                    "B finish after execute", "B deleted"}));
    EXPECT_FALSE(m_signals.contains("queueEmptied"));
}

TEST_F(DravikThreadTest, ChangeCounterCountsAcceptedChangesOnly)
{
    Script noChange;
    noChange.change = false;
    m_thread.submit(new FakeCommand("A", &m_trace));
    m_thread.submit(new FakeCommand("B", &m_trace, noChange));
    ASSERT_TRUE(idle());
    EXPECT_EQ(m_thread.changeCounter(), 1);

    m_thread.setAccepting(false);
    QPointer<DravikCommand> refused = new FakeCommand("C", &m_trace);
    m_thread.submit(refused);
    EXPECT_EQ(m_thread.changeCounter(), 1);
    EXPECT_TRUE(m_log.contains("Trapped a DravikCommand being submitted when DravikThread is closed"));
    testsupport::flushDeferredDeletes();
    EXPECT_TRUE(refused.isNull());
    EXPECT_FALSE(m_trace.contains("C prepare"));
}

TEST_F(DravikThreadTest, CancelDiscardsQueuedAndAbortsRunning)
{
    Script polling;
    polling.pollUntilAborted = true;
    auto* running = new FakeCommand("A", &m_trace, polling);
    auto* queued = new FakeCommand("B", &m_trace);
    m_thread.submit(running);
    m_thread.submit(queued);
    ASSERT_TRUE(waitUntil([&] { return running->m_ready.load(); }));
    EXPECT_TRUE(m_thread.canCancel());

    m_thread.cancelCommand(queued);
    EXPECT_EQ(m_signals.last(), "discarded B");
    EXPECT_TRUE(m_trace.contains("B deleted"));
    EXPECT_FALSE(m_trace.contains("B prepare"));

    m_thread.cancelCommand(running);
    EXPECT_TRUE(m_log.contains("A - cancelling (args of A)"));
    EXPECT_FALSE(m_thread.canCancel());  // busy, cancel already asked, nothing queued
    ASSERT_TRUE(idle());
    EXPECT_TRUE(m_trace.contains("A finish after execute"));
}

TEST_F(DravikThreadTest, CancelIgnoresUncancellableCommands)
{
    Script polling;
    polling.pollUntilAborted = true;
    polling.onFinish = [] {};
    Script notCancellable;
    notCancellable.cancellable = false;

    auto* running = new FakeCommand("A", &m_trace, polling);
    auto* fixedQueued = new FakeCommand("B", &m_trace, notCancellable);
    auto* uncancellableQueued = new FakeCommand("C", &m_trace);
    m_thread.submit(running, DravikThread::SubmitUncancellable);
    m_thread.submit(fixedQueued);
    m_thread.submit(uncancellableQueued, DravikThread::SubmitUncancellable);
    ASSERT_TRUE(waitUntil([&] { return running->m_ready.load(); }));
    EXPECT_FALSE(m_thread.canCancel());  // the running command may not be cancelled

    m_thread.cancelCommandsSlot();
    m_thread.cancelCommand(fixedQueued);
    EXPECT_EQ(m_thread.queue().size(), 2);
    QThread::msleep(20);
    EXPECT_FALSE(running->m_sawAbort.load());

    // Only the shutdown of the worker stops it now: let the destructor's abort end it.
}

TEST_F(DravikThreadTest, CanCancelFollowsTheQueue)
{
    EXPECT_FALSE(m_thread.canCancel());  // idle
    Script polling;
    polling.pollUntilAborted = true;
    Script notCancellable;
    notCancellable.cancellable = false;
    auto* running = new FakeCommand("A", &m_trace, polling);
    m_thread.submit(running);
    ASSERT_TRUE(waitUntil([&] { return running->m_ready.load(); }));
    EXPECT_TRUE(m_thread.canCancel());
    m_thread.submit(new FakeCommand("B", &m_trace, notCancellable));
    m_thread.cancelCommand(running);
    EXPECT_TRUE(m_thread.canCancel());  // cancel pending, but the queue is not empty
    ASSERT_TRUE(idle());
    EXPECT_FALSE(m_thread.canCancel());
}

class LibraryFault : public DravikThreadTest, public ::testing::WithParamInterface<int> {};

TEST_P(LibraryFault, KillsTheLibraryAndDiscardsTheQueue)
{
    const int code = GetParam();
    const QString message = code == DvOutOfMemoryUntrusted ? "Out of memory" : "Dravik library fault";
    Script failing;
    failing.result = code;
    failing.onExecute = [] { QThread::msleep(20); };
    m_thread.submit(new FakeCommand("A", &m_trace, failing));
    m_thread.submit(new FakeCommand("B", &m_trace), DravikThread::SubmitUncancellable);
    m_thread.submit(new FakeCommand("C", &m_trace));
    ASSERT_TRUE(idle());

    EXPECT_TRUE(m_thread.isLibraryDead());
    EXPECT_TRUE(m_signals.contains("deadLibrary A: " + message));
    EXPECT_TRUE(m_signals.contains("discarded B"));
    EXPECT_TRUE(m_signals.contains("discarded C"));
    EXPECT_FALSE(m_trace.contains("B prepare"));
    EXPECT_FALSE(m_trace.contains("C prepare"));

    const int counter = m_thread.changeCounter();
    QPointer<DravikCommand> late = new FakeCommand("D", &m_trace);
    m_thread.submit(late);
    EXPECT_EQ(m_signals.last(), "rejected D");
    EXPECT_EQ(m_thread.changeCounter(), counter);
    testsupport::flushDeferredDeletes();
    EXPECT_TRUE(late.isNull());
}

TEST_P(LibraryFault, OtherCodesLeaveTheLibraryAlive)
{
    Script failing;
    failing.result = GetParam() == DvInternalFailure ? DvNoSegmentation : DvCancelled;
    m_thread.submit(new FakeCommand("A", &m_trace, failing));
    ASSERT_TRUE(idle());
    EXPECT_FALSE(m_thread.isLibraryDead());
}

INSTANTIATE_TEST_SUITE_P(Codes, LibraryFault,
                         ::testing::Values(int(DvInternalFailure), int(DvLibraryDead), int(DvOutOfMemoryUntrusted)));

// Out of memory with the session usable is told, and the engine goes on: the library stays
// alive and the queued commands run.
TEST_F(DravikThreadTest, OutOfMemoryIsToldAndTheQueueGoesOn)
{
    Script failing;
    failing.result = DvOutOfMemory;
    m_thread.submit(new FakeCommand("A", &m_trace, failing));
    m_thread.submit(new FakeCommand("B", &m_trace));
    ASSERT_TRUE(idle());

    EXPECT_FALSE(m_thread.isLibraryDead());
    EXPECT_EQ(m_signals, (QStringList{"started A", "finished A", "outOfMemory A: Out of memory", "started B",
                                      "finished B", "queueEmptied"}));
    EXPECT_EQ(m_trace, (QStringList{"A prepare", "A finish after execute", "A deleted", "B prepare",
                                    "B finish after execute", "B deleted"}));
}

// A worker thread the system cannot create (no memory for its stack) ends its command there as
// one that lacked memory, without running it; the command queued behind it starts as usual.
TEST_F(DravikThreadTest, AWorkerThatCannotStartIsToldAndTheQueueGoesOn)
{
    Script slow;
    slow.onExecute = [] { QThread::msleep(30); };
    m_thread.submit(new FakeCommand("X", &m_trace, slow));
    testsupport::failThreadStart(0);
    m_thread.submit(new FakeCommand("A", &m_trace));
    m_thread.submit(new FakeCommand("B", &m_trace));
    ASSERT_TRUE(idle());
    EXPECT_TRUE(testsupport::threadStartFailed());

    EXPECT_FALSE(m_thread.isLibraryDead());
    EXPECT_EQ(m_signals, (QStringList{"started X", "finished X", "finished A", "outOfMemory A: Out of memory",
                                      "started B", "finished B", "queueEmptied"}));
    EXPECT_EQ(m_trace, (QStringList{"X prepare", "X finish after execute", "X deleted", "A prepare",
                                    "A finish unexecuted", "A deleted", "B prepare", "B finish after execute",
                                    "B deleted"}));
    EXPECT_TRUE(m_log.contains("A - the worker thread could not be started (args of A)"));
}

TEST_F(DravikThreadTest, UndoCountsRefreshBeforeTheNextPrepare)
{
    DravikThread::setUndoCountFactory([this](GmModel*) -> DravikCommand* {
        Script counts;
        counts.change = false;
        return new FakeCommand("counts", &m_trace, counts);
    });
    Script refreshing;
    refreshing.refreshes = true;
    m_thread.submit(new FakeCommand("A", &m_trace, refreshing));
    m_thread.submit(new FakeCommand("B", &m_trace));
    ASSERT_TRUE(idle());
    EXPECT_EQ(m_trace, (QStringList{"A prepare", "A finish after execute", "counts prepare",
                                    "counts finish after execute", "counts deleted", "A deleted",
                                    "B prepare", "B finish after execute", "B deleted"}));
    EXPECT_EQ(m_thread.changeCounter(), 2);  // the refresh is never submitted
}

TEST_F(DravikThreadTest, CommandSubmittedDuringTheRefreshIsNotDeleted)
{
    QPointer<DravikCommand> submitted;
    DravikThread::setUndoCountFactory([this, &submitted](GmModel*) -> DravikCommand* {
        Script counts;
        // As a slot on the model's undo-count signal might: submit while nothing is busy.
        counts.onFinish = [this, &submitted] {
            if (!submitted) {
                submitted = new FakeCommand("B", &m_trace);
                m_thread.submit(submitted);
            }
        };
        return new FakeCommand("counts", &m_trace, counts);
    });
    Script refreshing;
    refreshing.refreshes = true;
    m_thread.submit(new FakeCommand("A", &m_trace, refreshing));
    ASSERT_TRUE(idle());
    EXPECT_TRUE(m_trace.contains("B finish after execute"));
    EXPECT_EQ(m_trace.count("B deleted"), 1);
    // B was launched from inside A's completion, which then deleted A alone.
    EXPECT_GT(m_trace.indexOf("A deleted"), m_trace.indexOf("B prepare"));
}

// Calls the engine itself, whose entries report through the application's progress callback.
class EngineRoundTrip : public DravikCommand {
public:
    EngineRoundTrip() : DravikCommand(nullptr, QStringLiteral("Round trip")), m_pixels(64 * 48 * 4)
    {
        for (std::size_t i = 0; i < m_pixels.size(); ++i)
            m_pixels[i] = static_cast<unsigned char>((i * 7) ^ (i >> 5));
    }
    void execute() override
    {
        DvLibrary* library = DvInit();
        DvSession* session =
            DvBeginSession(library, DvImageDesc{64, 48, 64 * 4, DvPixelRgba8, m_pixels.data()});
        m_result = session ? DvEndSession(session) : DvRefused;
        if (library && DvFinish(library) != DvOk)
            m_result = DvRefused;
    }

private:
    std::vector<unsigned char> m_pixels;
};

TEST_F(DravikThreadTest, EngineProgressReachesTheGuiThread)
{
    QList<int> percents;
    bool onGuiThread = true;
    void* context = reinterpret_cast<void*>(1);
    QObject::connect(&m_thread, &DravikThread::commandProgress, &m_thread, [&](int p, void* c) {
        percents.append(p);
        context = c;
        onGuiThread = onGuiThread && QThread::currentThread() == m_thread.thread();
    });
    m_thread.submit(new EngineRoundTrip);
    ASSERT_TRUE(idle());
    ASSERT_TRUE(waitUntil([&] { return percents.contains(100); }, 2000));
    EXPECT_TRUE(onGuiThread);
    EXPECT_EQ(context, nullptr);
}

} // namespace
