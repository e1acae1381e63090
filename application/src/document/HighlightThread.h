#pragma once
// Base of the two workers that mark, in a 1-bit highlight image, every pixel whose colour lies
// in the colour workspace's selection and whose status is among the viewed classes. The
// owner aborts and joins a worker before it starts it again; while it runs the worker alone
// touches its images, and its finished() tells the owner the output may be read.

#include <colourSpace>

#include <QImage>
#include <QRect>
#include <QThread>

#include <atomic>

class HighlightThread : public QThread {
    Q_OBJECT
public:
    // Thrown by the pixel walk to leave the loops when an abort is asked for.
    struct AbortException {};

    // Aborts a run still going and waits for it.
    ~HighlightThread() override;

    // output: Format_Mono, written only inside rect (and the patch); source: 32-bit (A)RGB;
    // status: 8 bits per pixel, index = status byte. All three of one size; the caller keeps
    // them alive and unchanged until finished(). patchMask: null, or an 8-bit (or 1-bit) mask
    // placed in image coordinates by its offset(), 0 outside the patch; it is copied. rect is
    // in image coordinates; a null rectangle runs nothing. A run still going is aborted and
    // joined first.
    void start(QImage* output, const QImage* source, const QImage* status, const QImage* patchMask,
               const QRect& rect, quint8 statusMask);

    // Any thread; the run stops within one pixel's work.
    void abort() { m_abort.store(true, std::memory_order_relaxed); }

    // The copy of the patch mask, held until a run has walked.
    const QImage& patchMask() const { return m_patchMask; }
    QRect rect() const { return m_rect; }
    quint8 statusMask() const { return m_statusMask; }

    // A pixel's value 0..255 in a channel, as the highlight compares it.
    template <int Channel>
    static int coordinate(QRgb colour);

protected:
    explicit HighlightThread(QObject* parent = nullptr);

    // The frame of every run: a null rectangle touches nothing; an abort ends the loop with
    // the output as far as it got; the patch mask copy is dropped afterwards.
    template <typename Loop>
    void guardedRun(Loop loop);

    // Visits the pixels of the rectangle inside the patch, row by row, and writes each one's
    // bit: 1 when its status is viewed and isSelected(colour) holds, else 0.
    template <typename IsSelected>
    void walk(IsSelected isSelected);

private:
    QImage* m_output = nullptr;
    const QImage* m_source = nullptr;
    const QImage* m_status = nullptr;
    QImage m_sourceCopy;  // the source converted, when it came in another format
    QImage m_patchMask;
    QRect m_rect;  // null (left 0, top 0, right -1, bottom -1) until the first start
    QRect m_area;  // what the walk visits: rect clipped to the images and the patch
    quint8 m_statusMask = 0;
    std::atomic<bool> m_abort{false};
};

template <typename Loop>
void HighlightThread::guardedRun(Loop loop)
{
    if (m_rect.isNull())
        return;
    try {
        loop();
    } catch (const AbortException&) {
        // The rows written so far stay; the rest keep their old values.
    }
    m_patchMask = QImage();
}

template <typename IsSelected>
void HighlightThread::walk(IsSelected isSelected)
{
    if (m_area.isEmpty())
        return;
    const int left = m_area.left();
    const int right = m_area.right();
    const bool masked = !m_patchMask.isNull();
    const QPoint maskOffset = m_patchMask.offset();
    const quint8 statusMask = m_statusMask;
    uchar* const outBits = m_output->bits();  // already detached by start()
    const qsizetype outStride = m_output->bytesPerLine();
    for (int y = m_area.top(); y <= m_area.bottom(); ++y) {
        const QRgb* colour = reinterpret_cast<const QRgb*>(m_source->constScanLine(y));
        const uchar* status = m_status->constScanLine(y);
        uchar* out = outBits + y * outStride;
        const uchar* mask = masked ? m_patchMask.constScanLine(y - maskOffset.y()) : nullptr;
        for (int x = left; x <= right; ++x) {
            if (mask && mask[x - maskOffset.x()] == 0)
                continue;
            const QRgb c = colour[x];
            const uchar s = status[x];
            if (m_abort.load(std::memory_order_relaxed))
                throw AbortException();
            const bool on = (s & statusMask) != 0 && isSelected(c);
            const uchar bit = uchar(0x80u >> (x & 7));  // Format_Mono: most significant bit first
            out[x >> 3] = on ? uchar(out[x >> 3] | bit) : uchar(out[x >> 3] & ~bit);
        }
    }
}

template <int Channel>
int HighlightThread::coordinate(QRgb colour)
{
    if constexpr (Channel == Ht::colour::Hue)
        return rgbToHue(colour);
    else if constexpr (Channel == Ht::colour::Lightness)
        return rgbToLightness(colour) & 255;
    else if constexpr (Channel == Ht::colour::Saturation)
        return rgbToSaturation(colour);
    else if constexpr (Channel == Ht::colour::Red)
        return qRed(colour);
    else if constexpr (Channel == Ht::colour::Green)
        return qGreen(colour);
    else
        return qBlue(colour);
}
