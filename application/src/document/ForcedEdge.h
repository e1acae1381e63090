#pragma once
// A line the user draws to tell the engine that an edge runs there: its pixels get the
// forced-edge status bit and the cut-out blends across it over its feather width.

#include "document/ArrowTarget.h"
#include "document/Polygon.h"

#include "dravik.h"

#include <vector>

class PixelState;

class ForcedEdge : public ArrowTarget {
    Q_OBJECT
public:
    static constexpr int Type = 3;

    // The line as the cut-out hands it to the engine: the vertices in working coordinates and
    // the width in image pixels. Valid until the next call or the edge's end.
    struct EnginePoints {
        const DvOutlinePoint* points = nullptr;
        int count = 0;
        float width = 0.0f;
    };

    // An open polyline of the one vertex; joins the model's forced-edge list.
    ForcedEdge(const QPointF& first, int width);
    // From a project map; joins no list.
    explicit ForcedEdge(const QVariant& map);
    ~ForcedEdge() override;

    Shape* shape() const override;
    ks::Polygon& polygon() { return m_polygon; }
    int width() const { return m_width; }
    // The feather width; the engine learns of it only when the edges are sent again.
    void setWidth(int width) { m_width = width; }
    GmRegion* asRegion() override { return nullptr; }
    ForcedEdge* asForcedEdge() override { return this; }
    bool isForcedEdge() const override { return true; }
    void activate() override;
    void deactivate() override;
    // Only marks the forced edges as changed: they are sent again as a whole later.
    void shapeChanged() override;
    bool isActive() const override;
    void submitToEngine() override;
    void toVariant(QVariant& variant) const override;
    // Drops the line's raster mask; it is rebuilt on next use.
    void reset();

    // The pen the line is rasterised with for the engine: one working pixel wide, round caps
    // and joins, no fill. Returns the raster state.
    PixelState* setMaskStyle();
    EnginePoints enginePoints();

private:
    mutable ks::Polygon m_polygon;
    int m_width = 0;
    std::vector<DvOutlinePoint> m_enginePoints;
};
