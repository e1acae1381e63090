#include "mask/markdistance.h"

#include "common/rect.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace classification {

namespace {

// Pixel lists of the live distance values. A list freed after both its expansions keeps its
// capacity for the next value, so the lists cost allocations only while the wave front grows.
class BucketPool {
public:
    std::uint32_t acquire()
    {
        if (!m_free.empty()) {
            const std::uint32_t id = m_free.back();
            m_free.pop_back();
            return id;
        }
        m_lists.emplace_back();
        return std::uint32_t(m_lists.size() - 1);
    }
    void release(std::uint32_t id)
    {
        m_lists[id].clear();
        m_free.push_back(id);
    }
    std::vector<std::uint32_t>& operator[](std::uint32_t id) { return m_lists[id]; }

private:
    std::vector<std::vector<std::uint32_t>> m_lists;
    std::vector<std::uint32_t> m_free;
};

// The buckets in the order they were made, which is the increasing order of their values. A
// bucket's axial expansion gives its value + a and its diagonal one its value + b, so each
// kind of expansion leaves in this order too: one cursor per kind walks the list, and the
// smaller of the two keys under the cursors is the next expansion.
class BucketSequence {
public:
    struct Entry {
        float value;
        std::uint32_t bucket;
    };

    void append(float value, std::uint32_t bucket) { m_entries.push_back({value, bucket}); }
    bool done(std::size_t cursor) const { return cursor == end(); }
    const Entry& at(std::size_t cursor) const { return m_entries[cursor - m_dropped]; }
    std::size_t end() const { return m_dropped + m_entries.size(); }

    // Forgets the entries before `cursor` (both cursors have passed them).
    void dropBefore(std::size_t cursor)
    {
        const std::size_t n = cursor - m_dropped;
        if (n >= 4096 && 2 * n >= m_entries.size()) {
            m_entries.erase(m_entries.begin(), m_entries.begin() + std::ptrdiff_t(n));
            m_dropped = cursor;
        }
    }

private:
    std::vector<Entry> m_entries;
    std::size_t m_dropped = 0;
};

// Cell states of a pass: the status's class bits (marked), a frame cell, or reached by this
// pass. A cell is open while its state is 0.
constexpr unsigned char frameCell = 0x40;
constexpr unsigned char reachedCell = 0x80;

class DistancePass {
public:
    // `state` and `out` share one layout: the rectangle inside a frame of one cell, rowStep
    // cells per row. The frame is never open, so no step needs a bounds test.
    DistancePass(std::vector<unsigned char>& state, MarkDistance* out, int component,
                 std::ptrdiff_t rowStep)
        : m_state(state.data()), m_out(out), m_component(component)
    {
        m_axial[0] = -rowStep;
        m_axial[1] = -1;
        m_axial[2] = rowStep;
        m_axial[3] = 1;
        m_diagonal[0] = -rowStep - 1;
        m_diagonal[1] = -rowStep + 1;
        m_diagonal[2] = rowStep - 1;
        m_diagonal[3] = rowStep + 1;
    }

    void run(unsigned char classBit, std::ptrdiff_t rows, std::ptrdiff_t cols)
    {
        const float a = markAxialStep, b = markDiagonalStep;
        const std::uint32_t bucketA = m_pool.acquire(), bucketB = m_pool.acquire();
        m_sequence.append(a, bucketA);
        m_sequence.append(b, bucketB);

        const std::ptrdiff_t rowStep = cols + 2;
        for (std::ptrdiff_t i = 1; i <= rows; ++i) {
            const std::ptrdiff_t rowStart = i * rowStep;
            for (std::ptrdiff_t o = rowStart + 1; o <= rowStart + cols; ++o) {
                if (m_state[o] != 0)
                    continue;
                if (touches(o, m_axial, classBit))
                    reach(o, a, m_pool[bucketA]);
                else if (touches(o, m_diagonal, classBit))
                    reach(o, b, m_pool[bucketB]);
            }
        }

        // Expansions leave in order of the distance they give (ties in either order: they give
        // one value), so each pixel is reached first by its shortest path. The expansions that
        // give one value leave one after another (later ones give more), so the bucket of the
        // current value, if any, is the one made last.
        std::size_t axialCursor = 0, diagonalCursor = 0;
        float lastValue = -1.f;
        while (!m_sequence.done(diagonalCursor)) {
            const bool axial = !m_sequence.done(axialCursor) &&
                               m_sequence.at(axialCursor).value + a <= m_sequence.at(diagonalCursor).value + b;
            const BucketSequence::Entry e = m_sequence.at(axial ? axialCursor++ : diagonalCursor++);
            const float value = e.value + (axial ? a : b);
            if (!m_pool[e.bucket].empty()) {
                if (lastValue != value) {
                    lastValue = value;
                    m_sequence.append(value, m_pool.acquire());
                }
                const std::uint32_t to = m_sequence.at(m_sequence.end() - 1).bucket;
                expand(m_pool[e.bucket], m_pool[to], axial ? m_axial : m_diagonal, value);
            }
            if (!axial) {
                m_pool.release(e.bucket);
                m_sequence.dropBefore(diagonalCursor);
            }
        }
    }

private:
    bool touches(std::ptrdiff_t o, const std::ptrdiff_t (&offsets)[4], unsigned char classBit) const
    {
        return ((m_state[o + offsets[0]] | m_state[o + offsets[1]] | m_state[o + offsets[2]] |
                 m_state[o + offsets[3]]) &
                classBit) != 0;
    }

    void reach(std::ptrdiff_t o, float value, std::vector<std::uint32_t>& bucket)
    {
        m_state[o] = reachedCell;
        m_out[o][m_component] = value;
        bucket.push_back(std::uint32_t(o));
    }

    void expand(const std::vector<std::uint32_t>& from, std::vector<std::uint32_t>& to,
                const std::ptrdiff_t (&offsets)[4], float value)
    {
        for (const std::uint32_t p : from)
            for (const std::ptrdiff_t off : offsets) {
                const std::ptrdiff_t q = std::ptrdiff_t(p) + off;
                if (m_state[q] == 0)
                    reach(q, value, to);
            }
    }

    unsigned char* m_state;
    MarkDistance* m_out;
    int m_component;
    std::ptrdiff_t m_axial[4];
    std::ptrdiff_t m_diagonal[4];
    BucketPool m_pool;
    BucketSequence m_sequence;
};

} // namespace

void computeMarkDistances(MarkDistances& distance, const blitz::Array<unsigned char, 2>& status,
                          ProgressRange)
{
    const corvath::utility::Rect r = corvath::utility::domainOf(status);
    if (r.isEmpty()) {
        MarkDistances none;
        corvath::utility::fitArrayToRect(none, r);
        distance.reference(none);
        return;
    }

    const std::ptrdiff_t rows = r.x2 - r.x1 + 1, cols = r.y2 - r.y1 + 1;
    const std::ptrdiff_t rowStep = cols + 2;
    const std::size_t padded = std::size_t(rows + 2) * std::size_t(rowStep);
    if (padded > UINT32_MAX)
        throw std::length_error("status array too large for the distance map");

    // The map is the interior of an array one cell larger on every side, so that the passes
    // address it and their state bytes with the same offsets.
    MarkDistances framed(blitz::Range(r.x1 - 1, r.x2 + 1), blitz::Range(r.y1 - 1, r.y2 + 1));
    std::vector<unsigned char> state(padded, frameCell);
    const std::ptrdiff_t ss0 = status.stride(0), ss1 = status.stride(1);
    MarkDistance* const out = framed.data();
    for (std::ptrdiff_t i = 0; i < rows; ++i) {
        const unsigned char* s = status.data() + i * ss0;
        const std::ptrdiff_t rowStart = (i + 1) * rowStep + 1;
        for (std::ptrdiff_t j = 0; j < cols; ++j) {
            const unsigned char m = s[j * ss1] & 6;
            state[rowStart + j] = m;
            const float v = m ? 0.f : markUnreached;
            out[rowStart + j] = MarkDistance(v, v);
        }
    }

    const unsigned char passBits[2] = {2, 4};
    for (int k = 0; k < 2; ++k) {
        if (k > 0)
            for (unsigned char& c : state)
                c &= static_cast<unsigned char>(~reachedCell);
        DistancePass(state, out, k, rowStep).run(passBits[k], rows, cols);
    }
    distance.reference(framed(blitz::Range(r.x1, r.x2), blitz::Range(r.y1, r.y2)));
    distance.reindexSelf(blitz::TinyVector<int, 2>(r.x1, r.y1));
}

} // namespace classification
