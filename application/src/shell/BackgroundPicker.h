#pragma once
// The pair of overlapping swatches at the foot of the tool palette that chooses what is shown
// behind the cut-out. Swatch 0 is in front and gives the background brush; a click on the
// swatches changes the front colour, a click beside them (or a double click anywhere) swaps
// them. The colours persist; the order does not, so every run starts with the primary colour
// in front.

#include <QBrush>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <memory>
#include <vector>

class BackgroundSwatch;
class QMouseEvent;

class BackgroundPicker : public QWidget {
    Q_OBJECT
public:
    // Where the squares go in a widget of a given size: the side of one cell, and the offset
    // that centres them along the longer axis.
    struct Geometry {
        int cell = 0;
        int dx = 0;
        int dy = 0;
    };
    static Geometry geometryFor(const QSize& size, int swatchCount);
    // Swatch index's square, two cells wide; both corners lie inside it.
    static QRect swatchRect(const Geometry& geometry, int index);
    static QSize minimumSizeFor(int swatchCount);
    // The first swatch whose square holds the point, edges included; -1 for none.
    static int swatchAt(const QPoint& pos, const QSize& size, int swatchCount);
    // Whether a single click there, outside the swatches, swaps them: the widget's right half.
    static bool isSwapPoint(const QPoint& pos, const QSize& size);

    explicit BackgroundPicker(QWidget* parent = nullptr);
    ~BackgroundPicker() override;

    // The swatch's colour as a solid brush, or its backdrop tiled with its colour; no brush for
    // an index out of range.
    QBrush brush(int index) const;
    QBrush primaryBrush() const;
    int swatchCount() const { return static_cast<int>(m_swatches.size()); }
    // In front-to-back order; null for an index out of range.
    BackgroundSwatch* swatch(int index) const;

    QSize minimumSizeHint() const override;

signals:
    // The front brush may have changed: after the colour dialog and after every swap.
    void activeBrushChanged();

public slots:
    void singleClickEvent(const QMouseEvent* event);
    void doubleClickEvent(const QMouseEvent* event);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Brings the last swatch to the front.
    void swap();

    std::vector<std::unique_ptr<BackgroundSwatch>> m_swatches;
};
