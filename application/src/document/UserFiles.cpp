#include "document/UserFiles.h"

#include <QFileInfo>

namespace userfiles {

bool mayOpen(const QString& path, QString* why)
{
    const QFileInfo file(path);
    if (!file.exists() || file.isFile())
        return true;
    if (why)
        *why = file.isDir() ? QStringLiteral("it is a folder")
                            : QStringLiteral("it is no regular file (a FIFO, a device or a socket)");
    return false;
}

} // namespace userfiles
