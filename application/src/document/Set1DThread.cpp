#include "document/Set1DThread.h"

#include <array>

namespace {

using Table = std::array<bool, 256>;

template <int Channel>
auto oneChannelTest(const Table& selected)
{
    return [&selected](QRgb colour) { return selected[size_t(HighlightThread::coordinate<Channel>(colour))]; };
}

} // namespace

Set1DThread::Set1DThread(QObject* parent) : HighlightThread(parent) {}

void Set1DThread::run()
{
    // std::vector<bool> costs a shift and a mask per look-up; a byte table does not.
    Table selected{};
    for (size_t i = 0; i < selected.size() && i < m_selection.size(); ++i)
        selected[i] = m_selection[i];
    guardedRun([&] {
        using namespace Ht::colour;
        switch (m_channel) {
        case Hue: walk(oneChannelTest<Hue>(selected)); break;
        case Lightness: walk(oneChannelTest<Lightness>(selected)); break;
        case Saturation: walk(oneChannelTest<Saturation>(selected)); break;
        case Red: walk(oneChannelTest<Red>(selected)); break;
        case Green: walk(oneChannelTest<Green>(selected)); break;
        case Blue: walk(oneChannelTest<Blue>(selected)); break;
        default: break;
        }
    });
}
