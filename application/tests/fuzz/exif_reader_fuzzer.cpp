// Feeds arbitrary bytes to the EXIF section reader: it must neither crash nor read outside
// its input, and must always report an orientation from 0 to 8.

#include "document/JpegExifReader.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    JpegExifReader reader(nullptr);
    reader.readBytes(data, size);
    if (reader.orientation() < 0 || reader.orientation() > 8)
        std::abort();
    return 0;
}
