#include "document/UserFiles.h"

#include <QFileInfo>
#include <QSaveFile>

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

bool flush(QFileDevice& file)
{
    // A file at its limit takes only part of the buffer and gives no reason ("Unknown error");
    // asked for the rest, it fails with the system's.
    qint64 left = file.bytesToWrite();
    while (!file.flush()) {
        const qint64 now = file.bytesToWrite();
        if (now == 0 || now >= left)
            return false;
        left = now;
    }
    return true;
}

bool commit(QSaveFile& file, bool written, QString* reason)
{
    // A writer that stopped at a short write leaves the device without a reason; one byte
    // more, past the limit, fails with the system's. The file is thrown away anyway.
    if (!written && file.error() == QFileDevice::NoError)
        file.putChar('\0');
    // The device's error also holds a write that failed earlier and was not looked at.
    const bool flushed = flush(file);
    if (!written || !flushed || file.error() != QFileDevice::NoError) {
        if (reason && (file.error() != QFileDevice::NoError || reason->isEmpty()))
            *reason = file.errorString();
        file.cancelWriting();
        file.commit();  // removes the new file
        return false;
    }
    if (!file.commit()) {
        if (reason)
            *reason = file.errorString();
        return false;
    }
    return true;
}

} // namespace userfiles
