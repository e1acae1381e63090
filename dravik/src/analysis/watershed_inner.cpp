// Stage 5 of the segmentation: regions grown from the highest upper heights of the gradient
// image, held back where the lower heights between two pixels fall below the flood's level.
#include "analysis/segmentation.h"

#include "analysis/innerflood.h"

#include "common/border.h"
#include "watershed/watershed.h"
#include "platform/clock.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

namespace classification {

using corvath::utility::domainOf;
using corvath::utility::extent;
using corvath::utility::fitArrayToRect;
using corvath::utility::grow;
using corvath::utility::viewOf;

namespace {

using InnerFlood = WatershedQueue<LevelQueue, EightNeighbours, UpperLowerHeights, LabelCounter>;

} // namespace

int innerWatershedBias(float imageTol, float scale)
{
    const float b = std::log(imageTol) * scale;
    if (!(b > 0.f))
        return 0;
    return int(std::min(b, 255.f));
}

template <int N, int V>
bool Segmentation<N, V>::watershedInner(bool upstreamChanged, ProgressRange range)
{
    if (!upstreamChanged && m_lastComplete.imageTol == m_head.imageTol
        && m_lastComplete.inFocusEdgeWidth == m_head.inFocusEdgeWidth)
        return false;
    if (!(m_head.imageTol > 1.0f)) {
        m_regionLabels.free();
        m_regionLabelView.free();
        m_fineLabelCount = -1;
        return true;
    }

    const Rect b = m_bounds;
    const Rect frame = grow(b, 2);
    if (domainOf(m_gradient) != frame)
        throw std::logic_error("segmentation: the gradient image does not cover the bounds");
    if (!(extent(domainOf(m_regionLabels)) == extent(frame))) {
        // The run writes the bounds and the ring around them; the outer ring starts at 0.
        fitArrayToRect(m_regionLabels, frame);
        corvath::utility::fillInSlices(m_regionLabels, 0);
    }
    fitArrayToRect(m_regionLabels, frame);
    if (b.isEmpty())
        m_regionLabelView.free();
    else
        m_regionLabelView.reference(viewOf(m_regionLabels, b));
    // Labels and heights are addressed by one offset: both arrays are dense over one rectangle.
    const std::ptrdiff_t row = m_regionLabels.stride(0);
    if (m_gradient.stride(0) != row || m_gradient.stride(1) != 1 || m_regionLabels.stride(1) != 1)
        throw std::logic_error("segmentation: region labels and gradient image differ in layout");
    if (std::uint64_t(m_regionLabels.numElements()) > UINT32_MAX)
        throw std::length_error("segmentation: too many pixels for the inner watershed");

    const int bias = innerWatershedBias(m_head.imageTol, m_gradientScale);
    const ProgressRange floodRange(range.parent, range.at(range.position), range.hi);
    range.position = 1.f;
    CandidateArea area;
    area.first = PixelOffset(2 * row + 2);
    area.rows = b.isEmpty() ? 0 : extent(b).x;
    area.columns = b.isEmpty() ? 0 : extent(b).y;
    if (!b.isEmpty() && packedFlood(area, bias, floodRange))
        return true;
    generalFlood(area, bias, floodRange);
    return true;
}

// The flood over packed cells in the label array itself, then each cell's label written out:
// false when the regions outnumber what a cell can hold (the labels are then to be redone).
template <int N, int V>
bool Segmentation<N, V>::packedFlood(const CandidateArea& area, int bias, ProgressRange range)
{
    const Rect b = m_bounds;
    const Rect frame = grow(b, 2);
    const Rect ringed = grow(b, 1);
    const std::ptrdiff_t row = m_regionLabels.stride(0);
    auto* cells = reinterpret_cast<std::uint32_t*>(&m_regionLabels(frame.x1, frame.y1));
    const unsigned char* gradient = m_gradient(frame.x1, frame.y1).data();
    const int rows = extent(ringed).x;
    const int columns = extent(ringed).y;
    const int bands = std::max(1, std::min(int(platform::processorCount()), rows / 256));
    const auto forRows = [&](const auto& f) {
        detail::forEachBand(bands, [&](int band) {
            const int first = int(std::int64_t(rows) * band / bands);
            const int end = int(std::int64_t(rows) * (band + 1) / bands);
            for (int x = first; x < end; ++x)
                f(x, std::ptrdiff_t(x + 1) * row + 1);
        });
    };
    // The ring around the bounds is region 0; every pixel of the bounds has none yet.
    forRows([&](int x, std::ptrdiff_t at) {
        std::uint32_t* c = cells + at;
        if (x == 0 || x == rows - 1) {
            std::fill_n(c, columns, 0u);
            return;
        }
        const unsigned char* lower = gradient + 3 * at + 1;
        c[0] = c[columns - 1] = 0;
        for (int y = 1; y < columns - 1; ++y)
            c[y] = PackedInnerFlood::unlabelledCell(lower[3 * y]);
    });
    LabelCounter counter;
    counter.take();
    {
        PackedInnerFlood flood(cells, gradient, row, bias, counter, m_packedLabelLimit);
        if (!flood.flood(area, range))
            return false;
    }
    forRows([&](int, std::ptrdiff_t at) {
        std::uint32_t* c = cells + at;
        for (int y = 0; y < columns; ++y)
            c[y] = std::uint32_t(PackedInnerFlood::labelOf(c[y]));
    });
    m_fineLabelCount = counter.next();
    return true;
}

// The flood of the shared watershed over the labels and a lattice of the lower heights.
template <int N, int V>
void Segmentation<N, V>::generalFlood(const CandidateArea& area, int bias, ProgressRange range)
{
    const Rect b = m_bounds;
    const Rect frame = grow(b, 2);
    const std::ptrdiff_t row = m_regionLabels.stride(0);
    // The lower heights packed, one byte per element of the same lattice, and every label
    // over the bounds and their ring -1: bands of rows on threads of their own.
    const std::unique_ptr<unsigned char[]> lower(new unsigned char[std::size_t(m_gradient.numElements())]);
    {
        const unsigned char* in = m_gradient(frame.x1, frame.y1).data() + 1;
        const Rect ringed = grow(b, 1);
        const int rows = extent(frame).x;
        const std::size_t columns = std::size_t(row);
        const int bands = std::max(1, std::min(int(platform::processorCount()), rows / 256));
        detail::forEachBand(bands, [&](int band) {
            const int first = int(std::int64_t(rows) * band / bands);
            const int end = int(std::int64_t(rows) * (band + 1) / bands);
            for (std::size_t k = std::size_t(first) * columns, n = std::size_t(end) * columns; k < n; ++k)
                lower[k] = in[3 * k];
            for (int x = std::max(frame.x1 + first, ringed.x1); x <= std::min(frame.x1 + end - 1, ringed.x2); ++x)
                std::fill_n(&m_regionLabels(x, ringed.y1), extent(ringed).y, -1);
        });
    }
    blitz::Array<std::int32_t, 2> ring = viewOf(m_regionLabels, grow(b, 1));
    LabelCounter counter;
    m_regionLabels(b.x1 - 1, b.y1 - 1) = counter.take();
    fillOutsideRect<std::int32_t>(b, 0, ring);
    UpperLowerHeights heights;
    heights.origin = m_gradient(frame.x1, frame.y1).data();
    heights.lower = lower.get();
    heights.bias = bias;
    LevelQueue queue(UpperLowerHeights::kLevels);
    InnerFlood flood(&m_regionLabels(frame.x1, frame.y1), row, heights, counter, queue);
    flood.flood(area, range);

    queue.release();
    m_fineLabelCount = counter.next();
}

template bool Segmentation<6, 0>::watershedInner(bool, ProgressRange);
template bool Segmentation<6, 0>::packedFlood(const CandidateArea&, int, ProgressRange);
template void Segmentation<6, 0>::generalFlood(const CandidateArea&, int, ProgressRange);

} // namespace classification
