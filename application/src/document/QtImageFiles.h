#pragma once
// Image files read through Qt's image readers: every format but PNG and TIFF, which have
// readers of their own (SourceImageFiles.h).

#include <QImage>
#include <QString>

// The file's image as Qt reads it, format guessed from the content and the name; a null image
// when it cannot be read, with the reader's reason (for the user) in `reason` when one is given.
QImage readQtImageFile(const QString& path, QString* reason = nullptr);
