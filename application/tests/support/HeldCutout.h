#pragma once
// A cut-out held on the engine worker until the test lets it go, so that a save meets it
// still being made. Let go, it writes what the test gives (as the engine writes the cut-out)
// and ends with the result code it was given; a cancel reaches it through the progress
// callback, as it reaches the engine, and ends it cancelled. And the user's Cancel in the
// dialog of a save that waits for a cut-out.

#include "document/GmModel.h"
#include "engine/DravikThread.h"
#include "engine/DvCmdGenerateMask.h"

#include "dravik.h"

#include <QApplication>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>

#include <atomic>
#include <functional>

namespace testsupport {

class HeldCutout : public DvCmdGenerateMask {
public:
    explicit HeldCutout(std::atomic<bool>* release, std::function<void()> write = {}, int result = DvOk)
        : DvCmdGenerateMask(GmModel::instance()), m_release(release), m_write(std::move(write)), m_ending(result)
    {
    }
    bool prepare() override { return true; }
    void execute() override
    {
        while (!m_release->load()) {
            if (DravikThread::instance()->reportProgress(0, nullptr) == DvProgressAbort) {
                m_result = DvCancelled;
                return;
            }
            QThread::msleep(5);
        }
        if (m_write)
            m_write();
        m_result = m_ending;
    }
    void finish() override {}

private:
    std::atomic<bool>* m_release;
    std::function<void()> m_write;
    int m_ending;
};

// Clicks Cancel in the modal dialog of a wait for the cut-out; false when there is none.
inline bool clickCancelOfCutoutWait()
{
    auto* dialog = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
    QPushButton* cancel = dialog ? dialog->findChild<QPushButton*>() : nullptr;
    if (!cancel || !cancel->isEnabled())
        return false;
    cancel->click();
    return true;
}

} // namespace testsupport
