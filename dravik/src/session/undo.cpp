#include "session/undo.h"

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

    // Walk the change array row by row and step a cursor through the status view beside it.
    const long sRow = status.stride(status.ordering(1)), sCol = status.stride(status.ordering(0));
    const unsigned char* sBase = status.dataFirst();
    int row = 0;
    std::uint32_t length = 0;
    unsigned char mask = 0;
    forEachRow(change, [&](unsigned char* a, long aStep, int cols) {
        const unsigned char* s = sBase + row++ * sRow;
        for (int c = 0; c < cols; ++c, a += aStep, s += sCol) {
            // Every pixel the change touches is recorded, whatever its old status, so that
            // undo restores it exactly.
            const unsigned char d = *a ? static_cast<unsigned char>((*a ^ *s) & written) : 0;
            if (length > 0 && (d != mask || length == maxRunLength)) {
                m_runs.push_back((length << 8) | mask);
                length = 0;
            }
            mask = d;
            ++length;
        }
    });
    m_runs.push_back((length << 8) | mask);
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
