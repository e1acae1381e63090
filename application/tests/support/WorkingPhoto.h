#pragma once
// A photograph of the test data as the colour workspace sees it: a working image at a
// resolution divisor, a status image of that size with every class and some stray bits, and
// patch masks placed in working coordinates.

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QString>

#include <stdexcept>

namespace testsupport {

// The photograph scaled down by the divisor, as 32-bit ARGB.
inline QImage workingPhoto(const char* name, int divisor = 2)
{
    QImage full(QString::fromUtf8(KESTRINE_TEST_DATA) + "/" + name);
    if (full.isNull())
        throw std::runtime_error(std::string("cannot read test photograph ") + name);
    return full.scaled(full.width() / divisor, full.height() / divisor, Qt::IgnoreAspectRatio,
                       Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_ARGB32);
}

// An 8-bit indexed image whose index is the status byte: blocks of Unassigned, Keep, Drop and
// Blend, some carrying the higher bits (protection, decided) as well, and some with no class.
inline QImage statusImage(QSize size)
{
    QImage status(size, QImage::Format_Indexed8);
    QVector<QRgb> table;
    for (int i = 0; i < 256; ++i)
        table.append(qRgb(i, i, i));
    status.setColorTable(table);
    static const uchar values[] = {1, 2, 4, 8, 2 | 32, 4 | 64, 8 | 16, 0, 1 | 64};
    for (int y = 0; y < size.height(); ++y) {
        uchar* row = status.scanLine(y);
        for (int x = 0; x < size.width(); ++x)
            row[x] = values[((x / 7) + (y / 5) * 3) % 9];
    }
    return status;
}

// An 8-bit indexed patch mask of the given rectangle (working coordinates, offset set), 1
// inside the ellipse the rectangle bounds and 0 outside it.
inline QImage ellipseMask(const QRect& rect)
{
    QImage drawn(rect.size(), QImage::Format_RGB32);
    drawn.fill(Qt::black);
    {
        QPainter painter(&drawn);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        painter.drawEllipse(QRect(QPoint(0, 0), rect.size()));
    }
    QImage mask(rect.size(), QImage::Format_Indexed8);
    mask.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    for (int y = 0; y < rect.height(); ++y) {
        for (int x = 0; x < rect.width(); ++x)
            mask.scanLine(y)[x] = qRed(drawn.pixel(x, y)) > 127 ? 1 : 0;
    }
    mask.setOffset(rect.topLeft());
    return mask;
}

} // namespace testsupport
