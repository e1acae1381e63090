#include "document/SourceImageFiles.h"

#include <boost/gil.hpp>
#include <boost/gil/extension/io/png.hpp>

#include <tiffio.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace sourceimagefiles {

namespace gil = boost::gil;

namespace {

auto view16(const Pixels16& p)
{
    return gil::interleaved_view(std::size_t(p.width), std::size_t(p.height),
                                 reinterpret_cast<gil::bgra16_pixel_t*>(p.data),
                                 std::ptrdiff_t(p.bytesPerLine));
}

auto view8(const Pixels8& p)
{
    return gil::interleaved_view(std::size_t(p.width), std::size_t(p.height),
                                 reinterpret_cast<gil::bgra8_pixel_t*>(p.data),
                                 std::ptrdiff_t(p.bytesPerLine));
}

bool startsWith(const std::string& path, const unsigned char* signature, std::size_t length)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> head(length);
    if (!in.read(head.data(), std::streamsize(length)))
        return false;
    return std::memcmp(head.data(), signature, length) == 0;
}

// Photographs (16-bit ones above all) defeat deflate's string matching: it costs several times
// the time for a few per cent of size. Runs of equal bytes (flat or transparent areas) are
// still found, after the left-neighbour difference that suits photographs.
constexpr int kPngLevel = 1;

gil::image_write_info<gil::png_tag> pngWriteInfo()
{
    gil::image_write_info<gil::png_tag> info;
    info._compression_level = kPngLevel;
    info._compression_strategy = Z_RLE;
    info._compression_window_bits = 15;
    info._set_filter = true;
    info._filter = PNG_FILTER_SUB;
    return info;
}

// B, G, R, A samples to R, G, B, A, optionally byte-swapped on the way.
struct ToRgba16 {
    bool swapBytes = false;
    template <typename Source, typename Target>
    void operator()(const Source& s, Target& d) const
    {
        d = gil::rgba16_pixel_t(get_color(s, gil::red_t()), get_color(s, gil::green_t()),
                                get_color(s, gil::blue_t()), get_color(s, gil::alpha_t()));
        if (swapBytes)
            for (int c = 0; c < 4; ++c)
                d[c] = std::uint16_t(d[c] >> 8 | d[c] << 8);
    }
};

template <typename Device>
void writePng16(Device& to, const Pixels16& from, bool swapBytes)
{
    gil::write_view(to, gil::color_converted_view<gil::rgba16_pixel_t>(view16(from), ToRgba16{swapBytes}),
                    pngWriteInfo());
}

// Some Boost.GIL releases (1.74 among them) hand 16-bit rows to libpng in the machine's byte
// order although PNG files are big-endian. One pixel written and read back tells whether this
// copy does; the samples are then swapped before they reach the writer.
bool pngWriterNeedsSwappedSamples()
{
    static const bool needed = [] {
        std::uint16_t probe[4] = {0x0304, 0x0506, 0x0102, 0xFFFF};  // B, G, R, A
        std::stringstream stream;
        writePng16(stream, Pixels16{1, 1, probe, 8}, false);
        std::uint16_t back[4] = {};
        stream.seekg(0);
        readPng(stream, Pixels16{1, 1, back, 8});
        return back[2] == 0x0201;
    }();
    return needed;
}

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

// libtiff's own stream procedures answer a refused seek by padding the stream with zeros up to
// the wanted place, counted from where the stream then says it ends: on a stream whose device
// has failed (a full disk) that count can run past 2^63, and the write never ends. These
// procedures only write and seek, and a refused seek fails the write.
struct TiffStream {
    std::ostream* out;
    std::streamoff start;
};

tmsize_t tiffRead(thandle_t, void*, tmsize_t)
{
    return 0;
}

tmsize_t tiffWrite(thandle_t handle, void* data, tmsize_t size)
{
    std::ostream& out = *static_cast<TiffStream*>(handle)->out;
    return out.write(static_cast<const char*>(data), std::streamsize(size)) ? size : tmsize_t(-1);
}

toff_t tiffSeek(thandle_t handle, toff_t offset, int whence)
{
    const TiffStream& stream = *static_cast<TiffStream*>(handle);
    std::ostream& out = *stream.out;
    if (whence == SEEK_SET)
        out.seekp(stream.start + std::streamoff(offset), std::ios_base::beg);
    else
        out.seekp(std::streamoff(offset), whence == SEEK_CUR ? std::ios_base::cur : std::ios_base::end);
    const std::streamoff at = out ? std::streamoff(out.tellp()) : -1;
    return at < stream.start ? toff_t(-1) : toff_t(at - stream.start);
}

int tiffClose(thandle_t)
{
    return 0;
}

toff_t tiffSize(thandle_t handle)
{
    std::ostream& out = *static_cast<TiffStream*>(handle)->out;
    const std::streampos at = out.tellp();
    const toff_t end = tiffSeek(handle, 0, SEEK_END);
    out.seekp(at);
    return end;
}

int tiffMap(thandle_t, void**, toff_t*)
{
    return 0;
}

void tiffUnmap(thandle_t, void*, toff_t) {}

// Rows go out as R, G, B, A through one row buffer. The stream must be able to seek: the
// directory's place is written into the header at the end.
template <typename Sample>
void writeTiffRows(std::ostream& out, const Pixels<Sample>& from)
{
    const std::streampos start = out.tellp();
    TiffStream stream{&out, start == std::streampos(-1) ? 0 : std::streamoff(start)};
    std::unique_ptr<TIFF, TiffCloser> tiff(TIFFClientOpen("image", "wm", &stream, tiffRead, tiffWrite, tiffSeek,
                                                          tiffClose, tiffSize, tiffMap, tiffUnmap));
    if (!tiff)
        throw std::runtime_error("cannot start a TIFF file");
    TIFF* t = tiff.get();
    const std::uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, std::uint32_t(from.width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, std::uint32_t(from.height));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, int(8 * sizeof(Sample)));
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
    // Readers that insist on a resolution (Boost.GIL's among them) get the usual default.
    TIFFSetField(t, TIFFTAG_XRESOLUTION, 72.0f);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, 72.0f);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
    std::vector<Sample> row(std::size_t(from.width) * 4);
    for (int y = 0; y < from.height; ++y) {
        const Sample* s = reinterpret_cast<const Sample*>(
            reinterpret_cast<const std::uint8_t*>(from.data) + std::int64_t(y) * from.bytesPerLine);
        Sample* d = row.data();
        for (int x = 0; x < from.width; ++x, s += 4, d += 4) {
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
            d[3] = s[3];
        }
        if (TIFFWriteScanline(t, row.data(), std::uint32_t(y), 0) < 0)
            throw std::runtime_error("cannot write the TIFF rows");
    }
    if (!TIFFFlush(t))
        throw std::runtime_error("cannot write the TIFF directory");
}

// The PNG writer does not look at what its file device answers: through a stream whose
// state is checked at the end, a full disk or a file-size limit is an error, not a short file.
template <typename Write>
void writeChecked(const std::string& path, Write write)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot create " + path);
    write(out);
    out.close();
    if (out.fail())
        throw std::runtime_error("cannot write " + path);
}

} // namespace

bool looksLikePng(const std::string& path)
{
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return startsWith(path, signature, sizeof signature);
}

void writePng(const std::string& path, const Pixels8& from)
{
    writeChecked(path, [&from](std::ostream& out) { writePng(out, from); });
}

void writePng(const std::string& path, const Pixels16& from)
{
    writeChecked(path, [&from](std::ostream& out) { writePng(out, from); });
}

void writePng(std::ostream& out, const Pixels8& from)
{
    gil::write_view(out, gil::color_converted_view<gil::rgba8_pixel_t>(view8(from)), pngWriteInfo());
}

void writePng(std::ostream& out, const Pixels16& from)
{
    const bool swap = pngWriterNeedsSwappedSamples();
    writePng16(out, from, swap);
}

void writeTiff(std::ostream& out, const Pixels8& from)
{
    writeTiffRows(out, from);
}

void writeTiff(std::ostream& out, const Pixels16& from)
{
    writeTiffRows(out, from);
}

int pngCompressionLevel()
{
    return kPngLevel;
}

} // namespace sourceimagefiles
