#pragma once
// The colour-sampling matting solver that mask generation runs for a matting patch: for
// every full-resolution pixel marked for it, it estimates foreground and background colours
// from nearby Keep and Drop samples, smooths them, and writes the colour with the background
// removed and an alpha into the output.

#include "mask/maskpasses.h"
#include "mask/maskpatch.h"
#include "session/progress.h"
#include "matting/pixelhelpers.h"

#include <blitz/array.h>

namespace corvath::matting {

using utility::Rect;

// Solves the pixels of `rectangle` (session coordinates) whose status has bit 128 and not
// bit 64. source and output are views over the full-resolution area, indexed in
// full-resolution image coordinates; status is at session resolution; factor is full size
// over session size per axis. The patch's values A and B are the foreground and background
// palette detail (0..1).
//
// Returns 0 when done (also when nothing is marked; then nothing is written) and 1 when a
// palette is empty because the Keep or the Drop side has no sample (output and status are
// then untouched). On 0 after work, the solved pixels of the output hold colour and alpha
// and every status byte of the rectangle with bit 128 becomes (s & 63) | 64. The cancel
// exception of the progress reporter and std::bad_alloc pass through.
template <typename T>
int solveMatte(const blitz::Array<Colour<T>, 2>& source, classification::StatusByteArray& status,
               blitz::Array<Colour<T>, 2> output, const Rect& rectangle, FloatPair factor,
               const classification::MaskPatch& patch, ProgressRange progress);

// The same for 16-bit samples on 0..32768.
template <typename T>
int solveMatteVariant(const blitz::Array<Colour<T>, 2>& source, classification::StatusByteArray& status,
                      blitz::Array<Colour<T>, 2> output, const Rect& rectangle, FloatPair factor,
                      const classification::MaskPatch& patch, ProgressRange progress);

namespace detail {

struct SolveOptions {
    // Estimates colours for every marked pixel, also where no output depends on them. The
    // output is the same either way; tests compare the two.
    bool estimateEveryOpenPixel = false;
};

// The solver over the full scale V (255, 65535 or 32768).
template <typename T, int V>
int solveMatteOnScale(const blitz::Array<Colour<T>, 2>& source,
                      classification::StatusByteArray& status, blitz::Array<Colour<T>, 2> output,
                      const Rect& rectangle, FloatPair factor, const classification::MaskPatch& patch,
                      ProgressRange progress, const SolveOptions& options);

} // namespace detail

} // namespace corvath::matting
