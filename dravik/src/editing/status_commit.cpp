// The commit of the classification operations and set status: both record one undo record
// before they write, so a failed allocation leaves the status array as it was.
#include "session/classification.h"

#include <stdexcept>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace classification {

namespace {

using corvath::utility::covers;
using corvath::utility::domainOf;
using corvath::utility::intersect;
using corvath::utility::viewOf;

// Calls f(row of a, row of b, row of c, element steps, row length) for each row of three
// arrays of the same extents.
template <typename A, typename B, typename C, typename F>
void forRows3(A& a, B& b, C& c, F f)
{
    const int rows = a.extent(0), cols = a.extent(1);
    auto* pa = a.dataFirst();
    auto* pb = b.dataFirst();
    auto* pc = c.dataFirst();
    for (int i = 0; i < rows; ++i)
        f(pa + i * a.stride(0), pb + i * b.stride(0), pc + i * c.stride(0), a.stride(1), b.stride(1),
          c.stride(1), cols);
}

} // namespace

void IiClassification::recordStatusUndo(Bytes& status, UndoStack* undoStack)
{
    if (m_changed.isEmpty())
        return;
    if (!covers(domainOf(status), m_changed))
        throw std::invalid_argument("the status array does not cover the changed rectangle");

    Bytes target = viewOf(status, m_changed);
    const Bytes working = viewOf(m_working, m_changed);
    if (undoStack) {
        // The record keeps d = (working ^ status) & write mask wherever working is not 0: exactly
        // the change of the write below, also where a working value's other bits are not the
        // pixel's own.
        auto record = std::make_unique<IiUndoModifyStatus>(working, target, writeMask);
        if (undoStack->undoCount() == 0 || undoStack->redoCount() != 0)
            undoStack->beginStep();
        undoStack->push(std::move(record));
    }

    const unsigned char keep = static_cast<unsigned char>(~writeMask), take = writeMask;
    const int rows = m_changed.x2 - m_changed.x1 + 1, cols = m_changed.y2 - m_changed.y1 + 1;
    const long sRow = target.stride(0), sCol = target.stride(1);
    const long wRow = working.stride(0), wCol = working.stride(1);
    unsigned char* s0 = target.dataFirst();
    const unsigned char* w0 = working.dataFirst();
    for (int i = 0; i < rows; ++i) {
        unsigned char* s = s0 + i * sRow;
        const unsigned char* w = w0 + i * wRow;
        int j = 0;
#ifdef __SSE2__
        // Sixteen pixels at a time, each keeping its value where the working value is 0.
        if (sCol == 1 && wCol == 1) {
            const __m128i zero = _mm_setzero_si128(), kept = _mm_set1_epi8(char(keep)),
                          taken = _mm_set1_epi8(char(take));
            for (; j + 16 <= cols; j += 16, s += 16, w += 16) {
                const __m128i nw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w));
                const __m128i ns = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
                const __m128i unset = _mm_cmpeq_epi8(nw, zero);
                const __m128i written = _mm_or_si128(_mm_and_si128(ns, kept), _mm_and_si128(nw, taken));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(s),
                                 _mm_or_si128(_mm_and_si128(unset, ns), _mm_andnot_si128(unset, written)));
            }
        }
#endif
        for (; j < cols; ++j, s += sCol, w += wCol)
            if (*w)
                *s = static_cast<unsigned char>((*s & keep) | (*w & take));
    }
    widenDirty(m_dirty, m_changed);
}

void IiClassification::setStatus(Bytes& status, const Bytes& newStatus)
{
    const Rect r = intersect(domainOf(status), domainOf(newStatus));
    if (r.isEmpty())
        return;

    Bytes target = viewOf(status, r);
    const Bytes incoming = viewOf(newStatus, r);
    // The change a pixel takes: the new status where both old and new are non-zero, so that
    // the record undoes exactly what the write below does.
    Bytes change(blitz::Range(r.x1, r.x2), blitz::Range(r.y1, r.y2));
    forRows3(target, incoming, change,
             [](const unsigned char* s, const unsigned char* n, unsigned char* c, long sStep,
                long nStep, long cStep, int cols) {
                 for (int j = 0; j < cols; ++j, s += sStep, n += nStep, c += cStep)
                     *c = *s ? *n : 0;
             });

    auto record = std::make_unique<IiUndoModifyStatus>(change, target);
    if (m_undo.undoCount() == 0 || m_undo.redoCount() != 0)
        m_undo.beginStep();
    m_undo.push(std::move(record));

    // Written only after the record is safely on the stack.
    forRows3(target, change, change,
             [](unsigned char* s, const unsigned char* c, const unsigned char*, long sStep, long cStep,
                long, int cols) {
                 for (int j = 0; j < cols; ++j, s += sStep, c += cStep)
                     if (*c)
                         *s = *c;
             });
    widenDirty(m_dirty, r);
    m_changed = Rect::emptyValue();
}

} // namespace classification
