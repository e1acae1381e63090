#pragma once
// The navigator's thumbnail: the source image scaled to fit, with a red box around the part of
// the image the view shows. Dragging the box moves the view (rectChanged); a press beside it
// centres the view on the pressed point (rectCenterChanged). The thumbnail is scaled once per
// image and widget size and kept; a paint only draws it.

#include "document/ImageCoordinates.h"

#include <QPixmap>
#include <QPoint>
#include <QRectF>
#include <QWidget>

#include <memory>

class Navigator : public QWidget {
    Q_OBJECT
public:
    explicit Navigator(QWidget* parent = nullptr);
    ~Navigator() override;

    // Width 80; the height follows the image's aspect at the present width, at least 80.
    QSize sizeHint() const override;

    // The image rectangle the view shows; a 0 by 0 rectangle stands for the whole image.
    void setViewRect(const QRectF& rect);
    const QRectF& viewRect() const { return m_viewRect; }
    // Thumbnail pixels per image pixel and the thumbnail's top-left, as last painted.
    double scale() const { return m_scale; }
    QPoint offset() const { return m_offset; }
    // The widget pixels an image rectangle covers (rounded outward).
    QRect widgetRect(const QRectF& imageRect) const;

    // The scaled image a paint draws; remade only for a new image or widget size.
    const QPixmap& thumbnail() const { return m_thumbnail; }

    const QCursor* pointCursor() const { return m_pointCursor.get(); }
    const QCursor* openHandCursor() const { return m_openHandCursor.get(); }
    const QCursor* grabHandCursor() const { return m_grabHandCursor.get(); }

signals:
    void rectChanged(const ImageRectF& rect);
    void rectCenterChanged(QPoint imagePoint);

public slots:
    void updateImage();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // The display pixmap of the model's source image; null without one.
    const QPixmap* displayPixmap() const;
    // Works out scale and offset for the widget's size and rescales the thumbnail when the
    // image or the size changed since it was made.
    void layoutThumbnail();
    void followPointer(const QPoint& pos);
    // Repaints where an outline changed (the active patch's, which the thumbnail shows).
    void outlineDirty(const ImageRectF& rect, DirtyHint hint);

    QRectF m_viewRect;
    QRectF m_dragStartRect;
    QPoint m_dragStartPos;
    std::unique_ptr<QCursor> m_pointCursor;
    std::unique_ptr<QCursor> m_openHandCursor;
    std::unique_ptr<QCursor> m_grabHandCursor;
    double m_scale = 0.0;
    QPoint m_offset;
    QPixmap m_thumbnail;
    // What the thumbnail was made from: the pixmap's cache key and the widget size.
    qint64 m_thumbnailKey = 0;
    QSize m_thumbnailFor;
};
