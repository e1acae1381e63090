#pragma once
// What holding an image takes, worked out from its size before any of its pixels are
// allocated and weighed against the memory the system has available, and the message that
// tells the user an image does not fit. An image too large for the memory would otherwise be
// refused only after gigabytes were taken, or the system would end the program for it.

#include <QString>
#include <QtGlobal>

class QWidget;

namespace imagememory {

// The forms an image's pixels are held in: its own 16-bit master with the 8-bit pixels made
// from it, its own 8-bit pixels, or a caller's pixels (a host's hand-over) that it only shows,
// 16-bit ones with 8-bit pixels made from them.
enum class Held { Own16Bit, Own8Bit, Borrowed16Bit, Borrowed8Bit };

// Bytes an image of width x height takes in that form, its display pixmap included.
quint64 toHold(qint64 width, qint64 height, Held held);
// Bytes the document adds for its image: the working image at the divisor the model picks for
// the size, its pixmap, and the status images at that size.
quint64 toWork(qint64 width, qint64 height);
// Bytes opening an image as the document takes: the image, its cut-out copy in the same form,
// and what the document adds.
quint64 toOpen(qint64 width, qint64 height, Held held);

// Bytes the system can give the program now for an image, the address space that the engine's
// threads take while they work on it set aside; or the figure a test set instead.
quint64 available();
// A figure to report instead of the system's; a negative one gives the system's back.
void setAvailableForTests(qint64 bytes);

// An image that did not fit: its size, the bytes opening it takes, and either what was
// available when that was weighed or, with `allocationFailed`, that an allocation failed.
struct Shortage {
    qint64 width = 0;
    qint64 height = 0;
    quint64 needed = 0;
    quint64 available = 0;
    bool allocationFailed = false;

    bool isSet() const { return needed > 0; }
};

// Empty when `needed` bytes are available now, else the shortage.
Shortage weigh(qint64 width, qint64 height, quint64 needed);
Shortage allocationFailed(qint64 width, qint64 height, quint64 needed);
// Tells the user that there is not enough memory to open the file, naming its size in pixels,
// what it takes and what the system had.
void tell(const QString& fileName, const Shortage& shortage, QWidget* parent = nullptr);
// Weighs and, when the image does not fit, tells: false then.
bool fits(const QString& fileName, qint64 width, qint64 height, quint64 needed, QWidget* parent = nullptr);

} // namespace imagememory
