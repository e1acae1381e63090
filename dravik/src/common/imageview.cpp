#include "common/imageview.h"

namespace classification {

RgbaView8 viewRgba8(const DvImageDesc& image)
{
    return RgbaView8(static_cast<Rgba8*>(image.data), blitz::shape(image.height, image.width),
                     blitz::shape(long(image.stride / 4), 1L), blitz::neverDeleteData);
}

} // namespace classification
