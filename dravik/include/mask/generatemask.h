#pragma once
// Mask generation: the session's classification turned into the cut-out's alpha and colours.
// Auto-fill completes one-sided markings, the mask core and the matting solver decide the
// pixels patch by patch, and the forced-edge pass cuts along the user's lines.

#include "session/classification.h"
#include "mask/maskcore.h"
#include "mask/maskpatch.h"

#include <optional>
#include <vector>

namespace classification {

// What auto-fill for the mask found: the rectangle the colour models sample, and whether the
// working rectangle (else the whole status array) holds Keep and Delete.
struct MaskAutoFill {
    Rect sampleRect;
    bool hasKeep = false;
    bool hasDelete = false;
};

// Completes a one-sided marking of `work` (else of the whole status array) with the session's
// auto-fill, each run one new step on `undo` (at most two). The sample rectangle is `extended`
// when `work` holds both classes, else `whole`.
MaskAutoFill autoFillForMask(IiClassification& c, const Rect& whole, const Rect& work, Bytes& status,
                             const Rect& extended, float bandFactor, UndoStack& undo,
                             ProgressRange progress);

// A forced edge: its width and its polyline as (row, column) points.
struct ForcedEdge {
    float width = 0.f;
    std::vector<FloatPair> points;
};

// The forced edges of a call (session coordinates) with the call's band factor and level.
struct ForcedEdgeSet {
    std::vector<ForcedEdge> edges;
    float bandFactor = 0.f;
    float level = 0.f;
};

// The forced-edge pass: edges at full resolution (points and width already scaled by `scale`).
// Every output pixel within a segment's feather of its line takes the source colour and a
// smooth alpha ramp across the line (M/2 on it), the nearest edge deciding, where the
// segment's band meets Keep on one side and Delete on the other within the image (a Blend or
// Unassigned band taking the classes beyond it); pixels whose source alpha is below M x the
// minimum opacity are left alone. A segment whose band lies in one class, or in one class and
// outside the image, changes nothing. Returns 0; reports no progress. M = 255, 65535 for
// maskPass<unsigned short>, 32768 for maskPassVariant.
template <typename T>
int maskPass(float minimumOpacity, ColourImage<T>& out, const ColourImage<T>& source,
             const Bytes& status, FloatPair scale, const std::vector<ForcedEdge>& edges,
             ProgressRange progress);
template <typename T>
int maskPassVariant(float minimumOpacity, ColourImage<T>& out, const ColourImage<T>& source,
                    const Bytes& status, FloatPair scale, const std::vector<ForcedEdge>& edges,
                    ProgressRange progress);

// Generates the mask of the working rectangle (the session image, limited to `area` in session
// coordinates) into `output` (full resolution, already a copy of the cut-out) from `source`.
// status is the session's status array, factor the full-resolution pixels per session pixel.
// Returns 0 when done, 1 when there is nothing to do (empty working rectangle or exclusive
// patch). A matting patch whose colours cannot be sampled (no Keep or no Delete among its
// pixels) is marked unsolved and changes nothing: its pixels are made as if it were not there.
// Bits 64 and 128 never survive in the status array; with an area or an exclusive patch the
// auto-fill steps are undone before any way out (cancel and failures included), for
// the whole image they stay on the session's undo stack. The cancel and allocation exceptions
// pass through. generateMaskVariant is the same for 16-bit samples on 0..32768.
template <typename T>
int generateMask(IiClassification& c, ColourImage<T>& output, const ColourImage<T>& source,
                 Bytes& status, const std::optional<Rect>& area, FloatPair factor,
                 const ForcedEdgeSet& edgeSet, std::vector<MaskPatch>& patches,
                 ProgressRange progress);
template <typename T>
int generateMaskVariant(IiClassification& c, ColourImage<T>& output, const ColourImage<T>& source,
                        Bytes& status, const std::optional<Rect>& area, FloatPair factor,
                        const ForcedEdgeSet& edgeSet, std::vector<MaskPatch>& patches,
                        ProgressRange progress);

} // namespace classification
