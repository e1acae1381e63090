#include "document/GmStatusArray.h"

#include "document/GmColor.h"
#include "document/GmModel.h"
#include "document/GmRegion.h"
#include "document/ImageCoordinates.h"
#include "document/KsAppPreferences.h"
#include "document/KsSourceImage.h"
#include "document/PixelState.h"
#include "document/Shape.h"
#include "engine/DravikThread.h"
#include "engine/DvCmdSetStatus.h"

#include "dravik.h"

#include <QAbstractSlider>
#include <QtMath>

#include <cstring>

namespace {

GmStatusArray::OpacitySliderLookup g_opacitySlider;
GmStatusArray::PatchMaskLookup g_patchMask;

constexpr quint8 kClassBits = 15;
constexpr int kProtectionBit = 32;
constexpr uchar kDecidedBit = 64;
constexpr double kHighlightWeight = 0.85;

QColor namedColour(KsAppPreferences::ColorIndex index, Qt::GlobalColor fallback)
{
    KsAppPreferences* preferences = KsAppPreferences::instance();
    GmColor* colour = preferences ? preferences->color(index) : nullptr;
    return colour ? colour->color() : QColor(fallback);
}

// OR of every byte of the image's rows, eight bytes at a time.
quint8 orOfBytes(const QImage& image)
{
    const int width = image.width();
    quint64 wide = 0;
    unsigned narrow = 0;
    for (int y = 0; y < image.height(); ++y) {
        const uchar* row = image.constScanLine(y);
        int x = 0;
        for (; x + 8 <= width; x += 8) {
            quint64 word;
            std::memcpy(&word, row + x, sizeof word);
            wide |= word;
        }
        for (; x < width; ++x)
            narrow |= row[x];
        // Every class is there: nothing further can change the answer.
        quint64 folded = wide | narrow;
        folded |= folded >> 32;
        folded |= folded >> 16;
        folded |= folded >> 8;
        if ((folded & kClassBits) == kClassBits)
            return kClassBits;
    }
    wide |= wide >> 32;
    wide |= wide >> 16;
    wide |= wide >> 8;
    return quint8((wide | narrow) & 0xff);
}

} // namespace

GmStatusArray::GmStatusArray(GmModel* model, QObject* parent)
    : QObject(parent), m_model(model), m_highlightColour(namedColour(KsAppPreferences::ColorWorkspaceHighlightColor, Qt::yellow))
{
    connect(&m_oneDThread, &QThread::finished, this, &GmStatusArray::threadFinished);
    connect(&m_twoDThread, &QThread::finished, this, &GmStatusArray::threadFinished);
    if (KsAppPreferences* preferences = KsAppPreferences::instance()) {
        for (auto index : {KsAppPreferences::KeepMaskColor, KsAppPreferences::DeleteMaskColor,
                           KsAppPreferences::BlendMaskColor, KsAppPreferences::PatchProtectionColor})
            connect(preferences->color(index), &GmColor::colorChanged, this, &GmStatusArray::setColours);
        connect(preferences->color(KsAppPreferences::ColorWorkspaceHighlightColor), &GmColor::colorChanged, this,
                &GmStatusArray::highlightColourChanged);
    }
}

GmStatusArray::~GmStatusArray()
{
    stopHighlight();
}

void GmStatusArray::setOpacitySliderLookup(OpacitySliderLookup lookup)
{
    g_opacitySlider = std::move(lookup);
}

void GmStatusArray::setPatchMaskLookup(PatchMaskLookup lookup)
{
    g_patchMask = std::move(lookup);
}

QImage GmStatusArray::activePatchMask()
{
    return g_patchMask ? g_patchMask() : QImage();
}

void GmStatusArray::stopHighlight()
{
    m_oneDThread.abort();
    m_twoDThread.abort();
    m_oneDThread.wait();
    m_twoDThread.wait();
}

void GmStatusArray::waitForHighlight()
{
    m_oneDThread.wait();
    m_twoDThread.wait();
}

QImage GmStatusArray::wrapEngineBytes() const
{
    const DvImage* record = m_engineStatusImage;
    QImage image(record->data, record->width, record->height, int(record->stride), QImage::Format_Indexed8);
    // A fresh wrapper is not shared: the table goes in without a copy of the engine's bytes.
    image.setColorTable(m_colourTable);
    return image;
}

void GmStatusArray::setStatusImage(DvImage* record)
{
    if (m_statusesPresent != 0) {
        m_statusesPresent = 0;
        emit statusesPresentChanged(0);
    }
    m_engineStatusImage = record;
    if (!record || !record->data || record->width <= 0 || record->height <= 0) {
        m_engineStatusImage = nullptr;
        stopHighlight();
        m_statusImage = QImage();
        m_highlightImage = QImage();
        m_snapshot = QImage();
        return;
    }
    stopHighlight();
    m_statusImage = QImage(record->data, record->width, record->height, int(record->stride), QImage::Format_Indexed8);
    m_highlightImage = QImage(record->width, record->height, QImage::Format_Mono);
    // Pixels not highlighted show nothing.
    m_highlightImage.setColorTable({0x00ffffffu, 0x00ffffffu});
    m_highlightImage.fill(0);
    setColours();
    if (!m_pendingStatusImage.isNull())
        submitPendingStatusImage();
    connectOpacitySlider();
    refresh();
}

void GmStatusArray::connectOpacitySlider()
{
    if (m_opacityConnected || !g_opacitySlider)
        return;
    if (QAbstractSlider* slider = g_opacitySlider()) {
        connect(slider, &QAbstractSlider::valueChanged, this, &GmStatusArray::opacityChanged);
        m_opacityConnected = true;
    }
}

QColor GmStatusArray::saturationScaledColour(const QColor& colour, double w)
{
    double t = 0.5;
    if (g_opacitySlider) {
        if (const QAbstractSlider* slider = g_opacitySlider()) {
            const int range = slider->maximum() - slider->minimum();
            if (range > 0)
                t = double(slider->value() - slider->minimum()) / range;
        }
    }
    const double k = qBound(0.0, (1 - w) * t + w, 1.0);
    const QColor hsv = colour.toHsv();
    return QColor::fromHsvF(hsv.hueF(), hsv.saturationF() * std::sqrt(k), hsv.valueF(), k);
}

void GmStatusArray::setColours()
{
    QVector<QRgb> table(256, 0u);
    table[2] = saturationScaledColour(namedColour(KsAppPreferences::KeepMaskColor, Qt::green), 0).rgba();
    table[4] = saturationScaledColour(namedColour(KsAppPreferences::DeleteMaskColor, Qt::red), 0).rgba();
    table[8] = saturationScaledColour(namedColour(KsAppPreferences::BlendMaskColor, Qt::blue), 0).rgba();
    table[kProtectionBit] =
        saturationScaledColour(namedColour(KsAppPreferences::PatchProtectionColor, Qt::white), 0).rgba();
    table[0] = saturationScaledColour(Qt::white, 0).rgba();
    for (int i = 15; i < 256; ++i)
        table[i] = (i & kProtectionBit) ? table[kProtectionBit] : table[i & kClassBits];
    m_colourTable = table;
    if (m_engineStatusImage)
        m_statusImage = wrapEngineBytes();
    if (!m_highlightImage.isNull())
        m_highlightImage.setColor(1, saturationScaledColour(m_highlightColour, kHighlightWeight).rgba());
    if (m_model)
        m_model->signalDirtyImageSlot(DirtyHintNone);
}

void GmStatusArray::opacityChanged(int)
{
    setColours();
}

void GmStatusArray::highlightColourChanged(QColor colour)
{
    m_highlightColour = colour;
    if (!m_highlightImage.isNull())
        m_highlightImage.setColor(1, saturationScaledColour(colour, kHighlightWeight).rgba());
    if (m_model)
        m_model->signalDirtyHighlightArea();
}

void GmStatusArray::refresh()
{
    const quint8 present = m_statusImage.isNull() ? 0 : quint8(orOfBytes(m_statusImage) & kClassBits);
    if (present != m_statusesPresent) {
        m_statusesPresent = present;
        emit statusesPresentChanged(present);
    }
    // A running highlight keeps reading its own reference to the old snapshot's bytes.
    m_snapshot = m_statusImage.isNull() ? QImage() : m_statusImage.copy();
    emit statusChanged();
}

void GmStatusArray::unHighlight()
{
    if (m_highlightImage.isNull())
        return;
    stopHighlight();
    m_highlightImage.fill(0);
}

void GmStatusArray::threadFinished()
{
    if (m_model)
        m_model->signalDirtyHighlightArea();
}

bool GmStatusArray::prepareHighlight(QImage& patchMask, QRect& area)
{
    if (!m_model || !m_model->source() || m_highlightImage.isNull())
        return false;
    stopHighlight();
    const QRect whole = m_highlightImage.rect();
    patchMask = activePatchMask();
    if (patchMask.isNull()) {
        area = whole;
    } else {
        if (patchMask.depth() != 8 && patchMask.depth() != 1) {
            qWarning("GmStatusArray: the patch mask is not an 8-bit or 1-bit image; no highlight");
            return false;
        }
        if (patchMask.depth() == 1) {
            const QPoint offset = patchMask.offset();
            patchMask = patchMask.convertToFormat(QImage::Format_Indexed8);
            patchMask.setOffset(offset);
        }
        area = QRect(patchMask.offset(), patchMask.size());
        // The run writes only inside the patch: bits left from an earlier run elsewhere would
        // still count as highlighted.
        const QRect inside = area.intersected(whole);
        uchar* bits = m_highlightImage.bits();
        const qsizetype stride = m_highlightImage.bytesPerLine();
        for (int y = 0; y < m_highlightImage.height(); ++y) {
            uchar* row = bits + y * stride;
            if (y < inside.top() || y > inside.bottom() || inside.isEmpty()) {
                std::memset(row, 0, std::size_t(stride));
                continue;
            }
            const uchar* mask = patchMask.constScanLine(y - area.top());
            for (int x = 0; x < m_highlightImage.width(); ++x) {
                if (x >= inside.left() && x <= inside.right() && mask[x - area.left()] != 0)
                    continue;
                row[x >> 3] = uchar(row[x >> 3] & ~(0x80u >> (x & 7)));
            }
        }
    }
    m_highlightSnapshot = m_snapshot;
    return true;
}

void GmStatusArray::highlightChanged(const std::vector<bool>& bins, Ht::colour::channel channel, quint8 status)
{
    QImage mask;
    QRect area;
    if (!prepareHighlight(mask, area))
        return;
    m_oneDThread.setSelection(bins);
    m_oneDThread.setChannel(channel);
    m_oneDThread.start(&m_highlightImage, &m_model->source()->workingImage(), &m_highlightSnapshot,
                       mask.isNull() ? nullptr : &mask, area, status);
}

void GmStatusArray::highlightChanged(const QImage& map, Ht::colour::channel channel1,
                                     Ht::colour::channel channel2, quint8 status)
{
    QImage mask;
    QRect area;
    if (!prepareHighlight(mask, area))
        return;
    m_twoDThread.setSelection(map);
    m_twoDThread.setChannels(channel1, channel2);
    m_twoDThread.start(&m_highlightImage, &m_model->source()->workingImage(), &m_highlightSnapshot,
                       mask.isNull() ? nullptr : &mask, area, status);
}

QImage GmStatusArray::toGreyMaskImage() const
{
    if (m_statusImage.isNull())
        return QImage();
    QImage trimap = m_statusImage.copy();
    QVector<QRgb> table(256, qRgb(128, 128, 128));
    table[2] = qRgb(255, 255, 255);
    table[4] = qRgb(0, 0, 0);
    trimap.setColorTable(table);
    return trimap;
}

void GmStatusArray::markPatchDecided(GmRegion* patch)
{
    if (!patch || !m_engineStatusImage || m_statusImage.isNull())
        return;
    const PixelState* state = patch->shape()->pixelState();
    if (!state->hasMask() || !state->isSaved())
        return;
    if (state->blendingChanged(patch->blending().options()) || state->statusChanged(m_statusImage))
        return;
    // Through the engine's own bytes: the wrapping image could detach on a write.
    const DvImage* record = m_engineStatusImage;
    const QImage& mask = state->mask();
    const QRect inside = state->maskRect() & QRect(0, 0, record->width, record->height);
    const QPoint at = mask.offset();
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        const uchar* in = mask.constScanLine(y - at.y());
        uchar* row = record->data + std::size_t(y) * record->stride;
        for (int x = inside.left(); x <= inside.right(); ++x)
            if (in[x - at.x()])
                row[x] = uchar(row[x] | kDecidedBit);
    }
}

void GmStatusArray::setPendingStatusImage(const QImage& status)
{
    m_pendingStatusImage = status;
    if (!m_pendingStatusImage.isNull() && m_engineStatusImage)
        submitPendingStatusImage();
}

void GmStatusArray::submitPendingStatusImage()
{
    const QImage status = m_pendingStatusImage;
    m_pendingStatusImage = QImage();
    if (status.isNull())
        return;
    if (DravikThread* thread = DravikThread::instance())
        thread->submit(new DvCmdSetStatus(m_model, status.copy()));
}
