// TIFF reading for source images, through libtiff. Files of 8 or 16 bits a sample (and 32-bit
// floats) in grey, RGB or CMYK are read sample by sample, so that 16-bit files keep their depth,
// and so are palette images with alpha and CIE L*a*b* images, whose colours Little CMS turns
// into sRGB; every other layout libtiff knows (palettes, bilevel and other low depths, YCbCr)
// goes through its RGBA interface at 8 bits. Only the first page is read, rows in the file's
// order; tags the file leaves out take their TIFF 6.0 defaults.

#include "document/SourceImageFiles.h"

#include "platform/clock.h"

#include <QtGlobal>

#include <lcms2.h>
#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace sourceimagefiles {

namespace {

// libtiff prints its errors and warnings on stderr unless it is given handlers. The first error
// explains a failed read best (the later ones follow from it) and goes into the exception;
// warnings go to the log.
int keepFirstError(TIFF*, void* data, const char* module, const char* format, va_list args)
{
    auto* error = static_cast<std::string*>(data);
    if (error->empty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        *error = module && *module ? std::string(module) + ": " + text : std::string(text);
    }
    return 1;
}

int logWarning(TIFF*, void*, const char* module, const char* format, va_list args)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    qWarning("libtiff: %s: %s", module ? module : "", text);
    return 1;
}

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

// A TIFF held in memory, as libtiff's client procedures read it.
struct MemoryTiff {
    const char* data;
    toff_t size;
    toff_t at = 0;
};

tmsize_t readMemory(thandle_t handle, void* to, tmsize_t count)
{
    auto* m = static_cast<MemoryTiff*>(handle);
    const toff_t n = count > 0 ? std::min<toff_t>(toff_t(count), m->size - std::min(m->at, m->size)) : 0;
    std::memcpy(to, m->data + m->at, std::size_t(n));
    m->at += n;
    return tmsize_t(n);
}

tmsize_t writeNothing(thandle_t, void*, tmsize_t)
{
    return 0;
}

toff_t seekMemory(thandle_t handle, toff_t offset, int whence)
{
    auto* m = static_cast<MemoryTiff*>(handle);
    const toff_t base = whence == SEEK_CUR ? m->at : whence == SEEK_END ? m->size : 0;
    // libtiff passes negative offsets as their unsigned wrap-around.
    const toff_t to = base + offset;
    if ((whence == SEEK_SET && offset > m->size) || to > m->size)
        return toff_t(-1);
    m->at = to;
    return to;
}

int closeNothing(thandle_t)
{
    return 0;
}

toff_t memorySize(thandle_t handle)
{
    return static_cast<MemoryTiff*>(handle)->size;
}

int mapNothing(thandle_t, void**, toff_t*)
{
    return 0;
}

void unmapNothing(thandle_t, void*, toff_t) {}

// The first page of a file, or of a file's bytes in memory, open for reading.
class TiffFile {
public:
    explicit TiffFile(const std::string& path)
    {
        // Read, not mapped: a file cut short or changed by another program while it is read is
        // then a read error, not a crash.
        adopt(TIFFOpenExt(path.c_str(), "rm", options().get()));
    }

    // The bytes must outlive the file.
    TiffFile(const char* data, std::size_t size) : m_memory{data, toff_t(size)}
    {
        adopt(TIFFClientOpenExt("memory", "rm", &m_memory, readMemory, writeNothing, seekMemory, closeNothing,
                                memorySize, mapNothing, unmapNothing, options().get()));
    }

    TIFF* get() const { return m_tiff.get(); }
    std::uint32_t width() const { return m_width; }
    std::uint32_t height() const { return m_height; }
    // libtiff's decoders report damaged data as an error and still hand over the row, strip or
    // tile (grey or garbled from there on): a read is sound only when nothing was reported.
    bool reportedError() const { return !m_error.empty(); }

    [[noreturn]] void fail(const std::string& what) const
    {
        throw std::runtime_error(m_error.empty() ? what : what + " (" + m_error + ")");
    }

private:
    using Options = std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)>;

    Options options()
    {
        Options made(TIFFOpenOptionsAlloc(), TIFFOpenOptionsFree);
        if (!made)
            throw std::bad_alloc();
        TIFFOpenOptionsSetErrorHandlerExtR(made.get(), keepFirstError, &m_error);
        TIFFOpenOptionsSetWarningHandlerExtR(made.get(), logWarning, nullptr);
        return made;
    }

    void adopt(TIFF* opened)
    {
        m_tiff.reset(opened);
        if (!m_tiff)
            fail("cannot open the file");
        TIFFGetField(m_tiff.get(), TIFFTAG_IMAGEWIDTH, &m_width);
        TIFFGetField(m_tiff.get(), TIFFTAG_IMAGELENGTH, &m_height);
        if (m_width == 0 || m_height == 0)
            fail("the first page has no pixels");
        // What libtiff disliked in a directory it could still read is no damage to the pixels.
        if (!m_error.empty()) {
            qWarning("libtiff: %s", m_error.c_str());
            m_error.clear();
        }
    }

    std::string m_error;  // declared first: the handle reports into it until it is closed
    MemoryTiff m_memory{nullptr, 0};
    std::unique_ptr<TIFF, TiffCloser> m_tiff;
    std::uint32_t m_width = 0;
    std::uint32_t m_height = 0;
};

// What a sample of the file becomes in the B, G, R, A pixel: the first four put it in that
// channel; Grey in all three colours; inks are stored as the light they leave, and Black then
// darkens the three, so no fifth channel is needed for CMYK with alpha.
enum class Role : std::uint8_t { Blue, Green, Red, Alpha, Grey, InvertedGrey, CyanInk, MagentaInk, YellowInk, Black, Skip };

// Colours, alpha and spot colours a pixel may carry; a file claiming more is refused.
constexpr std::size_t kMaxSamples = 32;

inline std::uint32_t level(std::uint8_t v) { return v * 257u; }
inline std::uint32_t level(std::uint16_t v) { return v; }
// Floats hold 0..1; beyond it (and NaN) they are clipped.
inline std::uint32_t level(float v) { return !(v > 0.0f) ? 0u : v >= 1.0f ? 65535u : std::uint32_t(v * 65535.0f + 0.5f); }

// Puts `count` pixels of `perPixel` samples into 16-bit B, G, R, A pixels.
template <typename Sample>
void putSamples(const Sample* from, std::uint32_t count, int perPixel, const Role* roles, std::uint16_t* to)
{
    for (std::uint32_t x = 0; x < count; ++x, from += perPixel, to += 4) {
        for (int s = 0; s < perPixel; ++s) {
            const std::uint32_t v = level(from[s]);
            switch (roles[s]) {
            case Role::Blue: to[0] = std::uint16_t(v); break;
            case Role::Green: to[1] = std::uint16_t(v); break;
            case Role::Red: to[2] = std::uint16_t(v); break;
            case Role::Alpha: to[3] = std::uint16_t(v); break;
            case Role::Grey: to[0] = to[1] = to[2] = std::uint16_t(v); break;
            case Role::InvertedGrey: to[0] = to[1] = to[2] = std::uint16_t(65535 - v); break;
            case Role::CyanInk: to[2] = std::uint16_t(65535 - v); break;
            case Role::MagentaInk: to[1] = std::uint16_t(65535 - v); break;
            case Role::YellowInk: to[0] = std::uint16_t(65535 - v); break;
            case Role::Black: {
                // Without a colour profile: red = (1 - C)(1 - K), and so on.
                const std::uint32_t light = 65535 - v;
                for (int c = 0; c < 3; ++c)
                    to[c] = std::uint16_t((to[c] * light + 32767) / 65535);
                break;
            }
            case Role::Skip: break;
            }
        }
    }
}

std::uint16_t* rowOf(const Pixels16& to, std::uint32_t y)
{
    return reinterpret_cast<std::uint16_t*>(reinterpret_cast<std::uint8_t*>(to.data) + std::int64_t(y) * to.bytesPerLine);
}

// No strip or tile of a sound file comes near this; a larger one is refused before it is allocated.
constexpr std::uint64_t kMaxChunkBytes = std::uint64_t(1) << 30;

// A strip or tile's buffer, left unset: the decoder writes what it reads into it, so a
// chunk whose data ends early takes only the memory its data filled.
template <typename Sample>
std::unique_ptr<Sample[]> chunkBuffer(std::uint64_t bytes)
{
    return std::unique_ptr<Sample[]>(new Sample[std::size_t(bytes / sizeof(Sample)) + 1]);
}

// Uncompressed strips and tiles hold their pixels as they are: one whose stored bytes are
// fewer than its pixels take is cut short, and is refused before a buffer is made for it
// (a few hundred bytes can claim a gigabyte).
void refuseChunksCutShort(const TiffFile& file)
{
    TIFF* t = file.get();
    std::uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &compression);
    if (compression != COMPRESSION_NONE)
        return;
    const bool tiled = TIFFIsTiled(t);
    const std::uint32_t chunks = tiled ? TIFFNumberOfTiles(t) : TIFFNumberOfStrips(t);
    std::uint32_t rowsPerStrip = file.height();
    TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::max<std::uint32_t>(1, std::min(rowsPerStrip, file.height()));
    const std::uint32_t stripsPerPlane = (file.height() - 1) / rowsPerStrip + 1;
    for (std::uint32_t chunk = 0; chunk < chunks; ++chunk) {
        std::uint64_t needed = 0;
        if (tiled) {
            needed = TIFFTileSize64(t);
        } else {
            const std::uint32_t firstRow = chunk % stripsPerPlane * rowsPerStrip;
            needed = TIFFVStripSize64(t, std::min(rowsPerStrip, file.height() - firstRow));
        }
        const std::uint64_t stored = TIFFGetStrileByteCount(t, chunk);
        if (stored < needed)
            file.fail(std::string(tiled ? "tile " : "strip ") + std::to_string(chunk) + " holds " + std::to_string(stored)
                      + " bytes of the " + std::to_string(needed) + " its pixels take");
    }
}

// Every decoded row of the first `planes` planes that `wanted` takes, by scanlines or by
// tiles, in a buffer of `Unit`s: put(plane, y, x, count, units) gets `count` pixels of row y
// from column x on, as libtiff decodes them, `bitsPerPixel` bits each, the first at the first
// unit.
template <typename Unit, typename Wanted, typename Put>
void forEachDecodedRow(const TiffFile& file, int planes, std::uint64_t bitsPerPixel, Wanted wanted, Put put)
{
    TIFF* t = file.get();
    const std::uint32_t width = file.width();
    const std::uint32_t height = file.height();
    if (TIFFIsTiled(t)) {
        std::uint32_t tileWidth = 0;
        std::uint32_t tileLength = 0;
        TIFFGetField(t, TIFFTAG_TILEWIDTH, &tileWidth);
        TIFFGetField(t, TIFFTAG_TILELENGTH, &tileLength);
        const std::uint64_t rowBytes = TIFFTileRowSize64(t);
        const std::uint64_t bytes = TIFFTileSize64(t);
        if (tileWidth == 0 || tileLength == 0 || bytes == 0 || bytes > kMaxChunkBytes
            || rowBytes < (tileWidth * bitsPerPixel + 7) / 8 || rowBytes % sizeof(Unit) != 0
            || bytes < rowBytes * tileLength)
            file.fail("unusable tile size");
        const std::unique_ptr<Unit[]> tile = chunkBuffer<Unit>(bytes);
        for (int plane = 0; plane < planes; ++plane) {
            if (!wanted(plane))
                continue;
            for (std::uint32_t y = 0; y < height; y += tileLength)
                for (std::uint32_t x = 0; x < width; x += tileWidth) {
                    if (TIFFReadTile(t, tile.get(), x, y, 0, std::uint16_t(plane)) < 0 || file.reportedError())
                        file.fail("cannot read a tile");
                    const std::uint32_t across = std::min(tileWidth, width - x);
                    const std::uint32_t down = std::min(tileLength, height - y);
                    for (std::uint32_t r = 0; r < down; ++r)
                        put(plane, y + r, x, across, tile.get() + r * (rowBytes / sizeof(Unit)));
                }
        }
        return;
    }
    const std::uint64_t bytes = TIFFScanlineSize64(t);
    if (bytes == 0 || bytes > kMaxChunkBytes || bytes < (width * bitsPerPixel + 7) / 8)
        file.fail("unusable row size");
    const std::unique_ptr<Unit[]> row = chunkBuffer<Unit>(bytes);
    // Plane after plane: libtiff reads the rows of separate planes in that order.
    for (int plane = 0; plane < planes; ++plane) {
        if (!wanted(plane))
            continue;
        for (std::uint32_t y = 0; y < height; ++y) {
            if (TIFFReadScanline(t, row.get(), y, std::uint16_t(plane)) < 0 || file.reportedError())
                file.fail("cannot read row " + std::to_string(y));
            put(plane, y, 0, width, row.get());
        }
    }
}

// The samples of every plane, by scanlines or by tiles.
template <typename Sample>
void readSamples(const TiffFile& file, int planes, int perPixel, const Role* roles, const Pixels16& to)
{
    forEachDecodedRow<Sample>(
        file, planes, std::uint64_t(perPixel) * 8 * sizeof(Sample),
        [planes, roles](int plane) { return planes == 1 || roles[plane] != Role::Skip; },
        [&](int plane, std::uint32_t y, std::uint32_t x, std::uint32_t count, const Sample* samples) {
            putSamples(samples, count, perPixel, roles + (planes > 1 ? plane : 0), rowOf(to, y) + std::size_t(x) * 4);
        });
}

// Palette images with extra samples, which libtiff's RGBA interface leaves out (alpha included)
// and takes no depth below 8 bits with. Their rows are read here and looked up in the palette.

// Sample i of a decoded row of Bits-bit samples: below 8 bits packed from each byte's high bits
// down, 16-bit ones in the machine's order.
template <int Bits>
inline std::uint32_t packedSample(const std::uint8_t* row, std::size_t i)
{
    if constexpr (Bits == 16) {
        std::uint16_t v;
        std::memcpy(&v, row + 2 * i, 2);
        return v;
    } else if constexpr (Bits == 8) {
        return row[i];
    } else {
        const std::size_t bit = i * Bits;
        return (row[bit / 8] >> (8 - Bits - bit % 8)) & ((1u << Bits) - 1);
    }
}

// Puts `count` pixels of `perPixel` samples: the palette colour of the index at `indexAt`, the
// alpha at `alphaAt` (either -1 when the row does not hold it).
template <int Bits>
void putPaletteSamples(const std::uint8_t* from, std::uint32_t count, int perPixel, int indexAt, int alphaAt,
                       const std::uint16_t* bgr, std::uint16_t* to)
{
    constexpr std::uint32_t alphaScale = 65535u / ((1u << Bits) - 1);
    std::size_t i = 0;
    for (std::uint32_t x = 0; x < count; ++x, i += std::size_t(perPixel), to += 4) {
        if (indexAt >= 0) {
            const std::uint16_t* colour = bgr + 3 * std::size_t(packedSample<Bits>(from, i + std::size_t(indexAt)));
            to[0] = colour[0];
            to[1] = colour[1];
            to[2] = colour[2];
        }
        if (alphaAt >= 0)
            to[3] = std::uint16_t(packedSample<Bits>(from, i + std::size_t(alphaAt)) * alphaScale);
    }
}

// The index is the first sample, the alpha (when `hasAlpha`) the second.
template <int Bits>
void readPaletteSamples(const TiffFile& file, int samples, bool separate, bool hasAlpha, const Pixels16& to)
{
    std::uint16_t* red = nullptr;
    std::uint16_t* green = nullptr;
    std::uint16_t* blue = nullptr;
    if (!TIFFGetField(file.get(), TIFFTAG_COLORMAP, &red, &green, &blue))
        file.fail("no colour map");
    constexpr std::size_t entries = std::size_t(1) << Bits;
    // Old writers put 8-bit levels into the map; libtiff's RGBA interface takes a map whose
    // every entry is below 256 for one, and so do we.
    std::uint32_t scale = 257;
    for (std::size_t i = 0; i < entries; ++i)
        if (red[i] > 255 || green[i] > 255 || blue[i] > 255)
            scale = 1;
    std::vector<std::uint16_t> bgr(3 * entries);
    for (std::size_t i = 0; i < entries; ++i) {
        bgr[3 * i] = std::uint16_t(blue[i] * scale);
        bgr[3 * i + 1] = std::uint16_t(green[i] * scale);
        bgr[3 * i + 2] = std::uint16_t(red[i] * scale);
    }
    const int perPixel = separate ? 1 : samples;
    const int planes = separate ? (hasAlpha ? 2 : 1) : 1;
    forEachDecodedRow<std::uint8_t>(file, planes, std::uint64_t(perPixel) * Bits, [](int) { return true; },
                      [&](int plane, std::uint32_t y, std::uint32_t x, std::uint32_t count, const std::uint8_t* bytes) {
                          const int indexAt = plane == 0 ? 0 : -1;
                          const int alphaAt = !hasAlpha ? -1 : separate ? (plane == 1 ? 0 : -1) : 1;
                          putPaletteSamples<Bits>(bytes, count, perPixel, indexAt, alphaAt, bgr.data(),
                                                  rowOf(to, y) + std::size_t(x) * 4);
                      });
}

// What the first extra sample is: alpha when the file says so. A file that leaves its extra
// samples undescribed means alpha by the one after the colours, as writers that omit the tag
// intend.
struct ExtraAlpha {
    bool present = false;
    bool associated = false;
};

ExtraAlpha extraAlpha(std::uint16_t extraCount, const std::uint16_t* extra)
{
    const std::uint16_t kind = extraCount > 0 ? extra[0] : std::uint16_t(EXTRASAMPLE_UNASSALPHA);
    return {kind == EXTRASAMPLE_ASSOCALPHA || kind == EXTRASAMPLE_UNASSALPHA, kind == EXTRASAMPLE_ASSOCALPHA};
}

// Alpha made straight, or made opaque when the file has none.
void finishAlpha(const Pixels16& to, bool hasAlpha, bool associated)
{
    if (hasAlpha && !associated)
        return;
    for (int y = 0; y < to.height; ++y) {
        std::uint16_t* p = rowOf(to, std::uint32_t(y));
        for (int x = 0; x < to.width; ++x, p += 4) {
            if (!hasAlpha) {
                p[3] = 65535;
                continue;
            }
            const std::uint32_t a = p[3];
            if (a == 65535)
                continue;
            for (int c = 0; c < 3; ++c)
                p[c] = a == 0 ? 0 : std::uint16_t(std::min<std::uint32_t>(65535, (p[c] * 65535u + a / 2) / a));
        }
    }
}

// Through libtiff's RGBA interface: 8 bits a channel, colour premultiplied by alpha.
void readThroughRgba(const TiffFile& file, const Pixels16& to)
{
    TIFF* t = file.get();
    char message[1024] = "";
    if (!TIFFRGBAImageOK(t, message))
        file.fail(message);
    TIFFRGBAImage image{};
    if (!TIFFRGBAImageBegin(&image, t, 1, message))
        file.fail(message);
    struct End {
        TIFFRGBAImage* image;
        ~End() { TIFFRGBAImageEnd(image); }
    } end{&image};
    // Rows in the file's order, as the other path keeps them.
    image.req_orientation = image.orientation;
    const bool hasAlpha = image.alpha != 0;
    // Not cleared first: libtiff writes every pixel, and a failed read drops them all.
    const std::unique_ptr<std::uint32_t[]> raster(new std::uint32_t[std::size_t(file.width()) * file.height()]);
    if (!TIFFRGBAImageGet(&image, raster.get(), file.width(), file.height()) || file.reportedError())
        file.fail("cannot read the pixels");
    const std::uint32_t* from = raster.get();
    for (std::uint32_t y = 0; y < file.height(); ++y) {
        std::uint16_t* p = rowOf(to, y);
        for (std::uint32_t x = 0; x < file.width(); ++x, ++from, p += 4) {
            p[0] = std::uint16_t(TIFFGetB(*from) * 257);
            p[1] = std::uint16_t(TIFFGetG(*from) * 257);
            p[2] = std::uint16_t(TIFFGetR(*from) * 257);
            p[3] = std::uint16_t(TIFFGetA(*from) * 257);
        }
    }
    finishAlpha(to, true, hasAlpha);
}

// CIE L*a*b* colours in TIFF's encoding (L* unsigned, a* and b* signed; 16-bit a* and b* in
// 256ths) or in ICC's (version 2, which Little CMS decodes: a* and b* offset by 128).
enum class LabCode { Tiff8, Tiff16, Icc8, Icc16 };

template <LabCode code>
inline cmsCIELab labOf(std::uint32_t l, std::uint32_t a, std::uint32_t b)
{
    cmsCIELab lab;
    if constexpr (code == LabCode::Tiff8) {
        lab = {l * 100.0 / 255.0, double(std::int8_t(a)), double(std::int8_t(b))};
    } else if constexpr (code == LabCode::Tiff16) {
        lab = {l * 100.0 / 65535.0, std::int16_t(a) / 256.0, std::int16_t(b) / 256.0};
    } else {
        // ICC's 16-bit encoding; its 8-bit one is the high byte of it.
        constexpr int shift = code == LabCode::Icc8 ? 8 : 0;
        const cmsUInt16Number encoded[3] = {cmsUInt16Number(l << shift), cmsUInt16Number(a << shift),
                                            cmsUInt16Number(b << shift)};
        cmsLabEncoded2FloatV2(&lab, encoded);
    }
    return lab;
}

// One row of B, G, R, A pixels holding the file's L* in red's place, a* in green's, b* in
// blue's (8-bit samples times 257): each colour as XYZ under the profiles' D50, into `xyz`.
// `adapt` takes XYZ under the file's `white` to D50 (columns: the three unit colours adapted).
template <LabCode code>
void labRowToXyz(const std::uint16_t* row, int width, bool associated, const cmsCIEXYZ& white,
                 const cmsCIEXYZ (&adapt)[3], double* xyz)
{
    constexpr unsigned shift = code == LabCode::Tiff8 || code == LabCode::Icc8 ? 8 : 0;
    for (int x = 0; x < width; ++x, row += 4, xyz += 3) {
        cmsCIELab lab = labOf<code>(std::uint32_t(row[2]) >> shift, std::uint32_t(row[1]) >> shift,
                                    std::uint32_t(row[0]) >> shift);
        if (associated) {
            // Premultiplied by alpha, as the colours of such files are.
            const double a = row[3] / 65535.0;
            lab = a > 0.0 ? cmsCIELab{lab.L / a, lab.a / a, lab.b / a} : cmsCIELab{0.0, 0.0, 0.0};
        }
        cmsCIEXYZ v;
        cmsLab2XYZ(&white, &v, &lab);
        xyz[0] = adapt[0].X * v.X + adapt[1].X * v.Y + adapt[2].X * v.Z;
        xyz[1] = adapt[0].Y * v.X + adapt[1].Y * v.Y + adapt[2].Y * v.Z;
        xyz[2] = adapt[0].Z * v.X + adapt[1].Z * v.Y + adapt[2].Z * v.Z;
    }
}

struct ProfileCloser {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};

struct TransformDeleter {
    void operator()(void* transform) const { cmsDeleteTransform(transform); }
};

// The file's samples are read as they are, then turned into sRGB row by row: L* = 100 is the
// file's white point (D50 when the file names none), which becomes sRGB's white, so a file made
// from sRGB under D65 gives back the colours it was made from.
void readLab(const TiffFile& file, std::uint16_t photometric, std::uint16_t bits, int samples, bool separate,
             std::uint16_t extraCount, const std::uint16_t* extra, const Pixels16& to)
{
    const char* name = photometric == PHOTOMETRIC_ICCLAB ? "ICC L*a*b*" : "CIE L*a*b*";
    if (bits != 8 && bits != 16)
        file.fail(std::string(name) + " samples of " + std::to_string(bits) + " bits are not supported");
    if (samples < 3 || (extraCount > 0 && samples != 3 + extraCount) || std::size_t(samples) > kMaxSamples)
        file.fail(std::to_string(samples) + " samples a pixel do not fit " + name + " colours");
    float* whitePoint = nullptr;
    TIFFGetFieldDefaulted(file.get(), TIFFTAG_WHITEPOINT, &whitePoint);
    if (!whitePoint || !(whitePoint[0] > 0.0f && whitePoint[1] > 0.0f && whitePoint[0] + whitePoint[1] < 1.0f))
        file.fail("the white point of its L*a*b* colours is unusable");
    const cmsCIExyY whiteXyY{whitePoint[0], whitePoint[1], 1.0};
    cmsCIEXYZ white;
    cmsxyY2XYZ(&white, &whiteXyY);
    cmsCIEXYZ adapt[3];
    for (int i = 0; i < 3; ++i) {
        const cmsCIEXYZ unit{i == 0 ? 1.0 : 0.0, i == 1 ? 1.0 : 0.0, i == 2 ? 1.0 : 0.0};
        if (!cmsAdaptToIlluminant(&adapt[i], &white, cmsD50_XYZ(), &unit))
            file.fail("the white point of its L*a*b* colours is unusable");
    }
    const std::unique_ptr<void, ProfileCloser> xyzProfile(cmsCreateXYZProfile());
    const std::unique_ptr<void, ProfileCloser> srgbProfile(cmsCreate_sRGBProfile());
    if (!xyzProfile || !srgbProfile)
        throw std::bad_alloc();
    // Floating point through: 16-bit samples would go through Little CMS's 16-bit XYZ, whose
    // steps are a tenth of a level in dark colours.
    const std::unique_ptr<void, TransformDeleter> transform(
        cmsCreateTransform(xyzProfile.get(), TYPE_XYZ_DBL, srgbProfile.get(), TYPE_BGR_FLT,
                           INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE));
    if (!transform)
        file.fail(std::string("cannot turn its ") + name + " colours into RGB");

    const ExtraAlpha alpha = samples > 3 ? extraAlpha(extraCount, extra) : ExtraAlpha{};
    std::array<Role, kMaxSamples> roles;
    roles.fill(Role::Skip);
    roles[0] = Role::Red;
    roles[1] = Role::Green;
    roles[2] = Role::Blue;
    if (alpha.present)
        roles[3] = Role::Alpha;
    const int planes = separate ? samples : 1;
    const int perPixel = separate ? 1 : samples;
    if (bits == 16)
        readSamples<std::uint16_t>(file, planes, perPixel, roles.data(), to);
    else
        readSamples<std::uint8_t>(file, planes, perPixel, roles.data(), to);
    finishAlpha(to, alpha.present, false);

    const bool icc = photometric == PHOTOMETRIC_ICCLAB;
    const auto toXyz = bits == 16 ? (icc ? labRowToXyz<LabCode::Icc16> : labRowToXyz<LabCode::Tiff16>)
                                  : (icc ? labRowToXyz<LabCode::Icc8> : labRowToXyz<LabCode::Tiff8>);
    // The transform takes some 0.15 microseconds a pixel, so bands of rows are turned side by
    // side, each with its own scratch rows (the transform keeps nothing between calls).
    const int bands = int(std::clamp<std::int64_t>(std::int64_t(to.width) * to.height / (1 << 18), 1,
                                                   std::min<std::int64_t>(platform::processorCount(), to.height)));
    std::vector<std::vector<double>> xyz(std::size_t(bands), std::vector<double>(std::size_t(to.width) * 3));
    std::vector<std::vector<float>> bgr(std::size_t(bands), std::vector<float>(std::size_t(to.width) * 3));
    const auto turnBand = [&](int band) {
        const int last = int(std::int64_t(to.height) * (band + 1) / bands);
        for (int y = int(std::int64_t(to.height) * band / bands); y < last; ++y) {
            std::uint16_t* row = rowOf(to, std::uint32_t(y));
            toXyz(row, to.width, alpha.associated, white, adapt, xyz[std::size_t(band)].data());
            cmsDoTransform(transform.get(), xyz[std::size_t(band)].data(), bgr[std::size_t(band)].data(),
                           cmsUInt32Number(to.width));
            // Alpha, the fourth sample, stays.
            const float* from = bgr[std::size_t(band)].data();
            for (int x = 0; x < to.width; ++x, from += 3, row += 4)
                for (int c = 0; c < 3; ++c)
                    row[c] = std::uint16_t(level(from[c]));
        }
    };
    std::vector<std::thread> threads;
    threads.reserve(std::size_t(bands));
    for (int band = 1; band < bands; ++band) {
        try {
            threads.emplace_back(turnBand, band);
        } catch (const std::system_error&) {
            turnBand(band);
        }
    }
    turnBand(0);
    for (std::thread& thread : threads)
        thread.join();
}

} // namespace

bool looksLikeTiff(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    unsigned char head[4] = {};
    if (!in.read(reinterpret_cast<char*>(head), sizeof head))
        return false;
    // Classic TIFF (42) or BigTIFF (43), in either byte order.
    if (head[0] == 'I' && head[1] == 'I')
        return head[3] == 0 && (head[2] == 42 || head[2] == 43);
    if (head[0] == 'M' && head[1] == 'M')
        return head[2] == 0 && (head[3] == 42 || head[3] == 43);
    return false;
}

namespace {

Dimensions dimensionsOf(const TiffFile& file)
{
    // Before the caller allocates the pixels of a file that cannot hold them.
    refuseChunksCutShort(file);
    return {file.width(), file.height()};
}

void readFirstPage(const TiffFile& file, const Pixels16& to);

} // namespace

Dimensions tiffDimensions(const std::string& path)
{
    return dimensionsOf(TiffFile(path));
}

Dimensions tiffDimensions(const char* data, std::size_t size)
{
    return dimensionsOf(TiffFile(data, size));
}

void readTiff(const std::string& path, const Pixels16& to)
{
    readFirstPage(TiffFile(path), to);
}

void readTiff(const char* data, std::size_t size, const Pixels16& to)
{
    readFirstPage(TiffFile(data, size), to);
}

namespace {

void readFirstPage(const TiffFile& file, const Pixels16& to)
{
    if (std::uint32_t(to.width) != file.width() || std::uint32_t(to.height) != file.height() || !to.data)
        throw std::invalid_argument("pixels of another size than the TIFF file");
    refuseChunksCutShort(file);
    TIFF* t = file.get();
    std::uint16_t bits = 1;
    std::uint16_t samples = 1;
    std::uint16_t format = SAMPLEFORMAT_UINT;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint16_t inkSet = INKSET_CMYK;
    std::uint16_t extraCount = 0;
    std::uint16_t* extra = nullptr;
    std::uint16_t photometric = 0;
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(t, TIFFTAG_INKSET, &inkSet);
    // Not defaulted: for a file without the tag libtiff makes up one "unspecified" extra sample
    // per sample beyond the colours, which would hide the alpha of a file that omits the tag.
    TIFFGetField(t, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    if (!TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric))
        file.fail("no photometric interpretation");

    // CIE L*a*b* files may call their samples signed: a* and b* are.
    const bool integers = format == SAMPLEFORMAT_UINT || format == SAMPLEFORMAT_VOID
                          || (format == SAMPLEFORMAT_INT && photometric == PHOTOMETRIC_CIELAB);
    const bool floats = format == SAMPLEFORMAT_IEEEFP && bits == 32;
    if (!integers && !floats)
        file.fail("samples of format " + std::to_string(format) + " and " + std::to_string(bits) + " bits are not supported");

    if (photometric == PHOTOMETRIC_PALETTE && samples > 1) {
        if (samples > kMaxSamples || (extraCount > 0 && samples != 1 + extraCount))
            file.fail(std::to_string(samples) + " samples a pixel do not fit a palette image");
        const ExtraAlpha alpha = extraAlpha(extraCount, extra);
        const bool separate = planar == PLANARCONFIG_SEPARATE;
        switch (integers ? bits : 0) {
        case 1: readPaletteSamples<1>(file, samples, separate, alpha.present, to); break;
        case 2: readPaletteSamples<2>(file, samples, separate, alpha.present, to); break;
        case 4: readPaletteSamples<4>(file, samples, separate, alpha.present, to); break;
        case 8: readPaletteSamples<8>(file, samples, separate, alpha.present, to); break;
        case 16: readPaletteSamples<16>(file, samples, separate, alpha.present, to); break;
        default: file.fail("palette images of " + std::to_string(bits) + " bits are not supported");
        }
        finishAlpha(to, alpha.present, alpha.associated);
        return;
    }

    if (photometric == PHOTOMETRIC_CIELAB || photometric == PHOTOMETRIC_ICCLAB) {
        if (!integers)
            file.fail("L*a*b* samples of format " + std::to_string(format) + " are not supported");
        readLab(file, photometric, bits, samples, planar == PLANARCONFIG_SEPARATE, extraCount, extra, to);
        return;
    }
    // Colour fax's L*a*b*, whose ranges a Decode tag of its own sets.
    if (photometric == PHOTOMETRIC_ITULAB)
        file.fail("ITU L*a*b* colours are not supported");

    std::array<Role, kMaxSamples> roles;
    roles.fill(Role::Skip);
    std::size_t colours = 0;
    const auto colourRoles = [&roles, &colours](std::initializer_list<Role> list) {
        for (Role role : list)
            roles[colours++] = role;
    };
    switch (photometric) {
    case PHOTOMETRIC_MINISBLACK: colourRoles({Role::Grey}); break;
    case PHOTOMETRIC_MINISWHITE: colourRoles({Role::InvertedGrey}); break;
    case PHOTOMETRIC_RGB: colourRoles({Role::Red, Role::Green, Role::Blue}); break;
    case PHOTOMETRIC_SEPARATED:
        if (inkSet == INKSET_CMYK)
            colourRoles({Role::CyanInk, Role::MagentaInk, Role::YellowInk, Role::Black});
        break;
    default: break;
    }
    // Sample by sample: what has 8 or 16 bits (or floats) in grey, RGB or CMYK.
    const bool direct = colours > 0 && (floats || (integers && (bits == 8 || bits == 16)));
    if (!direct) {
        if (floats || bits > 16)
            file.fail("samples of " + std::to_string(bits) + " bits are not supported for photometric interpretation "
                      + std::to_string(photometric));
        readThroughRgba(file, to);
        return;
    }

    // Extra samples follow the colours.
    if (samples < colours || (extraCount > 0 && samples != colours + extraCount) || samples > kMaxSamples)
        file.fail(std::to_string(samples) + " samples a pixel do not fit photometric interpretation "
                  + std::to_string(photometric));
    bool hasAlpha = false;
    bool associated = false;
    if (samples > colours) {
        const ExtraAlpha alpha = extraAlpha(extraCount, extra);
        hasAlpha = alpha.present;
        associated = alpha.associated;
        roles[colours] = hasAlpha ? Role::Alpha : Role::Skip;
    }

    const bool separate = planar == PLANARCONFIG_SEPARATE && samples > 1;
    const int planes = separate ? samples : 1;
    const int perPixel = separate ? 1 : samples;
    if (floats)
        readSamples<float>(file, planes, perPixel, roles.data(), to);
    else if (bits == 16)
        readSamples<std::uint16_t>(file, planes, perPixel, roles.data(), to);
    else
        readSamples<std::uint8_t>(file, planes, perPixel, roles.data(), to);
    finishAlpha(to, hasAlpha, associated);
}

} // namespace

} // namespace sourceimagefiles
