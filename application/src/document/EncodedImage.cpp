#include "document/EncodedImage.h"

#include "document/ExifOrientation.h"
#include "document/KsSourceImage.h"
#include "document/MemoryStreamBuffer.h"
#include "document/SourceImageFiles.h"

#include <QBuffer>
#include <QImageReader>

#include <climits>
#include <cstdint>
#include <cstring>
#include <istream>
#include <memory>
#include <new>

namespace files = sourceimagefiles;

namespace {

bool startsWith(const QByteArray& bytes, const char* signature, int length)
{
    return bytes.size() >= length && std::memcmp(bytes.constData(), signature, std::size_t(length)) == 0;
}

bool looksLikePng(const QByteArray& bytes)
{
    return startsWith(bytes, "\x89PNG\r\n\x1a\n", 8);
}

// Classic TIFF or BigTIFF, in either byte order.
bool looksLikeTiff(const QByteArray& bytes)
{
    return startsWith(bytes, "II*\0", 4) || startsWith(bytes, "II+\0", 4) || startsWith(bytes, "MM\0*", 4)
           || startsWith(bytes, "MM\0+", 4);
}

// Qt 5 images hold at most 2 GiB.
bool fitsQImage(qint64 width, qint64 height)
{
    return width > 0 && height > 0 && width <= (INT_MAX - 31) / 32 && width * 4 * height <= INT_MAX;
}

// Weighs opening a picture of that size as the document; false, with the shortage or the
// reason set, when it cannot be held.
bool weigh(qint64 width, qint64 height, EncodedImage& result)
{
    if (!fitsQImage(width, height)) {
        result.reason = QStringLiteral("the image is too large: %1 x %2 pixels").arg(width).arg(height);
        return false;
    }
    result.size = QSize(int(width), int(height));
    result.shortage = imagememory::weigh(width, height, imagememory::toOpen(width, height, imagememory::Held::Own8Bit));
    return !result.shortage.isSet();
}

// An image Qt answers with a null one could not be allocated.
bool allocated(const QImage& image, qint64 width, qint64 height, EncodedImage& result)
{
    if (!image.isNull())
        return true;
    result.shortage = imagememory::allocationFailed(width, height,
                                                    imagememory::toOpen(width, height, imagememory::Held::Own8Bit));
    return false;
}

void readPng(const QByteArray& bytes, EncodedImage& result)
{
    MemoryStreamBuffer header(bytes);
    std::istream headerStream(&header);
    const files::Dimensions size = files::pngDimensions(headerStream);
    if (!weigh(size.width, size.height, result))
        return;
    QImage image(int(size.width), int(size.height), QImage::Format_ARGB32);
    if (!allocated(image, size.width, size.height, result))
        return;
    MemoryStreamBuffer body(bytes);
    std::istream bodyStream(&body);
    files::readPng(bodyStream, {image.width(), image.height(), image.bits(), image.bytesPerLine()});
    result.image = image;
}

void readTiff(const QByteArray& bytes, EncodedImage& result)
{
    const std::size_t length = std::size_t(bytes.size());
    const files::Dimensions size = files::tiffDimensions(bytes.constData(), length);
    if (!weigh(size.width, size.height, result))
        return;
    QImage image(int(size.width), int(size.height), QImage::Format_ARGB32);
    if (!allocated(image, size.width, size.height, result))
        return;
    // The reader gives 16-bit samples; the picture is held at 8 bits.
    const qint64 rowSamples = size.width * 4;
    std::unique_ptr<std::uint16_t[]> wide(new (std::nothrow) std::uint16_t[std::size_t(rowSamples * size.height)]);
    if (!wide) {
        allocated(QImage(), size.width, size.height, result);
        return;
    }
    const KsSourceImage::View16 from{image.width(), image.height(), wide.get(), rowSamples * 2};
    files::readTiff(bytes.constData(), length, {from.width, from.height, from.data, from.bytesPerLine});
    KsSourceImage::convertTo8(from, {image.width(), image.height(), image.bits(), image.bytesPerLine()},
                              KsSourceImage::Samples16);
    result.image = image;
}

void readWithQt(const QByteArray& bytes, const QByteArray& format, EncodedImage& result)
{
    QBuffer header;
    header.setData(bytes);
    header.open(QIODevice::ReadOnly);
    const QSize size = QImageReader(&header, format).size();
    if (size.isValid() && !weigh(size.width(), size.height(), result))
        return;
    QBuffer body;
    body.setData(bytes);
    body.open(QIODevice::ReadOnly);
    QImageReader reader(&body, format);
    QImage image;
    if (!reader.read(&image)) {
        result.reason = reader.errorString();
        return;
    }
    // A photo is turned upright as one opened from a file.
    applyExifOrientationOfData(bytes, image);
    result.image = image;
}

} // namespace

EncodedImage EncodedImage::read(const QByteArray& bytes, const QByteArray& format)
{
    EncodedImage result;
    try {
        if (looksLikePng(bytes))
            readPng(bytes, result);
        else if (looksLikeTiff(bytes))
            readTiff(bytes, result);
        else
            readWithQt(bytes, format, result);
    } catch (const std::bad_alloc&) {
        result.image = QImage();
        if (result.size.isValid())
            allocated(QImage(), result.size.width(), result.size.height(), result);
        else
            result.reason = QStringLiteral("out of memory");
    } catch (const std::exception& e) {
        result.image = QImage();
        result.reason = QString::fromLocal8Bit(e.what());
    }
    return result;
}
