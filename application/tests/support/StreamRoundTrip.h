#pragma once
// A value written to and read back from a data stream, as a project file carries it.

#include <QByteArray>
#include <QDataStream>
#include <QVariant>

namespace testsupport {

inline QVariant throughStream(const QVariant& value)
{
    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << value;
    }
    QDataStream in(bytes);
    QVariant read;
    in >> read;
    return read;
}

} // namespace testsupport
