#include "document/Brushing.h"

#include "document/GmModel.h"
#include "document/PixelState.h"
#include "document/ResolutionMapping.h"

#include <QBitmap>
#include <QDataStream>
#include <QPainter>
#include <QVariantMap>

#include <cmath>

namespace {

const QString kBitmapKey = QStringLiteral("Bitmap");
const QString kPathKey = QStringLiteral("path_");
const QString kBoundingKey = QStringLiteral("boundingReducedRect_");
const QString kColourKey = QStringLiteral("color_");

// Project maps are written with QDataStream, which needs the path's stream operators.
void registerPathType()
{
    static const bool registered = [] {
        qRegisterMetaType<QPainterPath>("QPainterPath");
        qRegisterMetaTypeStreamOperators<QPainterPath>("QPainterPath");
        return true;
    }();
    Q_UNUSED(registered);
}

QImage emptyWorkingMask()
{
    const QRect working = workingImageRect();
    if (working.isEmpty())
        return QImage();
    QImage mask(working.size(), QImage::Format_Mono);
    if (mask.isNull()) {
        qWarning("Brushing: out of memory for a %dx%d stroke mask", working.width(), working.height());
        return mask;
    }
    mask.fill(0);
    return mask;
}

double divisorOf(const GmModel* model)
{
    return model ? model->resolution() : 1.0;
}

QRectF scaledBy(const QRectF& r, double d)
{
    return QRectF(r.x() * d, r.y() * d, r.width() * d, r.height() * d);
}

bool hasArea(const QRectF& r)
{
    return r.width() > 0 && r.height() > 0;
}

} // namespace

Brushing::Brushing(const QColor& colour) : QImage(emptyWorkingMask()), m_colour(colour)
{
    registerPathType();
    setColours();
}

Brushing::Brushing(const QVariant& map)
{
    registerPathType();
    const QVariantMap m = map.toMap();
    m_path = m.value(kPathKey).value<QPainterPath>();
    m_boundingReducedRect = m.value(kBoundingKey).toRectF();
    m_colour = m.value(kColourKey).value<QColor>();
    const QBitmap bitmap = m.value(kBitmapKey).value<QBitmap>();
    QImage mask = bitmap.isNull() ? emptyWorkingMask() : bitmap.toImage().convertToFormat(QImage::Format_Mono);
    if (!bitmap.isNull() && !mask.isNull()) {
        // The map holds the mask inverted: a set (dark) bitmap pixel is outside the stroke.
        const bool indexZeroIsLight = mask.colorCount() < 2 || qGray(mask.color(0)) >= qGray(mask.color(1));
        if (indexZeroIsLight)
            mask.invertPixels();
    }
    QImage::operator=(mask);
    setColours();
}

Brushing::Brushing(const Brushing& other)
    : QImage(other),
      Shape(other),
      m_path(other.m_path),
      m_boundingReducedRect(other.m_boundingReducedRect),
      m_strokeRect(other.m_strokeRect),
      m_colour(other.m_colour),
      m_pending(other.m_pending),
      m_pendingEnd(other.m_pendingEnd),
      m_pendingSize(other.m_pendingSize)
{
}

Brushing::~Brushing()
{
    // Late destruction (after the model) must not build a new model.
    GmModel* model = GmModel::existingInstance();
    if (!model)
        return;
    QRectF area = m_boundingReducedRect;
    if (m_pending)
        area = area.united(m_strokeRect);
    if (hasArea(area))
        emit model->rectDirty(scaledBy(area, divisorOf(model)), DirtyHintHandles);
}

void Brushing::setColours()
{
    if (!isNull())
        setColorTable({qRgba(0, 0, 0, 0), m_colour.rgba()});
}

QVariant Brushing::toVariant() const
{
    QVariantMap m;
    QImage inverted = isNull() ? QImage() : convertToFormat(QImage::Format_Mono);
    if (!inverted.isNull()) {
        inverted.invertPixels();
        // The bitmap convention (colour 0 white, colour 1 black), so that the bits go in as they are.
        inverted.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    }
    m.insert(kBitmapKey, QVariant::fromValue(QBitmap::fromImage(inverted)));
    m.insert(kPathKey, QVariant::fromValue(m_path));
    m.insert(kBoundingKey, m_boundingReducedRect);
    m.insert(kColourKey, m_colour);
    return m;
}

QRectF Brushing::paintLine(QImage& mono, const QPointF& from, const QPointF& to, double width)
{
    if (mono.isNull() || width <= 0)
        return QRectF();
    const QPointF a = from - QPointF(0.5, 0.5);
    const QPointF b = to - QPointF(0.5, 0.5);
    const QRectF area = growRect(QRectF(a, b).normalized(), width / 2.0).intersected(QRectF(mono.rect()));
    if (!hasArea(area))
        return QRectF();
    // On a one-bit image Qt picks the table entry nearest the pen colour: make that index 1.
    const QVector<QRgb> table = mono.colorTable();
    mono.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    {
        QPainter painter(&mono);
        painter.setPen(QPen(QColor(255, 255, 255, 255), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        // A zero-length line paints nothing; a point with the round-capped pen is the dab.
        if (a == b)
            painter.drawPoint(a);
        else
            painter.drawLine(a, b);
    }
    mono.setColorTable(table);
    return area;
}

void Brushing::paintSegment(const QPointF& from, const QPointF& to, double size)
{
    GmModel* model = GmModel::instance();
    const double d = model->resolution();
    if (m_pending) {
        m_pending = false;
        if (hasArea(m_strokeRect))
            emit model->rectDirty(scaledBy(m_strokeRect, d), DirtyHintHandles);
    }
    const QRectF area = paintLine(*this, dividePointF(from, d), dividePointF(to, d), size);
    m_strokeRect = area;
    if (!hasArea(area))
        return;
    m_boundingReducedRect = m_boundingReducedRect.isEmpty() ? area : m_boundingReducedRect.united(area);
    emit model->rectDirty(scaledBy(area, d), DirtyHintHandles);
}

void Brushing::startStroke(const QPointF& p, double size)
{
    m_path = QPainterPath(p);
    paintSegment(p, p, size);
}

void Brushing::addSegment(const QPointF& p, double size)
{
    if (m_path.elementCount() == 0) {
        startStroke(p, size);
        return;
    }
    const QPointF from = m_path.currentPosition();
    m_path.lineTo(p);
    paintSegment(from, p, size);
}

QRectF Brushing::pendingArea() const
{
    const double d = GmModel::instance()->resolution();
    const QPointF a = dividePointF(m_path.currentPosition(), d) - QPointF(0.5, 0.5);
    const QPointF b = dividePointF(m_pendingEnd, d) - QPointF(0.5, 0.5);
    return growRect(QRectF(a, b).normalized(), m_pendingSize / 2.0);
}

void Brushing::updateStroke(const QPointF& p, double size)
{
    if (m_path.elementCount() == 0)
        return;
    GmModel* model = GmModel::instance();
    const QRectF old = m_pending ? m_strokeRect : QRectF();
    m_pending = true;
    m_pendingEnd = p;
    m_pendingSize = size;
    m_strokeRect = pendingArea();
    const QRectF area = old.isEmpty() ? m_strokeRect : old.united(m_strokeRect);
    emit model->rectDirty(scaledBy(area, model->resolution()), DirtyHintHandles);
}

void Brushing::clearStroke()
{
    GmModel* model = GmModel::instance();
    QRectF area = m_boundingReducedRect;
    if (m_pending)
        area = area.isEmpty() ? m_strokeRect : area.united(m_strokeRect);
    if (!isNull())
        fill(0);
    m_path = QPainterPath();
    m_boundingReducedRect = QRectF();
    m_strokeRect = QRectF();
    m_pending = false;
    if (hasArea(area))
        emit model->rectDirty(scaledBy(area, model->resolution()), DirtyHintHandles);
}

void Brushing::drawMask(QPainter* painter)
{
    if (isNull())
        return;
    setColor(1, painter->pen().color().rgba());
    const double d = GmModel::instance()->resolution();
    painter->drawImage(QRectF(0, 0, width() * d, height() * d), *this);
}

void Brushing::setMaskImage(const QImage& mono)
{
    QImage::operator=(mono.convertToFormat(QImage::Format_Mono));
    setColours();
}

QRectF Brushing::boundingRect() const
{
    return scaleRectByResolution(m_boundingReducedRect);
}

bool Brushing::contains(const QPointF& p) const
{
    const QPointF w = toWorkspacePoint(p);
    const int x = int(std::floor(w.x() + 0.5));
    const int y = int(std::floor(w.y() + 0.5));
    return valid(x, y) && pixelIndex(x, y) == 1;
}

void Brushing::draw(QPainter* painter, int mode, const QRectF& exposed, double handleLength)
{
    Q_UNUSED(handleLength);
    if (mode != DrawPlain && !outlinePieces().empty()) {
        drawOutlines(painter, exposed);
        return;
    }
    const double d = GmModel::instance()->resolution();
    QColor colour = m_colour;
    if (colour.alpha() == 255)
        colour.setAlpha(painter->pen().color().alpha());
    QRectF area = m_boundingReducedRect;
    if (!exposed.isNull()) {
        const QRectF exposedWorking(dividePointF(exposed.topLeft(), d), dividePointF(exposed.bottomRight(), d));
        area = area.intersected(growRect(exposedWorking, 1.0));
    }
    alignRectToPixels(area);
    const QRect part = area.toRect() & rect();
    if (!part.isEmpty()) {
        QImage piece = copy(part);
        piece.setColorTable({qRgba(0, 0, 0, 0), colour.rgba()});
        painter->drawImage(QRectF(part.x() * d, part.y() * d, part.width() * d, part.height() * d), piece);
    }
    if (m_pending) {
        painter->save();
        painter->scale(d, d);
        painter->setPen(QPen(colour, m_pendingSize, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const QPointF a = dividePointF(m_path.currentPosition(), d) - QPointF(0.5, 0.5);
        const QPointF b = dividePointF(m_pendingEnd, d) - QPointF(0.5, 0.5);
        if (a == b)
            painter->drawPoint(a);
        else
            painter->drawLine(a, b);
        painter->restore();
    }
}

void Brushing::rasterise()
{
    QRectF area = m_boundingReducedRect;
    alignRectToPixels(area);
    QRect clip = rect();
    const QRect working = workingImageRect();
    if (!working.isEmpty())
        clip &= working;
    const QRect part = area.toRect() & clip;
    if (part.isEmpty() || isNull()) {
        pixelState()->setMask(QImage());
        return;
    }
    QImage mask = copy(part).convertToFormat(QImage::Format_Indexed8);
    mask.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    mask.setOffset(part.topLeft());
    pixelState()->setMask(mask);
}

void Brushing::setOutlinePolygons(const DvSession* session)
{
    Shape::setOutlinePolygons(session);
    if (outlinePieces().empty())
        return;
    const QRectF outline = unscaleRectByResolution(outlineBounds());
    m_boundingReducedRect = m_boundingReducedRect.isEmpty() ? outline : m_boundingReducedRect.united(outline);
}

ShapeHit Brushing::hitTest(const QPointF& p) const
{
    ShapeHit hit;
    hit.point = p;
    const double t = handleHalfSize();
    const QRectF bounds = boundingRect();
    if (!growRect(bounds, t).contains(p))
        return hit;
    // Without an outline yet, the stroke's area, within the tolerance as the outline is.
    if (outlinePieces().empty()) {
        hit.kind = ShapeHit::Whole;
        hit.cursorShape = Qt::ArrowCursor;
        return hit;
    }
    for (const ShapeOutline& piece : outlinePieces()) {
        // A piece's bounds run along its outermost segments: a click just outside them is near.
        if (!growRect(piece.bounds, t).contains(p))
            continue;
        const QPolygonF& poly = piece.polygon;
        for (int i = 0; i < poly.size(); ++i) {
            const QPointF& a = poly[i];
            const QPointF& b = poly[i == 0 ? poly.size() - 1 : i - 1];
            if (ks::squaredDistanceToSegment(p, a, b) <= t * t) {
                hit.kind = ShapeHit::Segment;
                hit.cursorShape = Qt::ArrowCursor;
                return hit;
            }
        }
    }
    return hit;
}

void Brushing::beginDrag(ShapeHit&, const QPointF&) {}

void Brushing::dragTo(ShapeHit&, const QPointF&) {}

bool Brushing::endDrag()
{
    return false;
}
