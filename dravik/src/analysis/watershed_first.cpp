// Stage 2 of the segmentation: every cell's histogram split into modes, and its best split.
#include "analysis/segmentation.h"

#include "platform/clock.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

namespace classification {

using corvath::utility::domainOf;
using corvath::utility::extent;

namespace {

const char* const kHeaderPath = "dravik/include/analysis/segmentation.h";

} // namespace

void splitModes(const Histogram1D& h, float featureTol, std::vector<ModeRecord>& out)
{
    const int first = h.firstBin(), last = h.lastBin();
    const int* count = h.counts() - first;
    const auto append = [&out](int peak, int valley) {
        // Made in place: a record built aside and copied in would be read back whole before
        // its narrower writes had landed.
        ModeRecord& r = out.emplace_back();
        r.peakBin = peak;
        r.valleyBin = valley;
    };
    int peak = first;
    int valley = -1;  // bins are never negative
    for (int i = first + 1; i <= last; ++i) {
        if (valley < 0) {
            if (count[i] > count[peak])
                peak = i;
            else if (float(count[peak]) > float(count[i]) * featureTol)
                valley = i;
        } else if (count[valley] > count[i]) {
            valley = i;
        } else if (float(count[i]) > float(count[valley]) * featureTol) {
            append(peak, valley);
            peak = i;
            valley = -1;
        }
    }
    append(peak, -1);
}

int findBestSplit(std::vector<ModeRecord>& records, int first, int end)
{
    const int last = end - 1;  // has no valley, so never a split
    int best = end - first > 1 ? first : -1;
    for (int i = first; i < last; ++i) {
        ModeRecord& r = records[i];
        // The highest peak on each side before the histogram falls below this valley.
        int left = i;
        for (int j = i - 1; j >= first && records[j].valleyCount >= r.valleyCount; --j)
            if (records[j].peakCount > records[left].peakCount)
                left = j;
        int right = i + 1;
        for (int j = i + 2; j <= last && records[left].peakCount > records[right].peakCount; ++j) {
            if (records[j].peakCount > records[right].peakCount)
                right = j;
            if (records[j].valleyCount < r.valleyCount)
                break;
        }
        r.lowerPeak = std::min(records[left].peakCount, records[right].peakCount);
        r.peakDistance = records[right].peakBin - records[left].peakBin;
        const ModeRecord& b = records[best];
        if (float(r.lowerPeak) / float(r.valleyCount) > float(b.lowerPeak) / float(b.valleyCount))
            best = i;
    }
    return best;
}

namespace {

using HistogramView = blitz::Array<Histogram1D, 2>;

// Cells per job of the split: enough jobs that no worker waits long for the last channel.
constexpr int kModeCellsPerJob = 8192;

// The cells of rows x1..x2 split into records numbered from 0 in out, with their counts and
// each cell's records and best split in that numbering.
void splitRows(HistogramView& hc, int x1, int x2, int y1, int y2, float featureTol,
               std::vector<ModeRecord>& out)
{
    out.clear();
    for (int x = x1; x <= x2; ++x)
        for (int y = y1; y <= y2; ++y) {
            Histogram1D& h = hc(x, y);
            // The cells lie a whole cell of every channel apart: fetched ahead, their
            // histograms are there when the split reaches them.
            if (y + 4 <= y2) {
                const char* ahead = reinterpret_cast<const char*>(&hc(x, y + 4));
                __builtin_prefetch(ahead);
                __builtin_prefetch(ahead + 64);
            }
            const int first = int(out.size());
            splitModes(h, featureTol, out);
            const int end = int(out.size());
            for (int k = first; k < end; ++k) {
                ModeRecord& r = out[std::size_t(k)];
                r.cell = &h;
                r.peakCount = h.count(r.peakBin);
                if (r.valleyBin == -1) {
                    r.valleyBin = 256;
                    r.valleyCount = 0;
                } else {
                    r.valleyCount = h.count(r.valleyBin);
                }
            }
            h.firstRecord = first;
            h.endRecord = end;
            h.bestSplit = findBestSplit(out, first, end);
        }
}

// Rows x1..x2's records moved to list from offset on, the cells' numbers with them.
void placeRows(HistogramView& hc, int x1, int x2, int y1, int y2, const std::vector<ModeRecord>& records,
               int offset, std::vector<ModeRecord>& list)
{
    std::copy(records.begin(), records.end(), list.begin() + offset);
    for (int x = x1; x <= x2; ++x)
        for (int y = y1; y <= y2; ++y) {
            Histogram1D& h = hc(x, y);
            h.firstRecord += offset;
            h.endRecord += offset;
            if (h.bestSplit >= 0)
                h.bestSplit += offset;
        }
}

} // namespace

template <int N, int V>
void Segmentation<N, V>::splitChannelModes(const std::array<bool, N>& due)
{
    ModeRecord sentinel;
    sentinel.cell = &m_defaultHistogram;
    sentinel.peakCount = m_defaultHistogram.count(0);
    sentinel.valleyBin = 256;
    sentinel.valleyCount = 0;

    const Rect domain = domainOf(m_histograms);
    if (domain.isEmpty()) {
        for (int c = 0; c < N; ++c)
            if (due[c])
                m_modes[c].assign(1, sentinel);
        return;
    }

    // Every band of cell rows splits into a list of its own, numbered from 0; once the
    // lengths are known, each band moves to its place in its channel's list. The order of
    // the records is that of the cells, so the lists do not depend on the bands.
    const int rows = extent(domain).x, columns = extent(domain).y;
    const int height = std::max(1, (kModeCellsPerJob + columns - 1) / columns);
    const int bands = (rows + height - 1) / height;
    const float featureTol = m_head.featureTol;
    std::array<HistogramView, N> views;
    for (int c = 0; c < N; ++c)
        views[c].reference(m_histograms.extractComponent(Histogram1D(), c, N));
    std::vector<std::vector<ModeRecord>> pieces(std::size_t(N * bands));
    const auto bandRows = [&domain, height](int band) {
        const int x1 = domain.x1 + band * height;
        return std::make_pair(x1, std::min(x1 + height - 1, domain.x2));
    };

    runJobsOnWorkerThreads(m_modeJobs, N * bands - 1, [&](int job) {
        const int c = job / bands;
        if (!due[c])
            return;
        const auto [x1, x2] = bandRows(job % bands);
        std::vector<ModeRecord>& piece = pieces[std::size_t(job)];
        piece.reserve(std::size_t(x2 - x1 + 1) * std::size_t(columns) * 3);
        splitRows(views[c], x1, x2, domain.y1, domain.y2, featureTol, piece);
    });

    std::vector<int> offsets(std::size_t(N * bands));
    std::array<std::size_t, N> lengths;
    for (int c = 0; c < N; ++c) {
        std::size_t at = 1;  // after the sentinel
        for (int band = 0; band < bands; ++band) {
            offsets[std::size_t(c * bands + band)] = int(at);
            at += pieces[std::size_t(c * bands + band)].size();
        }
        lengths[c] = at;
    }
    // Each list sized on a worker of its own, as its memory is first touched there.
    runJobsOnWorkerThreads(m_modeJobs, N - 1, [&](int c) {
        if (!due[c])
            return;
        std::vector<ModeRecord>& list = m_modes[c];
        list.clear();
        list.resize(lengths[c]);
        list[0] = sentinel;
    });
    runJobsOnWorkerThreads(m_modeJobs, N * bands - 1, [&](int job) {
        const int c = job / bands;
        if (!due[c])
            return;
        const auto [x1, x2] = bandRows(job % bands);
        placeRows(views[c], x1, x2, domain.y1, domain.y2, pieces[std::size_t(job)],
                  offsets[std::size_t(job)], m_modes[c]);
    });
}

namespace {

// The reports of one channel's split, made once it is done.
void reportSplit(ProgressRange& range, std::int64_t started)
{
    range.report(corvath::utility::timedBlockText(
                     kHeaderPath, 1371, "Watershed first",
                     platform::counterSeconds(started, platform::counterNanoseconds())),
                 0.25f);
    range.report(std::string(), 0.5f);
    range.report(std::string(), 0.75f);
    range.report(std::string(), 1.0f);
}

} // namespace

template <int N, int V>
bool Segmentation<N, V>::watershedFirst(bool upstreamChanged, int c, ProgressRange range)
{
    if (!upstreamChanged && !modesOutOfDate(m_channelStates[c], m_head))
        return false;
    const std::int64_t started = platform::counterNanoseconds();
    std::array<bool, N> due{};
    due[c] = true;
    splitChannelModes(due);
    reportSplit(range, started);
    return true;
}

template <int N, int V>
bool Segmentation<N, V>::watershedFirstAllChannels(bool upstreamChanged, ProgressRange range)
{
    // The channels split together on the workers; their reports follow here in channel
    // order, so they still rise through the channels' shares.
    const std::int64_t started = platform::counterNanoseconds();
    std::array<bool, N> due;
    for (int c = 0; c < N; ++c)
        due[c] = upstreamChanged || modesOutOfDate(m_channelStates[c], m_head);
    splitChannelModes(due);

    bool changed = false;
    for (int c = 0; c < N; ++c) {
        const float end = float((c + 0.99) / N);
        ProgressRange share = range.nextStep(end);
        if (due[c]) {
            reportSplit(share, started);
            changed = true;
        }
    }
    return changed;
}

template void Segmentation<6, 0>::splitChannelModes(const std::array<bool, 6>&);
template bool Segmentation<6, 0>::watershedFirst(bool, int, ProgressRange);
template bool Segmentation<6, 0>::watershedFirstAllChannels(bool, ProgressRange);

} // namespace classification
