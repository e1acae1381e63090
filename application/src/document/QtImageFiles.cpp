#include "document/QtImageFiles.h"

#include "document/ImageMemory.h"
#include "document/JpegData.h"

#include <QFile>
#include <QImageReader>

namespace {

// A file that notes when its reader asks for bytes it no longer has. Opened unbuffered, each
// read of the reader is one read of the file, so a read that finds nothing means the reader
// wanted more than the file holds. Qt's JPEG reader answers that by ending the picture there
// (as libjpeg advises) and shows the rest grey, telling nobody but the log.
// Its decoder also reads past the end of a whole picture whose end marker is missing: which of
// the two it was, libjpeg tells (JpegData.h).
class EndWatchingFile : public QFile {
public:
    using QFile::QFile;
    bool readPastEnd() const { return m_readPastEnd; }

protected:
    qint64 readData(char* data, qint64 length) override
    {
        const qint64 read = QFile::readData(data, length);
        if (read == 0 && length > 0)
            m_readPastEnd = true;
        return read;
    }

private:
    bool m_readPastEnd = false;
};

} // namespace

QImage readQtImageFile(const QString& path, QString* reason)
{
    // Only a JPEG is read unbuffered: a reader that takes a few bytes at a time, as that of text
    // PPM files does, would make a system call of each.
    const bool jpeg = QImageReader::imageFormat(path) == "jpeg";
    EndWatchingFile file(path);
    if (!file.open(jpeg ? QIODevice::ReadOnly | QIODevice::Unbuffered : QIODevice::ReadOnly)) {
        if (reason)
            *reason = file.errorString();
        return QImage();
    }
    // The reader, given a file, guesses from its name as well as from its content.
    QImageReader reader(&file);
    const QByteArray format = reader.format();
    QImage image;
    if (!reader.read(&image)) {
        if (reason)
            *reason = reader.errorString();
        // A reader that fails half-way leaves what it decoded so far.
        return QImage();
    }
    // A JPEG's data ends with the picture's end marker; one whose picture needs more is cut short.
    if (format == "jpeg" && file.readPastEnd() && (!file.seek(0) || jpegDataEndsEarly(file))) {
        if (reason)
            *reason = QStringLiteral("the file ends before its JPEG data is complete");
        return QImage();
    }
    return image;
}

bool qtImageFileFits(const QString& path, QWidget* parent)
{
    const QSize size = QImageReader(path).size();
    if (!size.isValid())
        return true;
    return imagememory::fits(path, size.width(), size.height(),
                             imagememory::toOpen(size.width(), size.height(), imagememory::Held::Own8Bit), parent);
}
