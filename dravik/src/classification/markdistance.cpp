#include "classification/markdistance.h"

#include "classification/rect.h"

#include <algorithm>
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

// Expand the pixels of `bucket` by one step; `key` is the distance they reach.
struct Expansion {
    float key;
    std::uint32_t bucket;
    bool diagonal;
};

// Pending expansions of one step kind. Buckets are made in increasing order of their value
// and each pushes its expansion once, so the keys of one kind arrive sorted: the smallest
// pending key is at the front of one of the two queues.
class ExpansionQueue {
public:
    bool empty() const { return m_head == m_items.size(); }
    const Expansion& front() const { return m_items[m_head]; }
    void push(const Expansion& e) { m_items.push_back(e); }
    Expansion pop()
    {
        const Expansion e = m_items[m_head++];
        if (m_head == m_items.size()) {
            m_items.clear();
            m_head = 0;
        } else if (m_head >= 4096 && 2 * m_head >= m_items.size()) {
            m_items.erase(m_items.begin(), m_items.begin() + std::ptrdiff_t(m_head));
            m_head = 0;
        }
        return e;
    }

private:
    std::vector<Expansion> m_items;
    std::size_t m_head = 0;
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
        push({a + a, bucketA, false});
        push({a + b, bucketA, true});
        push({b + a, bucketB, false});
        push({b + b, bucketB, true});

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

        // Expansions leave in order of the distance they give (ties in any order: they give
        // one value), so each pixel is reached first by its shortest path. Every bucket of a value is made by the expansions that give
        // that value; those leave the queues one after another (later ones give more), so the
        // bucket made for the current value is the only one that can already exist.
        std::uint32_t runBucket = 0;
        float runKey = -1.f;
        while (!m_axialQueue.empty() || !m_diagonalQueue.empty()) {
            const bool axialFirst = m_diagonalQueue.empty() ||
                                    (!m_axialQueue.empty() && m_axialQueue.front().key <= m_diagonalQueue.front().key);
            const Expansion e = axialFirst ? m_axialQueue.pop() : m_diagonalQueue.pop();
            if (!m_pool[e.bucket].empty()) {
                if (runKey != e.key) {
                    runKey = e.key;
                    runBucket = m_pool.acquire();
                    push({e.key + a, runBucket, false});
                    push({e.key + b, runBucket, true});
                }
                expand(m_pool[e.bucket], m_pool[runBucket], e.diagonal ? m_diagonal : m_axial, e.key);
            }
            if (e.diagonal)
                m_pool.release(e.bucket);
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

    void push(const Expansion& e) { (e.diagonal ? m_diagonalQueue : m_axialQueue).push(e); }

    unsigned char* m_state;
    MarkDistance* m_out;
    int m_component;
    std::ptrdiff_t m_axial[4];
    std::ptrdiff_t m_diagonal[4];
    BucketPool m_pool;
    ExpansionQueue m_axialQueue, m_diagonalQueue;
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
