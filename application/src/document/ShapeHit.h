#pragma once
// What a shape's hit test found under the mouse, and the grab a drag then works with.

#include <QPointF>

class ArrowTarget;

struct ShapeHit {
    // Hit kinds. A rectangle answers Corner, Edge or Whole; a polygon Vertex, Segment or
    // Inside; a brush stroke's outline Segment. Kinds 1 and 2 are the handles that win over a
    // plain hit.
    enum Kind { None = 0, Vertex = 1, Corner = 1, Segment = 2, Edge = 2, Inside = 3, Whole = 3 };

    int kind = None;
    int index = 0;           // vertex, corner, segment or edge
    QPointF point;           // where the hit (or the drag, as it moves) is
    QPointF offset;          // the point minus the grabbed vertex or corner
    int cursorShape = 10;    // a Qt::CursorShape; 10 (the "forbidden" cursor) for a miss
    int flags = 0;
    ArrowTarget* target = nullptr;  // filled by whoever asks several objects
};
