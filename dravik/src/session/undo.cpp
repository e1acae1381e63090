#include "session/undo.h"
#include "common/bandthreads.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <stdexcept>

namespace classification {

namespace {

// Calls f(pointer to a row's first element, element step within the row, row length) for
// every row of a two-dimensional array in storage order.
template <typename T, typename F>
void forEachRow(const blitz::Array<T, 2>& a, F f)
{
    const int outer = a.ordering(1), inner = a.ordering(0);
    const int rows = a.extent(outer), cols = a.extent(inner);
    const long rowStride = a.stride(outer), colStride = a.stride(inner);
    T* base = const_cast<T*>(a.dataFirst());
    for (int r = 0; r < rows; ++r)
        f(base + r * rowStride, colStride, cols);
}

} // namespace

IiUndoModifyStatus::IiUndoModifyStatus(const blitz::Array<unsigned char, 2>& change,
                                       const blitz::Array<unsigned char, 2>& status, unsigned char written)
    : m_rect(corvath::utility::domainOf(change)), m_status(status)
{
    if (change.extent(0) != status.extent(0) || change.extent(1) != status.extent(1))
        throw std::invalid_argument("undo record over arrays of different extents");
    if (change.numElements() == 0)
        return;

    // Bands of rows find their runs of equal masks side by side, each run whole whatever its
    // length; joined band after band, a run that goes on across a border is one run, split
    // into entries of at most maxRunLength from its start, as one walk over all rows makes
    // them.
    const int outer = change.ordering(1), inner = change.ordering(0);
    const int rows = change.extent(outer), cols = change.extent(inner);
    const long aRow = change.stride(outer), aCol = change.stride(inner);
    const long sRow = status.stride(status.ordering(1)), sCol = status.stride(status.ordering(0));
    const unsigned char* const aBase = change.dataFirst();
    const unsigned char* const sBase = status.dataFirst();
    struct Run {
        std::uint64_t length;
        unsigned char mask;
    };
    const int bands = bandCount(rows, cols);
    std::vector<std::vector<Run>> found(static_cast<std::size_t>(bands));
    const auto findRuns = [&](int b) {
        std::vector<Run>& runs = found[std::size_t(b)];
        std::uint64_t length = 0;
        unsigned char mask = 0;
        const auto add = [&](unsigned char d) {
            if (d != mask && length > 0) {
                runs.push_back({length, mask});
                length = 0;
            }
            mask = d;
            ++length;
        };
        for (int r = bandStart(rows, bands, b); r < bandStart(rows, bands, b + 1); ++r) {
            const unsigned char* a = aBase + r * aRow;
            const unsigned char* s = sBase + r * sRow;
            int c = 0;
#ifdef __SSE2__
            // Sixteen masks at a time; where all carry the open run's, it grows by sixteen.
            if (aCol == 1 && sCol == 1) {
                const __m128i zero = _mm_setzero_si128(), bits = _mm_set1_epi8(char(written));
                alignas(16) unsigned char ds[16];
                for (; c + 16 <= cols; c += 16, a += 16, s += 16) {
                    const __m128i na = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
                    const __m128i ns = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
                    const __m128i d =
                        _mm_andnot_si128(_mm_cmpeq_epi8(na, zero), _mm_and_si128(_mm_xor_si128(na, ns), bits));
                    if (length > 0 && _mm_movemask_epi8(_mm_cmpeq_epi8(d, _mm_set1_epi8(char(mask)))) == 0xFFFF) {
                        length += 16;
                        continue;
                    }
                    _mm_store_si128(reinterpret_cast<__m128i*>(ds), d);
                    for (const unsigned char one : ds)
                        add(one);
                }
            }
#endif
            for (; c < cols; ++c, a += aCol, s += sCol)
                // Every pixel the change touches is recorded, whatever its old status, so that
                // undo restores it exactly.
                add(*a ? static_cast<unsigned char>((*a ^ *s) & written) : 0);
        }
        if (length > 0)
            runs.push_back({length, mask});
    };
    // A thread that cannot start fails the record: no allocation failure is hidden from the
    // caller.
    runBands(bands, findRuns, ThreadStartFailure::rethrow);
    Run open{0, 0};
    const auto emit = [this](const Run& run) {
        for (std::uint64_t left = run.length; left > 0;) {
            const auto length = std::uint32_t(std::min<std::uint64_t>(left, maxRunLength));
            m_runs.push_back((length << 8) | run.mask);
            left -= length;
        }
    };
    for (const std::vector<Run>& runs : found)
        for (const Run& run : runs) {
            if (open.length > 0 && run.mask == open.mask) {
                open.length += run.length;
                continue;
            }
            if (open.length > 0)
                emit(open);
            open = run;
        }
    emit(open);
}

void IiUndoModifyStatus::apply(DirtyArea& target)
{
    auto run = m_runs.begin();
    std::uint32_t left = run != m_runs.end() ? (*run >> 8) : 0;
    forEachRow(m_status, [&](unsigned char* s, long step, int cols) {
        for (int c = 0; c < cols; ++c, s += step) {
            while (left == 0 && run != m_runs.end()) {
                ++run;
                left = run != m_runs.end() ? (*run >> 8) : 0;
            }
            if (run == m_runs.end())
                return;
            *s ^= static_cast<unsigned char>(*run & 0xFF);
            --left;
        }
    });
    widenDirty(target, m_rect);
}

UndoStack::UndoStack(std::uint32_t maxDepth)
    // A stack that keeps no step could not take back the step being recorded.
    : m_maxDepth(maxDepth > 0 ? maxDepth : 1)
{
}

void UndoStack::beginStep()
{
    clearRedo();
    m_steps.push_back(nullptr);
    if (m_undoCount < m_maxDepth) {
        ++m_undoCount;
        return;
    }
    dropOldestStep();
}

void UndoStack::dropOldestStep()
{
    // Remove the oldest marker and its records (and any record pushed before the first step).
    bool markerSeen = false;
    while (!m_steps.empty()) {
        if (!m_steps.front()) {
            if (markerSeen)
                break;
            markerSeen = true;
        }
        m_steps.pop_front();
    }
}

void UndoStack::undo(DirtyArea& target)
{
    if (m_undoCount == 0)
        return;
    m_redo.push_back(nullptr);
    ++m_redoCount;
    while (!m_steps.empty() && m_steps.back()) {
        m_steps.back()->undo(target);
        m_redo.push_back(std::move(m_steps.back()));
        m_steps.pop_back();
    }
    if (!m_steps.empty())
        m_steps.pop_back();
    --m_undoCount;
}

void UndoStack::redo(DirtyArea& target)
{
    if (m_redoCount == 0)
        return;
    m_steps.push_back(nullptr);
    ++m_undoCount;
    while (!m_redo.empty() && m_redo.back()) {
        m_steps.push_back(std::move(m_redo.back()));
        m_redo.pop_back();
        m_steps.back()->redo(target);
    }
    if (!m_redo.empty())
        m_redo.pop_back();
    --m_redoCount;
}

void UndoStack::push(std::unique_ptr<IiUndoStep> record)
{
    if (record)
        m_steps.push_back(std::move(record));
}

void UndoStack::clearRedo()
{
    m_redo.clear();
    m_redoCount = 0;
}

void UndoStack::appendSteps(UndoStack& other)
{
    std::size_t moved = 0;
    try {
        for (std::unique_ptr<IiUndoStep>& record : other.m_steps) {
            m_steps.push_back(std::move(record));
            ++moved;
        }
    } catch (...) {
        // A failed push moves nothing, so every record goes back to its own slot.
        for (std::size_t i = moved; i-- > 0;) {
            other.m_steps[i] = std::move(m_steps.back());
            m_steps.pop_back();
        }
        throw;
    }
    clearRedo();
    m_undoCount += other.m_undoCount;
    for (; m_undoCount > m_maxDepth; --m_undoCount)
        dropOldestStep();
    other.clear();
}

void UndoStack::clear()
{
    m_steps.clear();
    m_redo.clear();
    m_undoCount = 0;
    m_redoCount = 0;
}

} // namespace classification
