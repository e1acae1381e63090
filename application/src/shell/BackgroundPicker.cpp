#include "shell/BackgroundPicker.h"

#include "canvas/MouseClickFilter.h"
#include "document/Texts.h"
#include "panels/Browser.h"
#include "shell/BackgroundSwatch.h"

#include <QBitmap>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace {

// The side of one cell at the smallest size; a swatch is two cells wide.
constexpr int minimumCell = 16;
// The white frame around each swatch.
constexpr int frameWidth = 1;

// Read once for the process; an image rather than a pixmap, so that it may outlive the
// application object.
const QImage& swapPicture()
{
    static const QImage picture(QStringLiteral(":images/background_swap.png"));
    return picture;
}

int roundHalfUp(double value)
{
    return static_cast<int>(std::floor(value + 0.5));
}

} // namespace

BackgroundPicker::Geometry BackgroundPicker::geometryFor(const QSize& size, int swatchCount)
{
    const int cells = swatchCount + 1;
    const int cellW = roundHalfUp(std::max(0, size.width() - 2 * frameWidth) / double(cells));
    const int cellH = roundHalfUp(std::max(0, size.height() - 2 * frameWidth) / double(cells));
    Geometry geometry;
    geometry.cell = std::min(cellW, cellH);
    if (cellW > cellH)
        geometry.dx = (cellW - cellH) / 2;
    else
        geometry.dy = (cellH - cellW) / 2;
    return geometry;
}

QRect BackgroundPicker::swatchRect(const Geometry& geometry, int index)
{
    const QPoint topLeft(geometry.cell * index + geometry.dx, geometry.cell * index + geometry.dy);
    return QRect(topLeft, topLeft + QPoint(2 * geometry.cell, 2 * geometry.cell));
}

QSize BackgroundPicker::minimumSizeFor(int swatchCount)
{
    const int side = minimumCell * (swatchCount + 1) + 2 * frameWidth;
    return QSize(side, side);
}

int BackgroundPicker::swatchAt(const QPoint& pos, const QSize& size, int swatchCount)
{
    const Geometry geometry = geometryFor(size, swatchCount);
    for (int i = 0; i < swatchCount; ++i) {
        if (swatchRect(geometry, i).contains(pos))
            return i;
    }
    return -1;
}

bool BackgroundPicker::isSwapPoint(const QPoint& pos, const QSize& size)
{
    // A release dragged out of the widget is no click on it.
    return pos.x() > size.width() / 2 && pos.x() < size.width() && pos.y() >= 0
           && pos.y() < size.height();
}

BackgroundPicker::BackgroundPicker(QWidget* parent)
    : QWidget(parent)
{
    m_swatches.push_back(std::make_unique<BackgroundSwatch>(
        QStringLiteral("BackgroundPicker/Primary Background"), tr("Primary Background"),
        QColor(Qt::blue)));
    m_swatches.push_back(std::make_unique<BackgroundSwatch>(
        QStringLiteral("BackgroundPicker/Secondary Background"), tr("Secondary Background"),
        QColor(Qt::gray), QBitmap(QStringLiteral(":images/background_checker.png"))));

    setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::MinimumExpanding);

    auto* clicks = new MouseClickFilter(this);
    installEventFilter(clicks);
    connect(clicks, &MouseClickFilter::singleClick, this, &BackgroundPicker::singleClickEvent);
    connect(clicks, &MouseClickFilter::doubleClick, this, &BackgroundPicker::doubleClickEvent);

    setToolTip(tr("Select the background color"));
    setWhatsThis(
        tr("<p><b>Background Picker</b></p><p>Choose the color of the background for areas "
           "under the delete mask which will appear as background in the <b>Cut-out view</b> "
           "or in a <b>Preview Cut-out</b>.</p><p>You can choose a color by clicking the "
           "colored square towards the bottom of the tool palette. Alternatively you can swap "
           "back and forth to a checkerboard background using the swap arrow.</p>")
        + learnMoreParagraph(Browser::helpRoot()
                             + QStringLiteral("/4-Kestrine_Tools/About_Kestrine_Tools.htm")));
}

// Each swatch writes its colour to the settings as it goes.
BackgroundPicker::~BackgroundPicker() = default;

QBrush BackgroundPicker::brush(int index) const
{
    const BackgroundSwatch* s = swatch(index);
    if (!s)
        return QBrush();
    if (s->backdrop().isNull())
        return QBrush(s->color());
    return QBrush(s->color(), s->backdrop());
}

QBrush BackgroundPicker::primaryBrush() const
{
    return brush(0);
}

BackgroundSwatch* BackgroundPicker::swatch(int index) const
{
    if (index < 0 || index >= swatchCount())
        return nullptr;
    return m_swatches[static_cast<size_t>(index)].get();
}

QSize BackgroundPicker::minimumSizeHint() const
{
    return minimumSizeFor(swatchCount());
}

void BackgroundPicker::singleClickEvent(const QMouseEvent* event)
{
    if (swatchAt(event->pos(), size(), swatchCount()) >= 0) {
        // Either swatch edits the front one: the back one only shows what a swap would bring.
        QPointer<BackgroundPicker> alive(this);
        m_swatches.front()->changeColorSlot();
        if (!alive)
            return;
        update();
        emit activeBrushChanged();
    } else if (isSwapPoint(event->pos(), size())) {
        swap();
    }
}

void BackgroundPicker::doubleClickEvent(const QMouseEvent*)
{
    swap();
}

void BackgroundPicker::swap()
{
    std::rotate(m_swatches.rbegin(), m_swatches.rbegin() + 1, m_swatches.rend());
    update();
    emit activeBrushChanged();
}

void BackgroundPicker::paintEvent(QPaintEvent*)
{
    if (m_swatches.empty())
        return;
    const Geometry geometry = geometryFor(size(), swatchCount());
    QPainter painter(this);

    // The swap arrow sits in the corner the back swatch leaves free, top right.
    const QRect front = swatchRect(geometry, 0);
    const QRect back = swatchRect(geometry, swatchCount() - 1);
    const QImage& arrow = swapPicture();
    painter.drawImage(QPoint(back.right() - arrow.width() + 1, front.top()), arrow);

    // Back to front, so that swatch 0 lies on top.
    for (int i = swatchCount() - 1; i >= 0; --i) {
        const QRect square = swatchRect(geometry, i);
        painter.fillRect(square, Qt::white);
        painter.fillRect(square.adjusted(frameWidth, frameWidth, -frameWidth, -frameWidth),
                         brush(i));
    }
}
