#include "document/Shape.h"

#include "document/GmModel.h"
#include "document/PixelState.h"
#include "document/ResolutionMapping.h"
#include "dravik.h"

#include <QPainter>

Shape::Shape() : m_pixelState(std::make_unique<PixelState>()) {}

Shape::Shape(const Shape& other)
    : m_changed(other.m_changed),
      m_outline(other.m_outline),
      m_outlineBounds(other.m_outlineBounds),
      m_pixelState(std::make_unique<PixelState>()),
      m_handleHalfSize(other.m_handleHalfSize)
{
    if (other.m_pixelState->hasStyle())
        m_pixelState->setStyle(other.m_pixelState->pen(), other.m_pixelState->brush());
}

Shape::~Shape() = default;

PixelState* Shape::setPenAndBrush(const QPen& pen, const QBrush& brush)
{
    if (m_pixelState->styleDiffers(pen, brush) || !m_pixelState->isRasterised()) {
        m_pixelState->setStyle(pen, brush);
        rasterise();
    }
    return m_pixelState.get();
}

std::unique_ptr<PixelState> Shape::takePixelState()
{
    auto fresh = std::make_unique<PixelState>();
    if (m_pixelState->hasStyle())
        fresh->setStyle(m_pixelState->pen(), m_pixelState->brush());
    std::swap(fresh, m_pixelState);
    return fresh;
}

void Shape::rasterise()
{
    const int d = GmModel::instance()->resolution();
    const QPen& pen = m_pixelState->pen();
    // Half the pen in working pixels, plus one for the rasteriser's rounding.
    const double margin = (pen.style() == Qt::NoPen ? 0.0 : qMax(pen.widthF(), 1.0) / 2.0 / d) + 1.0;
    QRectF area = growRect(unscaleRectByResolution(boundingRect()), margin);
    alignRectToPixels(area);
    const QRect rect = area.toRect() & workingImageRect();
    if (rect.isEmpty()) {
        m_pixelState->setMask(QImage());
        return;
    }
    QImage bits(rect.size(), QImage::Format_Mono);
    if (bits.isNull()) {
        qWarning("Shape::rasterise: out of memory for a %dx%d mask", rect.width(), rect.height());
        m_pixelState->setMask(QImage());
        return;
    }
    // The bitmap convention: colour 0 white and clear, colour 1 black and set.
    bits.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    bits.fill(0);
    {
        QPainter painter(&bits);
        painter.translate(-rect.left(), -rect.top());
        painter.scale(1.0 / d, 1.0 / d);
        painter.setPen(pen);
        painter.setBrush(m_pixelState->brush());
        draw(&painter, DrawPlain, QRectF(), 0.0);
    }
    QImage mask = bits.convertToFormat(QImage::Format_Indexed8);
    mask.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    mask.setOffset(rect.topLeft());
    m_pixelState->setMask(mask);
}

void Shape::setOutlinePolygons(const DvSession* session)
{
    m_outline.clear();
    m_outlineBounds = QRectF();
    if (!session || !session->outlines)
        return;
    const double d = GmModel::instance()->resolution();
    for (int i = 0; i < session->outlineCount; ++i) {
        const DvOutline& line = session->outlines[i];
        if (line.count < 2 || !line.points)
            continue;
        QPolygonF polygon;
        polygon.reserve(line.count);
        for (int k = 0; k < line.count; ++k)
            polygon.append(QPointF(double(line.points[k].column) * d, double(line.points[k].row) * d));
        ShapeOutline piece{polygon.boundingRect(), polygon};
        m_outlineBounds = m_outline.empty() ? piece.bounds : m_outlineBounds.united(piece.bounds);
        m_outline.push_back(std::move(piece));
    }
}

void Shape::drawOutlines(QPainter* painter, const QRectF& clip) const
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    for (const ShapeOutline& piece : m_outline) {
        if (clip.isNull() || ks::rectsOverlap(piece.bounds, clip))
            painter->drawPolyline(piece.polygon);
    }
    painter->restore();
}

void Shape::drawHandles(QPainter* painter, const QPolygonF& points, double length)
{
    if (length <= 0)
        return;
    painter->save();
    painter->setBrush(Qt::NoBrush);
    for (const QPointF& p : points)
        painter->drawRect(QRectF(p.x() - length / 2, p.y() - length / 2, length, length));
    painter->restore();
}

void Shape::announceDirty(const QRectF& rect, int hint)
{
    if (rect.width() <= 0 && rect.height() <= 0)
        return;
    emit GmModel::instance()->rectDirty(rect, DirtyHint(hint));
}
