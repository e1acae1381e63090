#include "analysis/labelling.h"

#include "common/bandthreads.h"
#include "common/packedtable.h"
#include "common/unionfind.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <stdexcept>

namespace classification {

namespace {

// Provisional labels of one band's rows, as labelConnectedRegions numbers them in a view of
// its own; afterwards parent[label] is the band's compact number of the label's region, in the
// order of the regions' first pixels in the band.
int labelBand(const int* valueBase, long vRow, long vCol, int* labelBase, long lRow, long lCol,
              int firstRow, int endRow, int cols, std::vector<int>& parent)
{
    UnionFind uf;
    uf.parent.swap(parent);
    uf.parent.clear();
    for (int r = firstRow; r < endRow; ++r) {
        const int* v = valueBase + r * vRow;
        int* l = labelBase + r * lRow;
        for (int c = 0; c < cols; ++c, v += vCol, l += lCol) {
            if (uf.parent.size() == std::size_t(INT_MAX))
                throw std::length_error("list<T> too long");
            // A provisional label for the pixel; it stays only if the pixel starts a region.
            const int fresh = int(uf.parent.size());
            uf.parent.push_back(fresh);
            if (r > firstRow)
                joinEqualLabelNeighbours(uf, v[-vRow], *v, l[-lRow]);
            if (c > 0)
                joinEqualLabelNeighbours(uf, v[-vCol], *v, l[-lCol]);
            const int current = uf.parent.back();
            *l = current;
            if (current != fresh)
                uf.parent.pop_back();
        }
    }
    uf.parent.swap(parent);
    // Parents are smaller than their children, so one forward pass compacts every entry.
    int count = 0;
    for (std::size_t i = 0; i < parent.size(); ++i)
        parent[i] = parent[i] == int(i) ? count++ : parent[std::size_t(parent[i])];
    return count;
}

// The root of x, every entry on the way pointed at it.
int rootOf(std::vector<int>& parent, int x)
{
    int root = x;
    while (parent[std::size_t(root)] != root)
        root = parent[std::size_t(root)];
    while (parent[std::size_t(x)] != root) {
        const int up = parent[std::size_t(x)];
        parent[std::size_t(x)] = root;
        x = up;
    }
    return root;
}

} // namespace

void labelConnectedRegions(const LabelArray& values, int& nextLabel, LabelArray labels)
{
    labelConnectedRegions(values, nextLabel, labels, bandCount(labels.extent(0), labels.extent(1)));
}

void labelConnectedRegions(const LabelArray& values, int& nextLabel, LabelArray labels, int bands)
{
    const Rect view = corvath::utility::domainOf(labels);
    if (view.isEmpty())
        return;
    if (!corvath::utility::arrayCovers(values, view))
        throw std::invalid_argument("value image does not cover the label view");
    const int rows = labels.extent(0), cols = labels.extent(1);
    int* labelBase = &labels(view.x1, view.y1);
    const long lRow = labels.stride(0), lCol = labels.stride(1);
    const int* valueBase = &values(view.x1, view.y1);
    const long vRow = values.stride(0), vCol = values.stride(1);

    // Each band is labelled on its own; a region's first pixel in storage order is the first
    // pixel of its first band piece, so numbering the pieces band after band, each band's in
    // its own order, and joining them at the band borders through the smaller number keeps
    // the regions' order of one pass over the whole view.
    bands = std::clamp(bands, 1, rows);
    std::vector<std::vector<int>> compact(static_cast<std::size_t>(bands));
    std::vector<int> counts(static_cast<std::size_t>(bands), 0);
    runBands(bands, [&](int b) {
        counts[std::size_t(b)] = labelBand(valueBase, vRow, vCol, labelBase, lRow, lCol, bandStart(rows, bands, b),
                                           bandStart(rows, bands, b + 1), cols, compact[std::size_t(b)]);
    });

    std::vector<int> offset(std::size_t(bands) + 1, 0);
    for (int b = 0; b < bands; ++b) {
        if (std::int64_t(offset[std::size_t(b)]) + counts[std::size_t(b)] >= std::int64_t(INT_MAX))
            throw std::length_error("list<T> too long");
        offset[std::size_t(b) + 1] = offset[std::size_t(b)] + counts[std::size_t(b)];
    }
    std::vector<int> parent(std::size_t(offset[std::size_t(bands)]));
    for (std::size_t i = 0; i < parent.size(); ++i)
        parent[i] = int(i);
    for (int b = 1; b < bands; ++b) {
        const int r = bandStart(rows, bands, b);
        const int* v = valueBase + r * vRow;
        const int* l = labelBase + r * lRow;
        const std::vector<int>& above = compact[std::size_t(b) - 1];
        const std::vector<int>& below = compact[std::size_t(b)];
        for (int c = 0; c < cols; ++c, v += vCol, l += lCol) {
            if (v[-vRow] != *v)
                continue;
            const int x = rootOf(parent, offset[std::size_t(b) - 1] + above[std::size_t(l[-lRow])]);
            const int y = rootOf(parent, offset[std::size_t(b)] + below[std::size_t(*l)]);
            if (x < y)
                parent[std::size_t(y)] = x;
            else if (y < x)
                parent[std::size_t(x)] = y;
        }
    }
    // Roots in increasing order take the numbers; every other entry follows its root, which
    // comes before it.
    for (std::size_t i = 0; i < parent.size(); ++i)
        parent[i] = parent[i] == int(i) ? nextLabel++ : parent[std::size_t(parent[i])];
    for (int b = 0; b < bands; ++b) {
        std::vector<int>& local = compact[std::size_t(b)];
        for (int& k : local)
            k = parent[std::size_t(offset[std::size_t(b)] + k)];
    }

    runBands(bands, [&](int b) {
        const std::vector<int>& final = compact[std::size_t(b)];
        for (int r = bandStart(rows, bands, b), end = bandStart(rows, bands, b + 1); r < end; ++r) {
            int* l = labelBase + r * lRow;
            for (int c = 0; c < cols; ++c, l += lCol)
                *l = final[std::size_t(*l)];
        }
    });
}

void computeRegionModes(std::vector<int>& result, int n, const LabelArray& labels,
                        const LabelArray& values, corvath::utility::IiUI* ui, float low,
                        float high)
{
    if (n < 0)
        throw std::invalid_argument("negative region count");
    result.resize(std::size_t(n), 0);
    const Rect domain = corvath::utility::domainOf(labels);
    if (domain.isEmpty() || n == 0)
        return;
    if (!corvath::utility::arrayCovers(values, domain))
        throw std::invalid_argument("value image does not cover the label image");
    const int rows = labels.extent(0), cols = labels.extent(1);
    const int* labelBase = &labels(domain.x1, domain.y1);
    const long lRow = labels.stride(0), lCol = labels.stride(1);
    const int* valueBase = &values(domain.x1, domain.y1);
    const long vRow = values.stride(0), vCol = values.stride(1);

    std::vector<int> best(std::size_t(n), 0);
    PackedKeyTable<int> pairs;
    // Pixels of one region and value come in runs: count a run at once. Within a run the
    // count only grows, so the result is the same as counting pixel by pixel.
    int runLabel = -1, runValue = 0, runLength = 0;
    auto flush = [&]() {
        if (runLength == 0)
            return;
        const std::uint64_t key = (std::uint64_t(std::uint32_t(runLabel)) << 32) |
                                  std::uint32_t(runValue);
        const int count = pairs.insert(key, 0) += runLength;
        if (count > best[std::size_t(runLabel)]) {
            best[std::size_t(runLabel)] = count;
            result[std::size_t(runLabel)] = runValue;
        }
        runLength = 0;
    };
    for (int r = 0; r < rows; ++r) {
        const int x = domain.x1 + r;
        if (ui && (x & 255) == 0) {
            flush();
            const float f = float(r) / float(rows);
            ui->progress((1.f - f) * low + f * high, std::string());
        }
        const int* l = labelBase + r * lRow;
        const int* v = valueBase + r * vRow;
        for (int c = 0; c < cols; ++c, l += lCol, v += vCol) {
            const int label = *l;
            if (label < 0 || label >= n)
                continue;
            if (label != runLabel || *v != runValue) {
                flush();
                runLabel = label;
                runValue = *v;
            }
            ++runLength;
        }
    }
    flush();
}

void backwardNeighbourPass(const Rect& r, const LabelArray& a, LabelArray b,
                           corvath::utility::IiUI* ui, float low, float high)
{
    if (r.isEmpty())
        return;
    const Rect reach{r.x1, r.y1, r.x2 + 1, r.y2 + 1};
    if (!corvath::utility::arrayCovers(a, reach) || !corvath::utility::arrayCovers(b, reach))
        throw std::invalid_argument("arrays do not cover the pass and its neighbours");
    const long aRow = a.stride(0), aCol = a.stride(1);
    const long bRow = b.stride(0), bCol = b.stride(1);
    const int* aBase = &a(r.x1, r.y1);
    int* bBase = &b(r.x1, r.y1);
    const int cols = r.y2 - r.y1 + 1;
    for (int x = r.x2; x >= r.x1; --x) {
        if (ui && x == 0) {
            const float f = float(r.x2) / float(double(r.x2) - r.x1 + 1);
            ui->progress((1.f - f) * low + f * high, std::string());
        }
        const int* pa = aBase + long(x - r.x1) * aRow + long(cols - 1) * aCol;
        int* pb = bBase + long(x - r.x1) * bRow + long(cols - 1) * bCol;
        for (int c = cols - 1; c >= 0; --c, pa -= aCol, pb -= bCol) {
            copyLabelIfSame(*pa, pa[aCol], *pb, pb[bCol]);
            copyLabelIfSame(*pa, pa[aRow], *pb, pb[bRow]);
        }
    }
}

} // namespace classification
