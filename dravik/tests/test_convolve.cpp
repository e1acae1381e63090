#include "morphology/convolve.h"
#include "morphology/separable.h"

#include "photo_arrays.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using corvath::utility::domainOf;
using corvath::utility::Rect;

namespace {

template <typename T>
using Array2 = blitz::Array<T, 2>;

enum class Axis { first, second };
enum class Anchor { trailing, leading };  // the window ends at the element, or starts there

template <typename T>
Array2<T> like(const Array2<T>& a, const T& fill)
{
    Array2<T> out(a.shape());
    out.reindexSelf(a.base());
    out = fill;
    return out;
}

// op folded over the w elements of the window at (x, y), first element first.
template <typename T, typename Op>
T bruteWindow(const Array2<T>& s, int x, int y, int w, Axis axis, Anchor anchor, Op op)
{
    const int start = anchor == Anchor::trailing ? -(w - 1) : 0;
    const auto at = [&](int k) { return axis == Axis::first ? s(x + start + k, y) : s(x, y + start + k); };
    T acc = at(0);
    for (int k = 1; k < w; ++k)
        acc = op(at(k), acc);
    return acc;
}

template <typename T, typename Op>
Rect runFilter(const Array2<T>& s, int w, Op op, Array2<T> d, Axis axis, Anchor anchor,
               ProgressRange progress = ProgressRange())
{
    if (anchor == Anchor::trailing)
        return axis == Axis::first ? morphology::convolveLineFast(s, w, op, d, progress)
                                   : morphology::convolveLineFastTransposed(s, w, op, d, progress);
    return axis == Axis::first ? morphology::lineFilterPairB(s, w, op, d, progress)
                               : morphology::lineFilterPairA(s, w, op, d, progress);
}

Rect expectedRect(const Rect& in, int w, Axis axis, Anchor anchor)
{
    Rect r = in;
    int& lo = axis == Axis::first ? r.x1 : r.y1;
    int& hi = axis == Axis::first ? r.x2 : r.y2;
    (anchor == Anchor::trailing ? lo : hi) += anchor == Anchor::trailing ? w - 1 : -(w - 1);
    return r;
}

// Runs the filter for windows 1..9, along both axes, into a separate array and in place, and
// compares every element with the brute-force window; elements outside the output stay.
template <typename T, typename Op, typename Eq>
void checkAgainstBruteForce(const Array2<T>& source, Op op, Anchor anchor, const T& untouched, Eq equal)
{
    const Rect in = domainOf(source);
    for (int w = 1; w <= 9; ++w)
        for (Axis axis : {Axis::first, Axis::second})
            for (bool inPlace : {false, true}) {
                SCOPED_TRACE(::testing::Message() << "w " << w << (axis == Axis::first ? " first" : " second")
                                                  << (inPlace ? " in place" : " separate"));
                Array2<T> dest = inPlace ? Array2<T>(source.copy()) : like(source, untouched);
                const Rect r = runFilter(inPlace ? Array2<T>(dest) : source, w, op, dest, axis, anchor);
                ASSERT_EQ(r, expectedRect(in, w, axis, anchor));
                for (int x = in.x1; x <= in.x2; ++x)
                    for (int y = in.y1; y <= in.y2; ++y) {
                        const T want = r.contains(x, y) ? bruteWindow(source, x, y, w, axis, anchor, op)
                                                        : inPlace ? source(x, y) : untouched;
                        ASSERT_TRUE(equal(dest(x, y), want)) << "at " << x << ", " << y;
                    }
            }
}

const auto sameValue = [](auto a, auto b) { return a == b; };

// A histogram with power-of-two bins, summed over both operands' ranges.
struct TestHistogram {
    int lo = 0, hi = 0, shift = 0;
    std::vector<int> counts;

    void setRange(int l, int h, int binsLog, int minShift)
    {
        lo = l;
        hi = h;
        int d = std::max(hi - lo, 1), e = 0;
        while (d >>= 1)
            ++e;
        shift = std::max(minShift, e - binsLog + 1);
        counts.assign((hi >> shift) - (lo >> shift) + 1, 0);
    }
    void add(int value, int count) { counts[(value >> shift) - (lo >> shift)] += count; }
    bool operator==(const TestHistogram& o) const
    {
        return lo == o.lo && hi == o.hi && shift == o.shift && counts == o.counts;
    }
};

TestHistogram histogramSum(const TestHistogram& p, const TestHistogram& q, int binsLog, int minShift)
{
    TestHistogram r;
    r.setRange(std::min(p.lo, q.lo), std::max(p.hi, q.hi), binsLog, minShift);
    for (const TestHistogram* h : {&p, &q})
        for (std::size_t k = 0; k < h->counts.size(); ++k)
            r.counts[((int(k) + (h->lo >> h->shift)) >> (r.shift - h->shift)) - (r.lo >> r.shift)] +=
                h->counts[k];
    return r;
}

struct Recorder : corvath::utility::IiUI {
    std::vector<float> fractions;
    std::vector<std::string> texts;
    std::function<void()> onReport;
    void progress(float f, const std::string& text) override
    {
        fractions.push_back(f);
        texts.push_back(text);
        if (onReport)
            onReport();
    }
};

} // namespace

TEST(LineFilter, MaximumAndMinimumOfBytesMatchBruteForce)
{
    // 70 x 150 crosses the 64-line strips and the progress rows 0 and 128.
    const auto photo = testsupport::photoChannel(70, 150, 0, -7, 13);
    checkAgainstBruteForce(photo, morphology::LineOpMax(), Anchor::trailing, (unsigned char)77, sameValue);
    checkAgainstBruteForce(photo, morphology::LineOpMin(), Anchor::trailing, (unsigned char)77, sameValue);
    // The first-index minimum under its own name.
    Array2<unsigned char> d = like(photo, (unsigned char)0), e = like(photo, (unsigned char)0);
    EXPECT_EQ(morphology::convolveLineFastB(photo, 4, morphology::LineOpMin(), d, ProgressRange()),
              morphology::convolveLineFast(photo, 4, morphology::LineOpMin(), e, ProgressRange()));
    EXPECT_TRUE(blitz::all(d == e));
}

TEST(LineFilter, LogicalOrTrailingAndLeadingMatchBruteForce)
{
    const auto photo = testsupport::photoChannel(41, 90, 1, 5, -60);
    Array2<int> mask(photo.shape());
    mask.reindexSelf(photo.base());
    mask = blitz::where(photo > 200, 1, 0);
    for (Anchor anchor : {Anchor::trailing, Anchor::leading})
        checkAgainstBruteForce(mask, morphology::LineOpOr(), anchor, -3, sameValue);

    // A window of one copies, so a non-zero value other than 1 passes through.
    mask(10, -20) = 5;
    Array2<int> out = like(mask, 0);
    morphology::convolveLineFast(mask, 1, morphology::LineOpOr(), out, ProgressRange());
    EXPECT_EQ(out(10, -20), 5);
    morphology::convolveLineFast(mask, 2, morphology::LineOpOr(), out, ProgressRange());
    EXPECT_EQ(out(10, -20), 1);
}

TEST(LineFilter, HistogramSumMatchesBruteForce)
{
    // Cells holding the values of small blocks of the photo, with varied ranges and shifts.
    const auto photo = testsupport::photoChannel(46, 38, 2, 0, 0);
    Array2<TestHistogram> cells(blitz::Range(3, 25), blitz::Range(-4, 14));
    for (int i = 0; i < 23; ++i)
        for (int j = 0; j < 19; ++j) {
            const int a = photo(2 * i, 2 * j), b = photo(2 * i + 1, 2 * j + 1);
            TestHistogram& h = cells(3 + i, j - 4);
            h.setRange(std::min(a, b), std::max(a, b), 3, 0);
            h.add(a, 3);
            h.add(b, 1 + i);
        }
    checkAgainstBruteForce(cells, morphology::LineOpHistogramSum{3, 0}, Anchor::trailing, TestHistogram(),
                           sameValue);
}

TEST(LineFilter, WindowAsLongAsTheLineOrLonger)
{
    const auto photo = testsupport::photoChannel(10, 6, 0, -3, 2);
    Array2<unsigned char> out = like(photo, (unsigned char)9);
    // w = L: one output per line, the maximum of the whole line.
    EXPECT_EQ(morphology::convolveLineFast(photo, 10, morphology::LineOpMax(), out, ProgressRange()),
              (Rect{6, 2, 6, 7}));
    for (int y = 2; y <= 7; ++y)
        EXPECT_EQ(out(6, y), blitz::max(photo(blitz::Range::all(), y)));
    EXPECT_EQ(blitz::count(out == 9), 10 * 6 - 6);

    // Longer than the line, zero or negative: an empty rectangle and nothing written.
    out = 9;
    for (int w : {11, 1000000, 0, -4}) {
        EXPECT_TRUE(morphology::convolveLineFast(photo, w, morphology::LineOpMax(), out, ProgressRange()).isEmpty());
        EXPECT_TRUE(morphology::convolveLineFastTransposed(photo, w, morphology::LineOpMax(), out, ProgressRange()).isEmpty());
        EXPECT_TRUE(morphology::lineFilterPairB(photo, w, morphology::LineOpMax(), out, ProgressRange()).isEmpty());
    }
    EXPECT_TRUE(blitz::all(out == 9));
}

TEST(LineFilter, ReflectedWindowsOnASmallDomain)
{
    Array2<int> s(10, 1), d(10, 1);
    s = 0;
    s(4, 0) = 1;
    d = -1;
    EXPECT_EQ(morphology::lineFilterPairB(s, 3, morphology::LineOpOr(), d, ProgressRange()), (Rect{0, 0, 7, 0}));
    const int want[10] = {0, 0, 1, 1, 1, 0, 0, 0, -1, -1};
    for (int x = 0; x < 10; ++x)
        EXPECT_EQ(d(x, 0), want[x]) << x;

    const Array2<int> v = morphology::reflect(s);
    EXPECT_EQ(domainOf(v), (Rect{-9, 0, 0, 0}));
    EXPECT_EQ(v(-4, 0), 1);
    EXPECT_EQ(&v(-4, 0), &s(4, 0));  // a view, not a copy
}

TEST(LineFilter, DestinationMustCoverTheOutput)
{
    const auto photo = testsupport::photoChannel(12, 8, 0, 0, 0);
    Array2<unsigned char> small(blitz::Range(2, 11), blitz::Range(0, 6));
    EXPECT_THROW(morphology::convolveLineFast(photo, 3, morphology::LineOpMax(), small, ProgressRange()),
                 std::invalid_argument);
    // Covering exactly the output rectangle is enough.
    Array2<unsigned char> exact(blitz::Range(2, 11), blitz::Range(0, 7));
    EXPECT_NO_THROW(morphology::convolveLineFast(photo, 3, morphology::LineOpMax(), exact, ProgressRange()));
}

TEST(LineFilter, ReportsOnRowsThatAreMultiplesOf128)
{
    const auto photo = testsupport::photoChannel(5, 601, 0, 0, -300);
    Array2<unsigned char> out = like(photo, (unsigned char)0);
    Recorder ui;
    // Rows up to the reported one are written when it is reported, the next one not yet.
    std::vector<int> reportedRows;
    ui.onReport = [&] {
        const int y = reportedRows.empty() ? -256 : reportedRows.back() + 128;
        reportedRows.push_back(y);
        EXPECT_EQ(out(4, y), blitz::max(photo(blitz::Range::all(), y)));
        if (y < 300) {
            EXPECT_EQ(out(4, y + 1), 0);
        }
    };
    out(4, blitz::Range::all()) = 0;
    morphology::convolveLineFast(photo, 5, morphology::LineOpMax(), out, ProgressRange(&ui, 0.2f, 0.6f));
    ASSERT_EQ(ui.fractions.size(), 5u);  // rows -256, -128, 0, 128, 256
    for (std::size_t k = 0; k < 5; ++k) {
        const float t = float(-256 + 128 * int(k) + 300 + 1) / 601.f;
        EXPECT_FLOAT_EQ(ui.fractions[k], (1 - t) * 0.2f + t * 0.6f);
        EXPECT_NE(ui.texts[k].find(": 312:\n(before [convolve line fast]): "), std::string::npos);
    }

    // A throwing callback leaves the filter.
    ui.onReport = [] { throw DvExCancel(); };
    EXPECT_THROW(morphology::convolveLineFast(photo, 2, morphology::LineOpMax(), out, ProgressRange(&ui, 0.f, 1.f)),
                 DvExCancel);
}

TEST(SeparableFilter, MaximumAndMinimumOverRectangularWindows)
{
    const auto photo = testsupport::photoChannel(67, 81, 1, -20, 9);
    const Rect in = domainOf(photo);
    for (auto [w1, w2] : {std::pair{1, 1}, {2, 2}, {3, 5}, {9, 4}, {1, 7}})
        for (bool isMax : {true, false}) {
            SCOPED_TRACE(::testing::Message() << w1 << " x " << w2 << (isMax ? " max" : " min"));
            Array2<unsigned char> out = like(photo, (unsigned char)99);
            const Rect r = isMax ? morphology::separableMaxFilter(out, {w1, w2}, photo, ProgressRange())
                                 : morphology::separableMinFilter(out, {w1, w2}, photo, ProgressRange());
            ASSERT_EQ(r, (Rect{in.x1 + w1 - 1, in.y1 + w2 - 1, in.x2, in.y2}));
            for (int x = in.x1; x <= in.x2; ++x)
                for (int y = in.y1; y <= in.y2; ++y) {
                    int want = 99;
                    if (r.contains(x, y)) {
                        const auto block = photo(blitz::Range(x - w1 + 1, x), blitz::Range(y - w2 + 1, y));
                        want = isMax ? blitz::max(block) : blitz::min(block);
                    }
                    ASSERT_EQ(out(x, y), want) << x << ", " << y;
                }
        }
    // A window that does not fit writes nothing.
    Array2<unsigned char> out = like(photo, (unsigned char)99);
    EXPECT_TRUE(morphology::separableMaxFilter(out, {2, 82}, photo, ProgressRange()).isEmpty());
    EXPECT_TRUE(morphology::separableMinFilter(out, {0, 2}, photo, ProgressRange()).isEmpty());
    EXPECT_TRUE(blitz::all(out == 99));
}

TEST(SeparableFilter, PassesReportIntoTheirHalves)
{
    const auto photo = testsupport::photoChannel(300, 300, 0, 0, 0);
    Array2<unsigned char> out = like(photo, (unsigned char)0);
    Recorder ui;
    morphology::separableMaxFilter(out, {2, 2}, photo, ProgressRange(&ui, 0.f, 1.f));
    // Columns 0, 128, 256 in the first pass; rows 128, 256 in the second (its rows start at 1).
    ASSERT_EQ(ui.fractions.size(), 5u);
    for (std::size_t k = 0; k < 3; ++k)
        EXPECT_LE(ui.fractions[k], 0.5f);
    for (std::size_t k = 3; k < 5; ++k)
        EXPECT_GT(ui.fractions[k], 0.5f);
    EXPECT_TRUE(std::is_sorted(ui.fractions.begin(), ui.fractions.end()));
}
