// Feeds arbitrary bytes as a project file to the project reader: the stream check, then Qt's
// own reading of what the check let through. Neither may crash, read outside the input or
// allocate beyond the run's limit, and Qt's reading of a checked document must end where the
// check ended.

#include "document/ProjectStreamCheck.h"

#include <QBitmap>
#include <QBuffer>
#include <QByteArray>
#include <QDataStream>
#include <QGuiApplication>
#include <QPainterPath>
#include <QVariant>

#include <cstdlib>

Q_DECLARE_METATYPE(QPainterPath)

namespace {

// Magic, version and image fingerprint come before the document.
constexpr int kHeaderBytes = 10;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Pictures become pixmaps, which need the GUI application; no display is needed. It lives
    // to the end of the run.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication* application = new QGuiApplication(*argc, *argv);
    Q_UNUSED(application);
    // Our documents hold painter paths, which the program registers at start-up.
    qRegisterMetaType<QPainterPath>("QPainterPath");
    qRegisterMetaTypeStreamOperators<QPainterPath>("QPainterPath");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    if (size < std::size_t(kHeaderBytes))
        return 0;
    const char* document = reinterpret_cast<const char*>(data) + kHeaderBytes;
    const qint64 left = qint64(size) - kHeaderBytes;
    const qint64 length = ProjectStreamCheck::valueLength(document, left);
    if (length < 0)
        return 0;
    if (length > left)
        std::abort();

    QByteArray bytes = QByteArray::fromRawData(document, int(left));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QDataStream in(&buffer);
    in.setVersion(QDataStream::Qt_5_15);
    QVariant value;
    in >> value;
    if (in.status() == QDataStream::Ok && buffer.pos() != length)
        std::abort();
    return 0;
}
