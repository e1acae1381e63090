#include "analysis/finelabels.h"

#include "common/bandthreads.h"
#include "common/border.h"
#include "common/firsttouch.h"
#include "common/jobthreads.h"
#include "platform/clock.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

namespace classification {

namespace {

using corvath::utility::arrayCovers;
using corvath::utility::domainOf;
using corvath::utility::grow;

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

// W over r: A's label where a pixel shares it with one of its four neighbours, 0 elsewhere;
// what the backward neighbour pass leaves in an array of 0s, pixel by pixel, so that bands of
// rows can run side by side. A must cover r grown by 1 and hold 0 around it.
void markSharedLabels(const Rect& r, const LabelArray& a, LabelArray w)
{
    const int rows = r.x2 - r.x1 + 1, cols = r.y2 - r.y1 + 1;
    const std::ptrdiff_t a0 = a.stride(0), a1 = a.stride(1), w0 = w.stride(0), w1 = w.stride(1);
    const int* aBase = &a(r.x1, r.y1);
    int* wBase = &w(r.x1, r.y1);
    runRowBands(rows, cols, [&](int first, int end) {
        for (int x = first; x < end; ++x) {
            const int* p = aBase + x * a0;
            int* q = wBase + x * w0;
            for (int y = 0; y < cols; ++y, p += a1, q += w1) {
                const int v = *p;
                *q = v == p[-a0] || v == p[-a1] || v == p[a1] || v == p[a0] ? v : 0;
            }
        }
    });
}

} // namespace

void resolveBoundaryLabels(const Rect& r, int n, LabelArray labels)
{
    if (r.isEmpty())
        return;
    const Rect reach = grow(r, 1);
    if (!arrayCovers(labels, reach))
        throw std::invalid_argument("labels do not cover the rectangle and its neighbours");
    const std::ptrdiff_t s0 = labels.stride(0), s1 = labels.stride(1);
    const std::ptrdiff_t edge[4] = {-s0, -s1, s1, s0};
    const std::ptrdiff_t diagonal[4] = {-s0 - s1, -s0 + s1, s0 - s1, s0 + s1};

    // Only pixels that hold 0 before the pass can hold 0 when it reaches them: the pass writes
    // -1 and labels above 0. So the pixels it resolves are found first, band by band in
    // storage order, together with the largest label, and only those are visited in order.
    const int rows = r.x2 - r.x1 + 1, cols = r.y2 - r.y1 + 1;
    int* base = &labels(r.x1, r.y1);
    const int bands = bandCount(rows, cols);
    std::vector<std::vector<std::ptrdiff_t>> zeros(static_cast<std::size_t>(bands));
    std::vector<int> largest(static_cast<std::size_t>(bands), INT_MIN);
    runBands(bands, [&](int b) {
        std::vector<std::ptrdiff_t>& found = zeros[std::size_t(b)];
        int m = INT_MIN;
        for (int x = bandStart(rows, bands, b), end = bandStart(rows, bands, b + 1); x < end; ++x) {
            const int* row = base + x * s0;
            m = std::max({m, row[-s1], row[cols * s1]});
            const int* p = row;
            for (int y = 0; y < cols; ++y, p += s1) {
                m = std::max(m, *p);
                if (*p == 0)
                    found.push_back(p - base);
            }
        }
        largest[std::size_t(b)] = m;
    });
    int top = *std::max_element(largest.begin(), largest.end());
    for (int y = reach.y1; y <= reach.y2; ++y)
        top = std::max({top, labels(reach.x1, y), labels(reach.x2, y)});
    // A label larger than the expected count must still find its entry.
    const std::size_t size = std::size_t(std::max({n, top + 1, 1}));
    std::vector<Vote> table(size);

    std::uint32_t stamp = 0;
    for (const std::vector<std::ptrdiff_t>& found : zeros) {
        for (const std::ptrdiff_t at : found) {
            int* p = base + at;
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
    // Its frame is written on this thread, one page of it every row.
    corvath::utility::prefault(work);
    fillOutsideRect(bounds, 0, work);
    markSharedLabels(bounds, regionLabels, work);
    resolveBoundaryLabels(bounds, 0, work);

    if (domainOf(fine) != framed || fine.numElements() == 0) {
        fine.resize(blitz::Range(framed.x1, framed.x2), blitz::Range(framed.y1, framed.y2));
        corvath::utility::prefault(fine);
    }
    fillOutsideRect(bounds, -1, fine);
    // -2 around the area and -1 on the fine labels' frame keep every region inside it.
    fillOutsideRect(bounds, -2, work);
    int counter = 0;
    labelConnectedRegions(work, counter, corvath::utility::viewOf(fine, bounds));
    corvath::utility::releaseInSlices(work.dataFirst(), std::size_t(work.numElements()));
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

    // One slice of rows per thread: each counts its pixels per label, so that the buckets
    // can be filled in parallel and still hold every label's values in storage order.
    const int slices = int(std::min<unsigned>(platform::processorCount(), unsigned(rows)));
    const auto firstRow = [rows, slices](int k) { return int(std::int64_t(rows) * k / slices); };
    const std::size_t labelCount = std::size_t(n);
    std::vector<std::uint32_t> counts(std::size_t(slices) * labelCount, 0);
    std::vector<long long> lowest(std::size_t(slices), LLONG_MAX), highest(std::size_t(slices), LLONG_MIN);
    JobRecord work;
    runJobsOnWorkerThreads(work, slices - 1, [&](int k) {
        std::uint32_t* count = counts.data() + std::size_t(k) * labelCount;
        long long low = LLONG_MAX, high = LLONG_MIN;
        for (int r = firstRow(k); r < firstRow(k + 1); ++r) {
            const int* l = labelBase + r * lRow;
            const int* v = valueBase + r * vRow;
            for (int c = 0; c < cols; ++c, l += lCol, v += vCol)
                if (*l >= 0 && *l < n) {
                    ++count[*l];
                    low = std::min<long long>(low, *v);
                    high = std::max<long long>(high, *v);
                }
        }
        lowest[std::size_t(k)] = low;
        highest[std::size_t(k)] = high;
    });
    const long long low = *std::min_element(lowest.begin(), lowest.end());
    const long long high = *std::max_element(highest.begin(), highest.end());
    if (low > high)
        return;
    const long long span = high - low + 1;
    if (span > 4LL * rows * cols + 1024) {
        // Sparse values: a table per value would be mostly empty.
        computeRegionModes(result, n, labels, values);
        return;
    }
    range.report("", 0.3f);

    // Where each label's bucket starts, and where each slice's share of it starts (in place
    // of the slice's counts).
    std::vector<std::uint32_t> start(labelCount + 1, 0);
    std::uint32_t total = 0;
    for (std::size_t label = 0; label < labelCount; ++label) {
        start[label] = total;
        for (int k = 0; k < slices; ++k) {
            std::uint32_t& c = counts[std::size_t(k) * labelCount + label];
            const std::uint32_t here = c;
            c = total;
            total += here;
        }
    }
    start[labelCount] = total;

    // Written whole below, on the workers, which share its first touch.
    const std::unique_ptr<int[]> bucketed(new int[total]);
    runJobsOnWorkerThreads(work, slices - 1, [&](int k) {
        std::uint32_t* next = counts.data() + std::size_t(k) * labelCount;
        for (int r = firstRow(k); r < firstRow(k + 1); ++r) {
            const int* l = labelBase + r * lRow;
            const int* v = valueBase + r * vRow;
            for (int c = 0; c < cols; ++c, l += lCol, v += vCol)
                if (*l >= 0 && *l < n)
                    bucketed[next[*l]++] = *v;
        }
    });
    counts = std::vector<std::uint32_t>();
    range.report("", 0.6f);

    // The streaming vote of each label over its values, labels in slices of their own; the
    // table's stamp empties it lazily.
    struct Count {
        std::uint32_t stamp = 0;
        std::int32_t count = 0;
    };
    // Slices of labels with about as many pixels each: a few large regions would otherwise
    // leave one thread with most of the work.
    std::vector<int> sliceStart(static_cast<std::size_t>(slices) + 1, n);
    sliceStart[0] = 0;
    for (int k = 1, label = 0; k < slices; ++k) {
        const std::uint64_t share = std::uint64_t(total) * std::uint64_t(k) / std::uint64_t(slices);
        while (label < n && start[std::size_t(label)] < share)
            ++label;
        sliceStart[std::size_t(k)] = label;
    }
    runJobsOnWorkerThreads(work, slices - 1, [&](int k) {
        const int first = sliceStart[std::size_t(k)], last = sliceStart[std::size_t(k) + 1];
        if (first >= last)
            return;
        std::vector<Count> table(static_cast<std::size_t>(span));
        for (int label = first; label < last; ++label) {
            const std::uint32_t stamp = std::uint32_t(label) + 1;
            int best = 0;
            for (std::uint32_t i = start[std::size_t(label)]; i < start[std::size_t(label) + 1]; ++i) {
                const int value = bucketed[i];
                Count& e = table[std::size_t(value - low)];
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
    });
    corvath::utility::releaseInSlices(bucketed.get(), std::size_t(total));
    range.report("", 1.0f);
}

} // namespace classification
