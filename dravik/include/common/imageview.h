#pragma once
// Engine arrays over image descriptors: views of the caller's memory, never copies.

#include "common/helpers.h"
#include "dravik.h"

#include <blitz/array.h>

namespace classification {

using Rgba8 = corvath::utility::Colour<unsigned char>;
using RgbaView8 = blitz::Array<Rgba8, 2>;

// Rows = height, columns = width, row step = stride / 4 pixels. The descriptor must be of
// pixel type 1 with usable data; the caller's memory is neither copied nor owned.
RgbaView8 viewRgba8(const DvImageDesc& image);

// The same pixels when the rows start on whole pixels (stride a multiple of 4); otherwise a
// packed copy that the array owns, since an element stride cannot step between such rows.
RgbaView8 readRgba8(const DvImageDesc& image);
bool viewableRgba8(const DvImageDesc& image);

} // namespace classification
