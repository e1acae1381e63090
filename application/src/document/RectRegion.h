#pragma once
// A patch marked with a rectangle.

#include "document/GmRegion.h"
#include "document/Rectangle.h"

class RectRegion : public GmRegion {
    Q_OBJECT
public:
    static constexpr int Type = 0;

    // A rectangle with both corners at the point, kept to the working pixel grid; joins the
    // model's patch list.
    explicit RectRegion(const QPointF& corner);
    // From a project map; joins no list.
    explicit RectRegion(const QVariant& map);

    Shape* shape() const override;
    ks::Rectangle& rectangle() { return m_rectangle; }
    void toVariant(QVariant& variant) const override;
    bool canTestRender() const override { return true; }
    void testRender() override;

private:
    mutable ks::Rectangle m_rectangle;
};
