#pragma once
// Crack tracing, shared by the outline builders: a scan over the label rectangle starts a chain
// at every crack that no walk has taken yet, and the walk follows the border with its first
// label on the left, one crack at a time, until it comes round to its start or reaches a crack
// walked before.

#include "outline/outline.h"

#include "common/bandthreads.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
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

template <typename Label>
class CrackScan {
public:
    CrackScan(const blitz::Array<Label, 2>& labels, const Rect& rect);

    // Calls onChain(labelA, labelB, points) for every chain, in scan order.
    template <typename OnChain>
    void scan(OnChain&& onChain);

private:
    Cursor at(int x, int y, int d) const
    {
        return {x, y, d, (x - m_fx) * m_ls0 + (y - m_fy) * m_ls1, (x - m_fx) * m_vs0 + (y - m_fy)};
    }
    Cursor moved(const Cursor& c, const Step& s, int d) const
    {
        return {c.x + s.dx, c.y + s.dy, d, c.label + s.label, c.visit + s.visit};
    }
    bool visitedFrom(std::ptrdiff_t visit, int d) const { return (m_visited[visit] >> d) & 1; }

    bool nextCrack(Cursor& c, Label a, Label b) const;
    bool walk(Cursor c, Label a, Label b, const Cursor& start);
    bool traceCrackChain(const Cursor& start, Label a, Label b);
    // Where the scan may start a chain, one bit per pixel, a line of `words` words per
    // second index.
    std::vector<std::uint64_t> crackCorners(int& words) const;

    Direction m_dirs[4];
    const Label* m_labels;  // the frame's first corner
    std::ptrdiff_t m_ls0, m_ls1, m_vs0;
    int m_fx, m_fy;  // index of the frame's first corner
    Rect m_rect;
    std::vector<unsigned char> m_visited;
    Polyline m_points;  // the chain being traced, reused
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

    m_visited.assign(std::size_t(w) * std::size_t(h), 0);

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

// The step rule at the end corner of crack c, whose left pixel is labelled a and across pixel b.
template <typename Label>
bool CrackScan<Label>::nextCrack(Cursor& c, Label a, Label b) const
{
    const Direction& dir = m_dirs[c.d];
    const Label diagonal = m_labels[c.label + dir.offsets[3].label];
    const Label forward = m_labels[c.label + dir.offsets[1].label];
    const int dc = diagonal == a ? 1 : diagonal == b ? 0 : 2;
    int fc = 2;
    if (forward == a)
        fc = 1;
    else if (forward == b)
        fc = visitedFrom(c.visit + dir.offsets[1].visit, (c.d + 1) & 3) ? 3 : 0;
    const Turn t = kTurns[dc][fc];
    if (t.a < 0)
        return false;  // a stop, or a cell no scan reaches: the chain ends either way
    c = moved(c, dir.offsets[t.a], (c.d + t.b) & 3);
    return true;
}

// Appends the corners of the walk from c; true when it came round to start.
template <typename Label>
bool CrackScan<Label>::walk(Cursor c, Label a, Label b, const Cursor& start)
{
    for (;;) {
        const Direction& dir = m_dirs[c.d];
        m_points.push_back({c.x + dir.cornerX, c.y + dir.cornerY});
        m_visited[c.visit] |= (unsigned char)(1 << c.d);
        if (!nextCrack(c, a, b))
            return false;
        if (visitedFrom(c.visit + m_dirs[c.d].offsets[2].visit, (c.d + 2) & 3))
            return false;
        // Reaching a crack this side has walked before ends the walk; only the start closes it.
        if (visitedFrom(c.visit, c.d))
            return c.sameCrack(start);
    }
}

// Traces the chain through start into m_points; true when it is closed.
template <typename Label>
bool CrackScan<Label>::traceCrackChain(const Cursor& start, Label a, Label b)
{
    m_points.clear();
    if (walk(start, a, b, start)) {
        m_points.push_back(m_points.front());
        return true;
    }
    std::reverse(m_points.begin(), m_points.end());
    const Direction& dir = m_dirs[start.d];
    const Cursor back = moved(start, dir.offsets[2], (start.d + 2) & 3);
    walk(back, b, a, back);
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
template <typename OnChain>
void CrackScan<Label>::scan(OnChain&& onChain)
{
    const std::ptrdiff_t upL = -m_ls1, leftL = -m_ls0;
    const std::ptrdiff_t upV = -1, leftV = -m_vs0;
    int words = 0;
    const std::vector<std::uint64_t> corners = crackCorners(words);
    // Second index outer: chains start, and so are numbered, in this order. Pixels that
    // differ from neither neighbour before them start nothing and are skipped.
    for (int y = m_rect.y1; y <= m_rect.y2 + 1; ++y) {
        const std::uint64_t* line = corners.data() + std::size_t(y - m_rect.y1) * std::size_t(words);
        for (int w = 0; w < words; ++w) {
            for (std::uint64_t bits = line[w]; bits != 0; bits &= bits - 1) {
                const int x = m_rect.x1 + w * 64 + __builtin_ctzll(bits);
                Cursor c = at(x, y, 0);
                const Label here = m_labels[c.label];
                const Label up = m_labels[c.label + upL];
                if (here != up && !visitedFrom(c.visit, 2) && !visitedFrom(c.visit + upV, 0)) {
                    c.d = 2;
                    const bool closed = traceCrackChain(c, here, up);
                    closed ? onChain(here, up, m_points) : onChain(up, here, m_points);
                }
                const Label left = m_labels[c.label + leftL];
                if (here != left && !visitedFrom(c.visit, 1) && !visitedFrom(c.visit + leftV, 3)) {
                    c.d = 1;
                    const bool closed = traceCrackChain(c, here, left);
                    closed ? onChain(here, left, m_points) : onChain(left, here, m_points);
                }
            }
        }
    }
}

} // namespace classification::detail
