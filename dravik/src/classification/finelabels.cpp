#include "classification/finelabels.h"

#include "classification/border.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace classification {

namespace {

using corvath::utility::arrayCovers;
using corvath::utility::domainOf;
using corvath::utility::grow;

// The largest value of a over r.
int largestLabel(const LabelArray& a, const Rect& r)
{
    int largest = INT_MIN;
    const std::ptrdiff_t s0 = a.stride(0), s1 = a.stride(1);
    const int* row = &a(r.x1, r.y1);
    for (int x = r.x1; x <= r.x2; ++x, row += s0) {
        const int* p = row;
        for (int y = r.y1; y <= r.y2; ++y, p += s1)
            largest = std::max(largest, *p);
    }
    return largest;
}

// One entry per label; an entry whose stamp is not the current one counts as empty.
struct Vote {
    std::uint32_t stamp = 0;
    std::int32_t count = 0;
};

// True when the ring of a around r holds nothing but 0.
bool ringIsZero(const LabelArray& a, const Rect& r)
{
    const Rect g = grow(r, 1);
    for (int y = g.y1; y <= g.y2; ++y)
        if (a(g.x1, y) != 0 || a(g.x2, y) != 0)
            return false;
    for (int x = r.x1; x <= r.x2; ++x)
        if (a(x, g.y1) != 0 || a(x, g.y2) != 0)
            return false;
    return true;
}

} // namespace

void resolveBoundaryLabels(const Rect& r, int n, LabelArray labels)
{
    if (r.isEmpty())
        return;
    const Rect reach = grow(r, 1);
    if (!arrayCovers(labels, reach))
        throw std::invalid_argument("labels do not cover the rectangle and its neighbours");
    // A label larger than the expected count must still find its entry.
    const std::size_t size = std::size_t(std::max({n, largestLabel(labels, reach) + 1, 1}));
    std::vector<Vote> table(size);

    const std::ptrdiff_t s0 = labels.stride(0), s1 = labels.stride(1);
    const std::ptrdiff_t edge[4] = {-s0, -s1, s1, s0};
    const std::ptrdiff_t diagonal[4] = {-s0 - s1, -s0 + s1, s0 - s1, s0 + s1};
    std::uint32_t stamp = 0;
    int* row = &labels(r.x1, r.y1);
    for (int x = r.x1; x <= r.x2; ++x, row += s0) {
        int* p = row;
        for (int y = r.y1; y <= r.y2; ++y, p += s1) {
            if (*p != 0)
                continue;
            ++stamp;
            int best = 0;
            const auto vote = [&](int v) {
                Vote& e = table[std::size_t(v)];
                if (e.stamp == stamp) {
                    ++e.count;
                } else {
                    e.stamp = stamp;
                    e.count = 1;
                }
                if (e.count > best) {
                    ++best;
                    *p = v;
                }
            };
            bool bordered = false;
            for (int k = 0; k < 4 && !bordered; ++k) {
                int& q = p[edge[k]];
                if (q < 1) {
                    q = -1;
                    *p = -1;
                    for (int m = k + 1; m < 4; ++m)
                        if (p[edge[m]] == 0)
                            p[edge[m]] = -1;
                    bordered = true;
                } else {
                    vote(q);
                }
            }
            if (bordered)
                continue;
            for (std::ptrdiff_t d : diagonal)
                if (p[d] > 0)
                    vote(p[d]);
        }
    }
}

int makeFineLabels(const LabelArray& regionLabels, const Rect& bounds, LabelArray& fine)
{
    if (bounds.isEmpty()) {
        fine.free();
        return 0;
    }
    const Rect framed = grow(bounds, 1);
    if (!arrayCovers(regionLabels, framed))
        throw std::invalid_argument("region labels do not cover the analysed area and its ring");
    if (!ringIsZero(regionLabels, bounds))
        throw std::invalid_argument("region labels are not 0 around the analysed area");

    // W: a region's label where the pixel shares it with a neighbour, 0 elsewhere.
    LabelArray work(blitz::Range(framed.x1, framed.x2), blitz::Range(framed.y1, framed.y2));
    work = 0;
    backwardNeighbourPass(bounds, regionLabels, work, nullptr, 0.f, 1.f);
    resolveBoundaryLabels(bounds, 0, work);

    if (domainOf(fine) != framed || fine.numElements() == 0)
        fine.resize(blitz::Range(framed.x1, framed.x2), blitz::Range(framed.y1, framed.y2));
    fillOutsideRect(bounds, -1, fine);
    // -2 around the area and -1 on the fine labels' frame keep every region inside it.
    fillOutsideRect(bounds, -2, work);
    int counter = 0;
    labelConnectedRegions(work, counter, corvath::utility::viewOf(fine, bounds));
    return counter;
}

void regionMajorities(std::vector<int>& result, int n, const LabelArray& labels, const LabelArray& values,
                      ProgressRange range)
{
    if (n < 0)
        throw std::invalid_argument("negative region count");
    result.assign(std::size_t(n), 0);
    const Rect d = domainOf(labels);
    if (d.isEmpty() || n == 0)
        return;
    if (!arrayCovers(values, d))
        throw std::invalid_argument("value image does not cover the label image");
    const int rows = d.x2 - d.x1 + 1, cols = d.y2 - d.y1 + 1;
    const std::ptrdiff_t lRow = labels.stride(0), lCol = labels.stride(1);
    const std::ptrdiff_t vRow = values.stride(0), vCol = values.stride(1);
    const int* labelBase = &labels(d.x1, d.y1);
    const int* valueBase = &values(d.x1, d.y1);

    // Pixels per label, and the range of the values they carry.
    std::vector<std::uint32_t> start(std::size_t(n) + 1, 0);
    long long lowest = LLONG_MAX, highest = LLONG_MIN;
    for (int r = 0; r < rows; ++r) {
        const int* l = labelBase + r * lRow;
        const int* v = valueBase + r * vRow;
        for (int c = 0; c < cols; ++c, l += lCol, v += vCol)
            if (*l >= 0 && *l < n) {
                ++start[std::size_t(*l) + 1];
                lowest = std::min<long long>(lowest, *v);
                highest = std::max<long long>(highest, *v);
            }
    }
    if (lowest > highest)
        return;
    const long long span = highest - lowest + 1;
    if (span > 4LL * rows * cols + 1024) {
        // Sparse values: a table per value would be mostly empty.
        computeRegionModes(result, n, labels, values);
        return;
    }
    for (std::size_t i = 1; i < start.size(); ++i)
        start[i] += start[i - 1];

    // Every label's values in storage order.
    std::vector<int> bucketed(start.back());
    std::vector<std::uint32_t> next(start.begin(), start.end() - 1);
    for (int r = 0; r < rows; ++r) {
        const int x = d.x1 + r;
        if ((x & 255) == 0)
            range.report("", float(r) / float(rows));
        const int* l = labelBase + r * lRow;
        const int* v = valueBase + r * vRow;
        for (int c = 0; c < cols; ++c, l += lCol, v += vCol)
            if (*l >= 0 && *l < n)
                bucketed[next[std::size_t(*l)]++] = *v;
    }
    next = std::vector<std::uint32_t>();

    // The streaming vote of each label over its values; the table's stamp empties it lazily.
    struct Count {
        std::uint32_t stamp = 0;
        std::int32_t count = 0;
    };
    std::vector<Count> table(static_cast<std::size_t>(span));
    for (int label = 0; label < n; ++label) {
        const std::uint32_t stamp = std::uint32_t(label) + 1;
        int best = 0;
        for (std::uint32_t k = start[std::size_t(label)]; k < start[std::size_t(label) + 1]; ++k) {
            const int value = bucketed[k];
            Count& e = table[std::size_t(value - lowest)];
            if (e.stamp != stamp) {
                e.stamp = stamp;
                e.count = 0;
            }
            if (++e.count > best) {
                best = e.count;
                result[std::size_t(label)] = value;
            }
        }
    }
}

} // namespace classification
