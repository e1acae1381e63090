#pragma once
// The segmentation of the six-channel analysis image. Its stages run in a fixed order, each
// recomputing only what changed settings or an earlier stage of the same run require:
// local histograms per cell (stage 1), their split into modes (stage 2), then gradients,
// widths and regions. Every channel remembers the settings it was last computed with.

#include "analysis/histogram1d.h"
#include "common/jobthreads.h"
#include "session/progress.h"
#include "common/firsttouch.h"
#include "common/rect.h"
#include "common/vec.h"

#include <blitz/array.h>
#include <blitz/tinyvec2.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace classification {

struct CandidateArea;

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

// What the gradient stage reads of a mode record, its divisions done once per lookup table
// rather than once per pixel block: the same single-precision values.
struct ModeTerms {
    std::int32_t valleyBin = 256;
    float ratio = 0.f;       // lowerPeak / valleyCount
    float peakTerm = 0.f;    // 1 / peakCount^2
    float lowerTerm = 0.f;   // 1 / lowerPeak^2
    float valleyTerm = 0.f;  // 1 / valleyCount^2

    static ModeTerms of(const ModeRecord& r);
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

// Whether the builders may use the processor's vector lanes (the default); false keeps them
// to the portable code. Returns whether the choice holds on this processor.
bool useSpreadLanes(bool allowed);

// Builds h from the 2 x 2 pixel blocks of the channel whose first pixel p lies in
// lower <= p < upper (both indices; the block's other pixels are then inside the bounds),
// with the builder that interpolation (0..3) selects; another value leaves h as it was.
// The range covers the pixels from lower to upper inclusive (0..255 when there are none);
// a block without positions gets 1024 / bins in every bin. lower and upper are clipped to
// the channel's bounds by the caller.
void buildBlockHistogram(const ChannelView& channel, IntPair lower, IntPair upper,
                         int interpolation, int colourBits, Histogram1D& h);

// buildBlockHistogram with interpolation 0 for a row of cells at once: cells[k] (k < count)
// from the positions x in lx .. ux - 1 and y in max(y1, (j0 + k) * res) ..
// min(y2, (j0 + k + 1) * res) - 1, y1 and y2 the channel's bounds; the same histograms.
void buildRangeHistogramRow(const ChannelView& channel, int lx, int ux, int j0, int count, int res,
                            int colourBits, Histogram1D* cells);

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
// The gradient stage's lookups of the modes of one row of cells.
template <int N>
class ModeTable;
template <int N, int Variant>
class GradientUpdater;

// The histogram stage's jobs split each channel into bands of cell rows along the first
// index, from the grid's first row; the last band may be shorter.
struct HistogramBands {
    int height = 1;  // cell rows per band
    int count = 0;   // bands per channel
};

// What a histogram worker keeps from one job to the next: the cells' own histograms over the
// rows that a band's windows reach, and their sums along the first index.
struct HistogramScratch {
    blitz::Array<Histogram1D, 2> blocks;
    blitz::Array<Histogram1D, 2> sums;
};

// The shared state of the histogram stage's workers.
struct HistogramWork {
    JobRecord channels;             // job j: channel j / bands, bands in order
    HistogramBands bands;
    std::atomic<bool> changed{false};
    ProgressRange progress;         // the workers' share of the stage, reported under the record
    bool endReported = false;       // under the record's mutex
};

// The gradient stage's bands: from start.x in steps of the band height up to and including
// end.x, each reaching to the start of the next (the last to end.x); every band spans start.y
// to end.y. Bands are numbered from 0 at start.x.
struct BandCursor {
    int bandHeight = 64;
    IntPair start{0, 0};
    IntPair end{-1, -1};
    ProgressRange progress;  // the workers' share of the stage

    void reset(IntPair startCorner, IntPair endCorner, ProgressRange range);
    int bandCount() const;
    void band(int b, IntPair& lower, IntPair& upper) const;
    // Reports band b as handed out: the fraction of the first index that lies before it.
    void report(int b);
};

// The corner values of one 2 x 2 pixel block: how well the block fits the modes of its cells
// at the peaks and at the valleys, as logarithms.
struct LevelPair {
    float peak;
    float valley;
};

// The smallest finite valley level and the largest finite peak level of some corner values;
// FLT_MAX and -FLT_MAX while none was seen.
struct LevelExtremes {
    float lowestValley;
    float highestPeak;

    LevelExtremes();
    void add(const LevelPair& p);
    void add(const LevelExtremes& other);
    // The factor that takes the finite levels onto 0..255.99: 1 when they are all equal or
    // absent.
    float scale() const;
};

// Writes bytes 0 and 1 of the gradient image at every element of the level field: the peak
// and valley levels scaled so that the finite ones span 0..255 (truncated); a level that is
// not finite gives 0. Returns the scale (1 when the finite levels are all equal or absent).
float scaleLevelField(const blitz::Array<LevelPair, 2>& levels,
                      blitz::Array<blitz::TinyVector<unsigned char, 3>, 2>& gradient);

// The inner watershed's bias, ln(imageTol) * scale truncated, kept to 0..255 before it becomes
// an int: a nearly flat level field has a huge scale, and a larger bias holds back nothing more.
int innerWatershedBias(float imageTol, float scale);

// Forward and backward two-pass propagation over r: afterwards no element of r exceeds an
// edge neighbour by more than 70 or a diagonal neighbour by more than 99; values only
// decrease. The array must cover r grown by 1. Each reports after every first index that is
// a multiple of 512.
void chamferForward(const Rect& r, blitz::Array<int, 2> distance, ProgressRange range);
void chamferBackward(const Rect& r, blitz::Array<int, 2> distance, ProgressRange range);

// Instantiated once, as Segmentation<6,0>: six channels.
template <int N, int Variant>
class Segmentation {
public:
    using Histogram1D = classification::Histogram1D;
    using Pixel = blitz::TinyVector<unsigned char, N>;
    using Image = blitz::Array<Pixel, 2>;
    using Cell = corvath::utility::Vec<Histogram1D, N>;
    using HistogramArray = blitz::Array<Cell, 2>;
    // Upper height, lower height, width.
    using GradientPixel = blitz::TinyVector<unsigned char, 3>;
    using GradientImage = blitz::Array<GradientPixel, 2>;

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

    // Stage 1: rebuilds the histograms of every channel whose settings changed, bands of each
    // channel spread over one worker thread per processor; upstreamChanged is ignored. True
    // when any was rebuilt.
    // Throws DvExCancel, std::bad_alloc or std::runtime_error(kWorkerFailureText) when the
    // worker stopped so, and
    // std::invalid_argument when the head's resolution, overlap or colour bits are unset.
    bool updateHistograms(bool upstreamChanged, ProgressRange range);
    // The next histogram job (channels from N - 1 down, each band by band), or -1 when none
    // is left or a worker stopped; reports each channel's share as its first band is taken.
    int nextHistogramJob();
    // How the histogram array's rows are cut into bands for the current head.
    HistogramBands histogramBands() const;
    // Rebuilds channel c's histograms in every cell; false when they were up to date. Writes
    // only channel c of the histogram array.
    bool updateChannel(int c, ProgressRange range);
    // The same for the cells of one band, with the caller's scratch, which it resizes as
    // needed and may keep for the next band. Writes only channel c of the band's cells.
    bool updateChannelBand(int c, int band, const HistogramBands& bands, HistogramScratch& scratch);

    // Stage 2 for channel c: splits every cell's histogram into modes when upstreamChanged or
    // "featureTol" changed; true when it did.
    bool watershedFirst(bool upstreamChanged, int c, ProgressRange range);
    // Stage 2 for every channel, each over its share of range; the channels split on one
    // worker thread per processor.
    bool watershedFirstAllChannels(bool upstreamChanged, ProgressRange range);

    // Stage 3: the gradient image from the histograms' modes, bands of rows on one worker
    // thread per processor; does nothing but resize the image unless upstreamChanged. Throws
    // as the histogram stage does when a worker stopped.
    bool updateGradients(bool upstreamChanged, ProgressRange range);
    // The corner values of the block whose byte ranges per channel are lo..hi, looked up in
    // one cell: the sums over the channels of 1 / count^2 at the peaks and at the valleys.
    LevelPair inverseCountSums(IntPair cell, const unsigned char* lo, const unsigned char* hi) const;
    // The same through the lookup tables the stage builds per row of cells.
    LevelPair tableCountSums(IntPair cell, const unsigned char* lo, const unsigned char* hi) const;

    // Stage 4: the width map (byte 2 of the gradient image) from the cells' best splits, when
    // upstreamChanged or "inFocusEdgeWidth" changed.
    bool computeWidthMap(bool upstreamChanged, ProgressRange range);
    // A cell's width in the stage's fixed-point units, within lower..upper.
    int cellWidth(const Cell& cell, int lower, int upper) const;

    // Stage 5: the region labels by a seeded watershed over the gradient image, when
    // upstreamChanged or "imageTol" or "inFocusEdgeWidth" changed. An "imageTol" of 1 or less
    // empties the labels and sets the fine label count to -1.
    bool watershedInner(bool upstreamChanged, ProgressRange range);
    // The most labels the inner watershed hands out in its packed cells before it starts
    // over on plain labels; lowered only to exercise that path.
    void setPackedLabelLimit(std::int32_t limit) { m_packedLabelLimit = limit; }

    // Runs the five stages over the range's shares; true when any stage changed a result.
    // After any exception every channel is recomputed by the next run.
    bool analyse(ProgressRange range);
    // Called once by every run that reaches stage 4, before the inner watershed starts and
    // after the width map is done (on the width map's thread when that runs beside the inner
    // watershed, never at the same time as anything else of the caller's): work that may run
    // beside the inner watershed, which leaves most processors idle, starts there. Empty:
    // nothing is called.
    void setBesideLastStages(std::function<void()> start) { m_besideLastStages = std::move(start); }

    // Over the bounds grown by 2; bytes 0 and 1 are heights, byte 2 the width map.
    const GradientImage& gradient() const { return m_gradient; }
    // The same over the bounds.
    const GradientImage& gradientView() const { return m_gradientView; }
    float gradientScale() const { return m_gradientScale; }
    // Byte 2 of the gradient image over the bounds; the margin holds the edge's widths.
    const blitz::Array<unsigned char, 2>& widthMap() const { return m_widthMap; }
    // Over the bounds grown by 2: a label of 1 or more inside the bounds, 0 on the ring
    // around them. The labelling step of the analysis rewrites them and their count.
    blitz::Array<std::int32_t, 2>& regionLabels() { return m_regionLabels; }
    const blitz::Array<std::int32_t, 2>& regionLabelView() const { return m_regionLabelView; }
    // The number of labels handed out (label 0 included); -1 when the stage is switched off.
    std::int32_t& fineLabelCount() { return m_fineLabelCount; }

    // After a complete run: every channel and the last complete state take the head.
    void storeChannelStates();
    // After a failed run: every channel is recomputed next time.
    void resetChannelStates();

private:
    friend class HistogramUpdater<N, Variant>;
    friend class GradientUpdater<N, Variant>;


    void checkHistogramSettings() const;
    // The first record of every channel's mode list.
    std::array<const ModeRecord*, N> modeLists() const;
    // Stages 4 and 5 over the range's next two shares; with more than one processor the
    // width map runs on a thread of its own beside the inner watershed.
    bool lastTwoStages(bool upstreamChanged, ProgressRange& range);
    // The mode lists of the due channels and every cell's records and best split in them,
    // band by band on the workers.
    void splitChannelModes(const std::array<bool, N>& due);
    // Stage 5's flood over packed cells; false when it ran out of labels.
    bool packedFlood(const CandidateArea& area, int bias, ProgressRange range);
    // Stage 5's flood over plain labels.
    void generalFlood(const CandidateArea& area, int bias, ProgressRange range);

    SegmentationState m_head;
    std::array<SegmentationState, N> m_channelStates;
    SegmentationState m_lastComplete;
    std::array<unsigned char, N> m_channelFlags;

    Image m_image;
    Rect m_bounds;

    // m_histograms views the cells held here, which are constructed on the workers.
    corvath::utility::SlicedStorage<Cell> m_histogramCells;
    HistogramArray m_histograms;
    std::array<std::vector<ModeRecord>, N> m_modes;
    // The cell of each mode list's sentinel.
    Histogram1D m_defaultHistogram;

    HistogramWork m_histogramWork;
    JobRecord m_modeJobs;  // bands of cell rows of the channels

    GradientImage m_gradient;
    GradientImage m_gradientView;
    float m_gradientScale = 1.f;
    BandCursor m_bandCursor;
    JobRecord m_gradientJobs;  // one job per band
    // The workers' outputs besides the gradient image, for one run of the stage.
    std::vector<LevelExtremes> m_bandExtremes;

    blitz::Array<unsigned char, 2> m_widthMap;

    blitz::Array<std::int32_t, 2> m_regionLabels;
    blitz::Array<std::int32_t, 2> m_regionLabelView;
    std::int32_t m_fineLabelCount = -1;
    std::int32_t m_packedLabelLimit = 0xFEFFFF;

    std::function<void()> m_besideLastStages;
};

// The histogram stage's worker: rebuilds the bands it is handed. Every thread holds its
// own copy, and with it its own scratch grid.
template <int N, int Variant>
class HistogramUpdater {
public:
    explicit HistogramUpdater(Segmentation<N, Variant>& segmentation) : m_segmentation(&segmentation) {}
    // A copy shares the segmentation but never the scratch (a Blitz copy would share it).
    HistogramUpdater(const HistogramUpdater& other) : m_segmentation(other.m_segmentation) {}
    HistogramUpdater& operator=(const HistogramUpdater&) = delete;
    // Rebuilds the band of a channel that job number `job` names; runs on the worker thread.
    void operator()(int job);

private:
    Segmentation<N, Variant>* m_segmentation;
    HistogramScratch m_scratch;  // kept for every band it rebuilds
};

// The gradient stage's worker: computes the level values of the bands it is handed. Every
// thread holds its own copy.
template <int N, int Variant>
class GradientUpdater {
public:
    // Each band's extremes go to its slot of extremes.
    GradientUpdater(const Segmentation<N, Variant>& segmentation, blitz::Array<LevelPair, 2>& levels,
                    LevelExtremes* extremes);
    // A copy shares the segmentation and the outputs but never the tables.
    GradientUpdater(const GradientUpdater& other);
    GradientUpdater& operator=(const GradientUpdater&) = delete;
    ~GradientUpdater();
    // Band number `job` counted down from the last band; runs on the worker thread.
    void operator()(int job);

    // Interpolation along one index: the cell before a block's corner point, the cell after
    // it, and the weight of the first.
    struct CellAxis {
        int first;
        int second;
        float weight;
    };

private:
    const Segmentation<N, Variant>* m_segmentation;
    float m_scale;      // 1 / resolution
    float m_halfScale;  // 0.5 / resolution
    Rect m_cells;
    LevelPair* m_levels;  // element (x1, y1) of the level field
    LevelExtremes* m_extremes;
    std::ptrdiff_t m_levelStride;
    int m_bandCount;
    std::array<const ModeRecord*, N> m_records;  // every channel's mode list
    std::vector<CellAxis> m_columns;  // this thread's, the same for every row
    // This thread's tables of the two cell rows in use, kept from band to band.
    std::unique_ptr<std::array<ModeTable<N>, 2>> m_tables;
};

extern template class Segmentation<6, 0>;
extern template class HistogramUpdater<6, 0>;
extern template class GradientUpdater<6, 0>;

} // namespace classification
