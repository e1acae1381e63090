#pragma once
// The classification object of one session: the image it classifies, the working status
// array with its frame, the changed and dirty rectangles of the operations, the status undo
// stack and the analysis results the operations read. The analysis driver and the operation
// bodies extend it.

#include "analysis/globalclassification.h"
#include "common/imageview.h"
#include "common/jobthreads.h"
#include "session/progress.h"
#include "analysis/rancour.h"
#include "common/rect.h"
#include "analysis/segmentation.h"
#include "session/undo.h"
#include "platform/memory.h"

#include <blitz/array.h>

#include <climits>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

namespace classification {

using Bytes = blitz::Array<unsigned char, 2>;
using Labels = blitz::Array<int, 2>;

// One pixel of auto-complex's work table: its region id (or the flood's mark while records
// head for it), its height and the flood queue's claim on it, so that expanding a pixel reads
// one cache line per row of its neighbourhood for all three.
struct AutoComplexCell {
    std::int16_t id;
    unsigned char height;
    unsigned char spare;
    std::uint32_t claim;
};

// Status bits of a pixel.
enum StatusBit : unsigned char {
    StatusUnassigned = 1,
    StatusKeep = 2,
    StatusDelete = 4,
    StatusBlend = 8,
    StatusForcedEdge = 16,
    StatusProtected = 32,
};

// Whether an operation may change a pixel of status s under match target t and match mask m:
// class bits in m restrict it to the classes named in t; bits 16 and 32 in m shield forced-edge
// and protected pixels unless t names them too.
inline bool statusMatches(unsigned char s, unsigned char t, unsigned char m)
{
    return ((s & t & m & 0x0F) != 0 || (m & 0x0F) == 0) && ((s & m & 0x10) == 0 || (t & m & 0x10) != 0) &&
           ((s & m & 0x20) == 0 || (t & m & 0x20) != 0);
}

// The status of a changed pixel: the bits of the write mask taken from the new value.
inline unsigned char setStatusBits(unsigned char s, unsigned char writeMask, unsigned char newValue)
{
    return static_cast<unsigned char>((s & ~writeMask) | (newValue & writeMask));
}

// Whether a select lays or lifts forced edges or protection: the new value 16 or 32, or the new
// value 1 over the target 16 or 32. Any other values, odd ones included, are an ordinary,
// undoable change.
inline bool selectSetsEdgesOrProtection(unsigned char newValue, unsigned char matchTarget)
{
    const auto special = [](unsigned char v) { return v == StatusForcedEdge || v == StatusProtected; };
    return special(newValue) || (newValue == StatusUnassigned && special(matchTarget));
}

// Whether a select commits with the session's undo stack: forced edges and protection are not
// undoable, and a new value equal to the match target commits nothing.
inline bool selectCommitsWithUndo(unsigned char newValue, unsigned char matchTarget)
{
    return newValue != matchTarget && !selectSetsEdgesOrProtection(newValue, matchTarget);
}

// Select modes.
enum SelectMode : int { SelectExact = 0, SelectLocal = 1, SelectGlobal = 2, SelectRegions = 3 };

// Thrown by an operation whose body is not part of this build.
struct NotBuilt : std::logic_error {
    explicit NotBuilt(const char* what) : std::logic_error(what) {}
};

// The analysis settings the session copies from its engine variables: the segmentation's
// head record.
using AnalysisParameters = SegmentationState;

class IiClassification {
    // First, so that `parameters` can refer to its head record.
    Segmentation<6, 0> m_segmentation;

public:
    static constexpr std::uint32_t undoDepth = 200;

    // Over the session's image (shared, never copied). The working array covers the image's
    // rectangle inside a one-pixel frame of 1s that nothing clears.
    explicit IiClassification(const RgbaView8& image);
    // Deletes every undo record before the arrays they view are released.
    ~IiClassification();
    IiClassification(const IiClassification&) = delete;
    IiClassification& operator=(const IiClassification&) = delete;

    const RgbaView8& image() const { return m_image; }
    Rect imageRect() const { return corvath::utility::domainOf(m_image); }

    // 0 = no change for the pixel, anything else its new status.
    Bytes& working() { return m_working; }
    // The working array with its frame.
    const Bytes& framedWorking() const { return m_framedWorking; }

    UndoStack& undoStack() { return m_undo; }
    Rect& changed() { return m_changed; }
    DirtyArea& dirty() { return m_dirty; }

    // How the running operation commits: with the session's undo stack or without, and whether
    // it has committed yet. A failed operation that commits without the stack must not take
    // back the user's previous step.
    struct CommitState {
        bool withUndo = true;
        bool done = false;
    };
    const CommitState& commitState() const { return m_commit; }
    void beginOperation(bool withUndo = true) { m_commit = CommitState{withUndo, false}; }

    // Forgets the last operation, so that nothing can commit it again (after undo and redo).
    void resetOperation()
    {
        m_changed = Rect::emptyValue();
        m_commit = CommitState();
    }

    // Commits the working array over the changed rectangle into status: one undo record on
    // undoStack (none: not undoable), then status = (status & ~write mask) | (working & write
    // mask) wherever the working value is not 0; widens the dirty rectangle. Nothing happens when
    // the changed rectangle is empty; status is unchanged when the record cannot be allocated.
    void recordStatusUndo(Bytes& status, UndoStack* undoStack);

    // Replaces status by newStatus over their overlap, as one undo record, wherever both the
    // old and the new status are non-zero; widens the dirty rectangle by the overlap.
    void setStatus(Bytes& status, const Bytes& newStatus);

    // ---- Analysis ---------------------------------------------------------------------------
    // A sub-session without its own analysis reads its parent's results under its rectangle;
    // its selects share the parent's level index.
    void adoptAnalysis(IiClassification& parent);
    // The next analysis recomputes the colour envelopes and levels from scratch.
    void requireNewEnvelopes();
    int envelopeState() const { return m_envelopeState; }

    // The analysis driver: colour envelopes, colour levels, segmentation, fine labels and the
    // region map, over the shares 0.1, 0.3, 0.9 and 1 of progress. Each step recomputes only
    // what changed settings require. analysisMask (a sub-session's patch bitmap, indexed like
    // the image) keeps every pixel where it is 0 out of all regions.
    void analyse(ProgressRange progress, const Bytes* analysisMask);
    // The envelope step: the six-channel analysis image on worker threads, attached to the
    // segmentation and the colour levels (whose levels it clears). Nothing when current.
    void envelopeStep(ProgressRange progress);
    // The colour levels and the segmentation pipeline over the driver's shares up to 0.9,
    // side by side when there is more than one processor; whether the segmentation changed.
    bool levelsAndSegmentation(ProgressRange& progress);
    // The fine labels from the segmentation's region labels: compact 4-connected regions over
    // the analysed area inside a frame of -1; emptied, with count -1, when imageTol <= 1.
    // Never modifies the segmentation's labels.
    void buildFineLabels();
    // The region-map step: the level labels and region count of level max(currentLevel, 0),
    // and the region labels rebuilt from the fine labels, each fine region relabelled by the
    // level label most of its pixels carry (when imageTol > 1; otherwise emptied). Pixels
    // outside the analysis mask are -1 in both.
    void buildRegionMap(ProgressRange progress);
    // The labels of the current colour level over the image (the region map's first step).
    void buildLevelLabels(ProgressRange progress);

    Segmentation<6, 0>& segmentation() { return m_segmentation; }
    SixChannelClassification& colourLevels() { return m_colourLevels; }
    const SixChannelImage& analysisImage() const { return m_analysisImage; }

    // Gives the stroke's pixels (strokeMask non-zero, or the whole rectangle without one) and,
    // by mode, the regions they reach the new status where the status filter lets them, and
    // commits the change as one undo record (none for forced edges and protection, nothing
    // when newValue equals matchTarget). status covers the image's rectangle. Strength picks the
    // colour level (strength - 1, kept within -1..6) of the region modes.
    void select(const Rect& stroke, const Bytes* strokeMask, Bytes& status, int mode,
                unsigned char newValue, unsigned char writeMask, unsigned char matchTarget,
                unsigned char matchMask, int strength, ProgressRange* progress);
    // Completes the last Keep or Delete select around its changed rectangle (grown by 32): in
    // the region modes, unmarked pockets that the stroke's flood over the gradient encloses
    // take its class; with bandFactor not 0, Blend disks (widthMap wide times bandFactor) follow
    // the line where the stroke meets the opposite class. Commits one more record into the
    // open undo step; nothing after any other operation, or with no stroke pixel left.
    void autoComplex(Bytes& status, ProgressRange progress, float bandFactor);
    // Fills the holes of the last operation's selection that a closing with a square of
    // level + 1 pixels closes, giving them the status it wrote, and commits over its changed
    // rectangle with the session's undo stack. Nothing happens, but a final report, when that
    // rectangle is empty; nothing at all for a level below 1.
    void despeckleSelection(Bytes& status, int level, ProgressRange progress);
    // Over status's domain (limited to area): every free pixel (Unassigned, neither forced
    // edge nor protected) takes the class opposite to fillFrom's (Keep when fillFrom holds
    // 16 or 32), and a band of Blend, widthMap wide times bandFactor, is laid along the border
    // between marked and free pixels, never within reach of a forced-edge or protected pixel.
    // Commits the whole rectangle as one record on undoStack (none: not undoable). fillFrom
    // without 2 or 4, or an empty rectangle, does nothing.
    void autoFill(Bytes& status, const std::optional<Rect>& area, unsigned char fillFrom,
                  float bandFactor, UndoStack* undoStack, ProgressRange* progress);

    // Operation parameters of the last operation.
    unsigned char newValue = 0;
    unsigned char writeMask = 0;
    unsigned char matchTarget = 0;
    unsigned char matchMask = 0;
    int mode = 0;

    AnalysisParameters& parameters;
    int maximumBits = 8;
    float percentile = 0.16f;
    std::int64_t textureSize = 1;
    int textureExtra = 0;
    // Outline parameters: point rule, simplification tolerance, smoothing amount.
    int outlinePointRule = 0;
    float outlineSimplify = 1.0f;
    float outlineSmoothing = 1.0f;
    // Mask generation leaves source pixels below this fraction of full opacity alone.
    float minimumOpacity = 1.0f;
    // The smoothing, care and greed settings of the mask stages, taken from the session's
    // variables by every mask generation.
    int maskSmooth = 5;
    int maskCareful = 16;
    int maskGreedy = 8;

    // Analysis results: the fine labels (compact 4-connected regions of the segmentation,
    // -1 outside the analysed area) and their count (-1 none); the region labels that select
    // floods, rebuilt from the fine labels by every region-map step (-1 outside any region);
    // the colour-region labels of the current level and their frame, the level index (-1
    // none) and the number of colour regions.
    Labels fineLabels;
    int fineLabelCount = -1;
    Labels regionLabels;
    Labels levelLabels;
    Labels levelLabelsFramed;
    int currentLevel = -1;
    int regionCount = 0;
    // Width of the Blend band of auto-fill and auto-complex, in pixels, per pixel of the image;
    // the analysis provides it (a view, possibly with element strides other than 1).
    Bytes widthMap;
    // The segmentation's gradient image (upper height, lower height, width per pixel) over the
    // image and a frame of at least one pixel, and the scale of its heights: auto-complex
    // floods over the lower heights. The analysis provides both (a view of the segmentation's).
    blitz::Array<blitz::TinyVector<unsigned char, 3>, 2> gradient;
    float gradientScale = 1.0f;
    // A sub-session's levels are its parent's while it has none of its own.
    IiClassification* parentLevels = nullptr;
    bool ownLevels = true;
    // The level index after a level rebuild failed: the next region select rebuilds.
    static constexpr int levelUnset = INT_MIN;

    // Test seam until the analysis builds the labels: the fine labels, and for every level
    // 0..6 the level labels that the region-map step gives (each covering the image), which
    // select's level rebuilds then copy instead of running the region-map step.
    void injectLabelsForTesting(const Labels& fineLabels, std::vector<Labels> levelLabelsByLevel);
    // Level rebuilds served from injected labels so far.
    int injectedRebuildsForTesting() const;

private:
    struct InjectedLevels;

    // Sets the level index of this object and of the object whose levels count, rebuilding
    // the level labels when the level changes.
    void chooseLevel(int level, ProgressRange* progress);
    void rebuildLevelLabels(ProgressRange progress);
    // The body of despeckleSelection, for a non-empty changed rectangle and a level of 1 or more.
    void despeckle(Bytes& status, int level, ProgressRange progress);
    // The fine labels when strength 0 asks for them and the analysis made them, else the
    // level labels.
    const Labels& floodLabels() const;
    const IiClassification& levelOwner() const;
    // The flood modes (Regions, and Local with growLocal) and the Global mode of select, each
    // reporting into the rest of select's range.
    template <typename Index>
    void floodSelect(const Rect& clip, const Bytes* strokeMask, const Bytes& status,
                     const Labels& labels, bool growLocal, ProgressRange& rest);
    void selectGlobal(const Rect& clip, const Bytes* strokeMask, const Bytes& status,
                      const Labels& labels, ProgressRange& rest);

    Rect m_changed = Rect::emptyValue();
    CommitState m_commit;
    std::shared_ptr<InjectedLevels> m_injectedLevels;
    RgbaView8 m_image;
    // Analysis state: the envelope source while the envelope step runs (state 1), whether
    // the envelopes are current (2) or must be computed (0), the worker record of the envelope
    // threads, and whether the fine labels belong to the segmentation's last run.
    SixChannelClassification m_colourLevels;
    SixChannelImage m_analysisImage;
    RgbaView8 m_envelopeSource;
    int m_envelopeSourceState = 0;
    int m_envelopeState = 0;
    JobRecord m_envelopeJobs;
    bool m_fineLabelsCurrent = false;
    // Set where the analysis made the level labels beside the segmentation; the region map
    // then uses them once.
    bool m_levelLabelsCurrent = false;
    // The last analysis's mask (a view of the caller's bytes); empty for none.
    Bytes m_analysisMask;
    Bytes m_framedWorking;
    Bytes m_working;
    UndoStack m_undo{undoDepth};
    DirtyArea m_dirty;
    // Auto-complex's work table, kept from one stroke to the next: mapping tens of megabytes
    // afresh, which the kernel must clear, cost a stroke more than filling them. An analysis
    // gives it back before it allocates.
    std::vector<AutoComplexCell, platform::UnsetAllocator<AutoComplexCell>> m_autoComplexCells;
};

} // namespace classification
