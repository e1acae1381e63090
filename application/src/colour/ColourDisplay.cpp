#include "colour/ColourDisplay.h"

#include "document/GmColor.h"
#include "document/GmModel.h"
#include "document/GmStatusArray.h"
#include "document/KsAppPreferences.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QPixmap>

#include <algorithm>
#include <cstring>

namespace {

constexpr int kSide = 256;
constexpr int kMaskBytesPerRow = kSide / 8;
constexpr double kOverlayWeight = 0.85;

// 256 x 256, one bit a cell, all clear. Every mask shares this table, so that == compares
// the bits alone.
QImage blankMask()
{
    QImage mask(kSide, kSide, QImage::Format_Mono);
    mask.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    mask.fill(0);
    return mask;
}

// Sets the cells of the inclusive rectangle: columns hLow..hHigh, rows vLow..vHigh.
void fillMask(QImage& mask, int hLow, int hHigh, int vLow, int vHigh)
{
    for (int v = vLow; v <= vHigh; ++v) {
        uchar* row = mask.scanLine(v);
        for (int h = hLow; h <= hHigh; ++h)
            row[h >> 3] = uchar(row[h >> 3] | (0x80u >> (h & 7)));
    }
}

// target := target | other, or target & ~other when removing.
void combineMask(QImage& target, const QImage& other, bool removing)
{
    for (int y = 0; y < kSide; ++y) {
        uchar* row = target.scanLine(y);
        const uchar* bits = other.constScanLine(y);
        for (int i = 0; i < kMaskBytesPerRow; ++i)
            row[i] = removing ? uchar(row[i] & ~bits[i]) : uchar(row[i] | bits[i]);
    }
}

bool isMaskEmpty(const QImage& mask)
{
    for (int y = 0; y < kSide; ++y) {
        const uchar* row = mask.constScanLine(y);
        if (std::any_of(row, row + kMaskBytesPerRow, [](uchar b) { return b != 0; }))
            return false;
    }
    return true;
}

bool isCellSet(const QImage& mask, int h, int v)
{
    return (mask.constScanLine(v)[h >> 3] & (0x80u >> (h & 7))) != 0;
}

QColor highlightColour()
{
    const KsAppPreferences* preferences = KsAppPreferences::instance();
    const GmColor* colour = preferences ? preferences->color(KsAppPreferences::ColorWorkspaceHighlightColor) : nullptr;
    return colour ? colour->color() : QColor(Qt::yellow);
}

} // namespace

ColourDisplay::ColourDisplay(QWidget* parent)
    : QFrame(parent),
      m_dragMask(blankMask()),
      m_selectedMask(blankMask()),
      m_lastMask(blankMask())
{
    m_renderer.setInputSource([this] { return m_modelSource.inputs(); });

    setBackgroundRole(QPalette::Window);
    setAttribute(Qt::WA_Hover);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Fine horizontal stripes behind the picture, seen only while the widget is being laid out.
    QPalette shades = palette();
    const QColor window = shades.color(QPalette::Window);
    QImage tile(1, 4, QImage::Format_RGB32);
    tile.setPixel(0, 0, window.darker(105).rgb());
    tile.setPixel(0, 1, window.darker(105).rgb());
    tile.setPixel(0, 2, window.lighter(105).rgb());
    tile.setPixel(0, 3, window.lighter(105).rgb());
    shades.setBrush(backgroundRole(), QBrush(tile));
    setPalette(shades);
    setAutoFillBackground(true);

    if (const KsAppPreferences* preferences = KsAppPreferences::instance())
        connect(preferences->color(KsAppPreferences::ColorWorkspaceHighlightColor), &GmColor::colorChanged, this,
                &ColourDisplay::highlightColourChanged);
}

ColourDisplay::~ColourDisplay() = default;

void ColourDisplay::setMode(int mode)
{
    m_mode = mode;
}

void ColourDisplay::setChannels(int horizontal, int vertical)
{
    if (horizontal != m_renderer.horizontalChannel() || vertical != m_renderer.verticalChannel())
        m_renderer.setChannels(horizontal, vertical);
    m_renderer.requestRebuild();
}

void ColourDisplay::setColourBits(int bits)
{
    m_renderer.setColourBits(bits);
    m_renderer.requestRebuild();
    const int shift = m_renderer.shift();
    if (m_mode == HistogramMode) {
        // Each new bin keeps what its first value had.
        const Bins old = m_selectedBins;
        for (int i = 0; i < kSide; ++i)
            m_selectedBins[size_t(i)] = old[size_t(binLow(i, shift))];
    } else if (m_mode == ColourMapMode) {
        const int n = m_renderer.binCount();
        const QImage coarse = m_selectedMask.scaled(n, n, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                                  .scaled(kSide, kSide, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        m_selectedMask.fill(0);
        for (int v = 0; v < kSide; ++v) {
            uchar* row = m_selectedMask.scanLine(v);
            for (int h = 0; h < kSide; ++h) {
                if (coarse.pixelIndex(h, v) != 0)
                    row[h >> 3] = uchar(row[h >> 3] | (0x80u >> (h & 7)));
            }
        }
    }
    recomputeHighlight();
    m_renderNeeded = true;
}

void ColourDisplay::setStatusesViewed(quint8 mask)
{
    m_statusesViewed = mask;
    m_renderer.setStatusMask(mask);
    m_renderer.requestRebuild();
    m_renderNeeded = true;
    m_forceEmit = true;
    recomputeHighlight();
}

void ColourDisplay::startEdgeDrag(int edge)
{
    m_edgeIndex = edge;
    m_pressedInside = false;
    // A drag left unfinished (its release went elsewhere) must not swallow the new one.
    m_dragging = false;
}

QPoint ColourDisplay::clamped(const QPoint& pos) const
{
    return {std::clamp(pos.x(), 0, width()), std::clamp(pos.y(), 0, height())};
}

int ColourDisplay::horizontalValue(int x) const
{
    if (width() <= 0)
        return 0;
    return std::clamp(int(x * (1.0 / width()) * 255.0), 0, 255);
}

int ColourDisplay::verticalValue(int y) const
{
    if (height() <= 0)
        return 0;
    return std::clamp(int((height() - y) * (1.0 / height()) * 255.0), 0, 255);
}

void ColourDisplay::applyGesture()
{
    const int shift = m_renderer.shift();
    if (m_mode == HistogramMode) {
        m_dragBins.reset();
        const int low = binLow(horizontalValue(std::min(m_dragStart.x(), m_dragEnd.x())), shift);
        const int high = binHigh(horizontalValue(std::max(m_dragStart.x(), m_dragEnd.x())), shift);
        for (int i = low; i <= high; ++i)
            m_dragBins.set(size_t(i));
        return;
    }
    if (m_mode != ColourMapMode)
        return;
    m_dragMask.fill(0);
    int hLow = 0;
    int hHigh = 255;
    int vLow = 0;
    int vHigh = 255;
    if (m_pressedInside) {
        hLow = horizontalValue(std::min(m_dragStart.x(), m_dragEnd.x()));
        hHigh = horizontalValue(std::max(m_dragStart.x(), m_dragEnd.x()));
        // Values grow upward: the lower pointer gives the lower value.
        vLow = verticalValue(std::max(m_dragStart.y(), m_dragEnd.y()));
        vHigh = verticalValue(std::min(m_dragStart.y(), m_dragEnd.y()));
    } else {
        switch (m_edgeIndex) {
        case 0:
            vLow = verticalValue(m_dragEnd.y());
            break;
        case 1:
            hLow = horizontalValue(m_dragEnd.x());
            break;
        case 2:
            vHigh = verticalValue(m_dragEnd.y());
            break;
        default:
            hHigh = horizontalValue(m_dragEnd.x());
            break;
        }
    }
    fillMask(m_dragMask, binLow(hLow, shift), binHigh(hHigh, shift), binLow(vLow, shift), binHigh(vHigh, shift));
}

void ColourDisplay::commitGesture()
{
    if (m_mode == HistogramMode) {
        if (removing())
            m_selectedBins &= ~m_dragBins;
        else
            m_selectedBins |= m_dragBins;
        m_dragBins.reset();
    } else if (m_mode == ColourMapMode) {
        combineMask(m_selectedMask, m_dragMask, removing());
        m_dragMask.fill(0);
    }
}

ColourDisplay::Bins ColourDisplay::shownBins() const
{
    return removing() ? (m_selectedBins & ~m_dragBins) : (m_selectedBins | m_dragBins);
}

QImage ColourDisplay::shownMask() const
{
    QImage shown = m_selectedMask.copy();
    combineMask(shown, m_dragMask, removing());
    return shown;
}

void ColourDisplay::recomputeHighlight()
{
    const bool force = m_forceEmit;
    // Cleared before emitting: a receiver may ask for a forced emission of its own.
    m_forceEmit = false;
    const auto horizontal = Ht::colour::channel(m_renderer.horizontalChannel());
    if (m_mode == HistogramMode) {
        const Bins result = shownBins();
        if (!force && result == m_lastBins)
            return;
        m_selectionEmpty = result.none();
        m_lastBins = result;
        std::vector<bool> flags(kSide);
        for (int i = 0; i < kSide; ++i)
            flags[size_t(i)] = result[size_t(i)];
        emit highlightChanged(flags, horizontal, m_statusesViewed);
    } else if (m_mode == ColourMapMode) {
        const QImage result = shownMask();
        if (!force && result == m_lastMask)
            return;
        m_selectionEmpty = isMaskEmpty(result);
        m_lastMask = result;
        emit highlightChanged(result, horizontal, Ht::colour::channel(m_renderer.verticalChannel()),
                              m_statusesViewed);
    }
}

void ColourDisplay::colourPicked(const QColor& colour, Qt::KeyboardModifiers modifiers)
{
    m_modifiers = modifiers;
    if (modifiers != Qt::ShiftModifier && modifiers != Qt::AltModifier)
        unHighlight();
    const int shift = m_renderer.shift();
    const QRgb rgb = colour.rgb();
    const int h = channelValue(m_renderer.horizontalChannel(), rgb);
    if (m_mode == HistogramMode) {
        for (int i = binLow(h, shift); i <= binHigh(h, shift); ++i)
            m_dragBins.set(size_t(i));
    } else if (m_mode == ColourMapMode) {
        const int v = channelValue(m_renderer.verticalChannel(), rgb);
        fillMask(m_dragMask, binLow(h, shift), binHigh(h, shift), binLow(v, shift), binHigh(v, shift));
    }
    recomputeHighlight();
    update();
    commitGesture();
}

void ColourDisplay::unHighlight()
{
    m_dragBins.reset();
    m_dragMask.fill(0);
    m_selectedBins.reset();
    m_selectedMask.fill(0);
    update();
    emit unHighlit();
    m_forceEmit = true;
    recomputeHighlight();
}

void ColourDisplay::statusArrayChanged()
{
    // With every class viewed a change of status moves no pixel in or out of the counts.
    if (m_statusesViewed == 15)
        return;
    m_renderNeeded = true;
    update();
}

void ColourDisplay::highlightColourChanged(QColor)
{
    update();
}

void ColourDisplay::press(const QMouseEvent* event)
{
    emit clickInColourDisplay();
    m_modifiers = event->modifiers() & (Qt::ShiftModifier | Qt::AltModifier);
    if (m_modifiers == Qt::NoModifier)
        unHighlight();
    m_pressedInside = true;
    m_dragStart = m_dragEnd = clamped(event->pos());
    applyGesture();
    update();
    recomputeHighlight();
    m_dragging = true;
}

void ColourDisplay::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    press(event);
}

void ColourDisplay::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton)) {
        event->ignore();
        return;
    }
    // A move forwarded while no button is really held starts its own gesture.
    if (!m_dragging && QGuiApplication::mouseButtons() == Qt::NoButton)
        press(event);
    const QPoint pos = clamped(event->pos());
    if (!m_pressedInside && !m_dragging) {
        m_modifiers = event->modifiers() & (Qt::ShiftModifier | Qt::AltModifier);
        if (m_modifiers == Qt::NoModifier)
            unHighlight();
        m_dragStart = pos;
        switch (m_edgeIndex) {
        case 0:
            m_dragStart.setY(0);
            break;
        case 1:
            m_dragStart.setX(width());
            break;
        case 2:
            m_dragStart.setY(height());
            break;
        default:
            m_dragStart.setX(0);
            break;
        }
        m_dragging = true;
    }
    if (!m_dragging)
        return;
    m_dragEnd = pos;
    applyGesture();
    update();
    recomputeHighlight();
}

void ColourDisplay::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_dragging) {
        event->ignore();
        return;
    }
    m_dragEnd = clamped(event->pos());
    update();
    m_dragging = false;
    commitGesture();
}

QImage ColourDisplay::overlay() const
{
    QImage overlay(kSide, kSide, QImage::Format_ARGB32_Premultiplied);
    overlay.fill(Qt::transparent);
    const QRgb pen = qPremultiply(GmStatusArray::saturationScaledColour(highlightColour(), kOverlayWeight).rgba());
    if (m_mode == HistogramMode) {
        const Bins shown = shownBins();
        for (int y = 0; y < kSide; ++y) {
            QRgb* row = reinterpret_cast<QRgb*>(overlay.scanLine(y));
            for (int i = 0; i < kSide; ++i) {
                if (shown[size_t(i)])
                    row[i] = pen;
            }
        }
    } else if (m_mode == ColourMapMode) {
        const QImage shown = shownMask();
        for (int v = 0; v < kSide; ++v) {
            // The highest value at the top.
            QRgb* row = reinterpret_cast<QRgb*>(overlay.scanLine(kSide - 1 - v));
            for (int h = 0; h < kSide; ++h) {
                if (isCellSet(shown, h, v))
                    row[h] = pen;
            }
        }
    }
    return overlay;
}

void ColourDisplay::paintEvent(QPaintEvent*)
{
    if (m_highlightColourPending) {
        if (GmModel* model = GmModel::existingInstance()) {
            model->statusArray()->highlightColourChanged(highlightColour());
            m_highlightColourPending = false;
        }
    }
    if (m_renderNeeded) {
        m_renderer.rebuild();
        m_renderNeeded = false;
    }
    QPixmap picture(kSide, kSide);
    {
        QPainter painter(&picture);
        m_renderer.draw(painter, m_mode, ColourMapRenderer::backgroundColour(m_background));
        painter.drawImage(0, 0, overlay());
    }
    m_modelSource.release();
    QPainter painter(this);
    painter.drawPixmap(rect(), picture, QRect(0, 0, kSide, kSide));
}

void ColourDisplay::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    for (int choice = 0; choice < ColourMapRenderer::backgroundChoices; ++choice) {
        QPixmap swatch(16, 16);
        swatch.fill(ColourMapRenderer::backgroundColour(choice));
        QAction* action = menu.addAction(QIcon(swatch), ColourMapRenderer::backgroundName(choice));
        action->setCheckable(true);
        action->setChecked(choice == m_background);
        action->setData(choice);
    }
    // The actions go with the menu.
    const QAction* chosen = menu.exec(event->globalPos());
    if (!chosen)
        return;
    const int choice = chosen->data().toInt();
    if (choice == m_background)
        return;
    m_background = choice;
    update();
}
