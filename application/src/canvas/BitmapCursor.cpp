#include "canvas/BitmapCursor.h"

#include <QBitmap>
#include <QImage>
#include <QPainter>

namespace {

// Dark pixels become set bits; transparent ones count as white.
QBitmap loadBitmap(const QString& path)
{
    const QImage image(path);
    if (image.isNull())
        return QBitmap();
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    QPainter painter(&flat);
    painter.drawImage(0, 0, image);
    painter.end();
    return QBitmap::fromImage(flat.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither));
}

} // namespace

std::unique_ptr<QCursor> makeBitmapCursor(int hotX, int hotY, const QString& dataPath,
                                          const QString& maskPath)
{
    const QBitmap data = loadBitmap(dataPath);
    const QBitmap mask = loadBitmap(maskPath);
    if (data.isNull() || mask.isNull() || data.size() != mask.size())
        return nullptr;
    return std::make_unique<QCursor>(data, mask, hotX, hotY);
}
