#include "analysis/rancour.h"

#include "common/border.h"
#include "common/helpers.h"

#include "platform/clock.h"

#include <algorithm>
#include <numeric>
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

// to over its whole domain: from >> shift at the nearest position of from's domain, so that
// from's edge repeats outward.
void copyShiftedClamped(const ByteChannel& from, ByteChannel& to, int shift)
{
    const Rect r = domainOf(from), d = domainOf(to);
    const std::ptrdiff_t fCol = from.stride(1), tCol = to.stride(1);
    const int left = std::min(r.y1, d.y2 + 1), right = std::max(r.y2, d.y1 - 1);
    for (int x = d.x1; x <= d.x2; ++x) {
        const unsigned char* f = &from(std::clamp(x, r.x1, r.x2), r.y1);
        unsigned char* t = &to(x, d.y1);
        const unsigned char first = static_cast<unsigned char>(f[0] >> shift);
        const unsigned char last = static_cast<unsigned char>(f[std::ptrdiff_t(r.y2 - r.y1) * fCol] >> shift);
        int y = d.y1;
        for (; y < left; ++y, t += tCol)
            *t = first;
        const unsigned char* p = f + std::ptrdiff_t(y - r.y1) * fCol;
        for (; y <= std::min(r.y2, d.y2); ++y, t += tCol, p += fCol)
            *t = static_cast<unsigned char>(*p >> shift);
        for (y = std::max(y, right + 1); y <= d.y2; ++y, t += tCol)
            *t = last;
    }
}

} // namespace

void envelopeRows(const ByteChannel& source, ByteChannel opening, ByteChannel closing, const Rect& rows,
                  const EnvelopeSettings& settings)
{
    const Rect r = domainOf(source);
    const Rect out{std::max(rows.x1, r.x1), r.y1, std::min(rows.x2, r.x2), r.y2};
    if (out.isEmpty())
        return;
    if (!arrayCovers(opening, out) || !arrayCovers(closing, out))
        throw std::invalid_argument("envelope channels do not cover the source");
    const int n = settings.textureSize;
    if (n <= 0) {
        copyShifted(source, opening, out, 0);
        copyShifted(source, closing, out, 0);
        return;
    }
    const int bits = std::clamp(settings.maximumBits, 0, 8);
    const int top = (1 << bits) - 1;
    const float t = settings.percentile;

    // The reduced channel around the rows, the source's edge repeated where windows reach
    // past it.
    const Rect work = grow(out, n);
    ByteChannel reduced(blitz::Range(work.x1, work.x2), blitz::Range(work.y1, work.y2));
    copyShiftedClamped(source, reduced, 8 - bits);

    // The first pass reads the disk forwards (offsets 0..n), the second reflected (offsets
    // -n..0): each result pixel sees a window centred on it, and the low / high pairs it
    // needs are exactly the pairs' rectangle.
    const blitz::Array<int, 2> disk = diskWindow(n + 1);
    blitz::Array<BytePair, 2> pairs(blitz::Range(out.x1 - n, out.x2), blitz::Range(out.y1 - n, out.y2));
    Rancour::processTwoChannelImage(pairs, reduced, disk, 0, top, t, 1.f - t, nullptr, 0.f, 1.f);
    reduced.free();
    // The low and high values in rows of their own: the filters step through contiguous
    // rows faster.
    const blitz::Range pairRows(out.x1 - n, out.x2), pairColumns(out.y1 - n, out.y2);
    ByteChannel low(pairRows, pairColumns), high(pairRows, pairColumns);
    {
        const BytePair* from = pairs.data();
        unsigned char* l = low.data();
        unsigned char* h = high.data();
        for (std::size_t i = 0, count = std::size_t(pairs.numElements()); i < count; ++i) {
            l[i] = from[i][0];
            h[i] = from[i][1];
        }
    }
    pairs.free();
    processOneChannelImage(opening, low, disk, 0, top, 1.f - t, nullptr, 0.f, 1.f);
    processOneChannelImage(closing, high, disk, 0, top, t, nullptr, 0.f, 1.f);
}

void envelopeBody(const ByteChannel& source, ByteChannel opening, ByteChannel closing,
                  const EnvelopeSettings& settings)
{
    envelopeRows(source, opening, closing, domainOf(source), settings);
}

Rancour::Rancour(SixChannelImage destination, const RgbaView8& source, const EnvelopeSettings& s)
    : settings(s), bounds(domainOf(source))
{
    for (int j = 0; j < channelJobs; ++j) {
        sources[std::size_t(j)].reference(channelOf(source, 2 - j));
        openings[std::size_t(j)].reference(channelOf(destination, j));
        closings[std::size_t(j)].reference(channelOf(destination, j + 3));
    }
    // Bands keep every processor busy; they are tall enough that the rows their windows
    // read twice stay a small share. Their number is rounded up so that the jobs of all
    // channels fill whole rounds of the processors: a last round with idle processors would
    // cost as long as a full one. Bands differ in cost with their content, so the bands
    // handed out last (the first ones) are cut in halves: the processors then run out of
    // work closer together.
    const int minimumHeight = std::max(64, 8 * std::max(settings.textureSize, 0));
    const long rows = bounds.isEmpty() ? 0 : long(bounds.x2) - bounds.x1 + 1;
    const long threads = std::max(1L, long(platform::processorCount()));
    const long round = threads / std::gcd(threads, long(channelJobs));
    long count = std::max(1L, (rows + 255) / 256);
    count = (count + round - 1) / round * round;
    long height = std::max(long(minimumHeight), (rows + count - 1) / count);
    height = std::min(height, std::max(1L, rows));
    bandHeight = int(height);
    const long whole = std::max(1L, (rows + height - 1) / height);
    // Halves no lower than half the least height, one round of jobs' worth of bands.
    const long half = (height + 1) / 2;
    const long split = threads > 1 && whole > 1 && half >= std::max(32L, long(minimumHeight) / 2)
                           ? std::min(whole - 1, (threads + channelJobs - 1) / channelJobs)
                           : 0;
    halfHeight = int(half);
    halfBands = int(2 * split);
    const long rest = std::max(0L, rows - 2 * split * half);
    bandCount = std::max(1, halfBands + int((rest + height - 1) / height));
}

int Rancour::jobCount() const { return channelJobs * bandCount; }

void Rancour::operator()(int job) const
{
    if (job < 0 || job >= jobCount())
        return;
    const std::size_t j = std::size_t(job % channelJobs);
    const int band = job / channelJobs;
    const int first = band < halfBands ? bounds.x1 + band * halfHeight
                                       : bounds.x1 + halfBands * halfHeight + (band - halfBands) * bandHeight;
    const int height = band < halfBands ? halfHeight : bandHeight;
    const Rect rows{first, bounds.y1, std::min(bounds.x2, first + height - 1), bounds.y2};
    envelopeRows(sources[j], openings[j], closings[j], rows, settings);
}

SixChannelImage computeEnvelopes(const RgbaView8& source, const EnvelopeSettings& settings, JobRecord& record)
{
    const Rect r = domainOf(source);
    SixChannelImage image;
    if (!r.isEmpty())
        image.resize(blitz::Range(r.x1, r.x2), blitz::Range(r.y1, r.y2));
    const Rancour work(image, source, settings);
    runJobsOnWorkerThreads(record, work.jobCount() - 1, work);
    return image;
}

} // namespace classification
