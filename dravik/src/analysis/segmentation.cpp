// The segmentation's settings records and its histogram stage.
#include "analysis/segmentation.h"
#include "common/threadstart.h"

#include "morphology/convolve.h"
#include "platform/clock.h"

#include <boost/thread/thread.hpp>

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <string>

namespace classification {

using corvath::utility::domainOf;
using corvath::utility::extent;

bool histogramsOutOfDate(const SegmentationState& slot, const SegmentationState& head)
{
    return slot.colourBits != head.colourBits || slot.interpolation != head.interpolation
           || slot.resolution != head.resolution || slot.overlap != head.overlap
           || (slot.histogramLevel != head.histogramLevel && slot.histogramLevel <= 2);
}

bool modesOutOfDate(const SegmentationState& slot, const SegmentationState& head)
{
    return slot.featureTol != head.featureTol;
}

Rect cellDomain(const Rect& bounds, int resolution)
{
    return {bounds.x1 / resolution, bounds.y1 / resolution, bounds.x2 / resolution,
            bounds.y2 / resolution};
}

namespace {

using HistogramView = blitz::Array<Histogram1D, 2>;

} // namespace

template <int N, int V>
Segmentation<N, V>::Segmentation()
{
    m_channelFlags.fill(1);
}

template <int N, int V>
void Segmentation<N, V>::attachImage(const Image& image)
{
    m_image.reference(image);
    m_bounds = domainOf(m_image);
    m_channelStates.fill(SegmentationState());
}

template <int N, int V>
void Segmentation<N, V>::storeChannelStates()
{
    m_channelStates.fill(m_head);
    if (std::any_of(m_channelFlags.begin(), m_channelFlags.end(), [](unsigned char f) { return f != 0; }))
        m_lastComplete = m_head;
}

template <int N, int V>
bool Segmentation<N, V>::analyse(ProgressRange range)
{
    if (std::none_of(m_channelFlags.begin(), m_channelFlags.end(), [](unsigned char f) { return f != 0; })) {
        range.position = 1.f;
        if (range.parent)
            range.parent->progress(range.hi, std::string());
        return false;
    }
    try {
        // Each stage learns whether an earlier one changed anything in this run.
        bool changed = updateHistograms(false, range.nextStep(kStageEnds[0]));
        changed = watershedFirstAllChannels(changed, range.nextStep(kStageEnds[1])) || changed;
        changed = updateGradients(changed, range.nextStep(kStageEnds[2])) || changed;
        changed = lastTwoStages(changed, range) || changed;
        storeChannelStates();
        return changed;
    } catch (...) {
        // Whatever a stage left half done, the next run recomputes every channel.
        resetChannelStates();
        throw;
    }
}

template <int N, int V>
bool Segmentation<N, V>::lastTwoStages(bool upstreamChanged, ProgressRange& range)
{
    ProgressRange widthRange = range.nextStep(kStageEnds[3]);
    ProgressRange innerRange = range.nextStep(kStageEnds[4]);
    const bool widthDue = upstreamChanged || m_lastComplete.inFocusEdgeWidth != m_head.inFocusEdgeWidth;
    if (!widthDue || platform::processorCount() < 2) {
        const bool widths = computeWidthMap(upstreamChanged, widthRange);
        if (m_besideLastStages)
            m_besideLastStages();
        return watershedInner(upstreamChanged || widths, innerRange) || widths;
    }
    // The width map writes only byte 2 of the gradient image and the inner watershed reads
    // only bytes 0 and 1, so the width map runs beside the flood, which keeps one processor
    // busy for long. Its share is reported as under way when it starts; it reports nothing
    // from its own thread. The caller's work beside starts once the width map has given its
    // memory back, so that the two never add up.
    widthRange.report(std::string(), 0.5f);
    std::exception_ptr widthFailure;
    boost::thread widths = startThread([this, &widthFailure] {
        try {
            computeWidthMap(true, ProgressRange());
            if (m_besideLastStages)
                m_besideLastStages();
        } catch (...) {
            widthFailure = std::current_exception();
        }
    });
    try {
        watershedInner(true, innerRange);
    } catch (...) {
        widths.join();
        throw;
    }
    widths.join();
    if (widthFailure)
        std::rethrow_exception(widthFailure);
    return true;
}

template <int N, int V>
void Segmentation<N, V>::resetChannelStates()
{
    m_channelStates.fill(SegmentationState());
}

template <int N, int V>
void Segmentation<N, V>::checkHistogramSettings() const
{
    // The driver always fills these; an unset head would divide by zero or index out of range.
    if (m_head.resolution < 1 || m_head.overlap < 0 || m_head.colourBits < 0)
        throw std::invalid_argument("segmentation: resolution, overlap or colour bits unset");
}

template <int N, int V>
HistogramBands Segmentation<N, V>::histogramBands() const
{
    const Rect domain = domainOf(m_histograms);
    HistogramBands b;
    if (domain.isEmpty())
        return b;
    // Enough cells per job that a band's extra rows (the windows reach 2 * overlap beyond it)
    // cost at most a quarter, and enough jobs that every thread stays busy to the end.
    constexpr int kCellsPerJob = 8192;
    const int columns = extent(domain).y, rows = extent(domain).x;
    const int window = std::min(2 * m_head.overlap + 1, rows);
    b.height = std::max({1, (kCellsPerJob + columns - 1) / columns, 4 * (window - 1)});
    b.count = (rows + b.height - 1) / b.height;
    return b;
}

template <int N, int V>
bool Segmentation<N, V>::updateHistograms(bool, ProgressRange range)
{
    checkHistogramSettings();
    const Rect wanted = cellDomain(m_bounds, m_head.resolution);
    if (domainOf(m_histograms) != wanted)
        m_histogramCells.fit(m_histograms, wanted);

    HistogramWork& work = m_histogramWork;
    work.changed = false;
    work.progress = ProgressRange(range.parent, range.at(range.position), range.at(1.f), 0.f);
    work.endReported = false;
    work.bands = histogramBands();
    const int bands = std::max(work.bands.count, 1);
    // Channels go out from N - 1 down, each band by band. A channel reports its share as its
    // first band is handed out, under the record's mutex, so the fractions reach the client
    // in order whichever worker takes it; the end once, though every worker is told that
    // nothing is left.
    work.channels.reset(N * bands - 1, [&work, bands](int job) {
        if (job < 0 ? work.endReported : job % bands != bands - 1)
            return;
        work.endReported = job < 0;
        const int channel = job < 0 ? -1 : job / bands;
        const float f = std::min(1.0f, float(N - channel) * (1.0f / N));
        if (work.progress.parent) {
            work.progress.position = f;
            work.progress.parent->progress(work.progress.at(f), std::string());
        }
    });
    range.position = 1.f;

    // The first job is taken here, so a failure of its report reaches the caller as it is;
    // every worker keeps its own scratch for the jobs it takes.
    const int first = nextHistogramJob();
    runTakenJobsOnWorkerThreads(work.channels, first, HistogramUpdater<N, V>(*this));
    return work.changed;
}

template <int N, int V>
int Segmentation<N, V>::nextHistogramJob()
{
    return m_histogramWork.channels.take();
}

template <int N, int V>
bool Segmentation<N, V>::updateChannel(int c, ProgressRange)
{
    HistogramScratch scratch;
    const HistogramBands bands = histogramBands();
    bool changed = false;
    for (int band = 0; band < std::max(bands.count, 1); ++band)
        changed = updateChannelBand(c, band, bands, scratch) || changed;
    return changed;
}

namespace {

// Window sums longer than this go through the line filter, whose cost does not grow with
// the window; shorter ones sum each window at once.
constexpr int kLongestDirectWindow = 5;

// dst(x, y) = the sum of src(x - (w - 1) / 2 .. x + w / 2, y) for every (x, y) of out.
void centredWindowSum(const HistogramView& src, int w, const Rect& out, HistogramView dst, int bits)
{
    if (out.isEmpty())
        return;
    if (w > kLongestDirectWindow) {
        // The filter's window ends at the element: shift the destination's indices by w / 2.
        const HistogramView in = corvath::utility::viewOf(src, {out.x1 - (w - 1) / 2, out.y1, out.x2 + w / 2, out.y2});
        HistogramView to = corvath::utility::viewOf(dst, out);
        to.reindexSelf(blitz::TinyVector<int, 2>(out.x1 + w / 2, out.y1));
        morphology::convolveLineFast(in, w, morphology::LineOpHistogramSum{bits, 0}, to, ProgressRange());
        return;
    }
    const std::ptrdiff_t s0 = src.stride(0), s1 = src.stride(1), d1 = dst.stride(1);
    const Histogram1D* operands[kLongestDirectWindow];
    for (int x = out.x1; x <= out.x2; ++x) {
        const Histogram1D* in = &src(x - (w - 1) / 2, out.y1);
        Histogram1D* o = &dst(x, out.y1);
        for (int y = out.y1; y <= out.y2; ++y, in += s1, o += d1) {
            for (int k = 0; k < w; ++k)
                operands[k] = in + k * s0;
            sumHistograms(operands, w, bits, 0, *o);
        }
    }
}

// dst(x, y) = the sum of src(x, y - (w - 1) / 2 .. y + w / 2) for every (x, y) of out, for
// windows short enough to sum at once (w <= kLongestDirectWindow): the same sums as
// centredWindowSum over the transposed arrays, taken row by row so that the destination's
// cells are written in the order they lie in memory.
void centredRowWindowSum(const HistogramView& src, int w, const Rect& out, HistogramView dst, int bits)
{
    const std::ptrdiff_t s1 = src.stride(1), d1 = dst.stride(1);
    const Histogram1D* operands[kLongestDirectWindow];
    for (int x = out.x1; x <= out.x2 && out.y1 <= out.y2; ++x) {
        const Histogram1D* in = &src(x, out.y1 - (w - 1) / 2);
        Histogram1D* o = &dst(x, out.y1);
        for (int y = out.y1; y <= out.y2; ++y, in += s1, o += d1) {
            for (int k = 0; k < w; ++k)
                operands[k] = in + k * s1;
            sumHistograms(operands, w, bits, 0, *o);
        }
    }
}

HistogramView transposed(const HistogramView& a)
{
    return a.transpose(1, 0);
}

} // namespace

template <int N, int V>
bool Segmentation<N, V>::updateChannelBand(int c, int band, const HistogramBands& bands,
                                           HistogramScratch& scratch)
{
    if (!histogramsOutOfDate(m_channelStates[c], m_head))
        return false;
    const Rect domain = domainOf(m_histograms);
    if (domain.isEmpty())
        return true;

    // Window sums centred on each cell; an even window reaches one cell further after it.
    // Only cells whose whole window lies inside the grid are summed (rectangle r); every
    // other cell copies the nearest cell of r.
    const int window = 2 * m_head.overlap + 1;
    const int w1 = std::min(window, extent(domain).x), w2 = std::min(window, extent(domain).y);
    const Rect r{domain.x1 + (w1 - 1) / 2, domain.y1 + (w2 - 1) / 2, domain.x2 - w1 / 2,
                 domain.y2 - w2 / 2};
    // This band's rows, and the rows of r that they copy.
    const int xa = domain.x1 + band * bands.height;
    const int xb = std::min(xa + bands.height - 1, domain.x2);
    const int ca = std::clamp(xa, r.x1, r.x2), cb = std::clamp(xb, r.x1, r.x2);
    // A band wholly outside r holds no row of r: its first row takes the one it copies.
    const int home = ca >= xa && cb <= xb ? 0 : xa - ca;

    // The cells' own histograms, for every row that the band's windows reach.
    const int res = m_head.resolution;
    const int bits = m_head.colourBits;
    const Rect blocks{ca - (w1 - 1) / 2, domain.y1, cb + w1 / 2, domain.y2};
    corvath::utility::fitArrayToRect(scratch.blocks, blocks);
    const ChannelView channel = channelOf<N>(m_image, c);
    const Rect& b = m_bounds;
    for (int i = blocks.x1; i <= blocks.x2; ++i) {
        const int lx = std::max(b.x1, i * res), ux = std::min(b.x2, (i + 1) * res);
        Histogram1D* cell = &scratch.blocks(i, domain.y1);
        if (m_head.interpolation == 0) {
            buildRangeHistogramRow(channel, lx, ux, domain.y1, extent(domain).y, res, bits, cell);
            continue;
        }
        for (int j = domain.y1; j <= domain.y2; ++j, ++cell) {
            const int ly = std::max(b.y1, j * res), uy = std::min(b.y2, (j + 1) * res);
            buildBlockHistogram(channel, {lx, ly}, {ux, uy}, m_head.interpolation, bits, *cell);
        }
    }

    // Along the first index into the scratch, then along the second into the band's rows.
    const Rect sums{ca, domain.y1, cb, domain.y2};
    corvath::utility::fitArrayToRect(scratch.sums, sums);
    centredWindowSum(scratch.blocks, w1, sums, scratch.sums, bits);
    HistogramView hc = m_histograms.extractComponent(Histogram1D(), c, N);
    HistogramView target = corvath::utility::viewOf(hc, {ca + home, domain.y1, cb + home, domain.y2});
    target.reindexSelf(blitz::TinyVector<int, 2>(ca, domain.y1));
    if (w2 <= kLongestDirectWindow)
        centredRowWindowSum(scratch.sums, w2, Rect{ca, r.y1, cb, r.y2}, target, bits);
    else
        centredWindowSum(transposed(scratch.sums), w2, corvath::utility::transpose(Rect{ca, r.y1, cb, r.y2}),
                         transposed(target), bits);

    const std::ptrdiff_t step = hc.stride(1);
    for (int x = ca; x <= cb; ++x) {
        Histogram1D* row = &target(x, domain.y1);
        // Back to counts per value, with no empty end bin.
        for (int y = r.y1; y <= r.y2; ++y) {
            Histogram1D& h = row[(y - domain.y1) * step];
            int* counts = h.counts();
            const int n = h.binCount(), s = h.shift();
            for (int k = 0; k < n; ++k)
                counts[k] >>= s;
            counts[0] = std::max(counts[0], 1);
            counts[n - 1] = std::max(counts[n - 1], 1);
            // The mode split fills these again; until then they hold no stale records.
            h.firstRecord = 0;
            h.endRecord = 0;
            h.bestSplit = -1;
        }
        const Histogram1D& first = row[(r.y1 - domain.y1) * step];
        const Histogram1D& last = row[(r.y2 - domain.y1) * step];
        for (int y = domain.y1; y < r.y1; ++y)
            row[(y - domain.y1) * step] = first;
        for (int y = r.y2 + 1; y <= domain.y2; ++y)
            row[(y - domain.y1) * step] = last;
    }
    // The band's rows outside r copy the nearest row of r, now in place.
    for (int x = xa; x <= xb; ++x) {
        const int from = std::clamp(x, r.x1, r.x2) + home;
        if (from == x)
            continue;
        const Histogram1D* in = &hc(from, domain.y1);
        Histogram1D* out = &hc(x, domain.y1);
        for (int y = domain.y1; y <= domain.y2; ++y)
            out[(y - domain.y1) * step] = in[(y - domain.y1) * step];
    }
    return true;
}

template <int N, int V>
void HistogramUpdater<N, V>::operator()(int job)
{
    Segmentation<N, V>& s = *m_segmentation;
    const HistogramBands& bands = s.m_histogramWork.bands;
    const int count = std::max(bands.count, 1);
    const int channel = job / count, band = count - 1 - job % count;
    if (s.updateChannelBand(channel, band, bands, m_scratch))
        s.m_histogramWork.changed = true;
}

template class Segmentation<6, 0>;
template class HistogramUpdater<6, 0>;

} // namespace classification
