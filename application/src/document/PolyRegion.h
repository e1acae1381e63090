#pragma once
// A patch marked with a closed polygon.

#include "document/GmRegion.h"
#include "document/Polygon.h"

class PolyRegion : public GmRegion {
    Q_OBJECT
public:
    static constexpr int Type = 1;

    // A closed polygon of the one vertex; joins the model's patch list.
    explicit PolyRegion(const QPointF& first);
    // From a project map; joins no list.
    explicit PolyRegion(const QVariant& map);

    Shape* shape() const override;
    ks::Polygon& polygon() { return m_polygon; }
    void toVariant(QVariant& variant) const override;
    bool canTestRender() const override { return true; }
    void testRender() override;

private:
    mutable ks::Polygon m_polygon;
};
