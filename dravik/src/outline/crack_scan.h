#pragma once
// Crack tracing, shared by the outline builders: a scan over the label rectangle starts a chain
// at every crack that no walk has taken yet, and the walk follows the border with its first
// label on the left, one crack at a time, until it comes round to its start or reaches a crack
// walked before.

#include "outline/outline.h"

#include "common/bandthreads.h"
#include "common/firsttouch.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <unordered_map>
#include <vector>

namespace classification::detail {

struct Step {
    int dx = 0, dy = 0;
    std::ptrdiff_t label = 0;  // in label elements
    std::ptrdiff_t visit = 0;  // in visited-array bytes
};

// Offsets by index: 0 the pixel itself, 1 forward, 2 across, 3 diagonal.
struct Direction {
    Step offsets[4];
    int cornerX = 0, cornerY = 0;
};

// a: offset index to move to, -1 stop, -2 no step; b: added to the direction.
struct Turn {
    signed char a, b;
};

constexpr Turn kLeft{0, 3}, kStraight{1, 0}, kRight{3, 1}, kStop{-1, -1}, kNone{-2, -2};

// Rows: diagonal class (0 B, 1 A, 2 other, 3 unused); columns: forward class (0 B, 1 A,
// 2 other, 3 B with the crack to the current pixel already walked from B's side).
constexpr Turn kTurns[4][4] = {
    {kLeft, kStraight, kStop, kNone},
    {kLeft, kRight, kRight, kRight},
    {kLeft, kStop, kStop, kNone},
    {kNone, kNone, kNone, kNone},
};

struct Cursor {
    int x = 0, y = 0, d = 0;
    std::ptrdiff_t label = 0, visit = 0;

    bool sameCrack(const Cursor& o) const { return label == o.label && d == o.d; }
};

// The scan runs in bands of lines side by side. A chain never reaches a line above its start
// (every crack there was walked before the scan got to it), so a band needs of the bands above
// only the line just above its top (from which side each of its cracks was walked decides the
// turn at a diagonal junction) and the marks their chains left at and below its top. Every
// band first runs on a guess of those; a band whose inputs then differ from its guess runs again
// on them, until none does. Band 0 needs nothing, so band k is right after at most k + 1 runs,
// and what the bands give in order is what one scan over all lines gives.
template <typename Label>
class CrackScan {
public:
    CrackScan(const blitz::Array<Label, 2>& labels, const Rect& rect);
    ~CrackScan()
    {
        // The chains' points are many pages: each band's go back on a thread of their own.
        try {
            runBands(int(m_bands.size()), [this](int k) {
                Polyline& points = m_bands[std::size_t(k)].points;
                corvath::utility::releaseInSlices(points.data(), points.capacity());
            });
        } catch (...) {
            // Then the free does it all.
        }
    }
    CrackScan(const CrackScan&) = delete;
    CrackScan& operator=(const CrackScan&) = delete;

    // Calls onChain(labelA, labelB, points, count) for every chain, in scan order. The points
    // stay valid while this object lives.
    template <typename OnChain>
    void scan(OnChain&& onChain);

private:
    // A walked side of a crack: bit d of visited byte `index`.
    struct Mark {
        std::ptrdiff_t index;
        int line;
        unsigned char bits;
        bool operator==(const Mark& o) const { return index == o.index && bits == o.bits; }
    };
    struct Chain {
        std::size_t end;
        Label a, b;
    };
    // Lines [top, bottom) of the visited array are the band's own; the line above it and the
    // cracks below it are kept aside.
    struct Band {
        int top = 0, bottom = 0;
        std::vector<unsigned char> above;  // line top - 1, by first index
        std::vector<Mark> foreign;         // marks of the bands above at or below top, sorted
        std::unordered_map<std::ptrdiff_t, unsigned char> below;
        std::vector<Mark> spilled;         // own marks below bottom, sorted
        std::vector<unsigned char> last;   // line bottom - 1 after the run
        Polyline points;
        std::vector<Chain> chains;
        // A run again mostly differs from the last one near the top only. At each checkpoint
        // line the last run kept what it had left on that line and below it (the line before
        // the checkpoint included), and where its chains and points stood: when this run
        // leaves the same there, the rest of the last run stands.
        std::vector<int> checkpoints;
        std::vector<std::vector<Mark>> states;
        std::vector<std::size_t> chainsAt, pointsAt;
        std::vector<Mark> ranForeign;  // the inputs of the last run
        bool ran = false;
        int watchFrom = INT_MAX;
        std::vector<Mark> watched;  // marks at watchFrom or below since the last checkpoint
    };

    Cursor at(int x, int y, int d) const
    {
        return {x, y, d, (x - m_fx) * m_ls0 + (y - m_fy) * m_ls1, (x - m_fx) * m_vs0 + (y - m_fy)};
    }
    Cursor moved(const Cursor& c, const Step& s, int d) const
    {
        return {c.x + s.dx, c.y + s.dy, d, c.label + s.label, c.visit + s.visit};
    }
    // Side d of a crack of pixel (x, y); the crack below a pixel (d 0) is kept with the pixel
    // below it, so that every byte of a line holds the cracks of that line only.
    bool visitedFrom(const Band& band, int x, int y, std::ptrdiff_t visit, int d) const
    {
        const int down = d == 0;
        const int line = y + down;
        if (line >= band.top && line < band.bottom)
            return (m_visited[std::size_t(visit + down)] >> d) & 1;
        return visitedOutside(band, x, line, visit + down, d);
    }
    bool visitedOutside(const Band& band, int x, int line, std::ptrdiff_t index, int d) const;
    void markVisited(Band& band, const Cursor& c) const
    {
        const int down = c.d == 0;
        const int line = c.y + down;
        if (line >= band.watchFrom)
            band.watched.push_back({c.visit + down, line, (unsigned char)(1 << c.d)});
        if (line >= band.top && line < band.bottom)
            m_visited[std::size_t(c.visit + down)] |= (unsigned char)(1 << c.d);
        else
            markOutside(band, c.x, line, c.visit + down, c.d);
    }
    static void sortMarks(std::vector<Mark>& marks);
    // Ends a rerun at the checkpoint `at` with the rest of the last run when that is still
    // right there.
    bool spliceLastRun(Band& band, std::size_t at, Polyline& lastPoints, std::vector<Chain>& lastChains,
                       std::vector<Mark>& lastSpilled, std::vector<unsigned char>& lastLine) const;
    void markOutside(Band& band, int x, int line, std::ptrdiff_t index, int d) const;

    bool nextCrack(const Band& band, Cursor& c, Label a, Label b) const;
    bool walk(Band& band, Cursor c, Label a, Label b, const Cursor& start) const;
    bool traceCrackChain(Band& band, const Cursor& start, Label a, Label b) const;
    void runBand(Band& band, const std::vector<std::uint64_t>& corners, int words) const;
    // Where the scan may start a chain, one bit per pixel, a line of `words` words per
    // second index.
    std::vector<std::uint64_t> crackCorners(int& words) const;

    Direction m_dirs[4];
    const Label* m_labels;  // the frame's first corner
    std::ptrdiff_t m_ls0, m_ls1, m_vs0;
    int m_fx, m_fy;  // index of the frame's first corner
    int m_width;     // frame extent along the first index
    Rect m_rect;
    std::unique_ptr<unsigned char[]> m_visited;  // each band clears its own lines
    std::vector<Band> m_bands;
};

template <typename Label>
CrackScan<Label>::CrackScan(const blitz::Array<Label, 2>& labels, const Rect& rect)
    : m_rect(rect)
{
    const Rect framed = corvath::utility::grow(rect, 1);
    const Rect domain = corvath::utility::domainOf(labels);
    if (framed.x1 < domain.x1 || framed.y1 < domain.y1 || framed.x2 > domain.x2 || framed.y2 > domain.y2)
        throw std::invalid_argument("label frame outside the label array");

    m_fx = framed.x1;
    m_fy = framed.y1;
    m_ls0 = labels.stride(0);
    m_ls1 = labels.stride(1);
    m_labels = labels.data() + (m_fx - domain.x1) * m_ls0 + (m_fy - domain.y1) * m_ls1;
    m_vs0 = framed.y2 - framed.y1 + 1;

    // The tracer steps onto frame pixels and reads their neighbours: only a frame of one
    // value keeps it within one pixel of the rectangle.
    const Label f = m_labels[0];
    const int w = int(framed.width()), h = int(framed.height());
    for (int i = 0; i < w; ++i)
        if (m_labels[i * m_ls0] != f || m_labels[i * m_ls0 + (h - 1) * m_ls1] != f)
            throw std::invalid_argument("label frame holds more than one value");
    for (int j = 0; j < h; ++j)
        if (m_labels[j * m_ls1] != f || m_labels[(w - 1) * m_ls0 + j * m_ls1] != f)
            throw std::invalid_argument("label frame holds more than one value");

    m_width = w;
    m_visited.reset(new unsigned char[std::size_t(w) * std::size_t(h)]);

    static constexpr int forward[4][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
    static constexpr int across[4][2] = {{0, 1}, {-1, 0}, {0, -1}, {1, 0}};
    for (int d = 0; d < 4; ++d) {
        const int off[4][2] = {{0, 0},
                               {forward[d][0], forward[d][1]},
                               {across[d][0], across[d][1]},
                               {forward[d][0] + across[d][0], forward[d][1] + across[d][1]}};
        for (int k = 0; k < 4; ++k) {
            Step& s = m_dirs[d].offsets[k];
            s.dx = off[k][0];
            s.dy = off[k][1];
            s.label = s.dx * m_ls0 + s.dy * m_ls1;
            s.visit = s.dx * m_vs0 + s.dy;
        }
        m_dirs[d].cornerX = (off[3][0] + 1) / 2;
        m_dirs[d].cornerY = (off[3][1] + 1) / 2;
    }
}

template <typename Label>
bool CrackScan<Label>::visitedOutside(const Band& band, int x, int line, std::ptrdiff_t index, int d) const
{
    if (line == band.top - 1)
        return (band.above[std::size_t(x - m_fx)] >> d) & 1;
    if (line < band.top)
        return true;  // walked before the scan reached the band, from whichever side
    const auto it = band.below.find(index);
    return it != band.below.end() && ((it->second >> d) & 1);
}

template <typename Label>
void CrackScan<Label>::markOutside(Band& band, int x, int line, std::ptrdiff_t index, int d) const
{
    const unsigned char bit = (unsigned char)(1 << d);
    if (line == band.top - 1) {
        band.above[std::size_t(x - m_fx)] |= bit;  // only on a wrong guess of the line above
    } else if (line >= band.bottom) {
        band.below[index] |= bit;
        band.spilled.push_back({index, line, bit});
    }
}

// The step rule at the end corner of crack c, whose left pixel is labelled a and across pixel b.
template <typename Label>
bool CrackScan<Label>::nextCrack(const Band& band, Cursor& c, Label a, Label b) const
{
    const Direction& dir = m_dirs[c.d];
    const Label diagonal = m_labels[c.label + dir.offsets[3].label];
    const Label forward = m_labels[c.label + dir.offsets[1].label];
    const int dc = diagonal == a ? 1 : diagonal == b ? 0 : 2;
    int fc = 2;
    if (forward == a) {
        fc = 1;
    } else if (forward == b) {
        const Step& s = dir.offsets[1];
        fc = visitedFrom(band, c.x + s.dx, c.y + s.dy, c.visit + s.visit, (c.d + 1) & 3) ? 3 : 0;
    }
    const Turn t = kTurns[dc][fc];
    if (t.a < 0)
        return false;  // a stop, or a cell no scan reaches: the chain ends either way
    c = moved(c, dir.offsets[t.a], (c.d + t.b) & 3);
    return true;
}

// Appends the corners of the walk from c; true when it came round to start.
template <typename Label>
bool CrackScan<Label>::walk(Band& band, Cursor c, Label a, Label b, const Cursor& start) const
{
    for (;;) {
        const Direction& dir = m_dirs[c.d];
        band.points.push_back({c.x + dir.cornerX, c.y + dir.cornerY});
        markVisited(band, c);
        if (!nextCrack(band, c, a, b))
            return false;
        const Step& s = m_dirs[c.d].offsets[2];
        if (visitedFrom(band, c.x + s.dx, c.y + s.dy, c.visit + s.visit, (c.d + 2) & 3))
            return false;
        // Reaching a crack this side has walked before ends the walk; only the start closes it.
        if (visitedFrom(band, c.x, c.y, c.visit, c.d))
            return c.sameCrack(start);
    }
}

// Traces the chain through start onto the band's points; true when it is closed.
template <typename Label>
bool CrackScan<Label>::traceCrackChain(Band& band, const Cursor& start, Label a, Label b) const
{
    const std::size_t first = band.points.size();
    if (walk(band, start, a, b, start)) {
        band.points.push_back(band.points[first]);
        return true;
    }
    std::reverse(band.points.begin() + std::ptrdiff_t(first), band.points.end());
    const Direction& dir = m_dirs[start.d];
    const Cursor back = moved(start, dir.offsets[2], (start.d + 2) & 3);
    walk(band, back, b, a, back);
    return false;
}

template <typename Label>
std::vector<std::uint64_t> CrackScan<Label>::crackCorners(int& words) const
{
    // Bit x - x1 of line y - y1: pixel (x, y) differs from its neighbour before it along
    // either index. Bands of 64 first indices fill their own words.
    const int columns = m_rect.x2 - m_rect.x1 + 2, lines = m_rect.y2 - m_rect.y1 + 2;
    words = (columns + 63) / 64;
    std::vector<std::uint64_t> bits(std::size_t(words) * std::size_t(lines), 0);
    const int bands = std::min(words, bandCount(lines, columns));
    const Label* first = m_labels + (m_rect.x1 - m_fx) * m_ls0 + (m_rect.y1 - m_fy) * m_ls1;
    runBands(bands, [&](int b) {
        for (int w = bandStart(words, bands, b), wEnd = bandStart(words, bands, b + 1); w < wEnd; ++w) {
            for (int i = w * 64, iEnd = std::min(columns, i + 64); i < iEnd; ++i) {
                const Label* p = first + i * m_ls0;
                const std::uint64_t bit = std::uint64_t(1) << (i & 63);
                std::uint64_t* out = bits.data() + w;
                for (int j = 0; j < lines; ++j, p += m_ls1, out += words)
                    if (*p != p[-m_ls1] || *p != p[-m_ls0])
                        *out |= bit;
            }
        }
    });
    return bits;
}

template <typename Label>
void CrackScan<Label>::sortMarks(std::vector<Mark>& marks)
{
    std::sort(marks.begin(), marks.end(), [](const Mark& p, const Mark& q) { return p.index < q.index; });
    std::size_t n = 0;
    for (const Mark& m : marks) {
        if (n > 0 && marks[n - 1].index == m.index)
            marks[n - 1].bits |= m.bits;
        else
            marks[n++] = m;
    }
    marks.resize(n);
}

template <typename Label>
bool CrackScan<Label>::spliceLastRun(Band& band, std::size_t at, Polyline& lastPoints,
                                     std::vector<Chain>& lastChains, std::vector<Mark>& lastSpilled,
                                     std::vector<unsigned char>& lastLine) const
{
    const int from = band.checkpoints[at] - 1;
    const auto below = [from](const Mark& m) { return m.line >= from; };
    // The inputs on and below the line before the checkpoint must be the same too.
    std::vector<Mark> now, before;
    std::copy_if(band.foreign.begin(), band.foreign.end(), std::back_inserter(now), below);
    std::copy_if(band.ranForeign.begin(), band.ranForeign.end(), std::back_inserter(before), below);
    if (now != before || band.watched != band.states[at])
        return false;
    const std::size_t chainsHere = band.chains.size(), pointsHere = band.points.size();
    const std::size_t chainsThen = band.chainsAt[at], pointsThen = band.pointsAt[at];
    lastPoints.erase(lastPoints.begin(), lastPoints.begin() + std::ptrdiff_t(pointsThen));
    lastPoints.insert(lastPoints.begin(), band.points.begin(), band.points.end());
    band.points.swap(lastPoints);
    lastChains.erase(lastChains.begin(), lastChains.begin() + std::ptrdiff_t(chainsThen));
    for (Chain& chain : lastChains)
        chain.end = chain.end - pointsThen + pointsHere;
    lastChains.insert(lastChains.begin(), band.chains.begin(), band.chains.end());
    band.chains.swap(lastChains);
    for (std::size_t k = at; k < band.checkpoints.size(); ++k) {
        band.chainsAt[k] = band.chainsAt[k] - chainsThen + chainsHere;
        band.pointsAt[k] = band.pointsAt[k] - pointsThen + pointsHere;
    }
    band.spilled.swap(lastSpilled);
    band.last.swap(lastLine);
    return true;
}

// One band's part of the scan, on its inputs (above, foreign).
template <typename Label>
void CrackScan<Label>::runBand(Band& band, const std::vector<std::uint64_t>& corners, int words) const
{
    const bool rerun = band.ran;
    Polyline lastPoints;
    std::vector<Chain> lastChains;
    std::vector<Mark> lastSpilled;
    std::vector<unsigned char> lastLine;
    if (rerun) {
        lastPoints.swap(band.points);
        lastChains.swap(band.chains);
        lastSpilled.swap(band.spilled);
        lastLine.swap(band.last);
    }
    const std::size_t checkpoints = band.checkpoints.size();
    band.states.resize(checkpoints);
    band.chainsAt.resize(checkpoints);
    band.pointsAt.resize(checkpoints);

    const std::size_t lineBytes = std::size_t(band.bottom - band.top);
    for (int i = 0; i < m_width; ++i)
        std::memset(&m_visited[std::size_t(i) * std::size_t(m_vs0) + std::size_t(band.top - m_fy)], 0, lineBytes);
    band.below.clear();
    band.spilled.clear();
    band.points.clear();
    band.chains.clear();
    for (const Mark& m : band.foreign) {
        if (m.line < band.bottom)
            m_visited[std::size_t(m.index)] |= m.bits;
        else
            band.below[m.index] |= m.bits;
    }
    band.watched.clear();
    std::size_t next = 0;
    band.watchFrom = checkpoints > 0 ? band.checkpoints[0] - 1 : INT_MAX;

    const std::ptrdiff_t upL = -m_ls1, leftL = -m_ls0;
    const std::ptrdiff_t upV = -1, leftV = -m_vs0;
    // Second index outer: chains start, and so are numbered, in this order. Pixels that
    // differ from neither neighbour before them start nothing and are skipped.
    for (int y = band.top; y < band.bottom; ++y) {
        if (next < checkpoints && y == band.checkpoints[next]) {
            // What the chains so far left on the line before this one and below it.
            band.watched.erase(std::remove_if(band.watched.begin(), band.watched.end(),
                                              [y](const Mark& m) { return m.line < y - 1; }),
                               band.watched.end());
            sortMarks(band.watched);
            if (rerun && spliceLastRun(band, next, lastPoints, lastChains, lastSpilled, lastLine)) {
                band.watchFrom = INT_MAX;
                band.ranForeign = band.foreign;
                return;
            }
            band.states[next] = band.watched;
            band.chainsAt[next] = band.chains.size();
            band.pointsAt[next] = band.points.size();
            ++next;
            band.watchFrom = next < checkpoints ? band.checkpoints[next] - 1 : INT_MAX;
            if (next == checkpoints)
                band.watched.clear();
        }
        const std::uint64_t* line = corners.data() + std::size_t(y - m_rect.y1) * std::size_t(words);
        for (int w = 0; w < words; ++w) {
            for (std::uint64_t bits = line[w]; bits != 0; bits &= bits - 1) {
                const int x = m_rect.x1 + w * 64 + __builtin_ctzll(bits);
                Cursor c = at(x, y, 0);
                const Label here = m_labels[c.label];
                const Label up = m_labels[c.label + upL];
                if (here != up && !visitedFrom(band, x, y, c.visit, 2) &&
                    !visitedFrom(band, x, y - 1, c.visit + upV, 0)) {
                    c.d = 2;
                    const bool closed = traceCrackChain(band, c, here, up);
                    band.chains.push_back(closed ? Chain{band.points.size(), here, up}
                                                 : Chain{band.points.size(), up, here});
                }
                const Label left = m_labels[c.label + leftL];
                if (here != left && !visitedFrom(band, x, y, c.visit, 1) &&
                    !visitedFrom(band, x - 1, y, c.visit + leftV, 3)) {
                    c.d = 1;
                    const bool closed = traceCrackChain(band, c, here, left);
                    band.chains.push_back(closed ? Chain{band.points.size(), here, left}
                                                 : Chain{band.points.size(), left, here});
                }
            }
        }
    }
    band.watchFrom = INT_MAX;
    band.watched.clear();
    band.ranForeign = band.foreign;
    band.ran = true;

    sortMarks(band.spilled);
    band.last.resize(std::size_t(m_width));
    for (int i = 0; i < m_width; ++i)
        band.last[std::size_t(i)] = m_visited[std::size_t(i) * std::size_t(m_vs0) + std::size_t(band.bottom - 1 - m_fy)];
}

template <typename Label>
template <typename OnChain>
void CrackScan<Label>::scan(OnChain&& onChain)
{
    int words = 0;
    const std::vector<std::uint64_t> corners = crackCorners(words);
    const int firstLine = m_rect.y1, lines = m_rect.y2 + 2 - firstLine;
    const int count = bandCount(lines, m_rect.x2 - m_rect.x1 + 2);
    m_bands.assign(std::size_t(count), Band());
    for (int k = 0; k < count; ++k) {
        Band& band = m_bands[std::size_t(k)];
        band.top = firstLine + bandStart(lines, count, k);
        band.bottom = firstLine + bandStart(lines, count, k + 1);
        // The first guess: every crack of the line above walked from both sides. The frame
        // line above band 0 has no crack walked.
        band.above.assign(std::size_t(m_width), k == 0 ? 0 : 0x0F);
        if (k > 0)
            for (int step = 16; band.top + step < band.bottom - 1; step *= 2)
                band.checkpoints.push_back(band.top + step);
    }
    std::vector<int> runs(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k)
        runs[std::size_t(k)] = k;
    std::vector<Mark> carried, input;
    while (!runs.empty()) {
        runBands(int(runs.size()), [&](int r) { runBand(m_bands[std::size_t(runs[std::size_t(r)])], corners, words); });
        // Each band's inputs as the runs so far leave them; the bands they change run again.
        runs.clear();
        carried.clear();
        for (int k = 1; k < count; ++k) {
            Band& band = m_bands[std::size_t(k)];
            const Band& prior = m_bands[std::size_t(k) - 1];
            input.clear();
            std::merge(carried.begin(), carried.end(), prior.spilled.begin(), prior.spilled.end(),
                       std::back_inserter(input), [](const Mark& p, const Mark& q) { return p.index < q.index; });
            carried.clear();
            for (const Mark& m : input) {
                if (m.line < band.top)
                    continue;
                if (!carried.empty() && carried.back().index == m.index)
                    carried.back().bits |= m.bits;
                else
                    carried.push_back(m);
            }
            if (carried != band.foreign || prior.last != band.above) {
                band.foreign = carried;
                band.above = prior.last;
                runs.push_back(k);
            }
        }
    }
    // Every crack has been walked: the marks are done with.
    corvath::utility::releaseInSlices(m_visited.get(), std::size_t(m_width) * std::size_t(m_vs0));
    m_visited.reset();
    for (const Band& band : m_bands) {
        std::size_t first = 0;
        for (const Chain& chain : band.chains) {
            onChain(chain.a, chain.b, band.points.data() + first, chain.end - first);
            first = chain.end;
        }
    }
}

} // namespace classification::detail
