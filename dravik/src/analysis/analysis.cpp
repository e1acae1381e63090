// The analysis driver of the classification object: colour envelopes on worker threads, the
// global colour levels, the segmentation pipeline, the fine labels and the region map.
#include "session/classification.h"
#include "common/bandthreads.h"
#include "common/border.h"
#include "common/firsttouch.h"
#include "common/threadstart.h"
#include "analysis/finelabels.h"

#include "platform/clock.h"

#include <boost/thread/thread.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <exception>
#include <thread>
#include <vector>

namespace classification {

namespace {

using corvath::utility::domainOf;
using corvath::utility::grow;
using corvath::utility::intersect;
using corvath::utility::viewOf;

// Windows beyond this size reach past any image the engine is given; the bound only keeps
// the work arrays' arithmetic inside int.
constexpr std::int64_t largestTexture = 1 << 16;

// Row x of `to` over from's columns: from's labels, those over `inside`'s columns (0 <= label <
// majority's size) replaced by majority[label]. Both arrays have the same domain.
void relabelRow(const Labels& from, Labels& to, int x, int y1, int y2, const Rect& inside,
                const std::vector<int>& majority)
{
    const std::ptrdiff_t fStep = from.stride(1), tStep = to.stride(1);
    const int* f = &from(x, y1);
    int* t = &to(x, y1);
    const int size = int(majority.size());
    const auto copy = [&](int count) {
        for (; count > 0; --count, f += fStep, t += tStep)
            *t = *f;
    };
    const int first = std::max(y1, inside.y1), last = std::min(y2, inside.y2);
    if (x < inside.x1 || x > inside.x2 || first > last) {
        copy(y2 - y1 + 1);
        return;
    }
    copy(first - y1);
    for (int y = first; y <= last; ++y, f += fStep, t += tStep) {
        const int l = *f;
        *t = l >= 0 && l < size ? majority[std::size_t(l)] : l;
    }
    copy(y2 - last);
}

// Every element of labels over r becomes -1 where mask is 0 or absent.
void clearOutsideMask(Labels& labels, const Rect& r, const Bytes& mask)
{
    const Rect covered = intersect(r, domainOf(mask));
    const std::ptrdiff_t step = labels.stride(1);
    for (int x = r.x1; x <= r.x2; ++x) {
        int* l = &labels(x, r.y1);
        const bool rowCovered = !covered.isEmpty() && x >= covered.x1 && x <= covered.x2;
        const unsigned char* m = rowCovered ? &mask(x, covered.y1) : nullptr;
        for (int y = r.y1; y <= r.y2; ++y, l += step) {
            if (!rowCovered || y < covered.y1 || y > covered.y2)
                *l = -1;
            else if (m[std::ptrdiff_t(y - covered.y1) * mask.stride(1)] == 0)
                *l = -1;
        }
    }
}

// The reporter of the colour levels while they run beside the segmentation: the client's
// callback belongs to the calling thread, so it reports nothing, but it ends the levels with a
// cancel once the calling thread has stopped.
class BesideReporter : public corvath::utility::IiUI {
public:
    explicit BesideReporter(const std::atomic<bool>& stop) : m_stop(stop) {}
    void progress(float, const std::string&) override
    {
        if (m_stop.load(std::memory_order_relaxed))
            throw DvExCancel();
    }

private:
    const std::atomic<bool>& m_stop;
};

// The calling thread's reporter meanwhile: passes reports on to the client, and ends the
// segmentation with a cancel once the levels beside it have failed, so the failure is not
// kept waiting for the whole pipeline.
class CallerReporter : public corvath::utility::IiUI {
public:
    CallerReporter(corvath::utility::IiUI* parent, const std::atomic<bool>& besideFailed)
        : m_parent(parent), m_besideFailed(besideFailed) {}
    void progress(float fraction, const std::string& text) override
    {
        if (m_besideFailed.load(std::memory_order_relaxed))
            throw DvExCancel();
        if (m_parent)
            m_parent->progress(fraction, text);
    }

private:
    corvath::utility::IiUI* m_parent;
    const std::atomic<bool>& m_besideFailed;
};

} // namespace

void IiClassification::requireNewEnvelopes()
{
    m_envelopeState = 0;
    m_colourLevels.clearLevels();
    m_colourLevels.resetMarkers();
}

void IiClassification::analyse(ProgressRange progress, const Bytes* analysisMask)
{
    decltype(m_autoComplexCells)().swap(m_autoComplexCells);
    // Level labels made beside the segmentation serve this analysis's region map only.
    struct LevelLabelsUsed {
        bool& current;
        ~LevelLabelsUsed() { current = false; }
    } levelLabelsUsed{m_levelLabelsCurrent};
    if (m_injectedLevels) {
        // Labels injected by a test are not the analysis's to overwrite.
        m_injectedLevels.reset();
        regionLabels.free();
    }
    envelopeStep(progress.nextStep(0.1f));

    // A patch counts only its own pixels into the colour levels.
    if (analysisMask)
        m_analysisMask.reference(*analysisMask);
    else
        m_analysisMask.free();
    m_colourLevels.setMask(m_analysisMask);
    m_colourLevels.setClassMask(analysisMask ? 0xFF : 15);

    // A rerun that changes no stage's result keeps the fine labels it made last time.
    const bool stale = !m_fineLabelsCurrent;
    m_fineLabelsCurrent = false;
    const bool changed = levelsAndSegmentation(progress);
    if (changed || stale)
        buildFineLabels();
    m_fineLabelsCurrent = true;
    // The band widths of auto-fill and auto-complex come from the width map stage, the
    // heights that auto-complex floods from the gradient stage.
    widthMap.reference(m_segmentation.widthMap());
    gradient.reference(m_segmentation.gradient());
    gradientScale = m_segmentation.gradientScale();

    buildRegionMap(progress.nextStep(1.0f));
}

bool IiClassification::levelsAndSegmentation(ProgressRange& progress)
{
    bool levelsReady = true;
    for (int k = 0; k < SixChannelClassification::levelCount; ++k)
        levelsReady = levelsReady && m_colourLevels.marker(k) != -1;
    if (platform::processorCount() < 2 || levelsReady) {
        m_colourLevels.ensureLevels(progress.nextStep(0.3f));
        return m_segmentation.analyse(progress.nextStep(0.9f));
    }
    // The levels and the segmentation read the analysis image and write nothing the other
    // reads. The levels start as the segmentation's last two stages do: those leave most
    // processors idle during the inner watershed's single flood, while the stages before
    // them keep every processor busy. The segmentation's progress covers both shares.
    std::atomic<bool> stop{false}, besideFailed{false}, besideDone{false};
    std::exception_ptr besideFailure;
    BesideReporter besideReporter(stop);
    CallerReporter callerReporter(progress.parent, besideFailed);
    boost::thread levels;
    const auto startLevels = [&] {
        if (levels.joinable())
            return;
        levels = startThread([&] {
            try {
                m_colourLevels.ensureLevels(ProgressRange(&besideReporter, 0.f, 1.f));
                // The level labels need only the levels: made here, they leave the region map
                // after the flood less to do.
                buildLevelLabels(ProgressRange(&besideReporter, 0.f, 1.f));
                m_levelLabelsCurrent = true;
            } catch (...) {
                besideFailure = std::current_exception();
                besideFailed = true;
            }
            besideDone = true;
        });
    };
    // No way out of here leaves the levels running or the segmentation holding the start.
    struct Joiner {
        std::atomic<bool>& stop;
        boost::thread& thread;
        Segmentation<6, 0>& segmentation;
        ~Joiner()
        {
            segmentation.setBesideLastStages({});
            stop = true;
            if (thread.joinable())
                thread.join();
        }
    } joiner{stop, levels, m_segmentation};
    m_segmentation.setBesideLastStages(startLevels);

    bool changed = false;
    try {
        changed = m_segmentation.analyse(
            ProgressRange(&callerReporter, progress.at(progress.position), progress.at(0.9f)));
        progress.position = 0.9f;
        // A run that stopped before its last stages has not started them.
        startLevels();
        // The callback keeps its chance to cancel while the levels finish.
        while (!besideDone) {
            progress.report("", 0.9f);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    } catch (const DvExCancel&) {
        stop = true;
        if (levels.joinable())
            levels.join();
        // A cancel raised because the levels failed gives way to their failure.
        if (besideFailure)
            std::rethrow_exception(besideFailure);
        throw;
    }
    levels.join();
    if (besideFailure)
        std::rethrow_exception(besideFailure);
    return changed;
}

void IiClassification::envelopeStep(ProgressRange progress)
{
    if (m_envelopeState == 2)
        return;
    if (m_envelopeSourceState != 1) {
        m_envelopeSource.reference(m_image);
        m_envelopeSourceState = 1;
    }
    EnvelopeSettings settings;
    settings.textureSize = int(std::clamp<std::int64_t>(textureSize, 0, largestTexture));
    settings.percentile = percentile;
    settings.maximumBits = maximumBits;
    const SixChannelImage image = computeEnvelopes(m_envelopeSource, settings, m_envelopeJobs);

    m_envelopeSource.free();
    m_envelopeSourceState = 0;
    m_analysisImage.reference(image);
    m_segmentation.attachImage(image);
    m_colourLevels.setImage(image);
    m_colourLevels.clearLevels();
    m_colourLevels.resetMarkers();
    m_fineLabelsCurrent = false;
    m_envelopeState = 2;
    progress.report("", 1.0f);
}

void IiClassification::buildFineLabels()
{
    const Labels& segmented = m_segmentation.regionLabels();
    if (!(parameters.imageTol > 1.0f) || segmented.numElements() == 0) {
        fineLabels.free();
        fineLabelCount = -1;
        return;
    }
    const Rect bounds = m_segmentation.bounds();
    fineLabelCount = makeFineLabels(segmented, bounds, fineLabels);
    // Outside the patch there is no region.
    if (m_analysisMask.numElements() > 0)
        clearOutsideMask(fineLabels, bounds, m_analysisMask);
}

void IiClassification::buildLevelLabels(ProgressRange progress)
{
    const Rect r = imageRect();
    if (domainOf(levelLabels) != r || levelLabels.numElements() == 0) {
        const Rect framed = grow(r, 2);
        levelLabelsFramed.resize(blitz::Range(framed.x1, framed.x2), blitz::Range(framed.y1, framed.y2));
        corvath::utility::prefault(levelLabelsFramed);
        // The partition writes the whole interior.
        fillOutsideRect(r, -1, levelLabelsFramed);
        levelLabels.reference(viewOf(levelLabelsFramed, r));
    }
    const int level = std::max(currentLevel, 0);
    regionCount = m_colourLevels.partition(level, levelLabels, progress);
    // Colours the patch shares with its surroundings still have a level region there.
    if (m_analysisMask.numElements() > 0)
        clearOutsideMask(levelLabels, r, m_analysisMask);
}

void IiClassification::buildRegionMap(ProgressRange progress)
{
    ProgressRange levelRange = progress.nextStep(0.3f);
    if (!m_levelLabelsCurrent)
        buildLevelLabels(levelRange);
    m_levelLabelsCurrent = false;
    const Rect r = imageRect();

    ProgressRange modesRange = progress.nextStep(0.7f);
    ProgressRange walkRange = progress.nextStep(1.0f);
    if (!(parameters.imageTol > 1.0f) || fineLabels.numElements() == 0) {
        regionLabels.free();
        return;
    }
    // Rebuilt from the fine labels every time, so no level's relabelling is ever relabelled.
    // The votes read the fine labels themselves: the region labels' storage is not needed
    // until their buckets are freed, which keeps the two from adding to the peak together.
    const Rect framed = domainOf(fineLabels);
    const Rect area = intersect(framed, r);
    std::vector<int> majority;
    regionMajorities(majority, std::max(fineLabelCount, 0), viewOf(fineLabels, area), levelLabels, modesRange);

    // The storage is kept when it fits: sub-sessions view it.
    if (domainOf(regionLabels) != framed || regionLabels.numElements() == 0) {
        regionLabels.resize(blitz::Range(framed.x1, framed.x2), blitz::Range(framed.y1, framed.y2));
        corvath::utility::prefault(regionLabels);
    }
    // The frame's rows beyond the image are copied as they are.
    for (int x = framed.x1; x <= framed.x2; ++x)
        if (x < area.x1 || x > area.x2)
            relabelRow(fineLabels, regionLabels, x, framed.y1, framed.y2, area, majority);

    const int rows = area.x2 - area.x1 + 1, cols = framed.y2 - framed.y1 + 1;
    // Rows up to each reporting row (every 512th first index) are relabelled in bands side by
    // side, so that the reports come as they would from one pass, each after the rows above
    // it and before its own.
    for (int x = area.x1; x <= area.x2;) {
        if ((x & 511) == 0)
            walkRange.report("", float(x - area.x1) / float(rows));
        const int chunkEnd = std::min(area.x2 + 1, (x | 511) + 1);
        const int chunkRows = chunkEnd - x;
        runRowBands(chunkRows, cols, [&, x](int first, int end) {
            for (int i = x + first; i < x + end; ++i)
                relabelRow(fineLabels, regionLabels, i, framed.y1, framed.y2, area, majority);
        });
        x = chunkEnd;
    }
}

} // namespace classification
