#include "analysis/histogram1d.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace classification {

namespace {

// floor(log2(d)) for d >= 1.
int exponentOf(int d)
{
    return 31 - __builtin_clz(unsigned(d));
}

// Adds src's counts into r, each bin into the bin of r that holds its values.
void addInto(Histogram1D& r, const Histogram1D& src)
{
    const int d = r.shift() - src.shift();
    const int* in = src.counts();
    const int first = src.firstBin();
    int* out = r.counts() - r.firstBin();
    const int n = src.binCount();
    if (d == 0) {
        for (int k = 0; k < n; ++k)
            out[first + k] = addSaturated(out[first + k], in[k]);
    } else if (d > 0) {
        for (int k = 0; k < n; ++k)
            out[(first + k) >> d] = addSaturated(out[(first + k) >> d], in[k]);
    } else {
        // An operand binned more coarsely than the sum (built with fewer bits): each bin lands
        // on the first of the sum's bins that it covers.
        const int lowest = r.firstBin();
        for (int k = 0; k < n; ++k) {
            const int b = std::max((first + k) << -d, lowest);
            out[b] = addSaturated(out[b], in[k]);
        }
    }
}

} // namespace

// setRange(0, 0, 1, 0) with its one count set to 1, written out: grids of millions of cells
// start from this.
Histogram1D::Histogram1D() : m_binCount(1)
{
    m_inline[0] = 1;
}

Histogram1D::Histogram1D(const Histogram1D& other)
{
    copyFrom(other);
}

Histogram1D::Histogram1D(Histogram1D&& other) noexcept
{
    *this = std::move(other);
}

Histogram1D& Histogram1D::operator=(const Histogram1D& other)
{
    if (this != &other)
        copyFrom(other);
    return *this;
}

Histogram1D& Histogram1D::operator=(Histogram1D&& other) noexcept
{
    if (this == &other)
        return *this;
    if (other.m_heap) {
        delete[] m_heap;
        m_heap = std::exchange(other.m_heap, nullptr);
        m_capacity = std::exchange(other.m_capacity, kInlineBins);
        m_lo = other.m_lo;
        m_hi = other.m_hi;
        m_shift = other.m_shift;
        m_binCount = other.m_binCount;
        firstRecord = other.firstRecord;
        endRecord = other.endRecord;
        bestSplit = other.bestSplit;
        other.setRange(0, 0, 1, 0);
        other.m_inline[0] = 1;
    } else {
        // Fits inline: a copy into this object's storage, which is at least as large.
        copyFrom(other);
    }
    return *this;
}

void Histogram1D::copyFrom(const Histogram1D& other)
{
    const bool inlineOnly = !m_heap && !other.m_heap;
    if (!inlineOnly)
        reserveBins(other.m_binCount);
    m_lo = other.m_lo;
    m_hi = other.m_hi;
    m_shift = other.m_shift;
    m_binCount = other.m_binCount;
    firstRecord = other.firstRecord;
    endRecord = other.endRecord;
    bestSplit = other.bestSplit;
    if (inlineOnly)
        // The common case in window sums: a fixed-size copy, no call.
        std::memcpy(m_inline, other.m_inline, sizeof m_inline);
    else
        std::copy_n(other.data(), m_binCount, data());
}

void Histogram1D::reserveBins(int n)
{
    if (n <= m_capacity)
        return;
    int* bigger = new int[n];
    delete[] m_heap;
    m_heap = bigger;
    m_capacity = n;
}

void Histogram1D::setRange(int lo, int hi, int binsLog, int minShift)
{
    m_lo = lo;
    m_hi = hi;
    const int d = std::max(hi - lo, 1);
    m_shift = std::max(minShift, exponentOf(d) - binsLog + 1);
    const int n = (hi >> m_shift) - (lo >> m_shift) + 1;
    reserveBins(n);
    m_binCount = n;
    fill(0);
}

void Histogram1D::fill(int value)
{
    std::fill_n(data(), m_binCount, value);
}

void sumHistograms(const Histogram1D& p, const Histogram1D& q, int binsLog, int minShift,
                   Histogram1D& r)
{
    r.setRange(std::min(p.lo(), q.lo()), std::max(p.hi(), q.hi()), binsLog, minShift);
    addInto(r, p);
    addInto(r, q);
}

void sumHistograms(const Histogram1D* const* operands, int count, int binsLog, int minShift,
                   Histogram1D& r)
{
    int lo = operands[0]->lo(), hi = operands[0]->hi();
    for (int k = 1; k < count; ++k) {
        lo = std::min(lo, operands[k]->lo());
        hi = std::max(hi, operands[k]->hi());
    }
    r.setRange(lo, hi, binsLog, minShift);
    for (int k = 0; k < count; ++k)
        addInto(r, *operands[k]);
}

} // namespace classification
