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

// spreadInterval over the counts of a histogram with the given shift, indexed by bin.
inline void spread(int* bins, int shift, int a, int b, int total)
{
    const int exact = b - a;
    const int d = exact <= 1 ? 1 : exact;
    const int w = (total << shift) / d;
    const int A = a >> shift, B = b >> shift;
    if (A == B) {
        bins[A] = addSaturated(bins[A], ((exact + 1) * w) >> shift);
        return;
    }
    bins[A] = addSaturated(bins[A], ((((A + 1) << shift) - a) * w) >> shift);
    for (int k = A + 1; k < B; ++k)
        bins[k] = addSaturated(bins[k], w);
    bins[B] = addSaturated(bins[B], ((b - (B << shift) + 1) * w) >> shift);
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
    spread(h.counts() - h.firstBin(), h.shift(), a, b, total);
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
    switch (interpolation) {
    case 0:
        forEachQuad(ch, lower, upper, [&](int a, int b, int c, int d) {
            spread(bins, s, std::min(std::min(a, b), std::min(c, d)),
                   std::max(std::max(a, b), std::max(c, d)), 1024);
        });
        break;
    case 1:
        forEachQuad(ch, lower, upper, [&](int a, int b, int c, int d) {
            const int A = std::min(std::min(a, b), std::min(c, d)) >> s;
            const int B = std::max(std::max(a, b), std::max(c, d)) >> s;
            const int n = B - A < 2 ? 1 : B - A;
            addFlat(bins, A, B, 1024 / n);
        });
        break;
    case 2:
        forEachQuad(ch, lower, upper, [&](int a, int b, int c, int d) {
            sort4(a, b, c, d);
            spread(bins, s, a, (b + c) / 2, 512);
            spread(bins, s, (b + c + 1) / 2, d, 512);
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
            const int n1 = m1 - a < 2 ? 1 : m1 - a;
            const int n2 = d - m2 < 2 ? 1 : d - m2;
            addFlat(bins, a, m1, 512 / n1);
            addFlat(bins, m2, d, 512 / n2);
        });
        break;
    }
}

} // namespace classification
