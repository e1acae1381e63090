// The builders of one cell's histogram from the 2 x 2 pixel blocks of a channel.
#include "classification/segmentation.h"

#include <algorithm>

namespace classification {

namespace {

inline void sort4(int& a, int& b, int& c, int& d)
{
    if (a > b) std::swap(a, b);
    if (c > d) std::swap(c, d);
    if (a > c) std::swap(a, c);
    if (b > d) std::swap(b, d);
    if (b > c) std::swap(b, c);
}

// The per-value weight (total << shift) / d of an interval of d + 1 values, d taken as 1 when
// it is less, looked up rather than divided per pixel. Shifts above 15 never occur: the stage
// builds with at least 0 colour bits, which keeps them at 8 or less.
class SpreadWeights {
public:
    static constexpr int kMaxShift = 15;

    SpreadWeights()
    {
        for (int s = 0; s <= kMaxShift; ++s)
            for (int d = 0; d < 256; ++d) {
                m_w[0][s][d] = (512 << s) / std::max(d, 1);
                m_w[1][s][d] = (1024 << s) / std::max(d, 1);
            }
    }
    // total is 512 or 1024.
    const int* row(int total, int shift) const { return m_w[total == 1024][shift]; }

private:
    int m_w[2][kMaxShift + 1][256];
};

const SpreadWeights& spreadWeights()
{
    static const SpreadWeights table;
    return table;
}

// spreadInterval over the counts of a histogram with the given shift, indexed by bin; weights
// is the table row of that shift and the interval's total.
inline void spread(int* bins, int shift, const int* weights, int a, int b)
{
    const int exact = b - a;
    const int w = weights[exact];
    const int A = a >> shift, B = b >> shift;
    // Both cases computed and selected, so that narrow and wide intervals do not mispredict.
    const int whole = ((exact + 1) * w) >> shift;
    const int head = ((((A + 1) << shift) - a) * w) >> shift;
    const int tail = ((b - (B << shift) + 1) * w) >> shift;
    const bool oneBin = A == B;
    bins[A] = addSaturated(bins[A], oneBin ? whole : head);
    bins[B] = addSaturated(bins[B], oneBin ? 0 : tail);
    for (int k = A + 1; k < B; ++k)
        bins[k] = addSaturated(bins[k], w);
}

// Bins from..to each gain the same share.
inline void addFlat(int* bins, int from, int to, int share)
{
    for (int k = from; k <= to; ++k)
        bins[k] = addSaturated(bins[k], share);
}

// Calls f(v(x, y), v(x, y + 1), v(x + 1, y), v(x + 1, y + 1)) for every x, y of the block.
template <typename F>
inline void forEachQuad(const ChannelView& ch, IntPair lower, IntPair upper, F&& f)
{
    const std::ptrdiff_t s1 = ch.stride1;
    for (int x = lower.x; x < upper.x; ++x) {
        const unsigned char* r0 = ch.at(x, lower.y);
        const unsigned char* r1 = r0 + ch.stride0;
        for (int y = lower.y; y < upper.y; ++y, r0 += s1, r1 += s1)
            f(int(r0[0]), int(r0[s1]), int(r1[0]), int(r1[s1]));
    }
}

} // namespace

void spreadInterval(Histogram1D& h, int a, int b, int total)
{
    spread(h.counts() - h.firstBin(), h.shift(), spreadWeights().row(total, h.shift()), a, b);
}

void buildBlockHistogram(const ChannelView& ch, IntPair lower, IntPair upper, int interpolation,
                         int colourBits, Histogram1D& h)
{
    if (interpolation < 0 || interpolation > 3)
        return;

    int lo = 0, hi = 255;
    if (lower.x <= upper.x && lower.y <= upper.y) {
        lo = 255;
        hi = 0;
        for (int x = lower.x; x <= upper.x; ++x) {
            const unsigned char* p = ch.at(x, lower.y);
            for (int y = lower.y; y <= upper.y; ++y, p += ch.stride1) {
                lo = std::min(lo, int(*p));
                hi = std::max(hi, int(*p));
            }
        }
    }
    h.setRange(lo, hi, colourBits, 0);
    if (lower.x >= upper.x || lower.y >= upper.y) {
        h.fill(1024 / h.binCount());
        return;
    }

    int* bins = h.counts() - h.firstBin();
    const int s = h.shift();
    const int* w1024 = spreadWeights().row(1024, s);
    const int* w512 = spreadWeights().row(512, s);
    const int* perBin1024 = spreadWeights().row(1024, 0);
    const int* perBin512 = spreadWeights().row(512, 0);
    switch (interpolation) {
    case 0:
        forEachQuad(ch, lower, upper, [&](int a, int b, int c, int d) {
            spread(bins, s, w1024, std::min(std::min(a, b), std::min(c, d)),
                   std::max(std::max(a, b), std::max(c, d)));
        });
        break;
    case 1:
        forEachQuad(ch, lower, upper, [&](int a, int b, int c, int d) {
            const int A = std::min(std::min(a, b), std::min(c, d)) >> s;
            const int B = std::max(std::max(a, b), std::max(c, d)) >> s;
            addFlat(bins, A, B, perBin1024[B - A]);  // 1024 / n, n below 2 taken as 1
        });
        break;
    case 2:
        forEachQuad(ch, lower, upper, [&](int a, int b, int c, int d) {
            sort4(a, b, c, d);
            spread(bins, s, w512, a, (b + c) / 2);
            spread(bins, s, w512, (b + c + 1) / 2, d);
        });
        break;
    case 3:
        forEachQuad(ch, lower, upper, [&](int a, int b, int c, int d) {
            a >>= s;
            b >>= s;
            c >>= s;
            d >>= s;
            sort4(a, b, c, d);
            const int m1 = (b + c) / 2, m2 = (b + c + 1) / 2;
            addFlat(bins, a, m1, perBin512[m1 - a]);
            addFlat(bins, m2, d, perBin512[d - m2]);
        });
        break;
    }
}

} // namespace classification
