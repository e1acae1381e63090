#pragma once
// Keeps the test binaries off the network: the maker's web root becomes a loopback port that
// is bound but never listened on, so every request to it is refused at once, and the
// distributor file is read from a folder of the test's own (empty unless a test writes one),
// never from the build folder beside the program. Called by the shared test mains.

#include "shell/DistributorRecord.h"
#include "shell/Identity.h"

#include <QString>

#include <cstdlib>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

// A loopback port that stays closed while the process lives; 0 when none could be taken.
inline unsigned closedLoopbackPort()
{
    static unsigned port = [] {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return 0u;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        socklen_t size = sizeof(address);
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0
            || getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            close(fd);
            return 0u;
        }
        // Held, never listened on: connections are refused and no one else takes the port.
        return unsigned(ntohs(address.sin_port));
    }();
    return port;
}

// "http://127.0.0.1:<closed port>".
inline QString offlineWebRoot()
{
    return QStringLiteral("http://127.0.0.1:%1").arg(closedLoopbackPort() ? closedLoopbackPort() : 9);
}

inline void goOffline()
{
    setWebRoot(offlineWebRoot());
    const char* scratch = std::getenv("KESTRINE_TEST_SCRATCH");
    if (scratch && *scratch)
        setDistributorFolder(QString::fromLocal8Bit(scratch) + QStringLiteral("/distributor"));
}

} // namespace testsupport
