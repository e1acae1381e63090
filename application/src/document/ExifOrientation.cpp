#include "document/ExifOrientation.h"

#include "document/JpegExifReader.h"

#include <QFile>

namespace {

QTransform matrixFor(int orientation)
{
    QTransform matrix;
    // QTransform applies the last operation added first: the mirror happens before the turn.
    switch (orientation) {
    case 2: matrix.scale(-1, 1); break;
    case 3: matrix.rotate(180); break;
    case 4: matrix.rotate(180); matrix.scale(-1, 1); break;
    case 5: matrix.rotate(-90); matrix.scale(-1, 1); break;  // transpose
    case 6: matrix.rotate(90); break;
    case 7: matrix.rotate(90); matrix.scale(-1, 1); break;   // anti-transpose
    case 8: matrix.rotate(-90); break;
    default: break;
    }
    return matrix;
}

void transform(const QTransform& matrix, QImage& image)
{
    if (matrix.isIdentity())
        return;
    const QImage::Format format = image.format();
    image = image.transformed(matrix, Qt::FastTransformation);
    // The general transform path may hand back a premultiplied image; callers expect the
    // format they read.
    if (image.format() != format)
        image = image.convertToFormat(format);
}

} // namespace

QTransform exifOrientationMatrix(const QString& fileName)
{
    int orientation = 0;
    if (!ReadJpegExifOrientation(QFile::encodeName(fileName).constData(), orientation))
        return QTransform();
    return matrixFor(orientation);
}

QTransform exifOrientationMatrixOfData(const QByteArray& data)
{
    JpegExifReader reader;
    if (!reader.readBytes(reinterpret_cast<const unsigned char*>(data.constData()), std::size_t(data.size())))
        return QTransform();
    return matrixFor(reader.orientation());
}

void applyExifOrientation(const QString& fileName, QImage& image)
{
    if (!image.isNull())
        transform(exifOrientationMatrix(fileName), image);
}

void applyExifOrientationOfData(const QByteArray& data, QImage& image)
{
    if (!image.isNull())
        transform(exifOrientationMatrixOfData(data), image);
}
