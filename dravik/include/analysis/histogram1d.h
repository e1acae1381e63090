#pragma once
// Local histograms of byte values with power-of-two bins, as the segmentation keeps one per
// cell and channel, and their sum, which the window filters apply.

#include <climits>

namespace classification {

// Counts never wrap: a window sum of large cells stops at INT_MAX. An overflow test that
// is never taken in practice, for the builders' and sums' inner loops.
inline int addSaturated(int a, int b)
{
    int r;
    if (__builtin_expect(__builtin_add_overflow(a, b, &r), 0))
        return b > 0 ? INT_MAX : INT_MIN;
    return r;
}

// Value v falls into bin v >> shift; the bins run from lo >> shift to hi >> shift. The mode
// split fills firstRecord, endRecord and bestSplit.
class Histogram1D {
public:
    // One bin (bin 0) holding 1, no mode records.
    Histogram1D();
    Histogram1D(const Histogram1D& other);
    Histogram1D(Histogram1D&& other) noexcept;
    Histogram1D& operator=(const Histogram1D& other);
    Histogram1D& operator=(Histogram1D&& other) noexcept;
    ~Histogram1D() { delete[] m_heap; }

    // Covers lo..hi (lo <= hi) in at most about 2^binsLog bins, never finer than 2^minShift values;
    // every count becomes 0.
    void setRange(int lo, int hi, int binsLog, int minShift);

    int lo() const { return m_lo; }
    int hi() const { return m_hi; }
    int shift() const { return m_shift; }
    int firstBin() const { return m_lo >> m_shift; }
    int lastBin() const { return m_hi >> m_shift; }
    int binCount() const { return m_binCount; }

    // bin must lie in firstBin()..lastBin().
    int& count(int bin) { return data()[bin - firstBin()]; }
    int count(int bin) const { return data()[bin - firstBin()]; }
    // The counts from firstBin() on, binCount() of them.
    int* counts() { return data(); }
    const int* counts() const { return data(); }
    void fill(int value);

    int firstRecord = 0;
    int endRecord = 0;
    int bestSplit = -1;

private:
    // Enough for every histogram of up to 4 colour bits (2^4 + 1 bins) without the heap.
    static constexpr int kInlineBins = 18;

    int* data() { return m_heap ? m_heap : m_inline; }
    const int* data() const { return m_heap ? m_heap : m_inline; }
    void reserveBins(int n);
    void copyFrom(const Histogram1D& other);

    int m_lo = 0;
    int m_hi = 0;
    int m_shift = 0;
    int m_binCount = 0;
    int m_capacity = kInlineBins;
    int* m_heap = nullptr;
    int m_inline[kInlineBins];
};

// r = p + q over the union of their value ranges, in the bins that (binsLog, minShift) give
// that union; bins of a finer operand add into the coarser bin that holds them. r must not
// be p or q.
void sumHistograms(const Histogram1D& p, const Histogram1D& q, int binsLog, int minShift,
                   Histogram1D& r);

// r = the sum of operands[0 .. count - 1] (count >= 1), the same as summing them in pairs in
// any order: counts are never negative, so a saturated total is INT_MAX whichever way it is
// grouped. r must not be an operand.
void sumHistograms(const Histogram1D* const* operands, int count, int binsLog, int minShift,
                   Histogram1D& r);

// The same as a value: the operation that the histogram line filter applies.
inline Histogram1D histogramSum(const Histogram1D& p, const Histogram1D& q, int binsLog, int minShift)
{
    Histogram1D r;
    sumHistograms(p, q, binsLog, minShift, r);
    return r;
}

} // namespace classification
