#include "session/classification.h"

#include <algorithm>

namespace classification {

namespace {

using corvath::utility::domainOf;
using corvath::utility::grow;
using corvath::utility::intersect;

// A view of a over r that keeps the indices of a (sub-arrays otherwise start at a's base).
template <typename T>
blitz::Array<T, 2> regionOf(const blitz::Array<T, 2>& a, const Rect& r)
{
    blitz::Array<T, 2> v = a(blitz::Range(r.x1, r.x2), blitz::Range(r.y1, r.y2));
    v.reindexSelf(blitz::TinyVector<int, 2>(r.x1, r.y1));
    return v;
}

template <typename T>
blitz::Array<T, 2> labelsUnder(const blitz::Array<T, 2>& parent, const Rect& r)
{
    if (parent.numElements() == 0)
        return blitz::Array<T, 2>();
    const Rect inside = intersect(r, domainOf(parent));
    if (inside.isEmpty())
        return blitz::Array<T, 2>();
    return regionOf(parent, inside);
}

} // namespace

IiClassification::IiClassification(const RgbaView8& image)
    : parameters(m_segmentation.head()), m_image(image)
{
    parameters.interpolation = 0;
    parameters.resolution = 8;
    parameters.overlap = 1;
    parameters.featureTol = 1.1f;
    parameters.imageTol = 2.0f;
    parameters.inFocusEdgeWidth = 2;
    parameters.focus = 0.0f;
    const Rect r = domainOf(image);
    const Rect framed = grow(r, 1);
    m_framedWorking.resize(blitz::Range(framed.x1, framed.x2), blitz::Range(framed.y1, framed.y2));
    m_framedWorking = 1;
    m_working.reference(regionOf(m_framedWorking, r));
    m_working = 0;
}

IiClassification::~IiClassification() { m_undo.clear(); }

void IiClassification::adoptAnalysis(IiClassification& parent)
{
    const Rect r = imageRect();
    m_analysisImage.reference(labelsUnder(parent.m_analysisImage, r));
    fineLabels.reference(labelsUnder(parent.fineLabels, r));
    fineLabelCount = parent.fineLabelCount;
    regionLabels.reference(labelsUnder(parent.regionLabels, r));
    levelLabels.reference(labelsUnder(parent.levelLabels, r));
    widthMap.reference(labelsUnder(parent.widthMap, r));
    gradient.reference(labelsUnder(parent.gradient, grow(r, 2)));
    gradientScale = parent.gradientScale;
    currentLevel = parent.currentLevel;
    regionCount = parent.regionCount;
    parentLevels = &parent;
    ownLevels = false;
}

// ---------------------------------------------------------------------------------------------
// Level state of the region selects

struct IiClassification::InjectedLevels {
    std::vector<Labels> byLevel;
    int rebuilds = 0;
};

void IiClassification::injectLabelsForTesting(const Labels& fineLabels,
                                              std::vector<Labels> levelLabelsByLevel)
{
    auto injected = std::make_shared<InjectedLevels>();
    injected->byLevel = std::move(levelLabelsByLevel);
    regionLabels.reference(fineLabels);
    m_injectedLevels = std::move(injected);
}

int IiClassification::injectedRebuildsForTesting() const
{
    return m_injectedLevels ? m_injectedLevels->rebuilds : 0;
}

const IiClassification& IiClassification::levelOwner() const
{
    return !ownLevels && parentLevels ? *parentLevels : *this;
}

void IiClassification::chooseLevel(int level, ProgressRange* progress)
{
    IiClassification& owner = !ownLevels && parentLevels ? *parentLevels : *this;
    if (owner.currentLevel != level) {
        owner.currentLevel = level;
        currentLevel = level;
        try {
            owner.rebuildLevelLabels(progress ? progress->nextStep(0.5f) : ProgressRange());
        } catch (...) {
            // Half-built labels must not pass for the level's: the next select rebuilds them.
            owner.currentLevel = levelUnset;
            currentLevel = levelUnset;
            throw;
        }
    }
    if (&owner != this) {
        // The parent may have rebuilt its labels since this object last looked.
        levelLabels.reference(labelsUnder(owner.levelLabels, imageRect()));
        currentLevel = owner.currentLevel;
        regionCount = owner.regionCount;
    }
}

void IiClassification::rebuildLevelLabels(ProgressRange progress)
{
    if (!m_injectedLevels) {
        buildRegionMap(progress);
        return;
    }
    const Rect r = imageRect();
    const Labels& source = m_injectedLevels->byLevel.at(std::size_t(std::max(currentLevel, 0)));
    if (domainOf(levelLabels) != r || levelLabels.numElements() == 0) {
        const Rect framed = grow(r, 2);
        levelLabelsFramed.resize(blitz::Range(framed.x1, framed.x2), blitz::Range(framed.y1, framed.y2));
        levelLabelsFramed = -1;
        levelLabels.reference(regionOf(levelLabelsFramed, r));
    }
    if (!corvath::utility::arrayCovers(source, r))
        throw std::invalid_argument("injected level labels do not cover the image");
    levelLabels = regionOf(source, r);
    regionCount = blitz::max(levelLabels) + 1;
    ++m_injectedLevels->rebuilds;
    progress.report("", 1.0f);
}

const Labels& IiClassification::floodLabels() const
{
    const IiClassification& owner = levelOwner();
    const Rect r = imageRect();
    // Fine labels exist only where the analysis made them (scale factor above 1).
    if (owner.currentLevel == -1 && owner.parameters.imageTol > 1.0f && regionLabels.numElements() > 0 &&
        corvath::utility::arrayCovers(regionLabels, r))
        return regionLabels;
    return levelLabels;
}

} // namespace classification
