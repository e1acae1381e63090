#include "document/ImageMemory.h"

#include "document/GmModel.h"
#include "document/Prompt.h"
#include "document/Texts.h"

#include "platform/clock.h"
#include "platform/memory.h"

#include <QCoreApplication>
#include <QLocale>

#include <atomic>
#include <limits>

namespace imagememory {

namespace {

// A display pixmap holds a copy of the 8-bit pixels of its own.
constexpr quint64 kPixmap = 4;
// The engine's status image, its snapshot for painting, the highlight image and its snapshot:
// one byte a working pixel each.
constexpr quint64 kStatus = 4;

std::atomic<qint64> g_availableForTests{-1};

quint64 bytesFor(qint64 width, qint64 height, quint64 perPixel)
{
    if (width <= 0 || height <= 0)
        return 0;
    const quint64 pixels = quint64(width) * quint64(height);
    const quint64 most = std::numeric_limits<quint64>::max();
    return pixels > most / perPixel ? most : pixels * perPixel;
}

quint64 sum(quint64 a, quint64 b)
{
    return a > std::numeric_limits<quint64>::max() - b ? std::numeric_limits<quint64>::max() : a + b;
}

QString amount(quint64 bytes)
{
    return QLocale().formattedDataSize(qint64(qMin<quint64>(bytes, quint64(std::numeric_limits<qint64>::max()))), 1,
                                       QLocale::DataSizeTraditionalFormat);
}

} // namespace

quint64 toHold(qint64 width, qint64 height, Held held)
{
    switch (held) {
    case Held::Own16Bit:
        return bytesFor(width, height, 8 + 4 + kPixmap);
    case Held::Own8Bit:
    case Held::Borrowed16Bit:
        return bytesFor(width, height, 4 + kPixmap);
    case Held::Borrowed8Bit:
        break;
    }
    return bytesFor(width, height, kPixmap);
}

quint64 toWork(qint64 width, qint64 height)
{
    if (width <= 0 || height <= 0)
        return 0;
    const int divisor = GmModel::divisorForPixelCount(width * height);
    const qint64 workingWidth = (width + divisor - 1) / divisor;
    const qint64 workingHeight = (height + divisor - 1) / divisor;
    // At divisor 1 the working image is the display image itself.
    return bytesFor(workingWidth, workingHeight, kStatus + (divisor > 1 ? 4 + kPixmap : 0));
}

quint64 toOpen(qint64 width, qint64 height, Held held)
{
    const quint64 image = toHold(width, height, held);
    return sum(sum(image, image), toWork(width, height));
}

quint64 available()
{
    const qint64 figure = g_availableForTests.load();
    // Once the image is open, threads start beside those running now: the engine's worker, the
    // analysis's (up to three a processor at once), and the web checks' lookups.
    const unsigned threads = 3 * platform::processorCount() + 3;
    return figure >= 0 ? quint64(figure) : quint64(platform::availableMemoryBeside(threads));
}

void setAvailableForTests(qint64 bytes)
{
    g_availableForTests.store(bytes < 0 ? -1 : bytes);
}

Shortage weigh(qint64 width, qint64 height, quint64 needed)
{
    const quint64 left = available();
    if (needed <= left)
        return Shortage();
    return {width, height, needed, left, false};
}

Shortage allocationFailed(qint64 width, qint64 height, quint64 needed)
{
    return {width, height, qMax<quint64>(needed, 1), 0, true};
}

void tell(const QString& fileName, const Shortage& shortage, QWidget* parent)
{
    qWarning("Not enough memory to open %s (%lld x %lld pixels, about %llu bytes): %s", qUtf8Printable(fileName),
             static_cast<long long>(shortage.width), static_cast<long long>(shortage.height),
             static_cast<unsigned long long>(shortage.needed),
             shortage.allocationFailed ? "an allocation failed"
                                       : qUtf8Printable(QStringLiteral("%1 bytes available").arg(shortage.available)));
    // One call of arg: a path may hold "%2" itself.
    const QString width = QString::number(shortage.width);
    const QString height = QString::number(shortage.height);
    const QString text =
        shortage.allocationFailed
            ? QCoreApplication::translate("ImageMemory",
                                          "Sorry - not enough memory to open file %1\n\nThe image has %2 x %3 pixels: "
                                          "opening it takes about %4 of memory, more than the system could give.")
                  .arg(fileName, width, height, amount(shortage.needed))
            : QCoreApplication::translate("ImageMemory",
                                          "Sorry - not enough memory to open file %1\n\nThe image has %2 x %3 pixels: "
                                          "opening it takes about %4 of memory, and %5 is available.")
                  .arg(fileName, width, height, amount(shortage.needed), amount(shortage.available));
    Prompt::warning(parent, productName(), text);
}

bool fits(const QString& fileName, qint64 width, qint64 height, quint64 needed, QWidget* parent)
{
    const Shortage shortage = weigh(width, height, needed);
    if (!shortage.isSet())
        return true;
    tell(fileName, shortage, parent);
    return false;
}

} // namespace imagememory
