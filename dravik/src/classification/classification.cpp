#include "classification/classification.h"

namespace classification {

namespace {

using corvath::utility::domainOf;
using corvath::utility::grow;
using corvath::utility::intersect;

// A view of a over r that keeps the indices of a (sub-arrays otherwise start at a's base).
template <typename T>
blitz::Array<T, 2> regionOf(const blitz::Array<T, 2>& a, const Rect& r)
{
    blitz::Array<T, 2> v = a(blitz::Range(r.x1, r.x2), blitz::Range(r.y1, r.y2));
    v.reindexSelf(blitz::TinyVector<int, 2>(r.x1, r.y1));
    return v;
}

// Raw row walk over two arrays of the same extents.
struct RowCursor {
    unsigned char* first;
    long rowStep;
    long colStep;
};

RowCursor cursorOf(const Bytes& a)
{
    return {const_cast<unsigned char*>(a.dataFirst()), long(a.stride(0)), long(a.stride(1))};
}

template <typename T>
blitz::Array<T, 2> labelsUnder(const blitz::Array<T, 2>& parent, const Rect& r)
{
    if (parent.numElements() == 0)
        return blitz::Array<T, 2>();
    const Rect inside = intersect(r, domainOf(parent));
    if (inside.isEmpty())
        return blitz::Array<T, 2>();
    return regionOf(parent, inside);
}

} // namespace

IiClassification::IiClassification(const RgbaView8& image) : m_image(image)
{
    const Rect r = domainOf(image);
    const Rect framed = grow(r, 1);
    m_framedWorking.resize(blitz::Range(framed.x1, framed.x2), blitz::Range(framed.y1, framed.y2));
    m_framedWorking = 1;
    m_working.reference(regionOf(m_framedWorking, r));
    m_working = 0;
}

IiClassification::~IiClassification() { m_undo.clear(); }

void IiClassification::setStatus(Bytes& status, const Bytes& newStatus)
{
    const Rect r = intersect(domainOf(status), domainOf(newStatus));
    if (r.isEmpty())
        return;

    Bytes target = regionOf(status, r);
    const Bytes incoming = regionOf(newStatus, r);
    // The change a pixel takes: the new status where both old and new are non-zero, so that
    // the record undoes exactly what the write below does.
    Bytes change(blitz::Range(r.x1, r.x2), blitz::Range(r.y1, r.y2));
    const int rows = r.x2 - r.x1 + 1, cols = r.y2 - r.y1 + 1;
    {
        const RowCursor s = cursorOf(target), n = cursorOf(incoming), c = cursorOf(change);
        for (int i = 0; i < rows; ++i) {
            const unsigned char* sp = s.first + i * s.rowStep;
            const unsigned char* np = n.first + i * n.rowStep;
            unsigned char* cp = c.first + i * c.rowStep;
            for (int j = 0; j < cols; ++j, sp += s.colStep, np += n.colStep, cp += c.colStep)
                *cp = *sp ? *np : 0;
        }
    }

    auto record = std::make_unique<IiUndoModifyStatus>(change, target);
    if (m_undo.undoCount() == 0 || m_undo.redoCount() != 0)
        m_undo.beginStep();
    m_undo.push(std::move(record));

    // Written only after the record is safely on the stack.
    const RowCursor s = cursorOf(target), c = cursorOf(change);
    for (int i = 0; i < rows; ++i) {
        unsigned char* sp = s.first + i * s.rowStep;
        const unsigned char* cp = c.first + i * c.rowStep;
        for (int j = 0; j < cols; ++j, sp += s.colStep, cp += c.colStep)
            if (*cp)
                *sp = *cp;
    }
    widenDirty(m_dirty, r);
    m_changed = Rect::emptyValue();
}

void IiClassification::adoptAnalysis(const IiClassification& parent)
{
    const Rect r = imageRect();
    regionLabels.reference(labelsUnder(parent.regionLabels, r));
    levelLabels.reference(labelsUnder(parent.levelLabels, r));
    currentLevel = parent.currentLevel;
    regionCount = parent.regionCount;
    parentLevels = &parent;
    ownLevels = false;
}

} // namespace classification
