// Auto-complex: completes a Keep or Delete select around what it changed. A seeded flood over
// the gradient's lower heights grows the stroke's pixels, the pixels of the opposite class and
// further regions; flooded pockets that the stroke encloses take its class, and Blend disks
// follow the line where the stroke meets the opposite class.
#include "session/classification.h"
#include "analysis/segmentation.h"
#include "watershed/watershed.h"
#include "platform/memory.h"
#include "platform/clock.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <new>
#include <stdexcept>
#include <vector>

namespace classification {

namespace {

using corvath::utility::covers;
using corvath::utility::domainOf;
using corvath::utility::extent;
using corvath::utility::grow;
using corvath::utility::intersect;
using corvath::utility::unite;

// Each pixel's id, height and the flood queue's claim on it share one cell, so that expanding a
// pixel reads one cache line per row of its neighbourhood for all three.
using Cell = AutoComplexCell;
static_assert(sizeof(Cell) == 8 && offsetof(Cell, id) == 0 && sizeof(Cell) % sizeof(std::uint32_t) == 0,
              "the flood reaches ids and claims at a stride of whole cells");
constexpr int kIdStride = int(sizeof(Cell) / sizeof(std::int16_t));
constexpr int kClaimStride = int(sizeof(Cell) / sizeof(std::uint32_t));
using AutoComplexFlood = WatershedQueue<RunQueue, FourNeighbours, TargetHeights<std::ptrdiff_t(sizeof(Cell))>,
                                        LabelCounter, kIdStride, std::int16_t>;

constexpr std::int32_t kBarrier = 0;
// After the flood, the stroke pixels that the select took itself move to this id, so that the
// stroke region's own id marks only what the flood added.
constexpr std::int32_t kTaken = 4;
// Ids beyond the barrier, the stroke, the opposite class and one for every further region.
constexpr std::int32_t kRegionLimit = 3;

// What the seed scan makes of a status byte that the select did not take.
enum : unsigned char { SeedBarrier = 0, SeedOpposite = 1, SeedCandidate = 2 };

// Blend disks by width byte, made on first use: R = width * 0.5 * factor + 0.49, the box of
// half-size r = R truncated (capped at the area's size), and for each row offset 0..r the
// half-width of the row's span of pixels within R of the centre (-1 where it has none). An
// empty list draws nothing.
class BlendDisks {
public:
    BlendDisks(float factor, int cap) : m_factor(factor), m_cap(cap) {}

    const std::vector<int>& forWidth(unsigned char width)
    {
        if (!m_made[width]) {
            make(m_half[width], width);
            m_made[width] = true;
        }
        return m_half[width];
    }

private:
    void make(std::vector<int>& half, unsigned char width) const
    {
        const float radius = float(width) * 0.5f * m_factor + 0.49f;
        if (!(radius > -1.f))  // a box of negative half-size, or no number at all
            return;
        const int r = radius >= float(m_cap) ? m_cap : int(radius);
        const float r2 = radius * radius;
        half.assign(std::size_t(r) + 1, -1);
        for (long long dx = 0; dx <= r; ++dx) {
            const long long dx2 = dx * dx;
            // Capped before the conversion: an infinite radius has no integer root.
            long long dy = (long long)std::min(std::sqrt(std::max(0.0, double(r2) - double(dx2))), double(r));
            while (dy < r && float(dx2 + (dy + 1) * (dy + 1)) <= r2)
                ++dy;
            while (dy >= 0 && float(dx2 + dy * dy) > r2)
                --dy;
            half[std::size_t(dx)] = int(dy);
        }
    }

    float m_factor;
    int m_cap;
    std::array<bool, 256> m_made{};
    std::array<std::vector<int>, 256> m_half;
};

} // namespace

void IiClassification::autoComplex(Bytes& status, ProgressRange progress, float bandFactor)
{
    const unsigned char v = newValue, w = writeMask, t = matchTarget, m = matchMask;
    if (bandFactor == 0.f && mode == SelectExact)
        return;
    if (m_changed.isEmpty() || !(v & (StatusKeep | StatusDelete)))
        return;
    const unsigned char o = v == StatusKeep ? StatusDelete : StatusKeep;

    const Rect area = intersect(grow(m_changed, 32), imageRect());
    if (area.isEmpty())
        return;
    if (!covers(domainOf(status), area))
        throw std::invalid_argument("the status array does not cover the auto-complex area");
    // The id table: the area inside a frame of barrier pixels, whose heights the flood reads.
    const Rect framed = grow(area, 1);
    if (gradient.numElements() == 0 || !covers(domainOf(gradient), framed))
        throw std::logic_error("no gradient image covers the auto-complex area");
    const int rows = extent(framed).x, cols = extent(framed).y;
    const std::size_t cells = std::size_t(rows) * std::size_t(cols);
    if (cells >= (std::size_t(1) << 30))
        throw std::bad_alloc();  // offsets and step counts are 32-bit

    const long sRow = status.stride(0), sCol = status.stride(1);
    const long wRow = m_working.stride(0), wCol = m_working.stride(1);
    unsigned char* const s0 = &status(area.x1, area.y1);
    unsigned char* const w0 = &m_working(area.x1, area.y1);
    const int areaRows = rows - 2, areaCols = cols - 2;

    // An Exact select leaves earlier working values outside its rectangle.
    if (mode == SelectExact)
        for (int i = 0; i < areaRows; ++i) {
            const int x = area.x1 + i;
            const bool inside = x >= m_changed.x1 && x <= m_changed.x2;
            unsigned char* wp = w0 + i * wRow;
            for (int j = 0; j < areaCols; ++j, wp += wCol) {
                const int y = area.y1 + j;
                if (!inside || y < m_changed.y1 || y > m_changed.y2)
                    *wp = 0;
            }
        }

    // A new size may need a new table; the old one goes first, so that the two never add up.
    // It is filled below, band by band, so a new one is left unset here.
    if (m_autoComplexCells.capacity() < cells)
        decltype(m_autoComplexCells)().swap(m_autoComplexCells);
    m_autoComplexCells.resize(cells);
    Cell* const table = m_autoComplexCells.data();
    const auto idOf = [table](PixelOffset p) -> std::int16_t& { return table[p].id; };
    const auto heightOf = [table](PixelOffset p) -> int { return table[p].height; };
    const auto offsetOf = [&](int i, int j) { return PixelOffset(std::size_t(i + 1) * cols + std::size_t(j + 1)); };

    // Work over the whole area goes in bands of rows, each on a thread of its own.
    const int bands = std::max(1, std::min(int(platform::processorCount()), areaRows / 256));
    const auto rowsOf = [&](int b, int& first, int& end) {
        first = int(std::int64_t(areaRows) * b / bands);
        end = int(std::int64_t(areaRows) * (b + 1) / bands);
    };

    // Seed scan: the select's pixels found the stroke region, pixels of the opposite class the
    // opposite region, what the select could have changed is left to the flood, and everything
    // else is barrier. The two seed regions take fixed ids: the flood only hands ids on, so
    // which of them it met first does not matter. The heights come along, frame included;
    // the claims need no value before a record heads for their pixel.
    std::array<bool, 256> taken{};
    std::array<unsigned char, 256> seedKind{};
    for (int b = 0; b < 256; ++b) {
        const auto s = static_cast<unsigned char>(b);
        taken[std::size_t(b)] = statusMatches(s, v, w);
        seedKind[std::size_t(b)] = statusMatches(s, o, m) ? SeedOpposite
                                   : statusMatches(s, t, m) ? SeedCandidate
                                                            : SeedBarrier;
    }
    constexpr std::int32_t kStrokeId = 1, kOppositeId = 2;
    struct BandSeeds {
        bool stroke = false, opposite = false;
    };
    std::vector<BandSeeds> seeds(static_cast<std::size_t>(bands));
    {
        const long gRow = gradient.stride(0), gCol = gradient.stride(1);
        const blitz::TinyVector<unsigned char, 3>* const g0 = &gradient(framed.x1, framed.y1);
        detail::forEachBand(bands, [&](int b) {
            int first, end;
            rowsOf(b, first, end);
            // Framed rows: the band's own, and the frame's first or last row at either end.
            const int frameFirst = b == 0 ? 0 : first + 1;
            const int frameEnd = b == bands - 1 ? rows : end + 1;
            for (int i = frameFirst; i < frameEnd; ++i) {
                const blitz::TinyVector<unsigned char, 3>* gp = g0 + i * gRow;
                Cell* c = table + std::size_t(i) * cols;
                for (int j = 0; j < cols; ++j, gp += gCol)
                    c[j].height = (*gp)[1];
                if (i == 0 || i == rows - 1) {
                    for (int j = 0; j < cols; ++j)
                        c[j].id = kBarrier;
                } else {
                    c[0].id = kBarrier;
                    c[cols - 1].id = kBarrier;
                }
            }
            BandSeeds& found = seeds[std::size_t(b)];
            for (int i = first; i < end; ++i) {
                const unsigned char* sp = s0 + i * sRow;
                const unsigned char* wp = w0 + i * wRow;
                Cell* c = &table[offsetOf(i, 0)];
                for (int j = 0; j < areaCols; ++j, sp += sCol, wp += wCol, ++c) {
                    std::int16_t* const id = &c->id;
                    const unsigned char s = *sp;
                    if (s & (StatusForcedEdge | StatusProtected)) {
                        *id = kBarrier;
                    } else if (taken[*wp]) {
                        found.stroke = true;
                        *id = kStrokeId;
                    } else {
                        switch (seedKind[s]) {
                        case SeedOpposite:
                            found.opposite = true;
                            *id = kOppositeId;
                            break;
                        case SeedCandidate:
                            *id = -1;
                            break;
                        default:
                            *id = kBarrier;
                        }
                    }
                }
            }
        });
    }
    std::int32_t stroke = -1, opposite = -1;
    for (const BandSeeds& found : seeds) {
        if (found.stroke)
            stroke = kStrokeId;
        if (found.opposite)
            opposite = kOppositeId;
    }
    // Regions the flood starts come after both.
    LabelCounter regions(kRegionLimit);
    for (std::int32_t id = kBarrier; id <= kOppositeId; ++id)
        regions.take();
    progress.report("", 0.1f);
    if (stroke < 0) {
        progress.report("", 1.0f);
        return;
    }

    TargetHeights<std::ptrdiff_t(sizeof(Cell))> target;
    target.height = &table[0].height;
    target.bias = innerWatershedBias(parameters.imageTol > 2.0f ? parameters.imageTol : 2.0f, gradientScale);
    {
        RunQueue queue(cols, cells, &table[0].claim, kClaimStride);
        AutoComplexFlood flood(&table[0].id, cols, target, regions, queue);
        // Both seed regions queue their neighbours once every pixel has its seed id: steps
        // towards pixels that already have an id would change nothing, so only seed pixels
        // beside a candidate queue any. Bands of rows find those on threads of their own; they
        // queue in storage order.
        std::vector<std::vector<PixelOffset>> edges(static_cast<std::size_t>(bands));
        std::vector<std::exception_ptr> failures(static_cast<std::size_t>(bands));
        detail::forEachBand(bands, [&](int b) {
            int first, end;
            rowsOf(b, first, end);
            try {
                std::vector<PixelOffset>& e = edges[std::size_t(b)];
                for (int i = first; i < end; ++i) {
                    const PixelOffset row = offsetOf(i, 0);
                    const Cell* c = &table[row];
                    for (int j = 0; j < areaCols; ++j, ++c)
                        if (c->id > kBarrier && ((c - cols)->id < 0 || (c + cols)->id < 0 || (c - 1)->id < 0 ||
                                                 (c + 1)->id < 0))
                            e.push_back(row + PixelOffset(j));
                }
            } catch (...) {
                failures[std::size_t(b)] = std::current_exception();
            }
        });
        for (const std::exception_ptr& f : failures)
            if (f)
                std::rethrow_exception(f);
        for (const std::vector<PixelOffset>& e : edges)
            for (const PixelOffset p : e)
                flood.pushNeighbours(p, RunQueue::seedOrigin(heightOf(p)));
        std::vector<std::vector<PixelOffset>>().swap(edges);
        CandidateArea candidates;
        candidates.first = offsetOf(0, 0);
        candidates.rows = areaRows;
        candidates.columns = areaCols;
        flood.flood(candidates, progress.nextStep(0.7f));
    }

    // The stroke region's contacts: each pair of 4-neighbours with one pixel in the region and
    // one outside (the frame included), read off the finished id table; nothing below depends
    // on their order. Flooded pixels that touch another region start the hole fill's clearing;
    // contacts with the opposite region carry the Blend disks around their lower pixel.
    const bool holes = mode != SelectExact;
    const bool band = bandFactor != 0.f && opposite >= 0;
    std::vector<PixelOffset> centres;
    std::size_t flooded = 0;
    const std::ptrdiff_t sides[4] = {-cols, cols, -1, 1};
    // Bands of rows on threads of their own, each finding its contacts in storage order; the
    // lists are joined band after band, so they come out as one scan would make them. The
    // pixels the select took itself leave the stroke's id as the scan passes them (in the
    // rows at the bands' borders, which other bands read, only afterwards): the scan treats
    // both ids alike.
    struct BandContacts {
        std::vector<PixelOffset> clearFrom, centres;
        std::size_t flooded = 0;
        std::exception_ptr failure;
    };
    std::vector<BandContacts> found(static_cast<std::size_t>(bands));
    detail::forEachBand(bands, [&](int b) {
        BandContacts& f = found[std::size_t(b)];
        int first, end;
        rowsOf(b, first, end);
        try {
            const auto inStroke = [stroke](std::int32_t l) { return l == stroke || l == kTaken; };
            for (int i = first; i < end; ++i) {
                // Rows that no other band reads change their ids at once.
                const bool moveTaken = holes && i != first && i != end - 1;
                const unsigned char* wp = w0 + i * wRow;
                Cell* c = &table[offsetOf(i, 0)];
                for (int j = 0; j < areaCols; ++j, wp += wCol, ++c) {
                    if (c->id != stroke)
                        continue;
                    const PixelOffset p = offsetOf(i, j);
                    bool touches = false;
                    if (!inStroke((c - cols)->id) || !inStroke((c + cols)->id) || !inStroke((c - 1)->id) ||
                        !inStroke((c + 1)->id))
                        for (const std::ptrdiff_t d : sides) {
                            const auto q = PixelOffset(std::ptrdiff_t(p) + d);
                            const std::int32_t l = idOf(q);
                            if (inStroke(l))
                                continue;
                            touches = true;
                            if (band && l == opposite) {
                                if (heightOf(p) <= heightOf(q))
                                    f.centres.push_back(p);
                                if (heightOf(p) >= heightOf(q))
                                    f.centres.push_back(q);
                            }
                        }
                    if (holes) {
                        if (!taken[*wp]) {
                            ++f.flooded;
                            if (touches)
                                f.clearFrom.push_back(p);
                        } else if (moveTaken) {
                            c->id = kTaken;
                        }
                    }
                }
            }
        } catch (...) {
            f.failure = std::current_exception();
        }
    });
    for (BandContacts& f : found) {
        if (f.failure)
            std::rethrow_exception(f.failure);
        centres.insert(centres.end(), f.centres.begin(), f.centres.end());
        flooded += f.flooded;
    }
    // Each band's clearing starts where its own pixels touch.
    std::vector<std::vector<PixelOffset>> clearFrom(static_cast<std::size_t>(bands));
    for (int b = 0; b < bands; ++b)
        clearFrom[std::size_t(b)].swap(found[std::size_t(b)].clearFrom);
    found.clear();
    // The rows at the bands' borders, which the other bands read.
    if (holes)
        for (int b = 0; b < bands; ++b) {
            int first, end;
            rowsOf(b, first, end);
            for (const int i : {first, end - 1}) {
                const unsigned char* wp = w0 + i * wRow;
                Cell* c = &table[offsetOf(i, 0)];
                for (int j = 0; j < areaCols; ++j, wp += wCol, ++c)
                    if (c->id == stroke && taken[*wp])
                        c->id = kTaken;
            }
        }

    // Hole fill: flooded stroke pixels connected through flooded stroke pixels to a contact
    // leave the stroke; the pockets that remain take the stroke's class.
    if (holes) {
        // The pixels cleared are those connected to a start, whatever the order: each band
        // clears what it reaches within its rows, then the clearing crosses the bands' borders
        // where a cleared pixel meets a stroke pixel across one, until no border has such a
        // pair. Shapes that wind across the borders again and again are finished on one thread.
        std::size_t cleared = 0;
        struct BandClearing {
            std::vector<PixelOffset> stack;
            std::size_t cleared = 0;
            std::exception_ptr failure;
        };
        std::vector<BandClearing> clearing(static_cast<std::size_t>(bands));
        const auto clearFromStarts = [&](BandClearing& c, std::vector<PixelOffset>& starts, PixelOffset low,
                                         PixelOffset high) {
            const auto clear = [&](PixelOffset p) {
                if (p >= low && p < high && idOf(p) == stroke) {
                    idOf(p) = -1;
                    c.stack.push_back(p);
                    ++c.cleared;
                }
            };
            for (const PixelOffset p : starts) {
                clear(p);
                while (!c.stack.empty()) {
                    const PixelOffset q = c.stack.back();
                    c.stack.pop_back();
                    for (const std::ptrdiff_t d : sides)
                        clear(PixelOffset(std::ptrdiff_t(q) + d));
                }
            }
            starts.clear();
        };
        constexpr int kBandRounds = 4;
        for (int round = 0;; ++round) {
            if (round == kBandRounds) {
                // Without bounds: the lattice's every offset lies below its size.
                BandClearing& c = clearing[0];
                for (std::vector<PixelOffset>& starts : clearFrom)
                    clearFromStarts(c, starts, 0, PixelOffset(cells));
                break;
            }
            detail::forEachBand(bands, [&](int b) {
                BandClearing& c = clearing[std::size_t(b)];
                int first, end;
                rowsOf(b, first, end);
                try {
                    clearFromStarts(c, clearFrom[std::size_t(b)], offsetOf(first, -1), offsetOf(end, -1));
                } catch (...) {
                    c.failure = std::current_exception();
                }
            });
            for (BandClearing& c : clearing)
                if (c.failure)
                    std::rethrow_exception(c.failure);
            bool crossing = false;
            for (int b = 1; b < bands; ++b) {
                int first, end;
                rowsOf(b, first, end);
                for (int j = 0; j < areaCols; ++j) {
                    const PixelOffset above = offsetOf(first - 1, j), below = offsetOf(first, j);
                    if (idOf(above) == -1 && idOf(below) == stroke) {
                        clearFrom[std::size_t(b)].push_back(below);
                        crossing = true;
                    } else if (idOf(below) == -1 && idOf(above) == stroke) {
                        clearFrom[std::size_t(b - 1)].push_back(above);
                        crossing = true;
                    }
                }
            }
            if (!crossing)
                break;
        }
        for (const BandClearing& c : clearing)
            cleared += c.cleared;
        progress.report("", 0.85f);
        // Pocket pixels lie inside the stroke's bounds, so the changed rectangle holds them.
        // Their working value is 0: the new status comes from the status, as the select's does.
        if (cleared < flooded)
            detail::forEachBand(bands, [&](int b) {
                int first, end;
                rowsOf(b, first, end);
                for (int i = first; i < end; ++i) {
                    const unsigned char* sp = s0 + i * sRow;
                    unsigned char* wp = w0 + i * wRow;
                    const Cell* c = &table[offsetOf(i, 0)];
                    for (int j = 0; j < areaCols; ++j, sp += sCol, wp += wCol, ++c)
                        if (c->id == stroke)
                            *wp = setStatusBits(*wp ? *wp : *sp, w, v);
                }
            });
    }

    if (bandFactor == 0.f) {
        recordStatusUndo(status, &m_undo);
        m_commit.done = true;
        progress.report("", 1.0f);
        return;
    }

    progress.report("", 0.9f);
    if (!centres.empty()) {
        if (widthMap.numElements() == 0 || !covers(domainOf(widthMap), area))
            throw std::logic_error("no width map covers the auto-complex area");
        const unsigned char* const widths = &widthMap(area.x1, area.y1);
        const long mRow = widthMap.stride(0), mCol = widthMap.stride(1);
        // The filter widened to both classes of the stroke's edge.
        std::array<bool, 256> blends{};
        for (int b = 0; b < 256; ++b)
            blends[std::size_t(b)] = statusMatches(static_cast<unsigned char>(b), t | o | v, m);

        std::sort(centres.begin(), centres.end());
        centres.erase(std::unique(centres.begin(), centres.end()), centres.end());
        BlendDisks disks(bandFactor, std::max(areaRows, areaCols));
        Rect drawn = Rect::emptyValue();
        for (const PixelOffset c : centres) {
            const int ci = int(c / PixelOffset(cols)) - 1, cj = int(c % PixelOffset(cols)) - 1;
            const std::vector<int>& half = disks.forWidth(widths[ci * mRow + cj * mCol]);
            const int r = int(half.size()) - 1;
            for (int i = std::max(0, ci - r); i <= std::min(areaRows - 1, ci + r); ++i) {
                const int h = half[std::size_t(std::abs(i - ci))];
                if (h < 0)
                    continue;
                const int j1 = std::max(0, cj - h), j2 = std::min(areaCols - 1, cj + h);
                const unsigned char* sp = s0 + i * sRow + j1 * sCol;
                unsigned char* wp = w0 + i * wRow + j1 * wCol;
                int first = -1, last = -1;
                for (int j = j1; j <= j2; ++j, sp += sCol, wp += wCol)
                    if (blends[*sp]) {
                        // A pixel the select did not take starts from its status, so that the
                        // undo record holds exactly the change.
                        *wp = setStatusBits(*wp ? *wp : *sp, w, StatusBlend);
                        if (first < 0)
                            first = j;
                        last = j;
                    }
                if (first >= 0)
                    drawn = unite(drawn, Rect{area.x1 + i, area.y1 + first, area.x1 + i, area.y1 + last});
            }
        }
        m_changed = unite(m_changed, drawn);
    }
    progress.report("", 0.95f);
    recordStatusUndo(status, &m_undo);
    m_commit.done = true;
   
    progress.report("", 1.0f);
}

} // namespace classification
