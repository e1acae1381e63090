#pragma once
// The colour envelopes of the analysis: a soft opening and a soft closing of every colour
// channel over a disk, computed by one worker per channel.

#include "common/imageview.h"
#include "common/jobthreads.h"
#include "analysis/percentile.h"

#include <blitz/array.h>
#include <blitz/tinyvec2.h>

#include <array>

namespace classification {

using ByteChannel = blitz::Array<unsigned char, 2>;
using SixChannelPixel = blitz::TinyVector<unsigned char, 6>;
using SixChannelImage = blitz::Array<SixChannelPixel, 2>;

// The settings an envelope is computed with.
struct EnvelopeSettings {
    int textureSize = 1;       // the disk's diameter is textureSize + 1; 0 copies the channel
    float percentile = 0.16f;  // t: the soft minimum is the percentile t, the maximum 1 - t
    int maximumBits = 8;       // values are reduced to this many bits first
};

// Writes the soft opening (the percentile 1 - t of the local percentile t) into opening and
// the soft closing (the percentile t of the local percentile 1 - t) into closing, over the
// source's rectangle; the source's edge is repeated outward for windows that reach past it.
// opening and closing must cover the source's rectangle; only that rectangle is written.
void envelopeBody(const ByteChannel& source, ByteChannel opening, ByteChannel closing,
                  const EnvelopeSettings& settings);

// The same over the rows of the source's rectangle that lie in rows (whose columns are
// ignored), windows reading the source beyond those rows as they would for the whole image:
// bands of rows computed one by one give envelopeBody's result.
void envelopeRows(const ByteChannel& source, ByteChannel opening, ByteChannel closing, const Rect& rows,
                  const EnvelopeSettings& settings);

// The envelope worker. Job k computes band k / 3 of channel job j = k % 3, which reads colour
// channel 2 - j of the source and writes channels j (opening) and j + 3 (closing) of the
// destination; jobs handed out from the last down take the channel jobs in the order 2, 1, 0.
// Every channel view is made on the calling thread when the worker is built, so the threads
// only read them.
struct Rancour {
    Rancour(SixChannelImage destination, const RgbaView8& source, const EnvelopeSettings& settings);
    int jobCount() const;
    void operator()(int job) const;

    // Two percentiles per pixel at once, written as a byte pair (for example a low and a
    // high percentile, whose difference is the local range); otherwise as
    // processOneChannelImageBody.
    static Rect processTwoChannelImage(blitz::Array<BytePair, 2> destination,
                                       const blitz::Array<unsigned char, 2>& source,
                                       const blitz::Array<int, 2>& window, int low, int high,
                                       float percentile0, float percentile1,
                                       corvath::utility::IiUI* ui, float progressLow,
                                       float progressHigh);

    static constexpr int channelJobs = 3;
    std::array<ByteChannel, channelJobs> sources;
    std::array<ByteChannel, channelJobs> openings;
    std::array<ByteChannel, channelJobs> closings;
    EnvelopeSettings settings;
    Rect bounds;
    int bandHeight = 256;
    int bandCount = 1;
    int halfBands = 0;  // the first bands, of halfHeight rows each
    int halfHeight = 128;
};

// The six-channel analysis image of source (over its rectangle), the jobs taken by one worker
// thread per processor. Joins every thread, then throws as runJobsOnWorkerThreads.
SixChannelImage computeEnvelopes(const RgbaView8& source, const EnvelopeSettings& settings,
                                 JobRecord& record);

} // namespace classification
