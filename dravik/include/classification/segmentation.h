#pragma once
// The segmentation of the six-channel analysis image. Its stages run in a fixed order, each
// recomputing only what changed settings or an earlier stage of the same run require:
// local histograms per cell (stage 1), their split into modes (stage 2), then gradients,
// widths and regions. Every channel remembers the settings it was last computed with.

#include "classification/histogram1d.h"
#include "classification/progress.h"
#include "classification/rect.h"
#include "classification/vec.h"
#include "classification/workers.h"

#include <blitz/array.h>
#include <blitz/tinyvec2.h>
#include <boost/thread/mutex.hpp>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace classification {

using corvath::utility::IntPair;
using corvath::utility::Rect;

// The settings of a segmentation run, fifteen 32-bit words. The analysis driver fills the
// head record from the engine variables; the default record marks every field unset, so a
// channel that holds it is recomputed by every stage.
struct SegmentationState {
    std::int32_t colourBits = -1;     // a histogram has at most about 2^colourBits bins
    float spareA = -1.f;
    float spareB = -1.f;
    float featureTol = -1.f;          // depth factor of a valley between two modes
    float imageTol = -1.f;
    float focus = -1.f;
    float spareC = -1.f;
    std::int32_t interpolation = -1;  // histogram builder, 0..3
    std::int32_t resolution = -1;     // side of a histogram cell in pixels
    std::int32_t overlap = -1;        // half-width, in cells, of a histogram's window
    std::int32_t histogramLevel = -1;
    std::int32_t inFocusEdgeWidth = -1;
    std::int32_t blendMode = 0;
    std::int32_t fgSampling = 1;
    std::int32_t bgSampling = 1;
};
static_assert(sizeof(SegmentationState) == 15 * 4, "fifteen 32-bit words");

// Whether a channel computed with the settings slot must rebuild its histograms for head.
bool histogramsOutOfDate(const SegmentationState& slot, const SegmentationState& head);
// Whether a channel computed with slot must split its histograms into modes again for head.
bool modesOutOfDate(const SegmentationState& slot, const SegmentationState& head);

// One mode of a cell's histogram: bins rising to a peak and falling to a valley.
struct ModeRecord {
    std::int32_t peakBin = 0;
    std::int32_t peakCount = 0;     // the cell's count at peakBin
    std::int32_t lowerPeak = 0;     // the lower of the two peaks that the valley separates
    std::int32_t peakDistance = 0;  // in bins, from the left of those peaks to the right one
    std::int32_t valleyCount = 0;
    std::int32_t valleyBin = -1;    // 256 (count 0) for the last mode of a cell
    const Histogram1D* cell = nullptr;
};

// The cell grid over an image's bounds: each corner divided by the cell side, truncating
// toward zero.
Rect cellDomain(const Rect& bounds, int resolution);

// One byte channel of an image of several bytes per pixel, addressed by raw offsets.
struct ChannelView {
    const unsigned char* first = nullptr;  // the byte of pixel (bounds.x1, bounds.y1)
    std::ptrdiff_t stride0 = 0;            // bytes from one pixel to the next along each index
    std::ptrdiff_t stride1 = 0;
    Rect bounds;

    const unsigned char* at(int x, int y) const
    {
        return first + std::ptrdiff_t(x - bounds.x1) * stride0 + std::ptrdiff_t(y - bounds.y1) * stride1;
    }
};

// Channel c of an array of N-byte pixels; the view shares the array's elements.
template <int N>
ChannelView channelOf(const blitz::Array<blitz::TinyVector<unsigned char, N>, 2>& image, int c)
{
    ChannelView v;
    v.bounds = corvath::utility::domainOf(image);
    if (!v.bounds.isEmpty())
        v.first = &image(v.bounds.x1, v.bounds.y1)[c];
    v.stride0 = image.stride(0) * std::ptrdiff_t(N);
    v.stride1 = image.stride(1) * std::ptrdiff_t(N);
    return v;
}

// Adds the byte values a..b (a <= b) to h with exact weighting by value: about total (512
// or 1024) counts in all, each bin receiving its share of the interval's values. h's shift
// is at most 15.
void spreadInterval(Histogram1D& h, int a, int b, int total);

// Builds h from the 2 x 2 pixel blocks of the channel whose first pixel p lies in
// lower <= p < upper (both indices; the block's other pixels are then inside the bounds),
// with the builder that interpolation (0..3) selects; another value leaves h as it was.
// The range covers the pixels from lower to upper inclusive (0..255 when there are none);
// a block without positions gets 1024 / bins in every bin. lower and upper are clipped to
// the channel's bounds by the caller.
void buildBlockHistogram(const ChannelView& channel, IntPair lower, IntPair upper,
                         int interpolation, int colourBits, Histogram1D& h);

// Appends one record {peakBin, valleyBin} per mode of h, the last with valley -1. A valley
// counts only where the histogram falls below the peak by featureTol and rises again above
// the valley by featureTol.
void splitModes(const Histogram1D& h, float featureTol, std::vector<ModeRecord>& out);

// Gives records first .. end - 1 (one cell's, counts already set) their lower peak and peak
// distance, and returns the index of the record whose valley splits the cell best (highest
// lower peak / valley count), or -1 when the cell has one mode.
int findBestSplit(std::vector<ModeRecord>& records, int first, int end);

template <int N, int Variant>
class HistogramUpdater;

// The shared state of the histogram stage's worker.
struct HistogramWork {
    boost::mutex mutex;
    int channelCounter = 0;
    bool changed = false;
    ProgressRange progress;  // the worker's share of the stage
    WorkerFlags flags;
};

// Instantiated once, as Segmentation<6,0>: six channels.
template <int N, int Variant>
class Segmentation {
public:
    using Histogram1D = classification::Histogram1D;
    using Pixel = blitz::TinyVector<unsigned char, N>;
    using Image = blitz::Array<Pixel, 2>;
    using Cell = corvath::utility::Vec<Histogram1D, N>;
    using HistogramArray = blitz::Array<Cell, 2>;

    static constexpr int kChannels = N;
    // Where each of the five stages ends within the range of a whole run.
    static constexpr float kStageEnds[5] = {0.14285715f, 0.2857143f, 0.42857143f, 0.44285715f, 1.0f};

    Segmentation();
    Segmentation(const Segmentation&) = delete;
    Segmentation& operator=(const Segmentation&) = delete;

    // The settings that the next run computes.
    SegmentationState& head() { return m_head; }
    const SegmentationState& head() const { return m_head; }
    // The settings that channel c was last computed with.
    const SegmentationState& channelState(int c) const { return m_channelStates[c]; }
    // The head as it stood at the end of the last complete run.
    const SegmentationState& lastComplete() const { return m_lastComplete; }
    bool channelFlag(int c) const { return m_channelFlags[c] != 0; }

    // Takes a newly computed image (sharing its elements); every channel is then recomputed.
    void attachImage(const Image& image);
    const Image& image() const { return m_image; }
    const Rect& bounds() const { return m_bounds; }

    // Per cell, one histogram per channel, over cellDomain(bounds, resolution).
    const HistogramArray& histograms() const { return m_histograms; }
    // Channel c's mode records; entry 0 is a sentinel of no cell.
    const std::vector<ModeRecord>& modes(int c) const { return m_modes[c]; }

    // Stage 1: rebuilds the histograms of every channel whose settings changed, one channel
    // at a time on a worker thread; upstreamChanged is ignored. True when any was rebuilt.
    // Throws DvExCancel, std::bad_alloc or kWorkerFailureText when the worker stopped so, and
    // std::invalid_argument when the head's resolution, overlap or colour bits are unset.
    bool updateHistograms(bool upstreamChanged, ProgressRange range);
    // The next channel to rebuild (N - 1 down to 0), or -1 when none is left or a worker
    // stopped; reports each channel taken into the stage's range.
    int nextChannel();
    // Rebuilds channel c's histograms in every cell; false when they were up to date. Writes
    // only channel c of the histogram array.
    bool updateChannel(int c, ProgressRange range);
    // The same with the caller's scratch grid, which it resizes as needed and may keep for the
    // next channel.
    bool updateChannel(int c, ProgressRange range, blitz::Array<Histogram1D, 2>& scratch);

    // Stage 2 for channel c: splits every cell's histogram into modes when upstreamChanged or
    // "featureTol" changed; true when it did.
    bool watershedFirst(bool upstreamChanged, int c, ProgressRange range);
    // Stage 2 for every channel, each over its share of range.
    bool watershedFirstAllChannels(bool upstreamChanged, ProgressRange range);

    // After a complete run: every channel and the last complete state take the head.
    void storeChannelStates();
    // After a failed run: every channel is recomputed next time.
    void resetChannelStates();

private:
    friend class HistogramUpdater<N, Variant>;

    void checkHistogramSettings() const;

    SegmentationState m_head;
    std::array<SegmentationState, N> m_channelStates;
    SegmentationState m_lastComplete;
    std::array<unsigned char, N> m_channelFlags;

    Image m_image;
    Rect m_bounds;

    HistogramArray m_histograms;
    std::array<std::vector<ModeRecord>, N> m_modes;
    // The cell of each mode list's sentinel.
    Histogram1D m_defaultHistogram;

    HistogramWork m_histogramWork;
};

// The histogram stage's worker: rebuilds channels until none is left.
template <int N, int Variant>
class HistogramUpdater {
public:
    HistogramUpdater(Segmentation<N, Variant>& segmentation, int channel)
        : m_segmentation(&segmentation), m_channel(channel) {}
    void operator()();

private:
    Segmentation<N, Variant>* m_segmentation;
    int m_channel;
    blitz::Array<Histogram1D, 2> m_scratch;  // one grid for all the channels it rebuilds
};

extern template class Segmentation<6, 0>;
extern template class HistogramUpdater<6, 0>;

} // namespace classification
