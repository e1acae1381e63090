// The PNG reader of source images, over libpng: every colour type and depth the format has,
// interlaced or not, into four interleaved B, G, R, A channels of 8 or 16 bits.

#include "document/SourceImageFiles.h"

#include <png.h>

#include <boost/endian/conversion.hpp>

#include <csetjmp>
#include <cstdio>
#include <fstream>
#include <istream>
#include <new>
#include <stdexcept>
#include <string>

namespace sourceimagefiles {

namespace {

// libpng reports an error by jumping back to the setjmp of the call that met it. Each call
// into libpng therefore runs in a function of its own that sets the jump first and holds
// nothing with a destructor, and the callbacks never throw: the jump skips no C++ clean-up.
// The reason waits in the decoder and is thrown once the jump has landed.
class PngDecoder {
public:
    explicit PngDecoder(std::istream& in) : m_in(in)
    {
        m_png = png_create_read_struct(PNG_LIBPNG_VER_STRING, this, onError, onWarning);
        if (m_png)
            m_info = png_create_info_struct(m_png);
        if (!m_info) {
            png_destroy_read_struct(&m_png, nullptr, nullptr);
            throw std::bad_alloc();
        }
        png_set_read_fn(m_png, this, onRead);
        // The caller weighs the size against what it can hold; libpng's own limit (a million
        // pixels a side) would refuse a file that fits, with a less telling reason.
        png_set_user_limits(m_png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
        // Only the chunks that make the pixels are read (libpng keeps IHDR, PLTE, tRNS, IDAT
        // and IEND); every other one is skipped as it streams past, whatever length it claims.
        // Read, a text chunk claiming 2 GB is allocated and cleared in full before the file
        // turns out to end after a few bytes: libpng only warns that it is too large.
        png_set_keep_unknown_chunks(m_png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    }
    ~PngDecoder() { png_destroy_read_struct(&m_png, &m_info, nullptr); }
    PngDecoder(const PngDecoder&) = delete;
    PngDecoder& operator=(const PngDecoder&) = delete;

    Dimensions dimensions()
    {
        if (!readInfo())
            fail();
        return {std::int64_t(png_get_image_width(m_png, m_info)), std::int64_t(png_get_image_height(m_png, m_info))};
    }

    template <typename Sample>
    void read(const Pixels<Sample>& to)
    {
        const Dimensions size = dimensions();
        const std::int64_t rowBytes = std::int64_t(to.width) * 4 * std::int64_t(sizeof(Sample));
        // Pixels sized by an earlier look at the header: a file changed since must not write
        // past them.
        if (!to.data || size.width != to.width || size.height != to.height || to.bytesPerLine < rowBytes)
            throw std::runtime_error("the image's size does not match the pixels it is read into");
        if (!prepare(sizeof(Sample) == 2))
            fail();
        if (png_get_channels(m_png, m_info) != 4 || std::size_t(png_get_bit_depth(m_png, m_info)) != 8 * sizeof(Sample)
            || std::int64_t(png_get_rowbytes(m_png, m_info)) != rowBytes)
            throw std::runtime_error("unexpected PNG pixel layout");
        if (!readRows(reinterpret_cast<png_bytep>(to.data), to.height, to.bytesPerLine))
            fail();
    }

private:
    bool readInfo()
    {
        if (setjmp(png_jmpbuf(m_png)))
            return false;
        png_read_info(m_png, m_info);
        return true;
    }

    // Every layout becomes R, G, B, A at the wanted depth, turned to B, G, R, A: palettes and
    // grey expanded, tRNS transparency made alpha, full opacity added where the file has no
    // transparency, 8-bit samples scaled by 257 (16-bit ones rounded to 8 bits).
    bool prepare(bool wide)
    {
        if (setjmp(png_jmpbuf(m_png)))
            return false;
        const png_byte colourType = png_get_color_type(m_png, m_info);
        const png_byte depth = png_get_bit_depth(m_png, m_info);
        png_set_expand(m_png);
        if (!(colourType & PNG_COLOR_MASK_COLOR))
            png_set_gray_to_rgb(m_png);
        if (!(colourType & PNG_COLOR_MASK_ALPHA) && !png_get_valid(m_png, m_info, PNG_INFO_tRNS))
            png_set_filler(m_png, 0xFFFF, PNG_FILLER_AFTER);
        if (wide) {
            if (depth < 16)
                png_set_expand_16(m_png);
            if (boost::endian::order::native == boost::endian::order::little)
                png_set_swap(m_png);
        } else if (depth == 16) {
            png_set_scale_16(m_png);
        }
        png_set_bgr(m_png);
        m_passes = png_set_interlace_handling(m_png);
        png_read_update_info(m_png, m_info);
        return true;
    }

    bool readRows(png_bytep first, int height, std::int64_t bytesPerLine)
    {
        if (setjmp(png_jmpbuf(m_png)))
            return false;
        readPasses(m_png, m_passes, first, height, bytesPerLine);
        // The chunks after the pixels as well: a file cut short or damaged there is refused too.
        png_read_end(m_png, nullptr);
        return true;
    }

    // Each pass of an interlaced file writes only its own pixels of a row, so every row is
    // handed over once per pass and holds all its pixels after the last.
    static void readPasses(png_structp png, int passes, png_bytep first, int height, std::int64_t bytesPerLine)
    {
        for (int pass = 0; pass < passes; ++pass)
            for (int y = 0; y < height; ++y)
                png_read_row(png, first + y * bytesPerLine, nullptr);
    }

    [[noreturn]] void fail() const { throw std::runtime_error(m_message); }

    static void onError(png_structp png, png_const_charp message)
    {
        auto* self = static_cast<PngDecoder*>(png_get_error_ptr(png));
        std::snprintf(self->m_message, sizeof self->m_message, "%s", message ? message : "PNG error");
        png_longjmp(png, 1);
    }

    // Warnings (a colour profile libpng doubts, a damaged ancillary chunk it skips) leave the
    // pixels right.
    static void onWarning(png_structp, png_const_charp) {}

    static void onRead(png_structp png, png_bytep data, png_size_t length)
    {
        auto* self = static_cast<PngDecoder*>(png_get_io_ptr(png));
        bool complete = false;
        try {
            complete = bool(self->m_in.read(reinterpret_cast<char*>(data), std::streamsize(length)));
        } catch (...) {
        }
        if (!complete)
            png_error(png, "the file ends early or cannot be read");
    }

    std::istream& m_in;
    png_structp m_png = nullptr;
    png_infop m_info = nullptr;
    int m_passes = 1;
    char m_message[200] = "PNG error";
};

std::ifstream openPng(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open " + path);
    return in;
}

} // namespace

Dimensions pngDimensions(const std::string& path)
{
    std::ifstream in = openPng(path);
    return pngDimensions(in);
}

Dimensions pngDimensions(std::istream& in)
{
    return PngDecoder(in).dimensions();
}

void readPng(const std::string& path, const Pixels16& to)
{
    std::ifstream in = openPng(path);
    readPng(in, to);
}

void readPng(std::istream& in, const Pixels16& to)
{
    PngDecoder(in).read(to);
}

void readPng(std::istream& in, const Pixels8& to)
{
    PngDecoder(in).read(to);
}

} // namespace sourceimagefiles
