#pragma once
// Turns images read by the general Qt reader upright by their EXIF Orientation. PNG and TIFF
// files have readers of their own and never come here.

#include <QImage>
#include <QString>
#include <QTransform>

// The transform that makes the named file's image upright; the identity when the file is not
// a JPEG, carries no Orientation or an undefined one.
QTransform exifOrientationMatrix(const QString& fileName);

// Replaces `image` (as read from `fileName`) by its upright copy; an image needing no turn is
// left untouched, pixel format included.
void applyExifOrientation(const QString& fileName, QImage& image);
