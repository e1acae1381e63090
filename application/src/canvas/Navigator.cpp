#include "canvas/Navigator.h"

#include "canvas/BitmapCursor.h"
#include "document/GmModel.h"
#include "document/GmRegion.h"
#include "document/KsSourceImage.h"
#include "document/Shape.h"

#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>

namespace {

std::unique_ptr<QCursor> loadCursor(int hotX, int hotY, const char* data, const char* mask, Qt::CursorShape fallback)
{
    std::unique_ptr<QCursor> cursor =
        makeBitmapCursor(hotX, hotY, QString::fromLatin1(data), QString::fromLatin1(mask));
    return cursor ? std::move(cursor) : std::make_unique<QCursor>(fallback);
}

const int minimumSide = 80;

} // namespace

Navigator::Navigator(QWidget* parent)
    : QWidget(parent),
      m_pointCursor(loadCursor(5, 1, ":/images/curs_data_handpoint.png", ":/images/curs_mask_handpoint.png",
                               Qt::PointingHandCursor)),
      m_openHandCursor(loadCursor(7, 7, ":/images/curs_data_handopen.png", ":/images/curs_mask_handopen.png",
                                  Qt::OpenHandCursor)),
      m_grabHandCursor(loadCursor(8, 9, ":/images/curs_data_handgrab.png", ":/images/curs_mask_handgrab.png",
                                  Qt::ClosedHandCursor))
{
    setObjectName(QStringLiteral("Navigator"));
    // Queued connections and signal spies carry rectangles by the name the signals use.
    qRegisterMetaType<ImageRectF>("ImageRectF");
    setMinimumSize(minimumSide, minimumSide);
    setMouseTracking(true);
    connect(GmModel::instance(), &GmModel::activeRegionChanged, this, [this] { update(); });
    // A patch's engine outline replaces the stroke it was drawn as: the model says so only by
    // the dirty rectangle with the outline hint.
    connect(GmModel::instance(), &GmModel::rectDirty, this, &Navigator::outlineDirty);
}

Navigator::~Navigator() = default;

const QPixmap* Navigator::displayPixmap() const
{
    const GmModel* model = GmModel::existingInstance();
    KsSourceImage* source = model ? model->source() : nullptr;
    if (!source)
        return nullptr;
    const QPixmap& pixmap = source->pixmap();
    return pixmap.isNull() ? nullptr : &pixmap;
}

QSize Navigator::sizeHint() const
{
    const QPixmap* pixmap = displayPixmap();
    if (!pixmap || pixmap->width() <= 0)
        return QSize(minimumSide, minimumSide);
    const int height = int(float(pixmap->height()) * float(width()) / float(pixmap->width()));
    return QSize(minimumSide, std::max(height, minimumSide));
}

void Navigator::updateImage()
{
    updateGeometry();
    setCursor(displayPixmap() ? *m_pointCursor : QCursor(Qt::ArrowCursor));
    m_thumbnailKey = 0;
    m_thumbnailFor = QSize();
    layoutThumbnail();
    update();
}

void Navigator::layoutThumbnail()
{
    const QPixmap* pixmap = displayPixmap();
    if (!pixmap) {
        m_scale = 0.0;
        m_offset = QPoint();
        m_thumbnail = QPixmap();
        m_thumbnailKey = 0;
        return;
    }
    m_scale = std::min(double(height()) / pixmap->height(), double(width()) / pixmap->width());
    m_offset = QPoint(int(std::lround((width() - pixmap->width() * m_scale) / 2.0)),
                      int(std::lround((height() - pixmap->height() * m_scale) / 2.0)));
    if (m_thumbnailKey == pixmap->cacheKey() && m_thumbnailFor == size())
        return;
    const QSize scaled(std::max(1, int(std::lround(pixmap->width() * m_scale))),
                       std::max(1, int(std::lround(pixmap->height() * m_scale))));
    m_thumbnail = pixmap->scaled(scaled, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    m_thumbnailKey = pixmap->cacheKey();
    m_thumbnailFor = size();
}

QRect Navigator::widgetRect(const QRectF& imageRect) const
{
    const QRectF r = imageRect.normalized();
    const int left = int(std::floor(r.left() * m_scale));
    const int top = int(std::floor(r.top() * m_scale));
    const int right = int(std::ceil(r.right() * m_scale));
    const int bottom = int(std::ceil(r.bottom() * m_scale));
    return QRect(left, top, right - left, bottom - top).translated(m_offset);
}

void Navigator::setViewRect(const QRectF& rect)
{
    const QRectF old = m_viewRect;
    m_viewRect = rect;
    if (old.isEmpty() || rect.isEmpty() || m_scale == 0.0) {
        update();
        return;
    }
    const QRect before = widgetRect(old).adjusted(-3, -3, 3, 3);
    const QRect after = widgetRect(rect).adjusted(-3, -3, 3, 3);
    if (before.intersects(after)) {
        update(before.united(after));
    } else {
        update(before);
        update(after);
    }
}

void Navigator::outlineDirty(const ImageRectF& rect, DirtyHint hint)
{
    if (hint != DirtyHintOutline || m_scale == 0.0)
        return;
    // The cosmetic pen reaches a pixel past the rounded rectangle.
    const QRect area = widgetRect(rect).adjusted(-2, -2, 2, 2);
    if (!area.isEmpty())
        update(area);
}

void Navigator::paintEvent(QPaintEvent*)
{
    layoutThumbnail();
    if (m_scale == 0.0)
        return;
    const QPixmap* pixmap = displayPixmap();
    QPainter painter(this);
    painter.drawPixmap(m_offset, m_thumbnail);

    if (GmRegion* patch = GmModel::instance()->activeRegion()) {
        painter.save();
        painter.translate(m_offset);
        painter.scale(m_scale, m_scale);
        QPen pen(patch->outlineColour());
        pen.setCosmetic(true);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        patch->shape()->draw(&painter, Shape::DrawNormal, QRectF(), 0.0);
        painter.restore();
    }

    const QRectF box = m_viewRect.isEmpty() ? QRectF(0, 0, pixmap->width(), pixmap->height()) : m_viewRect;
    painter.setPen(QPen(Qt::red, 1));
    painter.setBrush(Qt::NoBrush);
    // The box lines the covered pixels from inside.
    painter.drawRect(widgetRect(box).adjusted(0, 0, -1, -1));
}

void Navigator::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutThumbnail();
    if (event->oldSize().width() != event->size().width())
        updateGeometry();
}

void Navigator::followPointer(const QPoint& pos)
{
    if (!displayPixmap())
        return;
    setCursor(widgetRect(m_viewRect).contains(pos) ? *m_openHandCursor : *m_pointCursor);
}

void Navigator::mousePressEvent(QMouseEvent* event)
{
    if (m_scale == 0.0 || event->button() != Qt::LeftButton)
        return;
    if (displayPixmap())
        setCursor(*m_grabHandCursor);
    const QPoint pos = event->pos();
    if (!widgetRect(m_viewRect).contains(pos)) {
        emit rectCenterChanged(QPoint(int(std::lround((pos.x() - m_offset.x()) / m_scale)),
                                      int(std::lround((pos.y() - m_offset.y()) / m_scale))));
    }
    // Taken after the centring, which the view reports back at once.
    m_dragStartPos = pos;
    m_dragStartRect = m_viewRect;
}

void Navigator::mouseMoveEvent(QMouseEvent* event)
{
    if (m_scale == 0.0)
        return;
    if (!(event->buttons() & Qt::LeftButton)) {
        followPointer(event->pos());
        return;
    }
    // While the whole image is shown there is no box to move, and an empty rectangle would
    // ask the view to zoom in.
    if (m_dragStartRect.isEmpty())
        return;
    const QPointF moved = QPointF(event->pos() - m_dragStartPos) / m_scale;
    emit rectChanged(m_dragStartRect.translated(moved));
}

void Navigator::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_scale == 0.0)
        return;
    followPointer(event->pos());
}
