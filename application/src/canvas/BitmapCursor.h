#pragma once
// Cursors drawn from a pair of black-and-white pictures among the resources: the data picture
// is black where the cursor is black, the mask picture black where the cursor is opaque.

#include <QCursor>
#include <QString>

#include <memory>

// A new cursor with its hot spot at (hotX, hotY); null when either picture cannot be loaded or
// the two differ in size, so that the caller can fall back to a standard cursor.
std::unique_ptr<QCursor> makeBitmapCursor(int hotX, int hotY, const QString& dataPath,
                                          const QString& maskPath);
