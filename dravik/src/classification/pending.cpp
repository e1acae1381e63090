// Operation bodies that are not part of this build yet. Each throws NotBuilt, which the
// session's operation frame reports as an internal failure.
#include "classification/classification.h"
#include "classification/session.h"

namespace classification {


} // namespace classification

DvResult DvInSession::generateMask(const DvImageDesc&, const DvImageDesc&, DvInImage&,
                                   const classification::Rect&, int, const DvForcedEdge*, int, float,
                                   float, const DvMaskPatch*, int)
{
    throw classification::NotBuilt("mask generation is not built yet");
}
