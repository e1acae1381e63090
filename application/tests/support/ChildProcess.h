#pragma once
// A process that a test starts and that ends with the test: should the test die, the child is
// sent SIGTERM rather than left running (holding the runner's output pipe open).

#include <QProcess>

#include <csignal>

#include <sys/prctl.h>

namespace testsupport {

class ChildProcess : public QProcess {
protected:
    void setupChildProcess() override { prctl(PR_SET_PDEATHSIG, SIGTERM); }
};

} // namespace testsupport
