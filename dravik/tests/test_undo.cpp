#include "session/undo.h"
#include "platform/clock.h"

#include <gtest/gtest.h>

#include <random>

using namespace classification;
using Bytes = blitz::Array<unsigned char, 2>;

namespace {

// Records a change of `status` to `change` (0 = unchanged) as one undo record and applies it,
// the way a commit does.
std::unique_ptr<IiUndoModifyStatus> commit(Bytes status, const Bytes& change)
{
    auto record = std::make_unique<IiUndoModifyStatus>(change, status);
    status = blitz::where(change != 0, change, status);
    return record;
}

Bytes randomStatus(int rows, int cols, unsigned seed)
{
    Bytes a(rows, cols);
    std::mt19937 rng(seed);
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j)
            a(i, j) = static_cast<unsigned char>(rng() & 0x3F);
    return a;
}

bool same(const Bytes& a, const Bytes& b) { return blitz::all(a == b); }

} // namespace

TEST(UndoStack, CountsAtAndBeyondDepth)
{
    UndoStack stack(200);
    DirtyArea dirty;
    stack.undo(dirty);
    stack.redo(dirty);
    EXPECT_EQ(stack.undoCount(), 0u);
    EXPECT_EQ(stack.redoCount(), 0u);
    EXPECT_FALSE(dirty);

    Bytes status(4, 4);
    status = 1;
    Bytes change(4, 4);
    for (int i = 0; i < 201; ++i) {
        stack.beginStep();
        change = static_cast<unsigned char>(2 + (i & 1) * 2);
        stack.push(commit(status, change));
    }
    EXPECT_EQ(stack.undoCount(), 200u);
    for (int i = 0; i < 200; ++i)
        stack.undo(dirty);
    EXPECT_EQ(stack.undoCount(), 0u);
    EXPECT_EQ(stack.redoCount(), 200u);
    // The first step fell off: undoing everything left returns to its result, not to 1.
    EXPECT_TRUE(blitz::all(status == 2));

    stack.redo(dirty);
    stack.beginStep();
    EXPECT_EQ(stack.redoCount(), 0u) << "a new step discards the redo side";
    EXPECT_EQ(stack.undoCount(), 2u);
}

TEST(UndoStack, KeepToDeleteUndoneAndRedoneWidensDirty)
{
    Bytes status(10, 10);
    status = 2;
    UndoStack stack(200);
    stack.beginStep();
    Bytes change(status(blitz::Range(2, 4), blitz::Range(3, 7)).shape());
    change.reindexSelf(blitz::TinyVector<int, 2>(2, 3));
    change = 4;
    stack.push(commit(status(blitz::Range(2, 4), blitz::Range(3, 7)), change));
    EXPECT_EQ(status(3, 5), 4);

    DirtyArea dirty = Rect{0, 0, 0, 0};
    stack.undo(dirty);
    EXPECT_TRUE(blitz::all(status == 2));
    EXPECT_EQ(*dirty, (Rect{0, 0, 4, 7}));
    dirty.reset();
    stack.redo(dirty);
    EXPECT_EQ(*dirty, (Rect{2, 3, 4, 7}));
    EXPECT_EQ(status(2, 3), 4);
    EXPECT_EQ(status(1, 3), 2);
}

TEST(UndoStack, RecordsEveryTouchedPixelExactly)
{
    // Random old statuses (zeros included) and a sparse random change: undo and redo must
    // restore both states byte for byte, and untouched pixels must have mask 0.
    Bytes status = randomStatus(37, 53, 1);
    Bytes change = randomStatus(37, 53, 2);
    change = blitz::where(change < 20, change, 0);
    const Bytes before = status.copy();
    UndoStack stack(10);
    stack.beginStep();
    stack.push(commit(status, change));
    const Bytes after = status.copy();
    DirtyArea dirty;
    stack.undo(dirty);
    EXPECT_TRUE(same(status, before));
    stack.redo(dirty);
    EXPECT_TRUE(same(status, after));
}

TEST(UndoStack, StepsUndoNewestFirstWithinAStep)
{
    Bytes status(5, 5);
    status = 1;
    UndoStack stack(200);
    stack.beginStep();
    Bytes c1(5, 5), c2(5, 5);
    c1 = 2;
    c2 = 0;
    c2(2, 2) = 8;
    stack.push(commit(status, c1));
    stack.push(commit(status, c2));
    EXPECT_EQ(status(2, 2), 8);
    DirtyArea dirty;
    stack.undo(dirty);
    EXPECT_TRUE(blitz::all(status == 1));
    stack.redo(dirty);
    EXPECT_EQ(status(2, 2), 8);
    EXPECT_EQ(status(0, 0), 2);
}

TEST(UndoStack, EmptyStepCountsAndChangesNothing)
{
    Bytes status(3, 3);
    status = 5;
    UndoStack stack(200);
    stack.beginStep();
    EXPECT_EQ(stack.undoCount(), 1u);
    DirtyArea dirty;
    stack.undo(dirty);
    EXPECT_EQ(stack.redoCount(), 1u);
    EXPECT_FALSE(dirty);
    EXPECT_TRUE(blitz::all(status == 5));
}

TEST(UndoModifyStatus, UnchangedPixelsGetMaskZero)
{
    Bytes status(1, 4), change(1, 4);
    status = 2;
    change = 0;
    change(0, 1) = 4;
    change(0, 2) = 2;  // same as before: nothing to flip
    IiUndoModifyStatus r(change, status);
    EXPECT_EQ(r.runs(), (std::vector<std::uint32_t>{(1u << 8) | 0, (1u << 8) | 6, (2u << 8) | 0}));
}

TEST(UndoModifyStatus, LongRunsAreSplitAtTheirLimit)
{
    // 4100 x 4100 equal masks exceed a 24-bit run length.
    Bytes status(4100, 4100), change(4100, 4100);
    status = 2;
    change = 4;
    UndoStack stack(200);
    stack.beginStep();
    auto record = commit(status, change);
    ASSERT_EQ(record->runs().size(), 2u);
    EXPECT_EQ(record->runs()[0] >> 8, IiUndoModifyStatus::maxRunLength);
    EXPECT_EQ((record->runs()[1] >> 8) + IiUndoModifyStatus::maxRunLength, 4100u * 4100u);
    stack.push(std::move(record));
    DirtyArea dirty;
    stack.undo(dirty);
    EXPECT_TRUE(blitz::all(status == 2));
    stack.redo(dirty);
    EXPECT_TRUE(blitz::all(status == 4));
}

TEST(UndoModifyStatus, BandsOfRowsJoinIntoTheRunsOfOneWalk)
{
    // Stripes of rows: long runs that cross rows and the bands' borders, and stripes of random
    // masks; the rows' length is no multiple of sixteen, so each ends in a part of one.
    const int rows = 640, cols = 509;
    Bytes status = randomStatus(rows, cols, 11);
    Bytes change(rows, cols);
    std::mt19937 rng(3);
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j)
            change(i, j) = (i / 37) % 3 == 0 ? static_cast<unsigned char>(rng() % 4) : (i / 37) % 3 == 1 ? 0 : 1;
    std::vector<std::uint32_t> runs[2];
    for (const unsigned threads : {1u, 8u}) {
        platform::setProcessorCountOverride(threads);
        runs[threads == 8] = IiUndoModifyStatus(change, status).runs();
    }
    platform::setProcessorCountOverride(0);
    // One plain walk over the pixels makes the same entries.
    std::vector<std::uint32_t> walked;
    std::uint32_t length = 0;
    unsigned mask = 0;
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) {
            const unsigned d = change(i, j) ? (change(i, j) ^ status(i, j)) : 0;
            if (length > 0 && d != mask) {
                walked.push_back((length << 8) | mask);
                length = 0;
            }
            mask = d;
            ++length;
        }
    walked.push_back((length << 8) | mask);
    EXPECT_EQ(runs[0], walked);
    EXPECT_EQ(runs[1], walked);
    const Bytes before = status.copy();
    DirtyArea dirty;
    auto record = commit(status, change);
    record->undo(dirty);
    EXPECT_TRUE(same(status, before));
}

TEST(UndoModifyStatus, WorksOnViewsOfALargerArray)
{
    Bytes full = randomStatus(20, 30, 7);
    const Bytes before = full.copy();
    Bytes view = full(blitz::Range(5, 12), blitz::Range(10, 25));
    Bytes change(view.shape());
    change.reindexSelf(view.base());
    change = 9;
    DirtyArea dirty;
    auto record = commit(view, change);
    EXPECT_TRUE(blitz::all(full(blitz::Range(5, 12), blitz::Range(10, 25)) == 9));
    record->undo(dirty);
    EXPECT_TRUE(same(full, before));
}
