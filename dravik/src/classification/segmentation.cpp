// The segmentation's settings records and its histogram stage.
#include "classification/segmentation.h"

#include "morphology/convolve.h"

#include <algorithm>
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
        changed = computeWidthMap(changed, range.nextStep(kStageEnds[3])) || changed;
        changed = watershedInner(changed, range.nextStep(kStageEnds[4])) || changed;
        storeChannelStates();
        return changed;
    } catch (...) {
        // Whatever a stage left half done, the next run recomputes every channel.
        resetChannelStates();
        throw;
    }
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
bool Segmentation<N, V>::updateHistograms(bool, ProgressRange range)
{
    checkHistogramSettings();
    const Rect wanted = cellDomain(m_bounds, m_head.resolution);
    if (domainOf(m_histograms) != wanted) {
        m_histograms.free();
        corvath::utility::fitArrayToRect(m_histograms, wanted);
    }

    HistogramWork& work = m_histogramWork;
    work.changed = false;
    work.progress = ProgressRange(range.parent, range.at(range.position), range.at(1.f), 0.f);
    work.endReported = false;
    // Each channel reports its share as it is handed out, under the record's mutex, so the
    // fractions reach the client in order whichever worker takes it; the end once, though
    // every worker is told that nothing is left.
    work.channels.reset(N - 1, [&work](int channel) {
        if (channel < 0 && work.endReported)
            return;
        work.endReported = channel < 0;
        const float f = std::min(1.0f, float(N - channel) * (1.0f / N));
        if (work.progress.parent) {
            work.progress.position = f;
            work.progress.parent->progress(work.progress.at(f), std::string());
        }
    });
    range.position = 1.f;

    // The first channel is taken here, so a failure of its report reaches the caller as it
    // is; every worker keeps its own scratch grid for the channels it takes.
    const int first = nextChannel();
    runTakenJobsOnWorkerThreads(work.channels, first, HistogramUpdater<N, V>(*this));
    return work.changed;
}

template <int N, int V>
int Segmentation<N, V>::nextChannel()
{
    return m_histogramWork.channels.take();
}

template <int N, int V>
bool Segmentation<N, V>::updateChannel(int c, ProgressRange range)
{
    HistogramView scratch;
    return updateChannel(c, range, scratch);
}

template <int N, int V>
bool Segmentation<N, V>::updateChannel(int c, ProgressRange, HistogramView& scratch)
{
    if (!histogramsOutOfDate(m_channelStates[c], m_head))
        return false;
    const Rect domain = domainOf(m_histograms);
    if (domain.isEmpty())
        return true;

    const int res = m_head.resolution;
    const int bits = m_head.colourBits;
    corvath::utility::fitArrayToRect(scratch, domain);
    const ChannelView channel = channelOf<N>(m_image, c);
    const Rect& b = m_bounds;
    for (int i = domain.x1; i <= domain.x2; ++i) {
        const int lx = std::max(b.x1, i * res), ux = std::min(b.x2, (i + 1) * res);
        for (int j = domain.y1; j <= domain.y2; ++j) {
            const int ly = std::max(b.y1, j * res), uy = std::min(b.y2, (j + 1) * res);
            buildBlockHistogram(channel, {lx, ly}, {ux, uy}, m_head.interpolation, bits, scratch(i, j));
        }
    }

    // Window sums centred on each cell; an even window reaches one cell further after it.
    // Only cells whose whole window lies inside the grid are written (rectangle r).
    const int window = 2 * m_head.overlap + 1;
    const int w1 = std::min(window, extent(domain).x), w2 = std::min(window, extent(domain).y);
    const Rect r{domain.x1 + (w1 - 1) / 2, domain.y1 + (w2 - 1) / 2, domain.x2 - w1 / 2,
                 domain.y2 - w2 / 2};
    const morphology::LineOpHistogramSum op{bits, 0};
    HistogramView hc = m_histograms.extractComponent(Histogram1D(), c, N);
    {
        HistogramView dst = hc.reindex(blitz::TinyVector<int, 2>(domain.x1 + w1 / 2, domain.y1));
        morphology::convolveLineFast(scratch, w1, op, dst, ProgressRange());
    }
    {
        HistogramView rows = corvath::utility::viewOf(hc, {r.x1, domain.y1, r.x2, domain.y2});
        HistogramView dst = rows.reindex(blitz::TinyVector<int, 2>(r.x1, domain.y1 + w2 / 2));
        morphology::convolveLineFastTransposed(rows, w2, op, dst, ProgressRange());
    }

    // Cells outside r copy the nearest cell of r: first along the first index within r's
    // rows, then whole rows along the second index, so corners copy r's corners.
    for (int y = r.y1; y <= r.y2; ++y) {
        for (int x = domain.x1; x < r.x1; ++x)
            hc(x, y) = hc(r.x1, y);
        for (int x = domain.x2; x > r.x2; --x)
            hc(x, y) = hc(r.x2, y);
    }
    for (int y = domain.y1; y < r.y1; ++y)
        for (int x = domain.x1; x <= domain.x2; ++x)
            hc(x, y) = hc(x, r.y1);
    for (int y = domain.y2; y > r.y2; --y)
        for (int x = domain.x1; x <= domain.x2; ++x)
            hc(x, y) = hc(x, r.y2);

    // Back to counts per value, with no empty end bin.
    for (int x = domain.x1; x <= domain.x2; ++x)
        for (int y = domain.y1; y <= domain.y2; ++y) {
            Histogram1D& h = hc(x, y);
            int* counts = h.counts();
            const int n = h.binCount(), s = h.shift();
            for (int k = 0; k < n; ++k)
                counts[k] >>= s;
            counts[0] = std::max(counts[0], 1);
            counts[n - 1] = std::max(counts[n - 1], 1);
        }
    return true;
}

template <int N, int V>
void HistogramUpdater<N, V>::operator()(int channel)
{
    Segmentation<N, V>& s = *m_segmentation;
    if (s.updateChannel(channel, ProgressRange(), m_scratch))
        s.m_histogramWork.changed = true;
}

template class Segmentation<6, 0>;
template class HistogramUpdater<6, 0>;

} // namespace classification
