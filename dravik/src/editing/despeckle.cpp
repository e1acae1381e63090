// Despeckle: the holes of the last operation's selection that a closing with a square window
// closes take the status that operation wrote, as one more commit of its working array.
#include "session/classification.h"
#include "morphology/convolve.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <stdexcept>
#include <utility>
#include <vector>

namespace classification {

namespace {

using corvath::utility::covers;
using corvath::utility::domainOf;
using corvath::utility::viewOf;

// statusMatches over every byte value, for one target and mask.
std::array<bool, 256> matchTable(unsigned char target, unsigned char mask)
{
    std::array<bool, 256> t{};
    for (int s = 0; s < 256; ++s)
        t[std::size_t(s)] = statusMatches(static_cast<unsigned char>(s), target, mask);
    return t;
}

} // namespace

void IiClassification::despeckleSelection(Bytes& status, int level, ProgressRange progress)
{
    if (m_changed.isEmpty()) {
        progress.report("", 1.0f);
        return;
    }
    if (level <= 0)
        return;
    despeckle(status, level, progress);
}

void IiClassification::despeckle(Bytes& status, int n, ProgressRange progress)
{
    const Rect R = m_changed;
    if (!covers(domainOf(status), R) || !covers(domainOf(m_working), R))
        throw std::invalid_argument("the status array does not cover the changed rectangle");

    const int h = n / 2;
    const unsigned char v = newValue, w = writeMask;
    // The selection is what the last operation wrote; the holes it may fill are pixels of its
    // new value's classes or Unassigned that its match mask lets through.
    const std::array<bool, 256> selected = matchTable(v, w);
    const std::array<bool, 256> fillable =
        matchTable(static_cast<unsigned char>(v | StatusUnassigned), matchMask);

    const Rect D{R.x1 - 1, R.y1 - 1, R.x2 + n, R.y2 + n};
    Labels cover(blitz::Range(D.x1, D.x2), blitz::Range(D.y1, D.y2));
    cover = 0;
    const std::ptrdiff_t kRow = cover.stride(0);  // the cover array is dense, columns adjacent
    int* const coverCorner = cover.dataFirst();
    const auto coverAt = [&](long x, long y) { return coverCorner + (x - D.x1) * kRow + (y - D.y1); };
    const std::ptrdiff_t wRow = m_working.stride(0), wCol = m_working.stride(1);
    unsigned char* const workingCorner = &m_working(R.x1, R.y1);
    const auto workingAt = [&](long x, long y) {
        return workingCorner + (x - R.x1) * wRow + (y - R.y1) * wCol;
    };

    // The selection, shifted by h so that the leading windows below centre on each pixel.
    for (int x = R.x1; x <= R.x2; ++x) {
        int* k = coverAt(x + h, R.y1 + h);
        const unsigned char* p = workingAt(x, R.y1);
        for (int y = R.y1; y <= R.y2; ++y, ++k, p += wCol)
            *k = selected[*p];
    }
    progress.report("", 0.1f);

    // Dilation by a square of n + 1, in place: along the second index, then the first.
    const int window = n + 1;
    morphology::lineFilterPairA(viewOf(cover, Rect{R.x1, R.y1, R.x2 + n, R.y2 + n}), window,
                                morphology::LineOpOr(), cover, ProgressRange());
    morphology::lineFilterPairB(viewOf(cover, Rect{R.x1, R.y1, R.x2 + n, R.y2}), window,
                                morphology::LineOpOr(), cover, ProgressRange());

    // Everything outside R counts as uncovered.
    for (const int x : {R.x1 - 1, R.x2 + 1})
        std::fill(coverAt(x, D.y1), coverAt(x, D.y2) + 1, 0);
    for (int x = D.x1; x <= D.x2; ++x) {
        *coverAt(x, R.y1 - 1) = 0;
        *coverAt(x, R.y2 + 1) = 0;
    }

    // Covered unselected pixels beside uncovered ones start the flood that opens everything
    // joined to the outside; what stays covered is the selection and its holes.
    std::vector<std::pair<int, int>> stack;
    ProgressRange seeding = progress.nextStep(0.3f);
    const float columns = float(R.x2 - R.x1 + 1);
    for (int x = R.x1; x <= R.x2; ++x) {
        const int* k = coverAt(x, R.y1);
        const unsigned char* p = workingAt(x, R.y1);
        for (int y = R.y1; y <= R.y2; ++y, ++k, p += wCol)
            if (*k && !selected[*p] && (!k[kRow] || !k[-kRow] || !k[1] || !k[-1]))
                stack.emplace_back(x, y);
        if ((x & 255) == 0)
            seeding.report("", R.x1 == R.x2 ? 0.f : float(x - R.x1 + 1) / columns);
    }

    ProgressRange flooding = progress.nextStep(0.5f);
    std::size_t largest = stack.size();
    float reported = 0.f;
    const auto enter = [&](int x, int y) {
        if (*coverAt(x, y) && !selected[*workingAt(x, y)])
            stack.emplace_back(x, y);
    };
    while (!stack.empty()) {
        const auto [x, y] = stack.back();
        stack.pop_back();
        *coverAt(x, y) = 0;
        enter(x + 1, y);
        enter(x - 1, y);
        enter(x, y + 1);
        enter(x, y - 1);
        if (stack.size() % 256 == 0) {
            largest = std::max(largest, stack.size());
            reported = std::max(reported, 1.f - float(stack.size()) / float(largest));
            flooding.report("", reported);
        }
    }
    progress.report("", 0.6f);

    // A filled hole keeps its own bits outside the write mask in its working value, so that
    // the commit's undo record gives them back exactly.
    for (int x = R.x1; x <= R.x2; ++x) {
        const int* k = coverAt(x, R.y1);
        const unsigned char* sp = &status(x, R.y1);
        unsigned char* p = workingAt(x, R.y1);
        for (int y = R.y1; y <= R.y2; ++y, ++k, sp += status.stride(1), p += wCol)
            if (*k && fillable[*sp])
                *p = setStatusBits(*p ? *p : *sp, w, v);
    }

    recordStatusUndo(status, &m_undo);
    m_commit.done = true;
    progress.report("", 1.0f);
}

} // namespace classification
