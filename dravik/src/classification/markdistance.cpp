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

struct LaterFirst {
    bool operator()(const Expansion& p, const Expansion& q) const { return p.key > q.key; }
};

class DistancePass {
public:
    // `marks` holds status & 6 inside a frame of 0; `plane` the distances inside a frame of 0,
    // so frame cells count as marked: never written, never seeds, and no bounds tests.
    DistancePass(const std::vector<unsigned char>& marks, std::vector<float>& plane,
                 std::ptrdiff_t rowStep)
        : m_marks(marks), m_plane(plane)
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
                if (m_plane[o] != markUnreached)
                    continue;
                if (touches(o, m_axial, classBit)) {
                    m_plane[o] = a;
                    m_pool[bucketA].push_back(std::uint32_t(o));
                } else if (touches(o, m_diagonal, classBit)) {
                    m_plane[o] = b;
                    m_pool[bucketB].push_back(std::uint32_t(o));
                }
            }
        }

        // Expansions leave in order of the distance they give, so each pixel is reached first
        // by its shortest path. Every bucket of a value is made by the expansions that give
        // that value; those leave the heap one after another (later ones give more), so the
        // bucket made for the current value is the only one that can already exist.
        std::uint32_t runBucket = 0;
        float runKey = -1.f;
        while (!m_heap.empty()) {
            std::pop_heap(m_heap.begin(), m_heap.end(), LaterFirst());
            const Expansion e = m_heap.back();
            m_heap.pop_back();
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
        return ((m_marks[o + offsets[0]] | m_marks[o + offsets[1]] | m_marks[o + offsets[2]] |
                 m_marks[o + offsets[3]]) &
                classBit) != 0;
    }

    void expand(const std::vector<std::uint32_t>& from, std::vector<std::uint32_t>& to,
                const std::ptrdiff_t (&offsets)[4], float value)
    {
        float* const plane = m_plane.data();
        for (const std::uint32_t p : from) {
            for (const std::ptrdiff_t off : offsets) {
                const std::ptrdiff_t q = std::ptrdiff_t(p) + off;
                if (plane[q] == markUnreached) {
                    plane[q] = value;
                    to.push_back(std::uint32_t(q));
                }
            }
        }
    }

    void push(const Expansion& e)
    {
        m_heap.push_back(e);
        std::push_heap(m_heap.begin(), m_heap.end(), LaterFirst());
    }

    const std::vector<unsigned char>& m_marks;
    std::vector<float>& m_plane;
    std::ptrdiff_t m_axial[4];
    std::ptrdiff_t m_diagonal[4];
    BucketPool m_pool;
    std::vector<Expansion> m_heap;
};

} // namespace

void computeMarkDistances(MarkDistances& distance, const blitz::Array<unsigned char, 2>& status,
                          ProgressRange)
{
    const corvath::utility::Rect r = corvath::utility::domainOf(status);
    MarkDistances fresh;
    corvath::utility::fitArrayToRect(fresh, r);
    distance.reference(fresh);
    if (r.isEmpty())
        return;

    const std::ptrdiff_t rows = r.x2 - r.x1 + 1, cols = r.y2 - r.y1 + 1;
    const std::ptrdiff_t rowStep = cols + 2;
    const std::size_t padded = std::size_t(rows + 2) * std::size_t(rowStep);
    if (padded > UINT32_MAX)
        throw std::length_error("status array too large for the distance map");

    std::vector<unsigned char> marks(padded, 0);
    const std::ptrdiff_t ss0 = status.stride(0), ss1 = status.stride(1);
    for (std::ptrdiff_t i = 0; i < rows; ++i) {
        const unsigned char* s = status.data() + i * ss0;
        unsigned char* m = marks.data() + (i + 1) * rowStep + 1;
        for (std::ptrdiff_t j = 0; j < cols; ++j)
            m[j] = s[j * ss1] & 6;
    }

    std::vector<float> plane(padded);
    MarkDistance* const out = distance.data();
    const std::ptrdiff_t ds0 = distance.stride(0), ds1 = distance.stride(1);
    const unsigned char passBits[2] = {2, 4};
    for (int k = 0; k < 2; ++k) {
        std::fill(plane.begin(), plane.end(), 0.f);
        for (std::ptrdiff_t i = 1; i <= rows; ++i)
            for (std::ptrdiff_t o = i * rowStep + 1; o <= i * rowStep + cols; ++o)
                plane[o] = marks[o] ? 0.f : markUnreached;

        DistancePass(marks, plane, rowStep).run(passBits[k], rows, cols);

        for (std::ptrdiff_t i = 0; i < rows; ++i) {
            const float* p = plane.data() + (i + 1) * rowStep + 1;
            MarkDistance* d = out + i * ds0;
            for (std::ptrdiff_t j = 0; j < cols; ++j)
                d[j * ds1][k] = p[j];
        }
    }
}

} // namespace classification
