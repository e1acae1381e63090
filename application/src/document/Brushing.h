#pragma once
// One brush stroke: a one-bit mask the size of the working image (colour 0 transparent,
// colour 1 the stroke colour) painted along a path kept in image coordinates. The brushes
// paint Keep, Delete and Blend strokes into it, the canvas draws it, the select command hands
// it to the engine, and a brushed patch keeps one as its shape.
//
// The stroke lives at the working resolution: each point is divided by the model's divisor
// and the pen is the brush size in working pixels. Its painted area (the bounding reduced
// rectangle) is in working coordinates; boundingRect() gives it in image coordinates.

#include "document/Shape.h"

#include <QColor>
#include <QImage>
#include <QMetaType>
#include <QPainterPath>
#include <QVariant>

Q_DECLARE_METATYPE(QPainterPath)

class Brushing : public QImage, public Shape {
public:
    explicit Brushing(const QColor& colour);
    // From a map written by toVariant.
    explicit Brushing(const QVariant& map);
    Brushing(const Brushing& other);
    Brushing& operator=(const Brushing&) = delete;
    // Repaints the stroke's area.
    ~Brushing() override;

    QVariant toVariant() const;

    // Paints one dab (from == to) or segment in working coordinates into a one-bit image,
    // index 1 inside: round caps and joins, the given width, both ends shifted by half a pixel
    // so that a dab is centred on the pixel corner nearest the point. Returns the area the pen
    // can reach, clipped to the image (empty when nothing can have been painted).
    static QRectF paintLine(QImage& mono, const QPointF& from, const QPointF& to, double width);

    // Starts a new path at p (image coordinates) with a round dab of the size (working pixels).
    void startStroke(const QPointF& p, double size);
    // Extends the path to p and paints the segment to it.
    void addSegment(const QPointF& p, double size);
    // Moves the end of a pending straight segment (drawn, not painted into the mask yet).
    void updateStroke(const QPointF& p, double size);
    // Empties mask, path and rectangles, repainting what was shown.
    void clearStroke();
    // Draws the whole mask in the painter's pen colour (image-coordinate painter).
    void drawMask(QPainter* painter);

    const QPainterPath& path() const { return m_path; }
    const QRectF& boundingReducedRect() const { return m_boundingReducedRect; }
    const QRectF& strokeRect() const { return m_strokeRect; }
    const QColor& colour() const { return m_colour; }
    // For masks made elsewhere (the colour workspace): a one-bit image of the working size,
    // index 1 selected, and the area it covers in working coordinates.
    void setMaskImage(const QImage& mono);
    void setBoundingReducedRect(const QRectF& rect) { m_boundingReducedRect = rect; }

    QRectF boundingRect() const override;
    // The mask pixel at the point (working coordinates, rounded to the nearest pixel) is 1.
    bool contains(const QPointF& p) const override;
    // Draws the mask in the stroke colour and the pending segment; in the arrow-target modes a
    // stroke with an engine outline draws the outline instead.
    void draw(QPainter* painter, int mode, const QRectF& exposed, double handleLength) override;
    // Takes the mask inside the painted area as it is, with no repainting.
    void rasterise() override;
    // The outline as for every shape; the painted area then also covers it.
    void setOutlinePolygons(const DvSession* session) override;
    ShapeHit hitTest(const QPointF& p) const override;
    void beginDrag(ShapeHit& hit, const QPointF& p) override;
    void dragTo(ShapeHit& hit, const QPointF& p) override;
    bool endDrag() override;

private:
    void paintSegment(const QPointF& from, const QPointF& to, double size);
    QRectF pendingArea() const;
    void setColours();

    QPainterPath m_path;
    QRectF m_boundingReducedRect;
    QRectF m_strokeRect;
    QColor m_colour;
    bool m_pending = false;
    QPointF m_pendingEnd;
    double m_pendingSize = 0;
};
