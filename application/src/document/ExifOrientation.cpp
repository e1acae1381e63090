#include "document/ExifOrientation.h"

#include "document/JpegExifReader.h"

#include <QFile>

QTransform exifOrientationMatrix(const QString& fileName)
{
    QTransform matrix;
    int orientation = 0;
    if (!ReadJpegExifOrientation(QFile::encodeName(fileName).constData(), orientation))
        return matrix;
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

void applyExifOrientation(const QString& fileName, QImage& image)
{
    const QTransform matrix = exifOrientationMatrix(fileName);
    if (matrix.isIdentity() || image.isNull())
        return;
    const QImage::Format format = image.format();
    image = image.transformed(matrix, Qt::FastTransformation);
    // The general transform path may hand back a premultiplied image; callers expect the
    // format they read.
    if (image.format() != format)
        image = image.convertToFormat(format);
}
