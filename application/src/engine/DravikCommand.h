#pragma once
// The base of every engine command: prepared and finished on the GUI thread, executed on the
// engine worker by DravikThread, never both at once.

#include <QObject>
#include <QString>

class GmModel;

class DravikCommand : public QObject {
    Q_OBJECT
public:
    // Thrown by finish when the engine reports a fault that leaves the library unusable;
    // caught only by DravikThread.
    struct Error {
        int code;
        QString message;
    };

    DravikCommand(GmModel* model, const QString& description, int initialResult = 0);

    virtual QString description() const;
    virtual QString argumentText() const;
    virtual bool prepare();
    virtual void execute() = 0;
    virtual void finish();
    virtual void discarded();
    virtual bool isCancellable() const;
    virtual bool countsAsChange() const;
    virtual bool refreshesUndoRedo() const;

    GmModel* model() const { return m_model; }
    int result() const { return m_result; }
    bool uncancellable() const { return m_uncancellable; }
    // Whether execute ran: a command whose prepare failed, or that was discarded at launch or
    // whose worker thread could not be started, must not take the success branch of its finish.
    bool hasExecuted() const { return m_executed; }

    // What the user reads when an operation lacked memory.
    static QString outOfMemoryMessage();

signals:
    void unUsed();
    void stateChanged();

public slots:
    void nothing();

protected:
    // The common finish check: library faults, and a lack of memory that leaves the engine
    // untrusted (8), become Error. Every other code passes and only changes what finish writes
    // back; out of memory with the session usable (3) among them, which the engine worker tells
    // the user once finish has run.
    static void checkResult(int code);

    int m_result;

private:
    friend class DravikThread;

    GmModel* m_model;
    QString m_description;
    bool m_uncancellable = false;
    bool m_executed = false;
};
