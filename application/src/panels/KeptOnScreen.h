#pragma once
// A floating window's stored place brought onto the screen. A place kept on a larger screen,
// or on one no longer there, would leave the window partly out of sight and its controls out
// of reach; Qt moves a window back only when it lies wholly outside.

class QByteArray;
class QPoint;
class QRect;
class QWidget;

// Where the inside of `window` (its geometry, not its frame), of its present size, lies with its
// frame wholly inside the available area of the screen that holds `place` (or of its own
// screen): `place` itself when it already does, else moved in no further than it must be.
QPoint keptOnScreen(const QWidget* window, const QPoint& place);

// The same for a stored inside of its own size: first shrunk, within the window's minimum and
// maximum sizes, just enough for the frame to fit the screen's available area, then moved in.
QRect keptOnScreen(const QWidget* window, const QRect& inside);

// The inside (place and size) that a record of QWidget::saveGeometry holds, on whatever screen
// it was made; an invalid rectangle when the bytes are no such record. Qt's own restore takes
// nothing from a record made on a screen more than a quarter wider or narrower than this one.
QRect storedGeometry(const QByteArray& record);
