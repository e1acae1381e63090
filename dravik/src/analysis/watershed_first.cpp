// Stage 2 of the segmentation: every cell's histogram split into modes, and its best split.
#include "analysis/segmentation.h"

#include "platform/clock.h"

#include <algorithm>
#include <array>
#include <string>

namespace classification {

using corvath::utility::domainOf;

namespace {

const char* const kHeaderPath = "dravik/include/analysis/segmentation.h";

} // namespace

void splitModes(const Histogram1D& h, float featureTol, std::vector<ModeRecord>& out)
{
    const int first = h.firstBin(), last = h.lastBin();
    const int* count = h.counts() - first;
    const auto append = [&out](int peak, int valley) {
        ModeRecord r;
        r.peakBin = peak;
        r.valleyBin = valley;
        out.push_back(r);
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

template <int N, int V>
void Segmentation<N, V>::splitChannelModes(int c)
{
    std::vector<ModeRecord>& list = m_modes[c];
    list.clear();
    ModeRecord sentinel;
    sentinel.cell = &m_defaultHistogram;
    sentinel.peakCount = m_defaultHistogram.count(0);
    list.push_back(sentinel);
    const Rect domain = domainOf(m_histograms);
    if (!domain.isEmpty())
        list.reserve(std::size_t(domain.width() * domain.height()) + 1);

    const float featureTol = m_head.featureTol;
    blitz::Array<Histogram1D, 2> hc = m_histograms.extractComponent(Histogram1D(), c, N);
    for (int x = domain.x1; x <= domain.x2; ++x)
        for (int y = domain.y1; y <= domain.y2; ++y) {
            Histogram1D& h = hc(x, y);
            h.firstRecord = int(list.size());
            splitModes(h, featureTol, list);
            h.endRecord = int(list.size());
            for (int k = h.firstRecord; k < h.endRecord; ++k) {
                list[k].cell = &h;
                list[k].peakCount = h.count(list[k].peakBin);
            }
        }

    for (ModeRecord& r : list) {
        if (r.valleyBin == -1) {
            r.valleyBin = 256;
            r.valleyCount = 0;
        } else {
            r.valleyCount = r.cell->count(r.valleyBin);
        }
    }

    for (int x = domain.x1; x <= domain.x2; ++x)
        for (int y = domain.y1; y <= domain.y2; ++y) {
            Histogram1D& h = hc(x, y);
            h.bestSplit = findBestSplit(list, h.firstRecord, h.endRecord);
        }
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
    splitChannelModes(c);
    reportSplit(range, started);
    return true;
}

template <int N, int V>
bool Segmentation<N, V>::watershedFirstAllChannels(bool upstreamChanged, ProgressRange range)
{
    // The channels split independently, one job each on the workers; their reports follow
    // here in channel order, so they still rise through the channels' shares.
    const std::int64_t started = platform::counterNanoseconds();
    std::array<bool, N> due;
    for (int c = 0; c < N; ++c)
        due[c] = upstreamChanged || modesOutOfDate(m_channelStates[c], m_head);
    runJobsOnWorkerThreads(m_modeJobs, N - 1, [this, &due](int c) {
        if (due[c])
            splitChannelModes(c);
    });

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

template void Segmentation<6, 0>::splitChannelModes(int);
template bool Segmentation<6, 0>::watershedFirst(bool, int, ProgressRange);
template bool Segmentation<6, 0>::watershedFirstAllChannels(bool, ProgressRange);

} // namespace classification
