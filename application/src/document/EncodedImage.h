#pragma once
// A picture that arrives as the bytes of its file (fetched from a web address, or carried by a
// drop from another program), read as the File menu reads a file: PNG and TIFF by the
// program's own readers, every other format by Qt's and turned upright by its EXIF
// orientation. Each is weighed from its header against the memory that opening it as the
// document takes before any of its pixels are allocated.

#include "document/ImageMemory.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

struct EncodedImage {
    // 8-bit pixels, straight alpha; null when the picture was not read.
    QImage image;
    // Why it was not read (for the log); empty when it was, or when it did not fit.
    QString reason;
    // Set when the picture does not fit in the memory available (nothing was decoded then), or
    // when its pixels could not be allocated.
    imagememory::Shortage shortage;
    // The size its header gives; invalid when it gives none.
    QSize size;

    // `format`: Qt's name of the format the sender gave ("jpeg"), or empty; PNG and TIFF are
    // found from the bytes whatever it says.
    static EncodedImage read(const QByteArray& bytes, const QByteArray& format = QByteArray());
};
