// Operation bodies that are not part of this build yet. Each throws NotBuilt, which the
// session's operation frame reports as an internal failure.
#include "classification/classification.h"
#include "classification/session.h"

namespace classification {

void IiClassification::autoComplex(Bytes&, ProgressRange, float)
{
    throw NotBuilt("auto-complex is not built yet");
}

void IiClassification::despeckleSelection(Bytes&, int, ProgressRange)
{
    throw NotBuilt("despeckle is not built yet");
}

void IiClassification::autoFill(Bytes&, const std::optional<Rect>&, unsigned char, float, UndoStack*,
                                ProgressRange*)
{
    throw NotBuilt("auto-fill is not built yet");
}

} // namespace classification

DvResult DvInSession::generateMask(const DvImageDesc&, const DvImageDesc&, DvInImage&,
                                   const classification::Rect&, int, const DvForcedEdge*, int, float,
                                   float, const DvMaskPatch*, int)
{
    throw classification::NotBuilt("mask generation is not built yet");
}
