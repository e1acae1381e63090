#pragma once
// One patch of mask generation as the engine keeps it: where it lies and how it is blended.

#include "common/rect.h"

#include <blitz/array.h>

#include <array>

namespace classification {

struct MaskPatch {
    // Nonzero bytes select the rectangle's pixels that belong to the patch, indexed like the
    // rectangle; empty when the whole rectangle belongs to it.
    blitz::Array<unsigned char, 2> bitmap;
    // Session coordinates, inclusive.
    corvath::utility::Rect rectangle;
    // 1 matting patch, 3 mask-core patch, 0 otherwise.
    unsigned char method = 0;
    // This call generates only this patch.
    bool exclusive = false;
    // Matting: foreground and background palette detail, 0..1.
    float valueA = 0.f;
    float valueB = 0.f;
    // Mask core: the relaxation value.
    float valueE = 0.f;
    // 1 for a uniform background, else 0.
    float valueD = 0.f;
    // The patch's blend ratio, 0..1.
    float level = 0.f;
    // Foreground and background override colours: carried, read by no engine step.
    std::array<unsigned char, 3> colour1{};
    std::array<unsigned char, 3> colour2{};
    // Set by the mask generation: a matting patch whose colours could not be sampled, whose
    // pixels the other jobs made instead.
    bool unsolved = false;
};

} // namespace classification
