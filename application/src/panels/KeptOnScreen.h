#pragma once
// A floating window's stored place brought onto the screen. A place kept on a larger screen,
// or on one no longer there, would leave the window partly out of sight and its controls out
// of reach; Qt moves a window back only when it lies wholly outside.

class QPoint;
class QWidget;

// Where the inside of `window` (its geometry, not its frame), of its present size, lies with its
// frame wholly inside the available area of the screen that holds `place` (or of its own
// screen): `place` itself when it already does, else moved in no further than it must be.
QPoint keptOnScreen(const QWidget* window, const QPoint& place);
