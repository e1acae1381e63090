#include "document/PixelState.h"

#include "document/BlendingOptions.h"

#include <QtGlobal>

PixelState::PixelState() = default;

PixelState::~PixelState() = default;

bool PixelState::styleDiffers(const QPen& pen, const QBrush& brush) const
{
    return !m_styled || m_pen != pen || m_brush != brush;
}

void PixelState::setStyle(const QPen& pen, const QBrush& brush)
{
    m_pen = pen;
    m_brush = brush;
    m_styled = true;
}

QRect PixelState::maskRect() const
{
    if (m_mask.isNull())
        return QRect();
    return QRect(m_mask.offset(), m_mask.size());
}

void PixelState::setMask(const QImage& mask)
{
    m_mask = mask;
    m_rasterised = true;
    m_savedStatus = QImage();
    m_saved = false;
    m_key = QVariant();
}

DvSelection PixelState::selection() const
{
    DvSelection s{};
    if (m_mask.isNull())
        return s;
    s.left = m_mask.offset().x();
    s.top = m_mask.offset().y();
    s.image.width = m_mask.width();
    s.image.height = m_mask.height();
    s.image.stride = unsigned(m_mask.bytesPerLine());
    s.image.pixelType = DvPixelStatus;
    // constBits: never detach, so the engine sees the bytes every copy of the mask shares.
    s.image.data = const_cast<uchar*>(m_mask.constBits());
    return s;
}

void PixelState::clear()
{
    m_mask = QImage();
    m_rasterised = false;
    m_savedStatus = QImage();
    m_saved = false;
    m_key = QVariant();
}

void PixelState::keepForEngine()
{
    if (m_mask.isNull())
        return;
    // The same bytes are handed over again for every sub-session of one mask.
    for (const QImage& kept : m_engineMasks)
        if (kept.constBits() == m_mask.constBits())
            return;
    m_engineMasks.append(m_mask);
}

void PixelState::clearSnapshot()
{
    m_savedStatus = QImage();
    m_saved = false;
    m_key = QVariant();
}

void PixelState::savemask(const QImage& statusImage)
{
    if (m_mask.isNull()) {
        qWarning("Caught (and avoided) crash in PixelState::savemask (bug 1196)");
        return;
    }
    if (statusImage.format() != QImage::Format_Indexed8) {
        qWarning("PixelState::savemask: the status image is not 8-bit indexed; nothing saved");
        return;
    }
    QImage saved(m_mask.size(), QImage::Format_Indexed8);
    if (saved.isNull()) {
        qWarning("PixelState::savemask: out of memory for the snapshot; nothing saved");
        return;
    }
    saved.setColorTable(m_mask.colorTable());
    saved.fill(0);
    const QRect inside = maskRect() & statusImage.rect();
    const QPoint at = m_mask.offset();
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        const uchar* mask = m_mask.constScanLine(y - at.y());
        const uchar* status = statusImage.constScanLine(y);
        uchar* out = saved.scanLine(y - at.y());
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const int i = x - at.x();
            out[i] = mask[i] ? uchar(status[x] & 15) : 0;
        }
    }
    saved.setOffset(at);
    m_savedStatus = saved;
    m_saved = true;
}

bool PixelState::blendingChanged(const BlendingOptions& options) const
{
    if (!m_key.isValid())
        return true;
    return m_key != QVariant(options.toMap());
}

bool PixelState::statusChanged(const QImage& statusImage) const
{
    if (!m_saved || m_savedStatus.isNull())
        return true;
    if (statusImage.format() != QImage::Format_Indexed8)
        return true;
    const QRect rect = maskRect();
    // Mask pixels the status image no longer covers cannot be vouched for.
    if ((rect & statusImage.rect()) != rect)
        return true;
    const QPoint at = m_mask.offset();
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        const uchar* mask = m_mask.constScanLine(y - at.y());
        const uchar* saved = m_savedStatus.constScanLine(y - at.y());
        const uchar* status = statusImage.constScanLine(y) + at.x();
        for (int i = 0; i < rect.width(); ++i) {
            if (mask[i] && saved[i] != (status[i] & 15))
                return true;
        }
    }
    return false;
}

void PixelState::copySavedFrom(const PixelState& other)
{
    if (m_mask.isNull() || other.m_savedStatus.isNull())
        return;
    const QRect overlap = maskRect() & other.maskRect();
    if (overlap.isEmpty())
        return;
    if (m_savedStatus.isNull()) {
        QImage saved(m_mask.size(), QImage::Format_Indexed8);
        if (saved.isNull())
            return;
        saved.setColorTable(m_mask.colorTable());
        saved.fill(0);
        saved.setOffset(m_mask.offset());
        m_savedStatus = saved;
    }
    const QPoint at = m_mask.offset();
    const QPoint from = other.m_mask.offset();
    for (int y = overlap.top(); y <= overlap.bottom(); ++y) {
        const uchar* mask = m_mask.constScanLine(y - at.y()) + (overlap.left() - at.x());
        uchar* out = m_savedStatus.scanLine(y - at.y()) + (overlap.left() - at.x());
        const uchar* in = other.m_savedStatus.constScanLine(y - from.y()) + (overlap.left() - from.x());
        for (int i = 0; i < overlap.width(); ++i) {
            if (in[i] && mask[i])
                out[i] = in[i];
        }
    }
}
