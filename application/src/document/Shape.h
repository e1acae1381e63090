#pragma once
// The outline of a patch, a forced edge or a brush stroke, in image coordinates: drawn on the
// canvas, edited through handles, tested against the mouse, and rasterised into a one-byte
// mask at the working resolution for the engine (kept in the shape's PixelState).

#include "document/ImageCoordinates.h"
#include "document/ShapeHit.h"
#include "document/ShapeOutline.h"

#include <QBrush>
#include <QPen>
#include <QRectF>

#include <memory>
#include <vector>

class PixelState;
class QPainter;
struct DvSession;

class Shape {
public:
    // How draw() paints: the plain geometry with the painter's pen and brush (also how a shape
    // is rasterised), or one of the canvas's display states of an arrow target.
    enum DrawMode { DrawPlain = 0, DrawEditing = 1, DrawNormal = 3, DrawActiveUnderBrush = 4, DrawActiveUnderSelect = 5 };

    Shape();
    // Copies the geometry's companions (outline pieces, bounds, handle size); the copy starts
    // with an empty PixelState of the same style.
    Shape(const Shape& other);
    Shape& operator=(const Shape&) = delete;
    virtual ~Shape();

    virtual QRectF boundingRect() const = 0;
    virtual bool contains(const QPointF& p) const = 0;
    // exposed: the area being repainted (image coordinates; a null rectangle means all);
    // handleLength: the side of a handle square in image units (0: no handles).
    virtual void draw(QPainter* painter, int mode, const QRectF& exposed, double handleLength) = 0;
    // Rebuilds the mask from the geometry with the PixelState's style.
    virtual void rasterise();
    // Rebuilds the outline pieces from the session's published outline (image coordinates);
    // none clears them. Read it only between engine commands.
    virtual void setOutlinePolygons(const DvSession* session);
    virtual ShapeHit hitTest(const QPointF& p) const = 0;
    virtual void beginDrag(ShapeHit& hit, const QPointF& p) = 0;
    virtual void dragTo(ShapeHit& hit, const QPointF& p) = 0;
    // Ends a drag; true when it moved anything.
    virtual bool endDrag() = 0;

    // Gives the PixelState the style and rebuilds the mask when the style differs from the one
    // it was made with, or when there is none yet.
    PixelState* setPenAndBrush(const QPen& pen, const QBrush& brush);
    PixelState* pixelState() const { return m_pixelState.get(); }
    // Hands the PixelState over (to keep its mask alive under a sub-session being ended) and
    // leaves an empty one of the same style in its place.
    std::unique_ptr<PixelState> takePixelState();

    // Draws the outline pieces that meet the clip rectangle as polylines, without antialiasing.
    void drawOutlines(QPainter* painter, const QRectF& clip) const;
    const std::vector<ShapeOutline>& outlinePieces() const { return m_outline; }
    // The union of the outline pieces' bounds.
    const QRectF& outlineBounds() const { return m_outlineBounds; }

    bool isChanged() const { return m_changed; }
    // Tolerance of the hit tests, in image units. The select tool sets it before every test to
    // a few screen pixels at the canvas's zoom.
    double handleHalfSize() const { return m_handleHalfSize; }
    void setHandleHalfSize(double h) { m_handleHalfSize = h; }

protected:
    // Draws the square handles of side length centred on the points.
    void drawHandles(QPainter* painter, const QPolygonF& points, double length);
    // Announces an area in image coordinates on the model's rectDirty.
    static void announceDirty(const QRectF& rect, int hint);

    bool m_changed = false;

private:
    std::vector<ShapeOutline> m_outline;
    QRectF m_outlineBounds;
    std::unique_ptr<PixelState> m_pixelState;
    double m_handleHalfSize = 3.0;
};
