#pragma once
// The square view of the colour workspace: the colours of the image (or of the active patch)
// as a histogram along one channel or as a two-dimensional colour map of two channels, on
// which the user selects colour ranges by dragging, by dragging in from an edge, or by picking
// colours in the image. Every change of the selection is announced by highlightChanged, which
// the status array turns into a highlight of the matching pixels.
//
// Selections are indexed by channel value 0..255. In a mask, column x is the horizontal value
// and row y the vertical value (row 0 holds value 0, shown at the bottom); masks are 256 x 256
// Format_Mono images, index 1 = selected.

#include "colour/ColourMapModelSource.h"
#include "colour/ColourMapRenderer.h"

#include <colourSpace>

#include <QColor>
#include <QFrame>
#include <QImage>
#include <QPoint>

#include <bitset>
#include <vector>

class ColourDisplay : public QFrame {
    Q_OBJECT
public:
    enum Mode { HistogramMode = 0, ColourMapMode = 1 };
    using Bins = std::bitset<256>;

    explicit ColourDisplay(QWidget* parent = nullptr);
    ~ColourDisplay() override;

    // The owning panel clears the selection and repaints after setMode and setChannels.
    void setMode(int mode);
    int mode() const { return m_mode; }
    // Stores the pair when it differs; the colour table is rebuilt at the next paint either way.
    void setChannels(int horizontal, int vertical);
    int horizontalChannel() const { return m_renderer.horizontalChannel(); }
    int verticalChannel() const { return m_renderer.verticalChannel(); }
    // Resolution in bits per channel; the committed selection is re-quantised to the new bins.
    void setColourBits(int bits);
    int colourBits() const { return m_renderer.colourBits(); }
    // OR of the status classes counted and highlighted (1 Unassigned, 2 Keep, 4 Delete,
    // 8 Blend); announces the highlight again even when the selection is unchanged.
    void setStatusesViewed(quint8 mask);
    quint8 statusesViewed() const { return m_statusesViewed; }
    // The image, its statuses or the patch changed: the colour table is rebuilt at the next
    // paint.
    void markRenderNeeded() { m_renderNeeded = true; }
    bool isRenderNeeded() const { return m_renderNeeded; }
    // The next moves, forwarded from outside the display, drag in from this edge (0 top,
    // 1 right, 2 bottom, 3 left).
    void startEdgeDrag(int edge);
    // Nothing was selected when the highlight was last announced.
    bool isSelectionEmpty() const { return m_selectionEmpty; }

    // The committed selection of each mode.
    const Bins& selectedBins() const { return m_selectedBins; }
    const QImage& selectedMask() const { return m_selectedMask; }
    // Background choice 0 grey, 1 yellow, 2 blue, picked from the context menu.
    int background() const { return m_background; }
    const ColourMapRenderer& renderer() const { return m_renderer; }

signals:
    void clickInColourDisplay();
    void highlightChanged(const std::vector<bool>& bins, Ht::colour::channel channel, quint8 statuses);
    void highlightChanged(const QImage& map, Ht::colour::channel horizontal, Ht::colour::channel vertical,
                          quint8 statuses);
    void unHighlit();

public slots:
    // A colour picked in the image: Shift adds its bin (or cell), Alt removes it, anything
    // else replaces the selection with it.
    void colourPicked(const QColor& colour, Qt::KeyboardModifiers modifiers);
    // Clears the selection and announces the empty highlight.
    void unHighlight();
    void statusArrayChanged();
    void highlightColourChanged(QColor colour);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // The panel's edge-strip filter hands its drags to the move and release handlers.
    friend class CWSMouseEventFilter;

    void press(const QMouseEvent* event);
    QPoint clamped(const QPoint& pos) const;
    int horizontalValue(int x) const;
    int verticalValue(int y) const;
    void applyGesture();
    void commitGesture();
    void recomputeHighlight();
    bool removing() const { return m_modifiers == Qt::AltModifier; }
    Bins shownBins() const;
    QImage shownMask() const;
    QImage overlay() const;

    ColourMapRenderer m_renderer;
    ColourMapModelSource m_modelSource;
    int m_mode = HistogramMode;
    bool m_pressedInside = false;
    bool m_dragging = false;
    QPoint m_dragStart;
    QPoint m_dragEnd;
    int m_edgeIndex = 3;
    Qt::KeyboardModifiers m_modifiers = Qt::NoModifier;
    Bins m_dragBins;
    QImage m_dragMask;
    Bins m_selectedBins;
    QImage m_selectedMask;
    Bins m_lastBins;
    QImage m_lastMask;
    quint8 m_statusesViewed = 15;
    bool m_renderNeeded = false;
    bool m_highlightColourPending = true;
    bool m_selectionEmpty = true;
    bool m_forceEmit = false;
    int m_background = 0;
};
