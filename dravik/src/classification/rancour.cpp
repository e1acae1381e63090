#include "classification/rancour.h"

#include "classification/border.h"
#include "classification/helpers.h"

#include <algorithm>
#include <cstddef>
#include <stdexcept>

namespace classification {

namespace {

using corvath::utility::arrayCovers;
using corvath::utility::domainOf;
using corvath::utility::grow;

ByteChannel channelOf(const RgbaView8& image, int c) { return image.extractComponent((unsigned char)0, c, 4); }

ByteChannel channelOf(const SixChannelImage& image, int c)
{
    return image.extractComponent((unsigned char)0, c, 6);
}

// to(x, y) = from(x, y) >> shift over r.
void copyShifted(const ByteChannel& from, ByteChannel& to, const Rect& r, int shift)
{
    const std::ptrdiff_t fRow = from.stride(0), fCol = from.stride(1);
    const std::ptrdiff_t tRow = to.stride(0), tCol = to.stride(1);
    const unsigned char* f = &from(r.x1, r.y1);
    unsigned char* t = &to(r.x1, r.y1);
    const int cols = r.y2 - r.y1 + 1;
    for (int x = r.x1; x <= r.x2; ++x, f += fRow, t += tRow) {
        const unsigned char* p = f;
        unsigned char* q = t;
        for (int c = 0; c < cols; ++c, p += fCol, q += tCol)
            *q = static_cast<unsigned char>(*p >> shift);
    }
}

} // namespace

void envelopeBody(const ByteChannel& source, ByteChannel opening, ByteChannel closing,
                  const EnvelopeSettings& settings)
{
    const Rect r = domainOf(source);
    if (r.isEmpty())
        return;
    if (!arrayCovers(opening, r) || !arrayCovers(closing, r))
        throw std::invalid_argument("envelope channels do not cover the source");
    const int n = settings.textureSize;
    if (n <= 0) {
        copyShifted(source, opening, r, 0);
        copyShifted(source, closing, r, 0);
        return;
    }
    const int bits = std::clamp(settings.maximumBits, 0, 8);
    const int top = (1 << bits) - 1;
    const float t = settings.percentile;

    // The reduced channel with its edge repeated far enough for every window.
    const Rect work = grow(r, n);
    ByteChannel reduced(blitz::Range(work.x1, work.x2), blitz::Range(work.y1, work.y2));
    copyShifted(source, reduced, r, 8 - bits);
    replicateBorder(r, reduced);

    // The first pass reads the disk forwards (offsets 0..n), the second reflected (offsets
    // -n..0): each result pixel sees a window centred on it, and the low / high pairs it
    // needs are exactly the pairs' rectangle.
    const blitz::Array<int, 2> disk = diskWindow(n + 1);
    blitz::Array<BytePair, 2> pairs(blitz::Range(r.x1 - n, r.x2), blitz::Range(r.y1 - n, r.y2));
    Rancour::processTwoChannelImage(pairs, reduced, disk, 0, top, t, 1.f - t, nullptr, 0.f, 1.f);
    reduced.free();
    const ByteChannel low = pairs.extractComponent((unsigned char)0, 0, 2);
    const ByteChannel high = pairs.extractComponent((unsigned char)0, 1, 2);
    processOneChannelImage(opening, low, disk, 0, top, 1.f - t, nullptr, 0.f, 1.f);
    processOneChannelImage(closing, high, disk, 0, top, t, nullptr, 0.f, 1.f);
}

Rancour::Rancour(SixChannelImage destination, const RgbaView8& source, const EnvelopeSettings& s)
    : settings(s)
{
    for (int j = 0; j < jobCount; ++j) {
        sources[std::size_t(j)].reference(channelOf(source, 2 - j));
        openings[std::size_t(j)].reference(channelOf(destination, j));
        closings[std::size_t(j)].reference(channelOf(destination, j + 3));
    }
}

void Rancour::operator()(int job) const
{
    if (job < 0 || job >= jobCount)
        return;
    const std::size_t j = std::size_t(job);
    envelopeBody(sources[j], openings[j], closings[j], settings);
}

SixChannelImage computeEnvelopes(const RgbaView8& source, const EnvelopeSettings& settings, JobRecord& record)
{
    const Rect r = domainOf(source);
    SixChannelImage image;
    if (!r.isEmpty())
        image.resize(blitz::Range(r.x1, r.x2), blitz::Range(r.y1, r.y2));
    const Rancour work(image, source, settings);
    runJobsOnWorkerThreads(record, Rancour::jobCount - 1, work);
    return image;
}

} // namespace classification
