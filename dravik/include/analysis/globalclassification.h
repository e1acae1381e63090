#pragma once
// Global colour classification: the histogram of the analysis image's colour keys at seven
// levels of precision (level L drops the low L bits of every channel), each level divided
// into colour regions by a watershed that grows regions downhill from the most frequent
// colours. The regions of a level can be written out per pixel as a label image.

#include "common/jobthreads.h"
#include "common/packedtable.h"
#include "session/progress.h"
#include "platform/memory.h"

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

#include <blitz/array.h>
#include <blitz/tinyvec2.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

namespace classification {

template <typename T, int N, typename Label>
class GlobalClassification {
    static_assert(std::is_same_v<T, unsigned char> && N >= 1 && N <= 7,
                  "colour keys are packed into the low 56 bits of a 64-bit word");
    static_assert(std::is_integral_v<Label> && std::is_signed_v<Label>, "labels are signed");

    // Growing a working buffer leaves the new elements uninitialised: every user writes
    // them before reading, and zeroing hundreds of megabytes first costs as much again.
    template <typename U>
    using UninitialisedAllocator = platform::UnsetAllocator<U, platform::LargeAllocator>;
    template <typename U>
    using Buffer = std::vector<U, UninitialisedAllocator<U>>;

public:
    static constexpr int levelCount = 7;

    using ColourKey = blitz::TinyVector<T, N>;
    using KeyImage = blitz::Array<ColourKey, 2>;
    using MaskImage = blitz::Array<unsigned char, 2>;
    using LabelImage = blitz::Array<Label, 2>;
    // Channel c of a key in bits 8c..8c+7.
    using PackedKey = std::uint64_t;

    // A colour cell: its region (-1 until the watershed reaches it) and how many counted
    // pixels have its key.
    struct Cell {
        Label id;
        std::uint32_t count;
    };
    using LevelMap = PackedKeyTable<Cell>;

    // Hands out region labels of one level; stops counting at the maximum.
    struct LabelCounter {
        Label maximum = 0x7FFFFFFE;
        Label next = 0;
    };

private:
    // A key with the number of pixels it stands for, while a histogram is counted.
    struct KeyCount {
        PackedKey key;
        std::uint32_t count;
    };
    // A level's histogram as the level computation leaves it for the watershed: distinct
    // keys in increasing order with their pixel counts.
    struct Histogram {
        Buffer<PackedKey> keys;
        Buffer<std::uint32_t> counts;
    };

public:
    // The watershed of one level at a time; each worker thread runs its own copy, with its
    // own scratch.
    template <int Levels>
    class Watershedder {
    public:
        explicit Watershedder(GlobalClassification& owner) : m_owner(&owner) {}
        // Divides the level's histogram into regions, fills the level map with the cells and
        // their region ids, and stores the number of regions as the level's marker. Leaves
        // the marker at -1 when the other workers have stopped meanwhile.
        void operator()(int level);

    private:
        // Queue records name their cells by place in the key-sorted histogram and carry the
        // region of the cell that pushed them. Heap order: higher priority first, then the
        // shorter run, then the fewer steps. Here the three are packed into one word (the run
        // and step complemented), when the level's counts and cell count leave room for them.
        struct PackedRecord {
            std::uint64_t rank;
            std::uint32_t to;
            Label fromId;
        };
        struct WideRecord {
            std::uint32_t priority;
            std::int32_t run;
            std::int32_t step;
            std::uint32_t to;
            Label fromId;
        };

        // Gives every cell of the histogram a region label taken from counter; false when
        // the other workers stopped first.
        template <typename Queue>
        bool flood(Queue& queue, LabelCounter& counter);
        template <typename Queue>
        void pushNeighbours(Queue& queue, std::uint32_t cell, Label id, std::uint32_t priority,
                            std::int32_t run, std::int32_t step);
        static bool isLabelled(const std::uint64_t* labelled, std::uint32_t cell)
        {
            return (labelled[cell >> 6] >> (cell & 63)) & 1;
        }
        void label(std::uint32_t cell, Label id)
        {
            m_ids[cell] = id;
            m_labelled[cell >> 6] |= std::uint64_t(1) << (cell & 63);
        }
        // Enters the histogram's cells into the level map (reserved first, so no slot moves)
        // and notes each cell's slot; ids stay -1.
        void enterCells(const Histogram& cells, LevelMap& map);
        // Lists the existing neighbours (one apart in one channel) of every cell that can
        // push a record, in push order: channel 0 to N - 1, the lower before the upper.
        void findNeighbours(const Histogram& cells, unsigned threads);
        // Seeds: every cell, largest count first, equal counts in key order.
        void sortSeeds(std::uint32_t largest);

        GlobalClassification* m_owner;
        std::size_t m_cellCount = 0;
        const std::uint32_t* m_counts = nullptr;
        Buffer<Label> m_ids;
        Buffer<std::uint32_t> m_neighbourStart;
        Buffer<std::uint32_t> m_neighbours;
        Buffer<std::uint32_t> m_seeds;
        // The seeds' counts: the seeds before `end` and after the previous run have `count`.
        struct SeedRun {
            std::uint32_t end;
            std::uint32_t count;
        };
        std::vector<SeedRun> m_seedRuns;
        // One bit per cell: set once the cell has its region (its id is then valid).
        Buffer<std::uint64_t> m_labelled;
        Buffer<std::uint32_t> m_slots;
        Buffer<PackedRecord> m_packedQueue;
        Buffer<WideRecord> m_wideQueue;
        std::uint32_t m_lowestUsefulPriority = 0;
    };

    GlobalClassification();
    GlobalClassification(const GlobalClassification&) = delete;
    GlobalClassification& operator=(const GlobalClassification&) = delete;

    // The image and mask are views; set them before ensureLevels. An empty mask counts every
    // pixel, otherwise a pixel counts when its mask byte shares a bit with the class mask.
    void setImage(const KeyImage& image) { m_image.reference(image); }
    void setMask(const MaskImage& mask) { m_mask.reference(mask); }
    void setClassMask(unsigned char classMask) { m_classMask = classMask; }
    const KeyImage& image() const { return m_image; }

    // Computes all seven levels and their regions when any marker is -1, starting from empty
    // maps and fresh label counters; histograms over the first 20% of the range, watershed
    // over the rest. The watershed of a level starts as soon as its histogram is done, the
    // largest (level 0) first. Does nothing when every level is computed. DvExCancel leaves
    // the markers at -1.
    void ensureLevels(ProgressRange range);
    // The seven level histograms: level 0 from the pixels, each further level from the one
    // below. The level maps are filled by the watershed.
    void computeLevels(ProgressRange range);
    // Counts the image's pixels into the level-0 histogram.
    void histogram(ProgressRange range);
    // Adds every cell of the level `from` histogram to its one-bit-coarser cell one level up.
    void histogramSubsample(int from, ProgressRange range);
    // Writes the region id of every pixel's level key into labels (same domain as the image;
    // a key the histogram did not count is entered with id -1). Returns the level's marker.
    int partition(int level, LabelImage labels, ProgressRange range);
    // Frees every level and restarts the label counters; markers are left to the caller.
    void clearLevels();
    void resetMarkers() { m_markers.fill(-1); }
    // One thread per processor takes the levels 0 up to 6 and floods their histograms;
    // joins them all, then throws DvExCancel or std::runtime_error("Unhandled exception in
    // worker thread.").
    void runWatershedders(ProgressRange range);

    // -1 while the level is not computed, otherwise its number of regions.
    int marker(int level) const { return m_markers.at(std::size_t(level)); }
    const LevelMap& levelMap(int level) const { return m_levels.at(std::size_t(level)); }
    const LabelCounter& labelCounter(int level) const { return m_counters.at(std::size_t(level)); }

    // For tests: every level floods with the queue records that levels too large for
    // one-word ranks use.
    static void forceWideQueueRecords(bool on);

    static PackedKey packKey(const ColourKey& key);
    // Every byte of the key shifted right by `level` bits.
    static PackedKey levelKey(PackedKey key, int level);

private:
    // Runs the watershed of every level on the worker threads while produce() runs on the
    // calling thread and announces each level whose histogram is done (publishLevel).
    // subsampling: produce() counts each level's histogram from the one below.
    template <typename Produce>
    void floodLevels(Produce produce, bool subsampling);
    void publishLevel(int level);
    // One reader of the level's histogram keys is done; the last one frees them.
    void doneWithKeys(int level);
    // Blocks until the level's histogram is done; false when production ended without it.
    bool waitForLevel(int level);

    JobRecord m_work;
    boost::mutex m_boardMutex;
    boost::condition_variable m_boardChanged;
    int m_levelsReady = 0;    // levels 0 .. m_levelsReady - 1 have their histograms
    bool m_producing = false;
    std::array<std::atomic<int>, levelCount> m_keyReaders{};
    KeyImage m_image;
    MaskImage m_mask;
    unsigned char m_classMask = 15;
    std::array<LevelMap, levelCount> m_levels;
    std::array<int, levelCount> m_markers;
    std::array<LabelCounter, levelCount> m_counters;
    std::array<Histogram, levelCount> m_histograms;
};

extern template class GlobalClassification<unsigned char, 6, int>;
extern template class GlobalClassification<unsigned char, 6, int>::Watershedder<7>;

using SixChannelClassification = GlobalClassification<unsigned char, 6, int>;

} // namespace classification
