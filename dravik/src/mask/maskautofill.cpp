// Auto-fill for mask generation: a mask needs Keep and Delete; a one-sided marking is
// completed by the session's auto-fill, first over the working rectangle, then over the image.
#include "mask/generatemask.h"

#include <cstddef>

namespace classification {

namespace {

// The status bits found anywhere in r.
unsigned char bitsIn(const Bytes& status, const Rect& r)
{
    unsigned char found = 0;
    const std::ptrdiff_t s1 = status.stride(1);
    for (int x = r.x1; x <= r.x2; ++x) {
        const unsigned char* p = &status(x, r.y1);
        for (int y = r.y1; y <= r.y2; ++y, p += s1)
            found |= *p;
        if ((found & (StatusUnassigned | StatusKeep | StatusDelete)) ==
            (StatusUnassigned | StatusKeep | StatusDelete))
            break;
    }
    return found;
}

void fill(IiClassification& c, Bytes& status, unsigned char fillFrom, float bandFactor,
          UndoStack& undo, ProgressRange& progress)
{
    undo.beginStep();
    ProgressRange child = progress.nextStep(0.2f);
    c.autoFill(status, std::nullopt, fillFrom, bandFactor, &undo, &child);
}

} // namespace

MaskAutoFill autoFillForMask(IiClassification& c, const Rect& whole, const Rect& work, Bytes& status,
                             const Rect& extended, float bandFactor, UndoStack& undo,
                             ProgressRange progress)
{
    MaskAutoFill result{whole, false, false};
    const bool partial = work != whole;
    Bytes v = corvath::utility::viewOf(status, work);
    if (partial) {
        const unsigned char bits = bitsIn(status, work);
        result.hasKeep = bits & StatusKeep;
        result.hasDelete = bits & StatusDelete;
        if (result.hasKeep && result.hasDelete) {
            result.sampleRect = extended;
            return result;
        }
        if ((bits & StatusUnassigned) && result.hasKeep != result.hasDelete) {
            fill(c, v, result.hasKeep ? StatusKeep : StatusDelete, bandFactor, undo, progress);
            const unsigned char after = bitsIn(status, work);
            result.hasKeep = after & StatusKeep;
            result.hasDelete = after & StatusDelete;
            if (result.hasKeep && result.hasDelete) {
                result.sampleRect = extended;
                return result;
            }
        }
    }
    if (result.hasKeep && result.hasDelete)
        return result;
    const unsigned char wholeBits = bitsIn(status, whole);
    if (!result.hasKeep)
        result.hasKeep = wholeBits & StatusKeep;
    if (!result.hasDelete)
        result.hasDelete = wholeBits & StatusDelete;
    if (!(wholeBits & StatusUnassigned) || result.hasKeep == result.hasDelete)
        return result;
    Bytes w = corvath::utility::viewOf(status, whole);
    fill(c, w, result.hasKeep ? StatusKeep : StatusDelete, bandFactor, undo, progress);
    const unsigned char after = bitsIn(status, work);
    result.hasKeep = after & StatusKeep;
    result.hasDelete = after & StatusDelete;
    if (result.hasKeep && result.hasDelete) {
        result.sampleRect = extended;
    } else if (partial) {
        const unsigned char again = bitsIn(status, whole);
        if (!result.hasKeep)
            result.hasKeep = again & StatusKeep;
        if (!result.hasDelete)
            result.hasDelete = again & StatusDelete;
    }
    return result;
}

} // namespace classification
