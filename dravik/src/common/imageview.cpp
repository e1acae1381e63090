#include "common/imageview.h"

#include <cstring>

namespace classification {

RgbaView8 viewRgba8(const DvImageDesc& image)
{
    return RgbaView8(static_cast<Rgba8*>(image.data), blitz::shape(image.height, image.width),
                     blitz::shape(long(image.stride / 4), 1L), blitz::neverDeleteData);
}

bool viewableRgba8(const DvImageDesc& image) { return image.stride % sizeof(Rgba8) == 0; }

RgbaView8 readRgba8(const DvImageDesc& image)
{
    if (viewableRgba8(image))
        return viewRgba8(image);
    RgbaView8 copy(image.height, image.width);
    const auto* from = static_cast<const unsigned char*>(image.data);
    for (int r = 0; r < image.height; ++r)
        std::memcpy(static_cast<void*>(&copy(r, 0)), from + std::size_t(r) * image.stride, std::size_t(image.width) * sizeof(Rgba8));
    return copy;
}

} // namespace classification
