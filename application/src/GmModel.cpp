#include "GmModel.h"

namespace {

GmModel* g_instance = nullptr;

constexpr qint64 kMaxWorkingPixels = 4000000;
constexpr int kMaxDivisor = 8;

} // namespace

GmModel::GmModel() = default;

GmModel::~GmModel()
{
    m_brushings.clear();
    if (g_instance == this)
        g_instance = nullptr;
}

GmModel* GmModel::instance()
{
    if (!g_instance)
        g_instance = new GmModel;
    return g_instance;
}

GmModel* GmModel::existingInstance()
{
    return g_instance;
}

void GmModel::destroy()
{
    delete g_instance;
    g_instance = nullptr;
}

void GmModel::chooseResolutionForPixelCount(qint64 pixelCount)
{
    int divisor = 1;
    while (divisor < kMaxDivisor && pixelCount / divisor > kMaxWorkingPixels)
        divisor *= 2;
    const int old = m_resolution;
    m_resolution = divisor;
    emit resolutionChanged(old, divisor);
}

void GmModel::addBrushing(GmBrushing* brushing)
{
    if (brushing && !m_brushings.contains(brushing))
        m_brushings.append(brushing);
}

void GmModel::removeBrushing(GmBrushing* brushing)
{
    m_brushings.removeOne(brushing);
}
