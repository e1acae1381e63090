#include "document/Set2DThread.h"

#include <QtDebug>

#include <algorithm>
#include <vector>

namespace {

constexpr bool isChannel(int c)
{
    return c >= Ht::colour::Hue && c <= Ht::colour::Blue;
}

constexpr int pairCode(int horizontal, int vertical)
{
    return isChannel(horizontal) && isChannel(vertical) ? horizontal * 8 + vertical : -1;
}

// Index = vertical value * 256 + horizontal value.
using Table = std::vector<uchar>;

template <int Horizontal, int Vertical>
auto pairTest(const Table& selected)
{
    return [table = selected.data()](QRgb colour) {
        const int h = HighlightThread::coordinate<Horizontal>(colour);
        const int v = HighlightThread::coordinate<Vertical>(colour);
        return table[(v << 8) | h] != 0;
    };
}

// HSL pairs share one conversion; rgbToHls gives the converters' values.
template <int Horizontal, int Vertical>
auto hlsPairTest(const Table& selected)
{
    return [table = selected.data()](QRgb colour) {
        uint8_t hls[3] = {uint8_t(qRed(colour)), uint8_t(qGreen(colour)), uint8_t(qBlue(colour))};
        rgbToHls(hls[0], hls[1], hls[2]);
        return table[(hls[Vertical] << 8) | hls[Horizontal]] != 0;
    };
}

Table selectionTable(const QImage& selection)
{
    Table table(256 * 256, 0);
    const QImage::Format format = selection.format();
    if (format != QImage::Format_Mono && format != QImage::Format_MonoLSB
        && format != QImage::Format_Indexed8) {
        if (!selection.isNull())
            qWarning() << "Highlight: the colour-map selection is not an indexed image; nothing selected";
        return table;
    }
    const int width = std::min(selection.width(), 256);
    const int height = std::min(selection.height(), 256);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            table[size_t(y) * 256 + x] = selection.pixelIndex(x, y) != 0;
    }
    return table;
}

} // namespace

Set2DThread::Set2DThread(QObject* parent) : HighlightThread(parent) {}

void Set2DThread::run()
{
    const Table selected = selectionTable(m_selection);
    guardedRun([&] {
        using namespace Ht::colour;
        switch (pairCode(m_horizontal, m_vertical)) {
        case pairCode(Hue, Lightness): walk(hlsPairTest<Hue, Lightness>(selected)); break;
        case pairCode(Hue, Saturation): walk(hlsPairTest<Hue, Saturation>(selected)); break;
        case pairCode(Lightness, Hue): walk(hlsPairTest<Lightness, Hue>(selected)); break;
        case pairCode(Lightness, Saturation): walk(hlsPairTest<Lightness, Saturation>(selected)); break;
        case pairCode(Saturation, Hue): walk(hlsPairTest<Saturation, Hue>(selected)); break;
        case pairCode(Saturation, Lightness): walk(hlsPairTest<Saturation, Lightness>(selected)); break;
        case pairCode(Red, Green): walk(pairTest<Red, Green>(selected)); break;
        case pairCode(Red, Blue): walk(pairTest<Red, Blue>(selected)); break;
        case pairCode(Green, Red): walk(pairTest<Green, Red>(selected)); break;
        case pairCode(Green, Blue): walk(pairTest<Green, Blue>(selected)); break;
        case pairCode(Blue, Red): walk(pairTest<Blue, Red>(selected)); break;
        case pairCode(Blue, Green): walk(pairTest<Blue, Green>(selected)); break;
        default: break;
        }
    });
}
