#pragma once
// A value written to and read back from a data stream, as a project file carries it.

#include <QByteArray>
#include <QDataStream>
#include <QVariant>

#include <functional>

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

// The bytes that the writer puts on a stream of the version projects are written with.
inline QByteArray encoded(const std::function<void(QDataStream&)>& write)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_5_15);
    write(out);
    return bytes;
}

} // namespace testsupport
