#pragma once
// Image files read through Qt's image readers: every format but PNG and TIFF, which have
// readers of their own (SourceImageFiles.h).

#include <QImage>
#include <QString>

class QWidget;

// The file's image as Qt reads it, format guessed from the content and the name; a null image
// when it cannot be read, with the reader's reason (for the user) in `reason` when one is given.
QImage readQtImageFile(const QString& path, QString* reason = nullptr);

// Weighs opening the file's image as the document, in 8-bit pixels, from the size its header
// gives and before anything is decoded: false, after telling the user (over the parent), when
// it does not fit in the memory available. A header that gives no size weighs nothing.
bool qtImageFileFits(const QString& path, QWidget* parent = nullptr);
