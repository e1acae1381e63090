#include "document/QtImageFiles.h"

#include <QImageReader>

QImage readQtImageFile(const QString& path, QString* reason)
{
    QImageReader reader(path);
    QImage image;
    if (reader.read(&image))
        return image;
    if (reason)
        *reason = reader.errorString();
    // A reader that fails half-way leaves what it decoded so far.
    return QImage();
}
