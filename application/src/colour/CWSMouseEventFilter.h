#pragma once
// Lets the user start a colour selection in a 20-pixel strip just outside the colour display:
// left and right of it in both modes, above and below it in the colour-map mode. A press in a
// strip starts an edge drag; every move and the release of that drag go on to the display,
// mapped into it, so that the drag may wander anywhere (the display clamps). Outside a drag,
// the cursor of the watched widget shows a cross over a strip.

#include <QObject>
#include <QPoint>

class ColourDisplay;
class QMouseEvent;
class QWidget;

class CWSMouseEventFilter : public QObject {
    Q_OBJECT
public:
    enum Strip { Top = 0, Right = 1, Bottom = 2, Left = 3, NoStrip = 4 };
    static constexpr int StripWidth = 20;

    CWSMouseEventFilter(ColourDisplay* display, QObject* parent);

    // The strip under a global point.
    int hitTest(const QPoint& global) const;
    bool isDragging() const { return m_dragging; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void forward(QMouseEvent* event);
    void updateCursor(QWidget* widget, const QPoint& global);

    ColourDisplay* m_display;
    bool m_dragging = false;
};
