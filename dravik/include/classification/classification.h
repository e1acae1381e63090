#pragma once
// The classification object of one session: the image it classifies, the working status
// array with its frame, the changed and dirty rectangles of the operations, the status undo
// stack and the analysis results the operations read. The analysis driver and the operation
// bodies extend it.

#include "classification/imageview.h"
#include "classification/progress.h"
#include "classification/rect.h"
#include "classification/undo.h"

#include <blitz/array.h>

#include <cstdint>
#include <optional>
#include <stdexcept>

namespace classification {

using Bytes = blitz::Array<unsigned char, 2>;
using Labels = blitz::Array<int, 2>;

// Status bits of a pixel.
enum StatusBit : unsigned char {
    StatusUnassigned = 1,
    StatusKeep = 2,
    StatusDelete = 4,
    StatusBlend = 8,
    StatusForcedEdge = 16,
    StatusProtected = 32,
};

// Thrown by an operation whose body is not part of this build.
struct NotBuilt : std::logic_error {
    explicit NotBuilt(const char* what) : std::logic_error(what) {}
};

// The analysis settings the session copies from its engine variables.
struct AnalysisParameters {
    int colourBits = -1;
    float featureTol = 1.1f;
    float imageTol = 2.0f;
    float focus = 0.0f;
    float spareC = -1.0f;
    int interpolation = 0;
    int resolution = 8;
    int overlap = 1;
    int histogramLevel = -1;
    int inFocusEdgeWidth = 2;
    int blendMode = 0;
    int fgSampling = 1;
    int bgSampling = 1;
};

class IiClassification {
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

    // Forgets the last operation, so that nothing can commit it again (after undo and redo).
    void resetOperation() { m_changed = Rect::emptyValue(); }

    // Replaces status by newStatus over their overlap, as one undo record, wherever both the
    // old and the new status are non-zero; widens the dirty rectangle by the overlap.
    void setStatus(Bytes& status, const Bytes& newStatus);

    // A sub-session without its own analysis reads its parent's results under its rectangle.
    void adoptAnalysis(const IiClassification& parent);
    // The next analysis recomputes the colour envelopes and levels from scratch.
    void requireNewEnvelopes() { m_envelopeState = 0; }
    int envelopeState() const { return m_envelopeState; }

    // Operation bodies that arrive with the analysis and the classification operations;
    // until then they throw NotBuilt.
    void analyse(ProgressRange progress, const Labels* extraLabels);
    void select(const Rect& stroke, const Bytes* strokeMask, Bytes& status, int mode,
                unsigned char newValue, unsigned char writeMask, unsigned char matchTarget,
                unsigned char matchMask, int strength, ProgressRange* progress);
    void autoComplex(Bytes& status, ProgressRange progress, float bandFactor);
    void despeckleSelection(Bytes& status, int level, ProgressRange progress);
    void autoFill(Bytes& status, const std::optional<Rect>& area, unsigned char fillFrom,
                  float bandFactor, UndoStack* undoStack, ProgressRange* progress);

    // Operation parameters of the last operation.
    unsigned char newValue = 0;
    unsigned char writeMask = 0;
    unsigned char matchTarget = 0;
    unsigned char matchMask = 0;
    int mode = 0;

    AnalysisParameters parameters;
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

    // Analysis results: region number per pixel (-1 outside any region), the colour-region
    // labels of the current level and their frame, the level index (-1 none) and the number
    // of colour regions.
    Labels regionLabels;
    Labels levelLabels;
    Labels levelLabelsFramed;
    int currentLevel = -1;
    int regionCount = 0;
    // A sub-session's levels are its parent's while it has none of its own.
    const IiClassification* parentLevels = nullptr;
    bool ownLevels = true;

private:
    Rect m_changed = Rect::emptyValue();
    RgbaView8 m_image;
    int m_envelopeState = 0;
    Bytes m_framedWorking;
    Bytes m_working;
    UndoStack m_undo{undoDepth};
    DirtyArea m_dirty;
};

} // namespace classification
