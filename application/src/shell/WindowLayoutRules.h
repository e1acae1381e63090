#pragma once
// The arithmetic of the main window's layout, apart from any window so that it can be checked
// on its own: keeping a rectangle on the screen, the first-run placement, the Tab key's panel
// hiding states, the stacking of floating panels in columns and a free place among them.

#include <QList>
#include <QMargins>
#include <QRect>
#include <QSize>

class WindowLayoutRules {
public:
    // Shrinks the rectangle to the area's size where it is larger, then shifts it inside.
    static QRect keptInside(const QRect& rect, const QRect& area);
    // The same for a window's inside with the frame round it: the frame is kept inside.
    static QRect keptInsideWithFrame(const QRect& rect, const QMargins& frame, const QRect& area);
    // The area less a tenth of its width at the left and at the right and a tenth of its
    // height at the top and at the bottom, each rounded half up.
    static QRect insetByTenth(const QRect& area);
    // 0 all panels shown, 1 all hidden by Tab, 2 the panels hidden by Shift+Tab; the same key
    // again shows everything.
    static int nextTabHideState(int state, bool backtab);
    // Panels of the given heights stacked from the top line down with the gap between them,
    // each columnWidth wide; one that would reach below the bottom starts a new column at the
    // top line, a column width and a gap further left.
    static QList<QRect> stackedColumn(const QList<int>& heights, int columnX, int columnWidth, int top, int bottom,
                                      int gap);
    // A place for a window the size of wanted inside the area, as near to wanted as may be,
    // among windows already placed (their frames and their title bars): one that covers none of
    // them; where there is none, one that covers none of their title bars and whose own title
    // bar (titleHeight high) lies on none of them, whichever is on top, and covers the least of
    // them; where there is none either, the one that leaves the most of the title bars free.
    // The places tried are wanted's and those a gap beside, above or below a placed window, in
    // line with one, or against the area's edges. Wanted itself when nothing fits the area.
    static QRect placeAmong(const QRect& wanted, int titleHeight, const QList<QRect>& taken,
                            const QList<QRect>& titleBars, const QRect& area, int gap);
    // How much of the rectangles (added up) the place covers.
    static qint64 coveredArea(const QRect& place, const QList<QRect>& taken);
};
