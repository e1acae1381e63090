// Auto-fill: the free pixels take the class opposite to the marked one, and a band of Blend is
// laid along the border between marked and free pixels, as wide as the width map says there.
#include "session/classification.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace classification {

namespace {

using corvath::utility::covers;
using corvath::utility::domainOf;
using corvath::utility::intersect;

constexpr unsigned char shieldBits = StatusForcedEdge | StatusProtected;
constexpr unsigned char classBits = 0x0F;

// What a status byte is to the border scan; a byte may be both.
enum : unsigned char { KindMarked = 1, KindFree = 2 };
using KindTable = std::array<unsigned char, 256>;

KindTable pixelKinds(unsigned char fillFrom)
{
    KindTable kinds{};
    for (int s = 0; s < 256; ++s) {
        const bool marked = (fillFrom & s & classBits) != 0 &&
                            ((s & StatusForcedEdge) == 0 || (fillFrom & StatusForcedEdge) != 0) &&
                            ((s & StatusProtected) == 0 || (fillFrom & StatusProtected) != 0);
        const bool free = (s & StatusUnassigned) != 0 && (s & shieldBits) == 0;
        kinds[std::size_t(s)] = static_cast<unsigned char>((marked ? KindMarked : 0) | (free ? KindFree : 0));
    }
    return kinds;
}

// Raw access to a byte array over a rectangle, by row and column counted from its corner.
template <typename T>
struct Plane {
    T* corner;
    std::ptrdiff_t row, col;
    T* at(long i, long j) const { return corner + i * row + j * col; }
};

template <typename T>
Plane<T> planeOf(blitz::Array<unsigned char, 2>& a, const Rect& r)
{
    return {&a(r.x1, r.y1), a.stride(0), a.stride(1)};
}

// Forced-edge and protected pixels counted over any box of the rectangle in constant time,
// from running sums kept modulo 2^32 (exact for rectangles of fewer than 2^32 pixels). Holds
// nothing, and finds every box clear, when the rectangle has no such pixel.
class ShieldCounts {
public:
    ShieldCounts(const Plane<unsigned char>& status, int rows, int cols)
    {
        unsigned char seen = 0;
        for (int i = 0; i < rows && !(seen & shieldBits); ++i) {
            const unsigned char* s = status.at(i, 0);
            for (int j = 0; j < cols; ++j, s += status.col)
                seen |= *s;
        }
        if (!(seen & shieldBits))
            return;
        m_stride = std::size_t(cols) + 1;
        m_sums.assign((std::size_t(rows) + 1) * m_stride, 0);
        for (int i = 0; i < rows; ++i) {
            const unsigned char* s = status.at(i, 0);
            const std::uint32_t* above = &m_sums[std::size_t(i) * m_stride];
            std::uint32_t* sums = &m_sums[(std::size_t(i) + 1) * m_stride];
            std::uint32_t inRow = 0;
            for (int j = 0; j < cols; ++j, s += status.col) {
                inRow += (*s & shieldBits) != 0;
                sums[j + 1] = above[j + 1] + inRow;
            }
        }
    }

    // Whether rows i1..i2 by columns j1..j2 (inclusive, inside the rectangle) hold one.
    bool any(long i1, long j1, long i2, long j2) const
    {
        if (m_sums.empty())
            return false;
        const std::uint32_t* top = &m_sums[std::size_t(i1) * m_stride];
        const std::uint32_t* bottom = &m_sums[std::size_t(i2 + 1) * m_stride];
        return bottom[j2 + 1] - bottom[j1] - top[j2 + 1] + top[j1] != 0;
    }

private:
    std::vector<std::uint32_t> m_sums;
    std::size_t m_stride = 0;
};

// The band's disk for each width byte, made on first use: radius R = width * 0.5 * bandFactor
// + 0.49, r = R truncated, the box of half-size r + 1 around the centre, and for each row offset
// |dx| inside that box the half-width of the disk's span (-1 where the row misses the disk).
// Offsets beyond the rectangle's extent are never needed, so r is capped there.
class BandDisks {
public:
    struct Disk {
        bool made = false;
        bool empty = false;  // no pixel at all (a radius that is not a number)
        long r = 0;
        std::vector<int> halfWidth;
    };

    BandDisks(float bandFactor, int rows, int cols) : m_factor(bandFactor), m_rows(rows), m_cols(cols) {}

    const Disk& forWidth(unsigned char width)
    {
        Disk& d = m_disks[width];
        if (!d.made)
            make(d, width);
        return d;
    }

private:
    void make(Disk& d, unsigned char width) const
    {
        d.made = true;
        const float radius = float(width) * 0.5f * m_factor + 0.49f;
        if (std::isnan(radius)) {
            d.empty = true;
            return;
        }
        const float cap = float(m_rows) + float(m_cols) + 2.f;
        d.r = radius >= cap ? long(cap) : radius <= -cap ? -long(cap) : long(radius);
        const long offsets = std::clamp<long>(d.r + 2, 0, m_rows);
        d.halfWidth.assign(std::size_t(offsets), -1);
        const float r2 = radius * radius;
        for (long dx = 0; dx < offsets; ++dx) {
            const long long dx2 = (long long)dx * dx;
            if (float(dx2) > r2)
                continue;
            // Capped before the conversion: an infinite radius has no integer root.
            long long dy = (long long)std::min(std::sqrt(std::max(0.0, double(r2) - double(dx2))), double(m_cols));
            while (dy < m_cols && float(dx2 + (dy + 1) * (dy + 1)) <= r2)
                ++dy;
            while (dy >= 0 && float(dx2 + dy * dy) > r2)
                --dy;
            d.halfWidth[std::size_t(dx)] = int(dy);
        }
    }

    float m_factor;
    long m_rows, m_cols;
    std::array<Disk, 256> m_disks;
};

} // namespace

void IiClassification::autoFill(Bytes& status, const std::optional<Rect>& area, unsigned char fillFrom,
                                float bandFactor, UndoStack* undoStack, ProgressRange* progress)
{
    if (!(fillFrom & (StatusKeep | StatusDelete)))
        return;
    Rect r = domainOf(status);
    if (area)
        r = intersect(r, *area);
    if (r.isEmpty())
        return;
    if (!covers(domainOf(m_working), r))
        throw std::invalid_argument("the status array reaches beyond the image");

    const unsigned char fill =
        (fillFrom & StatusKeep) && !(fillFrom & shieldBits) ? StatusDelete : StatusKeep;
    newValue = fill;
    writeMask = classBits;
    matchTarget = 0x07;
    matchMask = 0x3F;
    mode = SelectExact;

    const int rows = r.x2 - r.x1 + 1, cols = r.y2 - r.y1 + 1;
    const Plane<unsigned char> s = planeOf<unsigned char>(status, r);
    const Plane<unsigned char> w = planeOf<unsigned char>(m_working, r);
    for (int i = 0; i < rows; ++i) {
        unsigned char* p = w.at(i, 0);
        for (int j = 0; j < cols; ++j, p += w.col)
            *p = 0;
    }
    m_changed = r;

    // Working values are complete statuses (the pixel's bits outside the class part kept), as
    // the commit's undo record expects.
    const bool band = bandFactor != 0.f;
    std::optional<ShieldCounts> shields;
    std::optional<BandDisks> disks;
    Plane<const unsigned char> widths{nullptr, 0, 0};
    // The last disk drawn: the next border pixel to its right with the same width adds only the
    // right end of each of its rows (the writes depend on q alone, so their order is free).
    long lastI = -1, lastJ = -1;
    int lastWidth = -1;
    const auto drawBand = [&](long i, long j) {
        if (!disks) {
            if (widthMap.numElements() == 0 || !covers(domainOf(widthMap), r))
                throw std::logic_error("no width map covers the auto-fill rectangle");
            widths = {&widthMap(r.x1, r.y1), widthMap.stride(0), widthMap.stride(1)};
            shields.emplace(s, rows, cols);
            disks.emplace(bandFactor, rows, cols);
        }
        const unsigned char width = *widths.at(i, j);
        const BandDisks::Disk& d = disks->forWidth(width);
        if (d.empty)
            return;
        const long i1 = std::max(0L, i - d.r - 1), i2 = std::min(long(rows) - 1, i + d.r + 1);
        const long j1 = std::max(0L, j - d.r - 1), j2 = std::min(long(cols) - 1, j + d.r + 1);
        // No band within reach of a forced edge or a protected pixel.
        if (i1 > i2 || j1 > j2 || shields->any(i1, j1, i2, j2))
            return;
        const bool extends = i == lastI && j == lastJ + 1 && width == lastWidth && d.r >= 0;
        lastI = i;
        lastJ = j;
        lastWidth = width;
        for (long x = i1; x <= i2; ++x) {
            const int half = d.halfWidth[std::size_t(std::labs(x - i))];
            if (half < 0)
                continue;
            const long y1 = extends ? j + half : std::max(j1, j - half), y2 = std::min(j2, j + half);
            const unsigned char* sp = s.at(x, y1);
            unsigned char* wp = w.at(x, y1);
            // The box holds no forced-edge or protected pixel, so any class bit makes q eligible.
            for (long y = y1; y <= y2; ++y, sp += s.col, wp += w.col)
                if (*sp & (StatusUnassigned | StatusKeep | StatusDelete))
                    *wp = static_cast<unsigned char>((*sp & ~classBits) | StatusBlend);
        }
    };

    // Border pixels in scan order: a free pixel beside a marked one, a marked pixel beside a
    // free one. The band only writes the working array, so each is drawn as the scan finds it;
    // without a band the border changes nothing.
    if (band) {
        const KindTable kinds = pixelKinds(fillFrom);
        const std::size_t padded = std::size_t(cols) + 2;
        std::vector<unsigned char> kindRows(4 * padded, 0);  // three rows and a row of nothing
        unsigned char* const none = &kindRows[3 * padded] + 1;
        const auto kindRow = [&](int i, int slot) {
            unsigned char* k = &kindRows[std::size_t(slot) * padded] + 1;
            const unsigned char* p = s.at(i, 0);
            for (int j = 0; j < cols; ++j, p += s.col)
                k[j] = kinds[*p];
            return k;
        };
        const unsigned char* up = none;
        const unsigned char* here = kindRow(0, 0);
        const unsigned char* down = rows > 1 ? kindRow(1, 1) : none;
        for (int i = 0; i < rows; ++i) {
            for (int j = 0; j < cols; ++j) {
                const unsigned char k = here[j];
                if (!k)
                    continue;
                const unsigned char around = up[j] | down[j] | here[j - 1] | here[j + 1];
                const bool border = (k & KindMarked) ? (around & KindFree) != 0 : (around & KindMarked) != 0;
                if (border)
                    drawBand(i, j);
            }
            up = here;
            here = down;
            down = i + 2 < rows ? kindRow(i + 2, (i + 2) % 3) : none;
        }
    }

    for (int i = 0; i < rows; ++i) {
        const unsigned char* sp = s.at(i, 0);
        unsigned char* wp = w.at(i, 0);
        for (int j = 0; j < cols; ++j, sp += s.col, wp += w.col)
            if ((*sp & StatusUnassigned) && !(*sp & shieldBits) && *wp == 0)
                *wp = static_cast<unsigned char>((*sp & ~classBits) | fill);
    }

    if (progress)
        progress->report("", 0.8f);
    recordStatusUndo(status, undoStack);
    m_commit.done = true;
    if (progress)
        progress->report("", 1.0f);
}

} // namespace classification
