// Operation bodies that are not part of this build yet. Each throws NotBuilt, which the
// session's operation frame reports as an internal failure.
#include "session/classification.h"
#include "session/session.h"

namespace classification {


} // namespace classification
