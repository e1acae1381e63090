#include "document/UserFiles.h"

#include <QFileInfo>

namespace userfiles {

bool mayOpen(const QString& path, const char* what)
{
    const QFileInfo file(path);
    if (!file.exists() || file.isFile())
        return true;
    qWarning("%s %s not read: %s", what, qUtf8Printable(path),
             file.isDir() ? "it is a folder" : "it is no regular file (a FIFO, a device or a socket)");
    return false;
}

} // namespace userfiles
