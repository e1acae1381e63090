#pragma once
// Turns images read by the general Qt reader upright by their EXIF Orientation: files opened
// (PNG and TIFF ones have readers of their own and never come here), dropped or fetched.

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QTransform>

// The transform that makes the named file's image upright; the identity when the file is not
// a JPEG, carries no Orientation or an undefined one.
QTransform exifOrientationMatrix(const QString& fileName);
// The same for a file's bytes in memory (a fetched image).
QTransform exifOrientationMatrixOfData(const QByteArray& data);

// Replaces `image` (as read from `fileName`) by its upright copy; an image needing no turn is
// left untouched, pixel format included.
void applyExifOrientation(const QString& fileName, QImage& image);
// Replaces `image` (as decoded from `data`) by its upright copy, as above.
void applyExifOrientationOfData(const QByteArray& data, QImage& image);
