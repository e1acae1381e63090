#pragma once
// Puts a plain image of a given size into the document model at a resolution divisor,
// without starting the engine, and takes it out again (with the model) at the end.

#include "document/GmModel.h"
#include "document/KsSourceImage.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QPainter>

#include <cstdint>
#include <memory>
#include <vector>

struct GmModelTestAccess {
    static void setSource(KsSourceImage* source) { GmModel::instance()->m_source = source; }
    static void setLoadState(int loadState) { GmModel::instance()->m_loadState = loadState; }
};

namespace testsupport {

class ModelImage {
public:
    ModelImage(int width, int height, int divisor)
        : m_pixels(std::size_t(width) * std::size_t(height), 0xff808080u),
          m_image(KsSourceImage::View8{width, height, reinterpret_cast<std::uint8_t*>(m_pixels.data()),
                                       qint64(width) * 4},
                  QStringLiteral("shapes"))
    {
        const qint64 count = divisor == 1 ? 1 : divisor == 2 ? 4000001 : divisor == 4 ? 16000001 : 64000001;
        GmModel::instance()->chooseResolutionForPixelCount(count);
        GmModelTestAccess::setSource(&m_image);
    }
    ~ModelImage()
    {
        GmModelTestAccess::setSource(nullptr);
        GmModel::destroy();
    }
    ModelImage(const ModelImage&) = delete;
    ModelImage& operator=(const ModelImage&) = delete;

private:
    std::vector<std::uint32_t> m_pixels;
    KsSourceImage m_image;
};

// Paints with the given pen and brush on a white ARGB image of the working size through a
// painter scaled by 1 / divisor, without antialiasing, and answers which pixels turned dark.
template <typename Paint>
QImage referenceMask(QSize workingSize, int divisor, const QPen& pen, const QBrush& brush, Paint paint)
{
    QImage canvas(workingSize, QImage::Format_ARGB32);
    canvas.fill(Qt::white);
    {
        QPainter painter(&canvas);
        painter.scale(1.0 / divisor, 1.0 / divisor);
        QPen dark = pen;
        dark.setColor(Qt::black);
        painter.setPen(dark);
        QBrush darkBrush = brush;
        if (darkBrush.style() != Qt::NoBrush)
            darkBrush.setColor(Qt::black);
        painter.setBrush(darkBrush);
        paint(painter);
    }
    QImage mask(workingSize, QImage::Format_Indexed8);
    mask.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    for (int y = 0; y < workingSize.height(); ++y)
        for (int x = 0; x < workingSize.width(); ++x)
            mask.scanLine(y)[x] = qGray(canvas.pixel(x, y)) < 128 ? 1 : 0;
    return mask;
}

// The whole working image's 0/1 values of a positioned mask (0 outside it).
inline QImage placedMask(QSize workingSize, const QImage& mask)
{
    QImage whole(workingSize, QImage::Format_Indexed8);
    whole.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    whole.fill(0);
    if (mask.isNull())
        return whole;
    for (int y = 0; y < mask.height(); ++y)
        for (int x = 0; x < mask.width(); ++x) {
            const QPoint at = mask.offset() + QPoint(x, y);
            if (whole.rect().contains(at))
                whole.scanLine(at.y())[at.x()] = mask.constScanLine(y)[x];
        }
    return whole;
}

// The rectangles the model announced dirty while it lives.
class DirtyLog {
public:
    DirtyLog()
    {
        m_connection = QObject::connect(GmModel::instance(), &GmModel::rectDirty,
                                        [this](const ImageRectF& rect, DirtyHint, PatchPreviewWanted) {
                                            m_rects.append(rect);
                                        });
    }
    ~DirtyLog() { QObject::disconnect(m_connection); }
    DirtyLog(const DirtyLog&) = delete;
    DirtyLog& operator=(const DirtyLog&) = delete;

    int size() const { return m_rects.size(); }
    bool isEmpty() const { return m_rects.isEmpty(); }
    void clear() { m_rects.clear(); }
    QRectF last() const { return m_rects.isEmpty() ? QRectF() : m_rects.last(); }
    QRectF united() const
    {
        QRectF all;
        for (const QRectF& r : m_rects)
            all = all.united(r);
        return all;
    }

private:
    QMetaObject::Connection m_connection;
    QList<QRectF> m_rects;
};

inline int differingPixels(const QImage& a, const QImage& b)
{
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            n += (a.constScanLine(y)[x] != 0) != (b.constScanLine(y)[x] != 0);
    return n;
}

inline int setPixels(const QImage& indexed)
{
    int n = 0;
    for (int y = 0; y < indexed.height(); ++y)
        for (int x = 0; x < indexed.width(); ++x)
            n += indexed.constScanLine(y)[x] != 0;
    return n;
}

} // namespace testsupport
