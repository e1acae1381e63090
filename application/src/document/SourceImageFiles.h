#pragma once
// PNG and TIFF reading and writing for source images, over Boost.GIL (libpng) and libtiff
// (TIFF reading in SourceImageTiff.cpp). Pixels are interleaved B, G, R, A in memory (the order
// of QImage::Format_ARGB32); files hold R, G, B, A. Every function throws std::exception on a
// failure, so callers decide what a failure means.

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>

namespace sourceimagefiles {

struct Dimensions {
    std::int64_t width = 0;
    std::int64_t height = 0;
};

// Interleaved four-channel pixels of the caller, with its own row length.
template <typename Sample>
struct Pixels {
    int width = 0;
    int height = 0;
    Sample* data = nullptr;
    std::int64_t bytesPerLine = 0;
};
using Pixels8 = Pixels<std::uint8_t>;
using Pixels16 = Pixels<std::uint16_t>;

// Signature checks on the first bytes of a file.
bool looksLikePng(const std::string& path);
bool looksLikeTiff(const std::string& path);

// The size in the file's header, read before anything is allocated. A TIFF whose
// uncompressed strips or tiles hold fewer bytes than their pixels take is refused here already.
Dimensions pngDimensions(const std::string& path);
Dimensions pngDimensions(std::istream& in);
Dimensions tiffDimensions(const std::string& path);
// The same for a TIFF file's bytes held in memory (a picture fetched or carried by a drop).
Dimensions tiffDimensions(const char* data, std::size_t size);

// Reads into pixels of exactly the file's size, converting any channel layout and depth to
// four 16-bit (8-bit samples scaled by 257) or 8-bit channels.
void readPng(const std::string& path, const Pixels16& to);
void readPng(std::istream& in, const Pixels16& to);
void readPng(std::istream& in, const Pixels8& to);
// The first page; 8-bit samples are scaled by 257, floats from 0..1, and lower depths, palettes
// and YCbCr come through libtiff at 8 bits. Alpha comes out straight; a file without it is
// opaque. A layout it cannot show as meant (signed samples, say) throws.
void readTiff(const std::string& path, const Pixels16& to);
void readTiff(const char* data, std::size_t size, const Pixels16& to);

void writePng(const std::string& path, const Pixels8& from);
void writePng(const std::string& path, const Pixels16& from);
void writePng(std::ostream& out, const Pixels8& from);
void writePng(std::ostream& out, const Pixels16& from);
// Alpha is written as unassociated (straight), as it is held. The stream must be able to seek.
void writeTiff(std::ostream& out, const Pixels8& from);
void writeTiff(std::ostream& out, const Pixels16& from);

// The zlib level of the PNG writer (run-length strategy, SUB filter).
int pngCompressionLevel();

} // namespace sourceimagefiles
