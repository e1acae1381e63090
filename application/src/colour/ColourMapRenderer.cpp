#include "colour/ColourMapRenderer.h"

#include <colourSpace>

#include <QCoreApplication>
#include <QPaintDevice>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>

namespace {

constexpr int pairCode(int horizontal, int vertical)
{
    return horizontal * 8 + vertical;
}

// Byte position of an RGB channel in an ARGB word.
constexpr int bitOf(int channel)
{
    return (Ht::colour::Blue - channel) * 8;
}

struct Area {
    const QImage* working;
    const QImage* status;
    const QImage* mask;  // null: every pixel of the area
    QRect rect;          // working coordinates, inside the image
    QPoint maskOffset;
    quint8 statusMask;
};

// Calls add(colour) for every pixel of the area inside the patch whose status shares a bit with
// the status mask, row by row from the top.
template <typename AddPixel>
void walkArea(const Area& area, AddPixel add)
{
    const int left = area.rect.left();
    const int right = area.rect.right();
    const int maskLeft = area.maskOffset.x();
    for (int y = area.rect.top(); y <= area.rect.bottom(); ++y) {
        const QRgb* colour = reinterpret_cast<const QRgb*>(area.working->constScanLine(y));
        const uchar* status = area.status->constScanLine(y);
        const uchar* mask = area.mask ? area.mask->constScanLine(y - area.maskOffset.y()) : nullptr;
        for (int x = left; x <= right; ++x) {
            if (mask && mask[x - maskLeft] == 0)
                continue;
            if ((status[x] & area.statusMask) == 0)
                continue;
            add(colour[x]);
        }
    }
}

template <int Horizontal, int Vertical>
auto rgbAdder(ColourMapRenderer::Cell* cells, int n, int shift)
{
    constexpr int third = Ht::colour::Red + Ht::colour::Green + Ht::colour::Blue - Horizontal - Vertical;
    return [=](QRgb c) {
        const unsigned h = ((c >> bitOf(Horizontal)) & 0xff) >> shift;
        const unsigned v = ((c >> bitOf(Vertical)) & 0xff) >> shift;
        cells[h * n + v].add((c >> bitOf(third)) & 0xff, 0, 0);
    };
}

// HSL channels are numbered as rgbToHls orders its results: hue, lightness, saturation.
template <int Horizontal, int Vertical>
auto hlsAdder(ColourMapRenderer::Cell* cells, int n, int shift)
{
    return [=](QRgb c) {
        uint8_t hls[3] = {uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c))};
        rgbToHls(hls[0], hls[1], hls[2]);
        const unsigned h = hls[Horizontal] >> shift;
        const unsigned v = hls[Vertical] >> shift;
        cells[h * n + v].add(qRed(c), qGreen(c), qBlue(c));
    };
}

bool isHsl(int channel)
{
    return channel >= Ht::colour::Hue && channel <= Ht::colour::Saturation;
}

bool isRgb(int channel)
{
    return channel >= Ht::colour::Red && channel <= Ht::colour::Blue;
}

const ColourMapRenderer::Cell emptyCell{};

} // namespace

ColourMapRenderer::ColourMapRenderer() : m_cellImage(256, 256, QImage::Format_ARGB32_Premultiplied)
{
    m_cellImage.fill(Qt::transparent);
}

void ColourMapRenderer::setChannels(int horizontal, int vertical)
{
    m_horizontalChannel = horizontal;
    m_verticalChannel = vertical;
}

void ColourMapRenderer::setColourBits(int bits)
{
    m_colourBits = std::clamp(bits, 1, 8);
    m_shift = 8 - m_colourBits;
}

bool ColourMapRenderer::isRgbPair() const
{
    return isRgb(m_horizontalChannel) && isRgb(m_verticalChannel);
}

void ColourMapRenderer::rebuild()
{
    rebuild(m_inputSource ? m_inputSource() : Inputs{});
}

void ColourMapRenderer::rebuild(const Inputs& inputs)
{
    m_rebuildRequested = false;
    m_imageDirty = true;
    m_cells.clear();

    const int h = m_horizontalChannel;
    const int v = m_verticalChannel;
    if (h == v || !((isRgb(h) && isRgb(v)) || (isHsl(h) && isHsl(v))))
        return;
    if (!inputs.working || inputs.working->isNull() || !inputs.status || inputs.status->isNull())
        return;
    // A status image of another size (or depth) would be read past its end.
    if (inputs.status->size() != inputs.working->size() || inputs.status->depth() != 8)
        return;

    QImage converted;
    const QImage* working = inputs.working;
    if (working->format() != QImage::Format_ARGB32 && working->format() != QImage::Format_RGB32) {
        converted = working->convertToFormat(QImage::Format_ARGB32);
        working = &converted;
    }

    Area area{working, inputs.status, nullptr, working->rect(), QPoint(), m_statusMask};
    QImage maskBytes;
    if (inputs.patchMask && !inputs.patchMask->isNull()) {
        maskBytes = inputs.patchMask->depth() == 8
            ? *inputs.patchMask
            : inputs.patchMask->convertToFormat(QImage::Format_Indexed8);
        area.mask = &maskBytes;
        area.maskOffset = inputs.patchMask->offset();
        area.rect = QRect(area.maskOffset, maskBytes.size()).intersected(working->rect());
    }

    const int n = binCount();
    m_cells.assign(size_t(n) * n, Cell{});
    if (area.rect.isEmpty())
        return;
    Cell* cells = m_cells.data();
    const int s = m_shift;
    using namespace Ht::colour;
    switch (pairCode(h, v)) {
    case pairCode(Red, Green): walkArea(area, rgbAdder<Red, Green>(cells, n, s)); break;
    case pairCode(Red, Blue): walkArea(area, rgbAdder<Red, Blue>(cells, n, s)); break;
    case pairCode(Green, Red): walkArea(area, rgbAdder<Green, Red>(cells, n, s)); break;
    case pairCode(Green, Blue): walkArea(area, rgbAdder<Green, Blue>(cells, n, s)); break;
    case pairCode(Blue, Red): walkArea(area, rgbAdder<Blue, Red>(cells, n, s)); break;
    case pairCode(Blue, Green): walkArea(area, rgbAdder<Blue, Green>(cells, n, s)); break;
    case pairCode(Hue, Lightness): walkArea(area, hlsAdder<Hue, Lightness>(cells, n, s)); break;
    case pairCode(Hue, Saturation): walkArea(area, hlsAdder<Hue, Saturation>(cells, n, s)); break;
    case pairCode(Lightness, Hue): walkArea(area, hlsAdder<Lightness, Hue>(cells, n, s)); break;
    case pairCode(Lightness, Saturation): walkArea(area, hlsAdder<Lightness, Saturation>(cells, n, s)); break;
    case pairCode(Saturation, Hue): walkArea(area, hlsAdder<Saturation, Hue>(cells, n, s)); break;
    case pairCode(Saturation, Lightness): walkArea(area, hlsAdder<Saturation, Lightness>(cells, n, s)); break;
    default: break;
    }
    for (Cell& c : m_cells)
        c.average();
}

bool ColourMapRenderer::isEmpty() const
{
    return std::none_of(m_cells.begin(), m_cells.end(), [](const Cell& c) { return c.count != 0; });
}

const ColourMapRenderer::Cell& ColourMapRenderer::cell(int horizontalBin, int verticalBin) const
{
    const int n = binCount();
    if (horizontalBin < 0 || horizontalBin >= n || verticalBin < 0 || verticalBin >= n
        || m_cells.size() != size_t(n) * n)
        return emptyCell;
    return m_cells[size_t(horizontalBin) * n + verticalBin];
}

QRgb ColourMapRenderer::cellColour(int horizontalBin, int verticalBin) const
{
    const Cell& c = cell(horizontalBin, verticalBin);
    if (!isRgbPair())
        return qRgb(int(c.sum0), int(c.sum1), int(c.sum2));
    int rgb[3] = {int(c.sum0), int(c.sum0), int(c.sum0)};  // the third channel: its average
    rgb[m_horizontalChannel - Ht::colour::Red] = replicateBits(horizontalBin, m_shift);
    rgb[m_verticalChannel - Ht::colour::Red] = replicateBits(verticalBin, m_shift);
    return qRgb(rgb[0], rgb[1], rgb[2]);
}

void ColourMapRenderer::refreshCellImage()
{
    if (!m_imageDirty)
        return;
    m_imageDirty = false;
    m_cellImage.fill(m_imageBackground);
    const int n = binCount();
    if (m_cells.size() != size_t(n) * n)
        return;
    for (int h = 0; h < n; ++h) {
        for (int v = 0; v < n; ++v) {
            if (m_cells[size_t(h) * n + v].count != 0)
                m_cellImage.setPixel(h, n - 1 - v, cellColour(h, v));
        }
    }
}

void ColourMapRenderer::draw(QPainter& painter, int mode, const QColor& background)
{
    if (m_rebuildRequested)
        rebuild();
    const QPaintDevice* device = painter.device();
    if (!device)
        return;
    const int width = device->width();
    const int height = device->height();
    if (mode == ColourMapMode) {
        if (background != m_imageBackground) {
            m_imageBackground = background;
            m_imageDirty = true;
        }
        refreshCellImage();
        const int n = binCount();
        painter.drawImage(0, 0,
                          m_cellImage.copy(0, 0, n, n).scaled(width, height, Qt::IgnoreAspectRatio,
                                                                 Qt::FastTransformation));
        return;
    }
    painter.fillRect(QRect(0, 0, width, height), background);
    drawHistogram(painter, width, height);
}

void ColourMapRenderer::drawHistogram(QPainter& painter, int width, int height) const
{
    const int n = binCount();
    if (m_cells.size() != size_t(n) * n)
        return;
    std::vector<quint64> totals(size_t(n), 0);
    quint64 max = 0;
    for (int h = 0; h < n; ++h) {
        for (int v = 0; v < n; ++v)
            totals[size_t(h)] += m_cells[size_t(h) * n + v].count;
        max = std::max(max, totals[size_t(h)]);
    }
    if (max == 0)
        return;
    const float scale = std::sqrt(float(max));
    const float w = float(width);
    const float hgt = float(height);
    const float step = 1.0f / float(n);
    QPen pen(QColor(), double(w / float(n)), Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
    for (int h = 0; h < n; ++h) {
        quint64 below = 0;  // the column's accumulator
        const float x = float(h) * w * step + step * w * 0.5f;
        for (int v = 0; v < n; ++v) {
            const quint64 count = m_cells[size_t(h) * n + v].count;
            if (count == 0)
                continue;
            const float y0 = below == 0 ? 0.0f : std::sqrt(float(below)) / scale;
            const float y1 = std::sqrt(float(below + count)) / scale;
            pen.setColor(QColor(cellColour(h, v)));
            painter.setPen(pen);
            painter.drawLine(QLineF(x, (1.0f - y0) * hgt, x, (1.0f - y1) * hgt));
            below += count;
        }
    }
}

QColor ColourMapRenderer::backgroundColour(int choice)
{
    switch (choice) {
    case 1:
        return QColor(255, 255, 224);
    case 2:
        return QColor(240, 255, 255);
    default:
        return QColor(240, 240, 240);
    }
}

QString ColourMapRenderer::backgroundName(int choice)
{
    switch (choice) {
    case 1:
        //: [all] Colour display context menu
        return QCoreApplication::translate("ColourDisplay", "Yellow background");
    case 2:
        //: [all] Colour display context menu
        return QCoreApplication::translate("ColourDisplay", "Blue background");
    default:
        //: [all] Colour display context menu
        return QCoreApplication::translate("ColourDisplay", "Gray background");
    }
}
