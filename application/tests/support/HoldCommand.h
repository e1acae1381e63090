#pragma once
// An engine command that holds the worker until the test releases it, so that what is
// submitted meanwhile waits in the queue.

#include "engine/DravikCommand.h"

#include <QThread>

#include <atomic>

namespace testsupport {

class HoldCommand : public DravikCommand {
public:
    explicit HoldCommand(std::atomic<bool>* release)
        : DravikCommand(nullptr, QStringLiteral("Hold")), m_release(release)
    {
    }
    void execute() override
    {
        while (!m_release->load())
            QThread::msleep(1);
    }
    bool isCancellable() const override { return false; }

private:
    std::atomic<bool>* m_release;
};

} // namespace testsupport
