#pragma once
// The status undo stack: steps of run-length XOR records over the session's status array.

#include "common/rect.h"

#include <blitz/array.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

namespace classification {

using corvath::utility::Rect;

// What an undo record reports back to: the classification's dirty rectangle, absent when
// nothing has been touched since it was last read.
using DirtyArea = std::optional<Rect>;

inline void widenDirty(DirtyArea& dirty, const Rect& r)
{
    dirty = dirty ? corvath::utility::unite(*dirty, r) : r;
}

class IiUndoStep {
public:
    virtual ~IiUndoStep() = default;
    virtual void undo(DirtyArea& target) = 0;
    virtual void redo(DirtyArea& target) = 0;
};

// A status change as XOR masks, one run-length entry per run of equal masks:
// bits 0-7 the mask, bits 8-31 the run length.
class IiUndoModifyStatus : public IiUndoStep {
public:
    static constexpr std::uint32_t maxRunLength = 0xFFFFFF;

    // change: the new values (0 = unchanged) over the area; status: the status array over the
    // same area, still holding the old values; written: the bits that the change replaces.
    // Keeps a view of the status memory alive.
    IiUndoModifyStatus(const blitz::Array<unsigned char, 2>& change,
                       const blitz::Array<unsigned char, 2>& status, unsigned char written = 0xFF);

    void undo(DirtyArea& target) override { apply(target); }
    void redo(DirtyArea& target) override { apply(target); }

    const Rect& rectangle() const { return m_rect; }
    const std::vector<std::uint32_t>& runs() const { return m_runs; }

private:
    void apply(DirtyArea& target);

    Rect m_rect;
    std::vector<std::uint32_t> m_runs;
    blitz::Array<unsigned char, 2> m_status;
};

class UndoStack {
public:
    explicit UndoStack(std::uint32_t maxDepth);
    ~UndoStack() { clear(); }
    UndoStack(const UndoStack&) = delete;
    UndoStack& operator=(const UndoStack&) = delete;

    void beginStep();
    void undo(DirtyArea& target);
    void redo(DirtyArea& target);
    // The stack owns the record from now on; it belongs to the open step.
    void push(std::unique_ptr<IiUndoStep> record);
    void clearRedo();
    void clear();
    // Appends the other stack's steps, oldest first, as this stack's newest ones, dropping the
    // redo steps and, beyond the depth, the oldest steps; the other stack is left empty. When an
    // allocation fails both stacks are left as they were.
    void appendSteps(UndoStack& other);

    std::uint32_t undoCount() const { return m_undoCount; }
    std::uint32_t redoCount() const { return m_redoCount; }
    std::uint32_t maxDepth() const { return m_maxDepth; }

private:
    void dropOldestStep();

    std::uint32_t m_undoCount = 0;
    std::uint32_t m_redoCount = 0;
    std::uint32_t m_maxDepth;
    // A step is a null marker followed by its records, oldest step at the front.
    std::deque<std::unique_ptr<IiUndoStep>> m_steps;
    // Each undone step is a null marker followed by its records newest first.
    std::vector<std::unique_ptr<IiUndoStep>> m_redo;
};

} // namespace classification
