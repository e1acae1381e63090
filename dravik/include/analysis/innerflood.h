#pragma once
// The inner watershed's flood over packed cells: one 32-bit word per lattice element holds
// the pixel's region (or, while it has none, what is heading for it) together with its lower
// height, so that expanding a pixel reads three cache lines instead of six, and queue records
// are single offsets. The regions are the same as those of the general flood
// (WatershedQueue with LevelQueue, EightNeighbours, UpperLowerHeights, LabelCounter).
//
// A cell:
// - of a pixel with a region: label << 8 | lower height, label 0 .. kMaxLabel;
// - of a pixel without one: kUnlabelled | side << 17 | mark << 8 | lower height, where mark is
//   0 when no record heads for the pixel, else one more than the highest priority of one that
//   does, and side names the neighbour that pushed that record. Records toward a pixel are
//   pushed only at rising priorities, so the first of them to leave the queue is the last
//   pushed: the one whose source the side names.

#include "session/progress.h"
#include "watershed/watershed.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace classification {

class PackedInnerFlood {
public:
    static constexpr std::uint32_t kUnlabelled = 0xFF000000u;
    static constexpr std::int32_t kMaxLabel = 0xFEFFFF;

    static constexpr std::uint32_t unlabelledCell(unsigned lower) { return kUnlabelled | lower; }
    static constexpr std::uint32_t labelledCell(std::int32_t label, unsigned lower)
    {
        return std::uint32_t(label) << 8 | lower;
    }
    static constexpr bool isLabelled(std::uint32_t cell) { return cell < kUnlabelled; }
    static constexpr std::int32_t labelOf(std::uint32_t cell) { return std::int32_t(cell >> 8); }

    // cells: the lattice's first element; upper: byte 0 of the lattice's first element of the
    // gradient image (three bytes per element); rowStride: elements between neighbouring rows;
    // bias 0 .. 255. labelLimit (at most kMaxLabel): the highest label the cells may take.
    // Each row's cells must be readable two elements right of every pixel of the area.
    // vectorUnit false keeps to the portable path even where AVX2 is present.
    PackedInnerFlood(std::uint32_t* cells, const unsigned char* upper, std::ptrdiff_t rowStride, int bias,
                     LabelCounter& counter, std::int32_t labelLimit = kMaxLabel, bool vectorUnit = true);
    ~PackedInnerFlood();
    PackedInnerFlood(const PackedInnerFlood&) = delete;
    PackedInnerFlood& operator=(const PackedInnerFlood&) = delete;

    // The flood of WatershedQueue::flood over the area's pixels (all unlabelled, each of
    // their neighbours a cell), with its progress reports. False, with the cells partly
    // flooded, when a region would need a label above the limit.
    bool flood(const CandidateArea& area, ProgressRange progress);

private:
    struct List {
        std::uint32_t* head = nullptr;  // both null while the list holds no block
        std::uint32_t* tail = nullptr;
    };
    // Blocks of 4 KiB, aligned to their size: records, then the next block's address.
    static constexpr std::size_t kBlockBytes = 4096;
    static constexpr std::uintptr_t kLinkAt = kBlockBytes - sizeof(std::uint32_t*);
    static constexpr std::ptrdiff_t kLastRecord = std::ptrdiff_t(kLinkAt / sizeof(std::uint32_t)) - 1;

    void collectCandidates(const CandidateArea& area);
    void pushNeighbours(std::uint32_t p, int origin, unsigned lowerP, std::uint32_t cellP);
    void pushNeighboursAvx2(std::uint32_t p, int origin, unsigned lowerP, std::uint32_t cellP);
    bool floodPortable(const ProgressRange& progress, std::int64_t started);
    bool floodAvx2(const ProgressRange& progress, std::int64_t started);
    void push(std::uint32_t to, int priority);
    std::uint32_t* takeBlock();
    void giveBack(std::uint32_t* block) { m_free.push_back(block); }

    std::uint32_t* m_cells;
    const unsigned char* m_upper;
    std::ptrdiff_t m_row;
    int m_bias;
    LabelCounter* m_counter;
    std::int32_t m_labelLimit;
    bool m_avx2;
    std::ptrdiff_t m_side[8];  // to - from for each side, in the order neighbours are queued
    alignas(32) std::int32_t m_sideOffsets[8];  // the same as lanes of a vector

    List m_lists[256];
    // Neither is of a type that the flood's stores to cells or to the bitmap may alias, so
    // the compiler need not reload them after each of those.
    std::ptrdiff_t m_level = 0;
    std::size_t m_count = 0;
    std::vector<std::uint32_t*> m_free;
    std::vector<void*> m_chunks;

    void mark(std::uint32_t p) { m_labelled[p >> 6] |= 1ull << (p & 63); }
    bool isMarked(std::uint32_t p) const { return m_labelled[p >> 6] >> (p & 63) & 1; }

    std::vector<unsigned long long> m_labelled;
    std::unique_ptr<std::uint32_t[]> m_candidates;
    std::size_t m_candidateCount = 0;
    std::vector<std::size_t> m_heightEnds;
};

} // namespace classification
