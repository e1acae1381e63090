#pragma once
// The base of the tools that drag a rectangle with the left button: a press remembers the
// point, the first move of the drag begins the rectangle there, later moves drag its free
// corner, and the release finishes it. A click without a move finishes at the release point
// too, with no rectangle begun (previousButtonState tells the two apart).

#include "tools/GmTool.h"

namespace ks {
class Rectangle;
}

class RectangleTool : public GmTool {
    Q_OBJECT
public:
    using GmTool::GmTool;

    void mousePressed(const ImagePointF& point, QMouseEvent* event) override;
    void mouseMoved(const ImagePointF& point, QMouseEvent* event) override;
    void mouseReleased(const ImagePointF& point, QMouseEvent* event) override;

    // The last left-button press, in image coordinates; (0, 0) before the first.
    const ImagePointF& pressPoint() const { return m_pressPoint; }

protected:
    // Creates the object that holds the rectangle, anchored at the press point.
    virtual void beginRect(const ImagePointF& point) = 0;
    // At the release of a click or a drag.
    virtual void finishRect(const ImagePointF& point) = 0;
    // The rectangle being dragged; null when there is none.
    virtual ks::Rectangle* currentRect() const = 0;

private:
    ImagePointF m_pressPoint{0.0, 0.0};
};
