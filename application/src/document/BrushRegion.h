#pragma once
// A patch marked with a brush: its shape is a copy of the stroke.

#include "document/Brushing.h"
#include "document/GmRegion.h"

class BrushRegion : public GmRegion {
    Q_OBJECT
public:
    static constexpr int Type = 2;

    // Copies the stroke; joins the model's patch list.
    explicit BrushRegion(const Brushing& stroke);
    // From a project map; joins no list.
    explicit BrushRegion(const QVariant& map);

    Shape* shape() const override;
    Brushing& brushing() { return m_brushing; }
    bool isBrushRegion() const override { return true; }
    void toVariant(QVariant& variant) const override;
    bool canTestRender() const override { return true; }
    void testRender() override;

private:
    mutable Brushing m_brushing;
};
