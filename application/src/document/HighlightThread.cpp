#include "document/HighlightThread.h"

#include <QtDebug>

HighlightThread::HighlightThread(QObject* parent) : QThread(parent) {}

HighlightThread::~HighlightThread()
{
    abort();
    wait();
}

void HighlightThread::start(QImage* output, const QImage* source, const QImage* status,
                            const QImage* patchMask, const QRect& rect, quint8 statusMask)
{
    if (isRunning()) {
        abort();
        wait();
    }
    m_output = output;
    m_source = source;
    m_status = status;
    m_sourceCopy = QImage();
    m_rect = rect;
    m_statusMask = statusMask;
    m_abort.store(false, std::memory_order_relaxed);
    m_patchMask = patchMask ? *patchMask : QImage();
    m_area = QRect();

    const bool usable = output && source && status && !output->isNull() && !source->isNull()
        && !status->isNull() && output->format() == QImage::Format_Mono
        && source->depth() == 32 && status->depth() == 8 && source->size() == output->size()
        && status->size() == output->size();
    if (!usable) {
        if (!rect.isNull())
            qWarning() << "Highlight: output, colour and status images do not match; nothing marked";
    } else {
        m_area = rect.intersected(output->rect());
        if (source->format() != QImage::Format_ARGB32 && source->format() != QImage::Format_RGB32) {
            m_sourceCopy = source->convertToFormat(QImage::Format_ARGB32);
            m_source = &m_sourceCopy;
        }
        if (!m_patchMask.isNull()) {
            const QPoint offset = m_patchMask.offset();
            if (m_patchMask.depth() == 1) {
                m_patchMask = m_patchMask.convertToFormat(QImage::Format_Indexed8);
                m_patchMask.setOffset(offset);
            }
            if (m_patchMask.depth() != 8) {
                qWarning() << "Highlight: the patch mask is not an 8-bit image; nothing marked";
                m_area = QRect();
            } else {
                m_area = m_area.intersected(QRect(offset, m_patchMask.size()));
            }
        }
        // Detach here, on the owner's thread: the worker's writes must not copy the image.
        output->bits();
    }
    QThread::start(QThread::LowPriority);
}
