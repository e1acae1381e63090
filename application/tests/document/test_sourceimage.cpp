// The source image: file reading by kind, the 8-bit display form, the working image at the
// model's divisor, the project map, and PNG / TIFF saving with transparency.

#include "document/GmModel.h"
#include "document/KsSourceImage.h"
#include "document/NamedImage.h"
#include "document/SourceImageFiles.h"

#include "ExifBlock.h"
#include "FileSizeLimit.h"
#include "HostileImages.h"
#include "LogCapture.h"
#include "PeakMemory.h"
#include "ScriptedPrompt.h"
#include "ScratchFiles.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>

#include <gtest/gtest.h>

#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>

using testsupport::FileSizeLimit;
using testsupport::LogCapture;
using testsupport::PeakResidentGrowth;
using testsupport::ReportedMemory;
using testsupport::ScriptedPrompt;

using testsupport::fileBytes;
using testsupport::scratchPath;
using testsupport::writeScratchFile;

namespace {

QString dataFile(const char* name)
{
    return QStringLiteral(KESTRINE_TEST_DATA "/") + QLatin1String(name);
}

// Pixel values compared as straight ARGB, whatever the formats.
void expectSamePixels(const QImage& actual, const QImage& expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x)
            ASSERT_EQ(actual.pixel(x, y), expected.pixel(x, y)) << "at " << x << "," << y;
}

// Sets the model's divisor through the only door the model has for it.
void useDivisor(int divisor)
{
    GmModel::instance()->chooseResolutionForPixelCount(divisor == 1 ? 1 : qint64(4000000) * divisor / 2 + 1);
    ASSERT_EQ(GmModel::instance()->resolution(), divisor);
}

struct ModelReset {
    ~ModelReset() { GmModel::destroy(); }
};

// 16-bit samples in B, G, R, A memory order, one row.
std::vector<std::uint16_t> wideRow(std::initializer_list<std::uint16_t> samples)
{
    return std::vector<std::uint16_t>(samples);
}

QImage redBlueHalf()
{
    QImage image(3, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(255, 0, 0, 255));
    image.setPixel(1, 0, qRgba(0, 0, 255, 255));
    image.setPixel(2, 0, qRgba(40, 200, 90, 128));
    return image;
}

// --- reading files -------------------------------------------------------------------------

TEST(SourceImageFile, PngOf8And16BitsLoadAsTheSame16BitMaster)
{
    ScriptedPrompt prompt;
    QImage qt(dataFile("chelsea.png"));
    ASSERT_FALSE(qt.isNull());
    for (const char* name : {"chelsea.png", "chelsea16.png"}) {
        KsSourceImage image(dataFile(name));
        ASSERT_TRUE(image.isValid()) << name;
        EXPECT_EQ(image.masterKind(), KsSourceImage::Master16Bit);
        EXPECT_EQ(image.sampleFormat(), KsSourceImage::Samples16);
        EXPECT_EQ(image.fileKind(), KsSourceImage::FilePng);
        EXPECT_EQ(image.qImage().format(), QImage::Format_ARGB32);
        expectSamePixels(image.qImage(), qt);
        // 8-bit samples are scaled by 257 into the master.
        const std::uint16_t* first = image.view16().data;
        const QRgb p = qt.pixel(0, 0);
        EXPECT_EQ(first[0], qBlue(p) * 257);
        EXPECT_EQ(first[2], qRed(p) * 257);
        EXPECT_EQ(first[3], 65535);
    }
    EXPECT_TRUE(prompt.messages().isEmpty());
}

TEST(SourceImageFile, JpegLoadsThroughQtAndIsTurnedUpright)
{
    ScriptedPrompt prompt;
    KsSourceImage plain(dataFile("fruits.jpg"));
    ASSERT_TRUE(plain.isValid());
    EXPECT_EQ(plain.masterKind(), KsSourceImage::MasterDisplayImage);
    EXPECT_EQ(plain.sampleFormat(), KsSourceImage::Samples8);
    EXPECT_EQ(plain.qImage().size(), QSize(512, 480));
    EXPECT_EQ(plain.qImage().format(), QImage::Format_ARGB32);

    const QString turnedPath = writeScratchFile(QStringLiteral("fruits6.jpg"),
                                         testsupport::spliceAfterSoi(fileBytes(dataFile("fruits.jpg")),
                                                                     testsupport::ExifBlock::orientationApp1(6)));
    KsSourceImage turned(turnedPath);
    ASSERT_TRUE(turned.isValid());
    ASSERT_EQ(turned.qImage().size(), QSize(480, 512));
    const QImage src = plain.qImage();
    EXPECT_EQ(turned.qImage().pixel(0, 0), src.pixel(0, 479));
    EXPECT_EQ(turned.qImage().pixel(479, 511), src.pixel(511, 0));
    EXPECT_TRUE(prompt.messages().isEmpty());
}

// Qt's JPEG reader shows what it could not read as grey and only logs it. Bytes after the
// picture's end (a camera's trailer) are no damage.
TEST(SourceImageFile, AJpegCutShortIsRefusedWithItsReason)
{
    const QByteArray jpeg = fileBytes(dataFile("fruits.jpg"));
    const QString cut = writeScratchFile(QStringLiteral("cut.jpg"), jpeg.left(jpeg.size() / 2));
    const QString trailer = writeScratchFile(QStringLiteral("trailer.jpg"), jpeg + QByteArray(5000, '\x5A'));
    {
        ScriptedPrompt prompt;
        LogCapture log;
        KsSourceImage image(cut);
        EXPECT_FALSE(image.isValid());
        ASSERT_EQ(prompt.messages().size(), 1);
        const QString begin = QStringLiteral("Sorry - could not open file ") + cut
                              + QStringLiteral("\n\nThe file ends before its JPEG data is complete");
        EXPECT_TRUE(prompt.messages().first().text.startsWith(begin)) << prompt.messages().first().text.toStdString();
    }
    ScriptedPrompt prompt;
    KsSourceImage image(trailer);
    EXPECT_TRUE(image.isValid());
    EXPECT_EQ(image.qImage().size(), QSize(512, 480));
    EXPECT_TRUE(prompt.messages().isEmpty());
}

// The decoder reads past the last row's data to find the picture's end marker: a file lacking
// nothing but that marker has every pixel, baseline or progressive. One byte of data less, or a
// progressive file's last scan, and it is cut short.
TEST(SourceImageFile, AJpegLackingOnlyItsEndMarkerOpensWithEveryPixel)
{
    QByteArray progressive;
    {
        QBuffer buffer(&progressive);
        ASSERT_TRUE(buffer.open(QIODevice::WriteOnly));
        QImageWriter writer(&buffer, "jpeg");
        writer.setProgressiveScanWrite(true);
        ASSERT_TRUE(writer.write(QImage(dataFile("fruits.jpg"))));
    }
    const QByteArray end("\xFF\xD9", 2);
    const QByteArray scanStart("\xFF\xDA", 2);
    const std::pair<QString, QByteArray> kinds[] = {{QStringLiteral("baseline"), fileBytes(dataFile("fruits.jpg"))},
                                                    {QStringLiteral("progressive"), progressive}};
    for (const auto& [name, jpeg] : kinds) {
        SCOPED_TRACE(name.toStdString());
        ASSERT_TRUE(jpeg.endsWith(end));
        ScriptedPrompt prompt;
        KsSourceImage whole(writeScratchFile(name + QStringLiteral(".jpg"), jpeg));
        KsSourceImage endless(writeScratchFile(name + QStringLiteral("-no-end.jpg"), jpeg.chopped(2)));
        ASSERT_TRUE(whole.isValid());
        ASSERT_TRUE(endless.isValid());
        expectSamePixels(endless.qImage(), whole.qImage());
        EXPECT_TRUE(prompt.messages().isEmpty());

        QByteArrayList cuts{jpeg.chopped(3)};
        if (name == QStringLiteral("progressive"))
            cuts.append(jpeg.left(jpeg.lastIndexOf(scanStart)));
        for (const QByteArray& cut : cuts) {
            const QString path = writeScratchFile(name + QStringLiteral("-cut.jpg"), cut);
            ScriptedPrompt refusal;
            LogCapture log;
            const KsSourceImage image(path);
            EXPECT_FALSE(image.isValid()) << cut.size() << " of " << jpeg.size() << " bytes";
            ASSERT_EQ(refusal.messages().size(), 1);
            EXPECT_TRUE(refusal.messages().first().text.contains(QStringLiteral("The file ends before its JPEG data is complete")))
                << refusal.messages().first().text.toStdString();
        }
    }
}

TEST(SourceImageFile, UnreadableFilesWarnOnceAndStayInvalid)
{
    const QByteArray png = fileBytes(dataFile("chelsea.png"));
    const QString truncated = writeScratchFile(QStringLiteral("truncated.png"), png.left(png.size() / 2));
    const QString text = writeScratchFile(QStringLiteral("notes.png"), QByteArray("just some words\n"));
    const QString missing = scratchPath(QStringLiteral("absent.tif"));
    for (const QString& path : {truncated, text, missing}) {
        ScriptedPrompt prompt;
        LogCapture log;
        bool valid = true;
        EXPECT_NO_THROW({
            KsSourceImage image(path);
            valid = image.isValid();
            EXPECT_EQ(image.checksum(), 0u);
        });
        EXPECT_FALSE(valid) << path.toStdString();
        ASSERT_EQ(prompt.messages().size(), 1) << path.toStdString();
        const Prompt::Message& m = prompt.messages().first();
        EXPECT_EQ(m.kind, Prompt::Warning);
        EXPECT_EQ(m.title, QStringLiteral("Kestrine 3"));
        EXPECT_TRUE(m.text.startsWith(QStringLiteral("Sorry - could not open file ") + path + QStringLiteral("\n\n")))
            << m.text.toStdString();
        EXPECT_TRUE(m.text.contains(QStringLiteral("\n\nIf you have"))) << m.text.toStdString();
    }
}

TEST(SourceImageFile, HeaderBeyondWhatAnImageCanHoldIsRefusedBeforeReading)
{
    // A PNG header announcing 100000 x 100000 pixels, then empty image data.
    QByteArray png = QByteArray::fromHex("89504e470d0a1a0a0000000d49484452000186a0000186a00806000000a8520bc8");
    png.append(QByteArray::fromHex("000000004944415435af061e0000000049454e44ae426082"));
    const QString path = writeScratchFile(QStringLiteral("huge.png"), png);
    ScriptedPrompt prompt;
    KsSourceImage image(path);
    EXPECT_FALSE(image.isValid());
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_TRUE(prompt.messages().first().text.contains(QStringLiteral("100000 x 100000")))
        << prompt.messages().first().text.toStdString();
}

namespace {

// The file is refused with one message naming it, the resident memory grown by less than 100 MB
// meanwhile.
void expectRefusedWithoutTheMemoryItClaims(const QString& path)
{
    ScriptedPrompt prompt;
    PeakResidentGrowth peak;
    ASSERT_TRUE(peak.isReset());
    bool valid = true;
    {
        KsSourceImage image(path);
        valid = image.isValid();
    }
    EXPECT_FALSE(valid);
    EXPECT_LT(peak.megabytes(), 100u);
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_TRUE(prompt.messages().first().text.startsWith(QStringLiteral("Sorry - could not open file ") + path))
        << prompt.messages().first().text.toStdString();
}

} // namespace

// A chunk whose length field claims 2 GB in a file of 48 bytes, of each type that libpng would
// read into memory: refused at once, by our reader alone (Qt's would read it again), with the
// memory of its bytes. The same as the stored picture of a project's image.
TEST(SourceImageFile, AChunkClaimingGigabytesInAFewBytesIsRefusedWithoutTakingThem)
{
    for (const char* type : {"tEXt", "zTXt", "iTXt", "sPLT", "pCAL", "sCAL"}) {
        const QString path = writeScratchFile(QStringLiteral("claim-%1.png").arg(QLatin1String(type)),
                                              testsupport::chunkClaimingTwoGigabytes(type));
        SCOPED_TRACE(type);
        expectRefusedWithoutTheMemoryItClaims(path);
    }

    QVariantMap stored;
    stored.insert(QStringLiteral("valid_"), true);
    stored.insert(QStringLiteral("filename_"), QStringLiteral("claim.png"));
    stored.insert(QStringLiteral("format_"), int(KsSourceImage::Samples16));
    stored.insert(QStringLiteral("imageMaster_"), int(KsSourceImage::Master16Bit));
    stored.insert(QStringLiteral("imageImage_"), testsupport::chunkClaimingTwoGigabytes());
    PeakResidentGrowth peak;
    const KsSourceImage image{QVariant(stored)};
    EXPECT_FALSE(image.isValid());
    EXPECT_LT(peak.megabytes(), 100u);
}

// 266 bytes claiming one tile of 11200 x 11200 pixels of four 16-bit samples, with 100 bytes in
// it: refused before a buffer for the tile is made, let alone cleared.
TEST(SourceImageFile, ATileClaimingMoreThanItsBytesIsRefusedBeforeItsBufferIsMade)
{
    const QString path = writeScratchFile(QStringLiteral("tile-claim.tif"), testsupport::tileClaimingAGigabyte());
    // Whatever this machine has free, the image is weighed as fitting: the tile must refuse it.
    ReportedMemory plenty(qint64(1) << 40);
    expectRefusedWithoutTheMemoryItClaims(path);
}

// What opening an image takes (its 16-bit pixels, the 8-bit ones and the pixmap, the cut-out's
// copy of them all, the working images) is weighed before anything is allocated: 20000 x 20000
// pixels need about 12 GB, more than the 4 GB reported available, and the user reads why.
TEST(SourceImageFile, AnImageNeedingMoreMemoryThanIsAvailableIsRefusedBeforeItIsRead)
{
    const QString path = writeScratchFile(QStringLiteral("grey-20000.png"), testsupport::blackBilevelPng(20000, 20000));
    ReportedMemory available(qint64(4) << 30);
    ScriptedPrompt prompt;
    PeakResidentGrowth peak;
    ASSERT_TRUE(peak.isReset());
    bool valid = true;
    bool lackedMemory = false;
    {
        KsSourceImage image(path);
        valid = image.isValid();
        lackedMemory = image.lackedMemory();
    }
    EXPECT_FALSE(valid);
    EXPECT_TRUE(lackedMemory);
    EXPECT_LT(peak.megabytes(), 100u);
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_EQ(prompt.messages().first().kind, Prompt::Warning);
    EXPECT_EQ(prompt.messages().first().text.toStdString(),
              QStringLiteral("Sorry - not enough memory to open file %1\n\nThe image has 20000 x 20000 pixels: opening "
                             "it takes about 12.0 GB of memory, and 4.0 GB is available.")
                  .arg(path)
                  .toStdString());
}

// --- PNGs of every kind ------------------------------------------------------------------------

struct PngKind {
    const char* name;
    int colourType;
    int depth;
    // A tRNS chunk: alphas for the first palette entries, or one grey or RGB value transparent.
    bool transparency;
};

// A PNG's pixels as the file stores them, and the B, G, R, A samples on the 16-bit scale that
// reading it must give.
struct PngPicture {
    int width = 37;
    int height = 29;
    std::vector<std::vector<png_byte>> rows;
    std::vector<png_color> palette;
    std::vector<png_byte> paletteAlpha;
    png_color_16 transparent{};
    std::vector<std::uint16_t> expected;
};

// Different in every row, column and channel, so that a row or a pixel out of place shows.
unsigned sampleAt(int x, int y, int c, int depth)
{
    const unsigned h = unsigned(x) * 2654435761u ^ unsigned(y) * 40503u ^ unsigned(c + 1) * 2246822519u;
    return (h ^ h >> 13 ^ h >> 21) & ((1u << depth) - 1);
}

PngPicture pngPicture(const PngKind& kind)
{
    PngPicture p;
    const bool indexed = kind.colourType == PNG_COLOR_TYPE_PALETTE;
    const bool colour = kind.colourType & PNG_COLOR_MASK_COLOR;
    const bool alpha = kind.colourType & PNG_COLOR_MASK_ALPHA;
    const int channels = indexed ? 1 : (colour ? 3 : 1) + (alpha ? 1 : 0);
    const unsigned scale = 65535u / ((1u << kind.depth) - 1);
    if (indexed) {
        for (int i = 0; i < 1 << kind.depth; ++i)
            p.palette.push_back({png_byte(sampleAt(i, 0, 0, 8)), png_byte(sampleAt(i, 1, 1, 8)), png_byte(sampleAt(i, 2, 2, 8))});
        if (kind.transparency)
            for (int i = 0; i < 7; ++i)
                p.paletteAlpha.push_back(png_byte(i * 40));
    } else if (kind.transparency) {
        // One pixel's own value, so that at least that pixel is transparent.
        p.transparent.gray = png_uint_16(sampleAt(5, 4, 0, kind.depth));
        p.transparent.red = png_uint_16(sampleAt(5, 4, 0, kind.depth));
        p.transparent.green = png_uint_16(sampleAt(5, 4, 1, kind.depth));
        p.transparent.blue = png_uint_16(sampleAt(5, 4, 2, kind.depth));
    }
    for (int y = 0; y < p.height; ++y) {
        std::vector<png_byte> row((std::size_t(p.width) * channels * kind.depth + 7) / 8, 0);
        for (int x = 0; x < p.width; ++x) {
            unsigned v[4] = {};
            for (int c = 0; c < channels; ++c) {
                v[c] = sampleAt(x, y, c, kind.depth);
                const std::size_t at = std::size_t(x * channels + c) * kind.depth;
                if (kind.depth == 16) {
                    row[at / 8] = png_byte(v[c] >> 8);
                    row[at / 8 + 1] = png_byte(v[c]);
                } else {
                    row[at / 8] |= png_byte(v[c] << (8 - kind.depth - at % 8));
                }
            }
            std::uint32_t r, g, b, a = 65535;
            if (indexed) {
                const png_color& entry = p.palette[v[0]];
                r = entry.red * 257u;
                g = entry.green * 257u;
                b = entry.blue * 257u;
                if (v[0] < p.paletteAlpha.size())
                    a = p.paletteAlpha[v[0]] * 257u;
            } else if (!colour) {
                r = g = b = v[0] * scale;
                if (alpha)
                    a = v[1] * scale;
                else if (kind.transparency && v[0] == p.transparent.gray)
                    a = 0;
            } else {
                r = v[0] * scale;
                g = v[1] * scale;
                b = v[2] * scale;
                if (alpha)
                    a = v[3] * scale;
                else if (kind.transparency && v[0] == p.transparent.red && v[1] == p.transparent.green
                         && v[2] == p.transparent.blue)
                    a = 0;
            }
            for (std::uint32_t sample : {b, g, r, a})
                p.expected.push_back(std::uint16_t(sample));
        }
        p.rows.push_back(row);
    }
    return p;
}

void appendPngBytes(png_structp png, png_bytep data, png_size_t length)
{
    static_cast<QByteArray*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), int(length));
}

// The file, written through libpng as other programs write it; empty when libpng refused.
QByteArray encodePng(PngPicture& p, const PngKind& kind, bool interlaced)
{
    QByteArray bytes;
    std::vector<png_bytep> rows;
    for (std::vector<png_byte>& row : p.rows)
        rows.push_back(row.data());
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return QByteArray();
    }
    png_set_write_fn(png, &bytes, appendPngBytes, nullptr);
    png_set_IHDR(png, info, png_uint_32(p.width), png_uint_32(p.height), kind.depth, kind.colourType,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!p.palette.empty())
        png_set_PLTE(png, info, p.palette.data(), int(p.palette.size()));
    if (kind.transparency)
        png_set_tRNS(png, info, p.paletteAlpha.empty() ? nullptr : p.paletteAlpha.data(), int(p.paletteAlpha.size()),
                     p.paletteAlpha.empty() ? &p.transparent : nullptr);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return bytes;
}

// Four samples a pixel, rows `bytesPerLine` apart, against the packed expected samples.
template <typename Sample>
testing::AssertionResult sameSamples(const Sample* actual, qint64 bytesPerLine, const std::vector<Sample>& expected,
                                     int width, int height)
{
    for (int y = 0; y < height; ++y) {
        const Sample* row = reinterpret_cast<const Sample*>(reinterpret_cast<const char*>(actual) + y * bytesPerLine);
        for (int i = 0; i < width * 4; ++i) {
            const Sample want = expected[std::size_t(y) * width * 4 + i];
            if (row[i] != want)
                return testing::AssertionFailure() << "pixel " << i / 4 << "," << y << " channel " << i % 4 << " (B, G, R, A): "
                                                   << unsigned(row[i]) << " instead of " << unsigned(want);
        }
    }
    return testing::AssertionSuccess();
}

// Files as other programs write them, each plain and interlaced, read through the file reader
// (16 bits) and the project file's stream reader (16 and 8 bits), sample by sample.
TEST(SourceImageFile, PngsOfEveryKindReadBackAsWritten)
{
    namespace files = sourceimagefiles;
    const PngKind kinds[] = {
        {"rgb8", PNG_COLOR_TYPE_RGB, 8, false},         {"rgb16", PNG_COLOR_TYPE_RGB, 16, false},
        {"rgba8", PNG_COLOR_TYPE_RGBA, 8, false},       {"rgba16", PNG_COLOR_TYPE_RGBA, 16, false},
        {"grey8", PNG_COLOR_TYPE_GRAY, 8, false},       {"grey16", PNG_COLOR_TYPE_GRAY, 16, false},
        {"grey4", PNG_COLOR_TYPE_GRAY, 4, false},       {"grey1", PNG_COLOR_TYPE_GRAY, 1, false},
        {"greyalpha8", PNG_COLOR_TYPE_GA, 8, false},    {"greyalpha16", PNG_COLOR_TYPE_GA, 16, false},
        {"palette8trns", PNG_COLOR_TYPE_PALETTE, 8, true}, {"palette4trns", PNG_COLOR_TYPE_PALETTE, 4, true},
        {"palette2", PNG_COLOR_TYPE_PALETTE, 2, false}, {"grey8trns", PNG_COLOR_TYPE_GRAY, 8, true},
        {"rgb16trns", PNG_COLOR_TYPE_RGB, 16, true},
    };
    ScriptedPrompt prompt;
    for (const PngKind& kind : kinds) {
        for (bool interlaced : {false, true}) {
            const QString name = QLatin1String(kind.name) + QLatin1String(interlaced ? "-adam7.png" : ".png");
            SCOPED_TRACE(name.toStdString());
            PngPicture p = pngPicture(kind);
            const QByteArray bytes = encodePng(p, kind, interlaced);
            ASSERT_FALSE(bytes.isEmpty());
            KsSourceImage image(writeScratchFile(name, bytes));
            ASSERT_TRUE(image.isValid());
            EXPECT_EQ(image.fileKind(), KsSourceImage::FilePng);
            ASSERT_EQ(image.masterKind(), KsSourceImage::Master16Bit);
            ASSERT_EQ(image.view16().width, p.width);
            ASSERT_EQ(image.view16().height, p.height);
            EXPECT_TRUE(sameSamples(image.view16().data, image.view16().bytesPerLine, p.expected, p.width, p.height));

            std::istringstream in16(bytes.toStdString());
            std::vector<std::uint16_t> wide(p.expected.size());
            ASSERT_NO_THROW(files::readPng(in16, files::Pixels16{p.width, p.height, wide.data(), p.width * 8}));
            EXPECT_TRUE(sameSamples(wide.data(), p.width * 8, p.expected, p.width, p.height));

            std::istringstream in8(bytes.toStdString());
            std::vector<std::uint8_t> narrow(p.expected.size());
            std::vector<std::uint8_t> expected8;
            for (std::uint16_t sample : p.expected)
                expected8.push_back(KsSourceImage::full16To8(sample));
            ASSERT_NO_THROW(files::readPng(in8, files::Pixels8{p.width, p.height, narrow.data(), p.width * 4}));
            EXPECT_TRUE(sameSamples(narrow.data(), p.width * 4, expected8, p.width, p.height));
        }
    }
    EXPECT_TRUE(prompt.messages().isEmpty());
}

// --- TIFF files other programs write ----------------------------------------------------------

// One layout of TIFF file as other programs write them; the test writes it through libtiff.
struct TiffKind {
    const char* name;
    std::uint16_t photometric = PHOTOMETRIC_RGB;
    std::uint16_t bits = 8;
    std::uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    int alpha = -1;  // the ExtraSamples value of an alpha sample; -1 for none
    bool extraSamplesTag = true;  // false: the alpha sample is there, the tag saying so is not
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint16_t predictor = PREDICTOR_NONE;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint32_t tile = 0;  // tile side; 0 for strips of 16 rows
    bool resolution = false;
    const char* mode = "w";  // "w8" BigTIFF, "wb" big-endian
    bool secondPage = false;
    int tolerance = 0;  // on the 16-bit scale

    TiffKind& as(std::uint16_t p, std::uint16_t b = 8) { photometric = p; bits = b; return *this; }
    TiffKind& floats() { sampleFormat = SAMPLEFORMAT_IEEEFP; bits = 32; return *this; }
    TiffKind& withAlpha(int kind) { alpha = kind; return *this; }
    // As OpenCV writes four samples: no ExtraSamples tag at all.
    TiffKind& withUndescribedAlpha() { alpha = EXTRASAMPLE_UNASSALPHA; extraSamplesTag = false; return *this; }
    TiffKind& compressed(std::uint16_t c, std::uint16_t p = PREDICTOR_NONE) { compression = c; predictor = p; return *this; }
    TiffKind& separate() { planar = PLANARCONFIG_SEPARATE; return *this; }
    TiffKind& tiled(std::uint32_t side) { tile = side; return *this; }
    TiffKind& withResolution() { resolution = true; return *this; }
    TiffKind& opened(const char* m) { mode = m; return *this; }
    TiffKind& twoPages() { secondPage = true; return *this; }
    TiffKind& within(int t) { tolerance = t; return *this; }

    int colourSamples() const
    {
        switch (photometric) {
        case PHOTOMETRIC_RGB:
        case PHOTOMETRIC_YCBCR: return 3;
        case PHOTOMETRIC_SEPARATED: return 4;
        default: return 1;
        }
    }
    int samples() const { return colourSamples() + (alpha >= 0 ? 1 : 0); }
    std::uint32_t maxSample() const { return bits >= 16 ? 65535u : (1u << bits) - 1; }
    // The colours a palette of the kind holds: 16, or fewer where its depth allows no more.
    int paletteColours() const { return bits < 4 ? 1 << bits : 16; }
};

void PrintTo(const TiffKind& kind, std::ostream* out)
{
    *out << kind.name;
}

TiffKind tiffKind(const char* name)
{
    TiffKind kind;
    kind.name = name;
    return kind;
}

// Two 64-pixel tiles across and down, the last ones clipped.
constexpr int kTiffWidth = 100;
constexpr int kTiffHeight = 70;

// Straight B, G, R, A on the 16-bit scale.
using Bgra16 = std::array<std::uint32_t, 4>;

// Smooth ramps, so that a misplaced row, strip or tile shows; alpha at least half.
Bgra16 tiffPictureAt(int x, int y)
{
    return {std::uint32_t((x + y) * 65535 / (kTiffWidth + kTiffHeight - 2)), std::uint32_t(y * 65535 / (kTiffHeight - 1)),
            std::uint32_t(x * 65535 / (kTiffWidth - 1)), std::uint32_t(32768 + (x * 331 + y * 977) % 32768)};
}

std::uint16_t paletteEntry(int index, int channel)
{
    const int levels[3] = {index, 15 - index, (index * 7) % 16};
    return std::uint16_t(levels[channel] * 17 * 257);
}

// What the file holds at (x, y), in its own units, and what a reader must make of it.
struct TiffPixel {
    std::array<double, 5> samples{};
    Bgra16 expected{};
};

TiffPixel tiffPixelAt(const TiffKind& kind, int x, int y)
{
    const Bgra16 picture = tiffPictureAt(x, y);
    const std::uint32_t max = kind.maxSample();
    const bool floats = kind.sampleFormat == SAMPLEFORMAT_IEEEFP;
    // The file's sample for a 16-bit level, and the level a reader makes of that sample.
    const auto toFile = [&](std::uint32_t level) { return floats ? level / 65535.0 : std::floor(level * double(max) / 65535 + 0.5); };
    const auto toLevel = [&](double sample) { return floats ? std::uint32_t(sample * 65535 + 0.5) : std::uint32_t(sample * 65535 / max + 0.5); };
    TiffPixel p;
    double alpha = 0;
    std::uint32_t alphaLevel = 65535;
    if (kind.alpha >= 0) {
        alpha = toFile(picture[3]);
        alphaLevel = toLevel(alpha);
    }
    switch (kind.photometric) {
    case PHOTOMETRIC_MINISBLACK: {
        const double grey = toFile(picture[0]);
        p.samples[0] = grey;
        p.expected = {toLevel(grey), toLevel(grey), toLevel(grey), alphaLevel};
        break;
    }
    case PHOTOMETRIC_MINISWHITE: {
        // A bilevel page: 1 is black.
        const double ink = double((x / 4 + y / 3) % 2) * max;
        p.samples[0] = ink;
        const std::uint32_t level = 65535 - toLevel(ink);
        p.expected = {level, level, level, alphaLevel};
        break;
    }
    case PHOTOMETRIC_PALETTE: {
        const int index = (x / 7 + y / 5) % kind.paletteColours();
        p.samples[0] = index;
        p.expected = {paletteEntry(index, 2), paletteEntry(index, 1), paletteEntry(index, 0), alphaLevel};
        break;
    }
    case PHOTOMETRIC_SEPARATED: {
        // Inks C, M, Y, K; without a colour profile red is (1 - C)(1 - K), and so on.
        const double k = (x + y) % 64;
        const double inks[3] = {max - toFile(picture[2]), max - toFile(picture[1]), max - toFile(picture[0])};
        for (int i = 0; i < 3; ++i)
            p.samples[std::size_t(i)] = inks[i];
        p.samples[3] = k;
        const auto light = [&](double ink) {
            return std::uint32_t(std::floor((65535.0 - toLevel(ink)) * (65535.0 - toLevel(k)) / 65535 + 0.5));
        };
        p.expected = {light(inks[2]), light(inks[1]), light(inks[0]), 65535};
        break;
    }
    default: {
        const double colour[3] = {toFile(picture[2]), toFile(picture[1]), toFile(picture[0])};
        for (int i = 0; i < 3; ++i) {
            p.samples[std::size_t(i)] = colour[i];
            // Premultiplied: the file holds colour x alpha.
            if (kind.alpha == EXTRASAMPLE_ASSOCALPHA)
                p.samples[std::size_t(i)] = std::floor(colour[i] * alpha / max + 0.5);
        }
        p.expected = {toLevel(colour[2]), toLevel(colour[1]), toLevel(colour[0]), alphaLevel};
        if (floats && (x == 0 || x == kTiffWidth - 1)) {
            // Floats beyond 0..1 are clipped.
            for (int i = 0; i < 3; ++i)
                p.samples[std::size_t(i)] = x == 0 ? -0.25 : 1.5;
            p.expected = {x == 0 ? 0u : 65535u, x == 0 ? 0u : 65535u, x == 0 ? 0u : 65535u, 65535};
        }
        break;
    }
    }
    if (kind.alpha >= 0)
        p.samples[std::size_t(kind.colourSamples())] = alpha;
    return p;
}

void putTiffSample(std::uint8_t* row, std::size_t index, double value, const TiffKind& kind)
{
    if (kind.bits < 8) {
        // Packed from the high bits of each byte down.
        const std::size_t bit = index * kind.bits;
        row[bit / 8] |= std::uint8_t(unsigned(value) << (8 - kind.bits - bit % 8));
    } else if (kind.bits == 8) {
        row[index] = std::uint8_t(value);
    } else if (kind.bits == 16) {
        const std::uint16_t v = std::uint16_t(value);
        std::memcpy(row + 2 * index, &v, 2);
    } else {
        const float v = float(value);
        std::memcpy(row + 4 * index, &v, 4);
    }
}

// Writes one page of the kind, of the given size, whose samples come from sampleAt(x, y, s).
template <typename SampleAt>
bool writeTiffPage(TIFF* t, const TiffKind& kind, int width, int height, SampleAt sampleAt)
{
    const int samples = kind.samples();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, std::uint32_t(width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, std::uint32_t(height));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, std::uint16_t(samples));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, kind.bits);
    TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, kind.sampleFormat);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, kind.photometric);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, kind.planar);
    TIFFSetField(t, TIFFTAG_COMPRESSION, kind.compression);
    if (kind.predictor != PREDICTOR_NONE)
        TIFFSetField(t, TIFFTAG_PREDICTOR, kind.predictor);
    if (kind.alpha >= 0 && kind.extraSamplesTag) {
        const std::uint16_t extra = std::uint16_t(kind.alpha);
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    std::vector<std::uint16_t> map[3];
    if (kind.photometric == PHOTOMETRIC_PALETTE) {
        for (int c = 0; c < 3; ++c) {
            map[c].assign(std::size_t(1) << kind.bits, 0);
            for (int i = 0; i < kind.paletteColours(); ++i)
                map[c][std::size_t(i)] = paletteEntry(i, c);
        }
        TIFFSetField(t, TIFFTAG_COLORMAP, map[0].data(), map[1].data(), map[2].data());
    }
    if (kind.photometric == PHOTOMETRIC_SEPARATED)
        TIFFSetField(t, TIFFTAG_INKSET, INKSET_CMYK);
    if (kind.compression == COMPRESSION_JPEG) {
        TIFFSetField(t, TIFFTAG_JPEGQUALITY, 95);
        TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    if (kind.resolution) {
        TIFFSetField(t, TIFFTAG_XRESOLUTION, 300.0f);
        TIFFSetField(t, TIFFTAG_YRESOLUTION, 300.0f);
        TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    }
    if (kind.secondPage)
        TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);

    const bool separate = kind.planar == PLANARCONFIG_SEPARATE;
    const int planes = separate ? samples : 1;
    const int perPixel = separate ? 1 : samples;
    const std::size_t rowBytes = (std::size_t(width) * perPixel * kind.bits + 7) / 8;
    const int rowsPerStrip = 16;
    if (kind.tile) {
        TIFFSetField(t, TIFFTAG_TILEWIDTH, kind.tile);
        TIFFSetField(t, TIFFTAG_TILELENGTH, kind.tile);
    } else {
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, std::uint32_t(rowsPerStrip));
    }
    for (int plane = 0; plane < planes; ++plane) {
        std::vector<std::uint8_t> rows(rowBytes * std::size_t(height), 0);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int s = 0; s < perPixel; ++s)
                    putTiffSample(rows.data() + std::size_t(y) * rowBytes, std::size_t(x) * perPixel + s,
                                  sampleAt(x, y, separate ? plane : s), kind);
        if (!kind.tile) {
            for (int y = 0; y < height; y += rowsPerStrip) {
                const std::size_t bytes = rowBytes * std::size_t(std::min(rowsPerStrip, height - y));
                if (TIFFWriteEncodedStrip(t, TIFFComputeStrip(t, std::uint32_t(y), std::uint16_t(plane)),
                                          rows.data() + std::size_t(y) * rowBytes, tmsize_t(bytes)) < 0)
                    return false;
            }
            continue;
        }
        const std::size_t pixelBytes = std::size_t(perPixel) * kind.bits / 8;
        std::vector<std::uint8_t> tile(kind.tile * kind.tile * pixelBytes);
        for (std::uint32_t ty = 0; ty < std::uint32_t(height); ty += kind.tile)
            for (std::uint32_t tx = 0; tx < std::uint32_t(width); tx += kind.tile) {
                std::fill(tile.begin(), tile.end(), 0);
                const std::size_t across = std::min<std::size_t>(kind.tile, width - tx) * pixelBytes;
                for (std::uint32_t r = 0; r < kind.tile && ty + r < std::uint32_t(height); ++r)
                    std::memcpy(tile.data() + r * kind.tile * pixelBytes, rows.data() + (ty + r) * rowBytes + tx * pixelBytes, across);
                if (TIFFWriteTile(t, tile.data(), tx, ty, 0, std::uint16_t(plane)) < 0)
                    return false;
            }
    }
    return TIFFWriteDirectory(t) != 0;
}

// The file of the kind, with the corpus picture on its first page.
QString writeTiffOfKind(const TiffKind& kind)
{
    const QString path = scratchPath(QStringLiteral("others/%1.tif").arg(QLatin1String(kind.name)));
    QDir().mkpath(QFileInfo(path).absolutePath());
    TIFF* t = TIFFOpen(QFile::encodeName(path).constData(), kind.mode);
    if (!t)
        return QString();
    bool ok = writeTiffPage(t, kind, kTiffWidth, kTiffHeight,
                            [&kind](int x, int y, int s) { return tiffPixelAt(kind, x, y).samples[std::size_t(s)]; });
    if (ok && kind.secondPage) {
        // A smaller, different second page, which the reader leaves alone.
        ok = writeTiffPage(t, kind, 9, 5, [&kind](int, int, int) { return double(kind.maxSample()); });
    }
    TIFFClose(t);
    return ok ? path : QString();
}

class SourceImageTiff : public testing::TestWithParam<TiffKind> {};

TEST_P(SourceImageTiff, OpensWithThePixelsItWasWrittenWith)
{
    const TiffKind& kind = GetParam();
    const QString path = writeTiffOfKind(kind);
    ASSERT_FALSE(path.isEmpty());
    ScriptedPrompt prompt;
    LogCapture log;
    KsSourceImage image(path);
    ASSERT_TRUE(image.isValid());
    EXPECT_TRUE(prompt.messages().isEmpty());
    EXPECT_EQ(image.fileKind(), KsSourceImage::FileTiff);
    ASSERT_EQ(image.masterKind(), KsSourceImage::Master16Bit);
    EXPECT_EQ(image.sampleFormat(), KsSourceImage::Samples16);
    ASSERT_EQ(image.width(), kTiffWidth);
    ASSERT_EQ(image.height(), kTiffHeight);
    const KsSourceImage::View16& v = image.view16();
    int wrong = 0;
    for (int y = 0; y < kTiffHeight; ++y)
        for (int x = 0; x < kTiffWidth; ++x) {
            const std::uint16_t* got = reinterpret_cast<const std::uint16_t*>(
                reinterpret_cast<const char*>(v.data) + y * v.bytesPerLine) + 4 * x;
            const Bgra16 want = tiffPixelAt(kind, x, y).expected;
            for (int c = 0; c < 4; ++c)
                if (std::abs(int(got[c]) - int(want[std::size_t(c)])) > kind.tolerance && wrong++ < 4)
                    ADD_FAILURE() << "at " << x << "," << y << " channel " << c << ": " << got[c] << " instead of "
                                  << want[std::size_t(c)];
        }
    EXPECT_EQ(wrong, 0);
}

// Every kind without resolution tags, and those that opened wrongly even with them.
const TiffKind kTiffKinds[] = {
    tiffKind("Rgb8"),
    tiffKind("Rgb16Lzw").as(PHOTOMETRIC_RGB, 16).compressed(COMPRESSION_LZW, PREDICTOR_HORIZONTAL),
    tiffKind("Rgba8Deflate").withAlpha(EXTRASAMPLE_UNASSALPHA).compressed(COMPRESSION_ADOBE_DEFLATE, PREDICTOR_HORIZONTAL),
    tiffKind("Rgba16Associated").as(PHOTOMETRIC_RGB, 16).withAlpha(EXTRASAMPLE_ASSOCALPHA).within(2),
    tiffKind("Rgba8WithoutExtraSamples").withUndescribedAlpha(),
    tiffKind("Rgba16WithoutExtraSamples").as(PHOTOMETRIC_RGB, 16).withUndescribedAlpha().compressed(COMPRESSION_LZW, PREDICTOR_HORIZONTAL),
    tiffKind("Rgba8Associated").withAlpha(EXTRASAMPLE_ASSOCALPHA).within(260),
    tiffKind("Rgba8AssociatedWithResolution").withAlpha(EXTRASAMPLE_ASSOCALPHA).within(260).withResolution(),
    tiffKind("Grey8PackBits").as(PHOTOMETRIC_MINISBLACK).compressed(COMPRESSION_PACKBITS),
    tiffKind("Grey16Deflate").as(PHOTOMETRIC_MINISBLACK, 16).compressed(COMPRESSION_ADOBE_DEFLATE),
    tiffKind("GreyAlpha8").as(PHOTOMETRIC_MINISBLACK).withAlpha(EXTRASAMPLE_UNASSALPHA),
    tiffKind("Palette8Lzw").as(PHOTOMETRIC_PALETTE).compressed(COMPRESSION_LZW),
    tiffKind("Palette8WithResolution").as(PHOTOMETRIC_PALETTE).withResolution(),
    tiffKind("PaletteAlpha8").as(PHOTOMETRIC_PALETTE).withAlpha(EXTRASAMPLE_UNASSALPHA).compressed(COMPRESSION_ADOBE_DEFLATE),
    // ImageMagick's for a picture of up to four colours: two bits of index and two of alpha.
    tiffKind("PaletteAlpha2Bits").as(PHOTOMETRIC_PALETTE, 2).withAlpha(EXTRASAMPLE_UNASSALPHA),
    tiffKind("PaletteAlpha4BitsTiled").as(PHOTOMETRIC_PALETTE, 4).withAlpha(EXTRASAMPLE_UNASSALPHA).tiled(64),
    tiffKind("PaletteAlpha8SeparatePlanes").as(PHOTOMETRIC_PALETTE).withUndescribedAlpha().separate(),
    tiffKind("Cmyk8").as(PHOTOMETRIC_SEPARATED),
    tiffKind("BilevelGroup4").as(PHOTOMETRIC_MINISWHITE, 1).compressed(COMPRESSION_CCITTFAX4),
    tiffKind("BilevelGroup4WithResolution").as(PHOTOMETRIC_MINISWHITE, 1).compressed(COMPRESSION_CCITTFAX4).withResolution(),
    tiffKind("Float32").floats().compressed(COMPRESSION_ADOBE_DEFLATE, PREDICTOR_FLOATINGPOINT),
    tiffKind("Float32WithResolution").floats().withResolution(),
    tiffKind("JpegYCbCr").as(PHOTOMETRIC_YCBCR).compressed(COMPRESSION_JPEG).within(8 * 257),
    tiffKind("Tiled").tiled(64).withAlpha(EXTRASAMPLE_UNASSALPHA).compressed(COMPRESSION_ADOBE_DEFLATE),
    tiffKind("TiledWithResolution").tiled(64).compressed(COMPRESSION_LZW).withResolution(),
    tiffKind("SeparatePlanes").separate().withAlpha(EXTRASAMPLE_UNASSALPHA).compressed(COMPRESSION_LZW),
    tiffKind("SeparatePlanesWithResolution").separate().withAlpha(EXTRASAMPLE_UNASSALPHA).withResolution(),
    tiffKind("TiledSeparatePlanes16").as(PHOTOMETRIC_RGB, 16).tiled(64).separate(),
    tiffKind("BigTiff").opened("w8").compressed(COMPRESSION_LZW),
    tiffKind("BigTiffWithResolution").opened("w8").withResolution(),
    tiffKind("BigEndian16").as(PHOTOMETRIC_RGB, 16).opened("wb").compressed(COMPRESSION_LZW, PREDICTOR_HORIZONTAL),
    tiffKind("TwoPages").twoPages(),
};

INSTANTIATE_TEST_SUITE_P(WrittenByOthers, SourceImageTiff, testing::ValuesIn(kTiffKinds),
                         [](const testing::TestParamInfo<TiffKind>& info) { return std::string(info.param.name); });

// A file no reader could show as it is meant: its data is damaged, or its samples are signed, for
// which no mapping to display levels is agreed. Each is refused, never shown with wrong pixels.
TEST(SourceImageFile, TiffsThatCannotBeDecodedAreRefused)
{
    const QString damaged = writeTiffOfKind(tiffKind("Damaged").compressed(COMPRESSION_ADOBE_DEFLATE).withResolution());
    ASSERT_FALSE(damaged.isEmpty());
    TIFF* t = TIFFOpen(QFile::encodeName(damaged).constData(), "r");
    ASSERT_NE(t, nullptr);
    std::uint64_t* offsets = nullptr;
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_STRIPOFFSETS, &offsets));
    const std::uint64_t last = offsets[TIFFNumberOfStrips(t) - 1];
    TIFFClose(t);
    QByteArray bytes = fileBytes(damaged);
    ASSERT_GT(std::uint64_t(bytes.size()), last + 16);
    for (int i = 0; i < 16; ++i)
        bytes[int(last) + i] = char(0xA5);
    writeScratchFile(QStringLiteral("others/Damaged.tif"), bytes);

    TiffKind signedKind = tiffKind("Signed16").as(PHOTOMETRIC_RGB, 16).withResolution();
    signedKind.sampleFormat = SAMPLEFORMAT_INT;
    const QString signedSamples = writeTiffOfKind(signedKind);
    ASSERT_FALSE(signedSamples.isEmpty());

    for (const QString& path : {damaged, signedSamples}) {
        ScriptedPrompt prompt;
        LogCapture log;
        KsSourceImage image(path);
        EXPECT_FALSE(image.isValid()) << path.toStdString();
        ASSERT_EQ(prompt.messages().size(), 1) << path.toStdString();
        EXPECT_TRUE(prompt.messages().first().text.startsWith(QStringLiteral("Sorry - could not open file ") + path))
            << prompt.messages().first().text.toStdString();
    }
}

// The photo in one strip as ImageMagick writes it: JPEG in colour, or Group 4 in black and white.
QString writePhotoTiff(const QString& name, std::uint16_t compression)
{
    const QImage photo = QImage(dataFile("chelsea.png")).convertToFormat(QImage::Format_RGB888);
    const QString path = scratchPath(name);
    TIFF* t = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (photo.isNull() || !t)
        return QString();
    const bool bilevel = compression == COMPRESSION_CCITTFAX4;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, std::uint32_t(photo.width()));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, std::uint32_t(photo.height()));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, std::uint16_t(bilevel ? 1 : 3));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, std::uint16_t(bilevel ? 1 : 8));
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, bilevel ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, std::uint32_t(photo.height()));
    std::vector<std::uint8_t> row(std::size_t(photo.width()) * 3);
    bool ok = true;
    for (int y = 0; y < photo.height() && ok; ++y) {
        const std::uint8_t* rgb = photo.constScanLine(y);
        if (bilevel) {
            std::fill(row.begin(), row.end(), 0);
            for (int x = 0; x < photo.width(); ++x)
                if (rgb[3 * x] + rgb[3 * x + 1] + rgb[3 * x + 2] < 3 * 128)
                    row[std::size_t(x) / 8] |= std::uint8_t(0x80 >> (x % 8));
        } else {
            std::memcpy(row.data(), rgb, row.size());
        }
        ok = TIFFWriteScanline(t, row.data(), std::uint32_t(y), 0) >= 0;
    }
    TIFFClose(t);
    return ok ? path : QString();
}

// Every third byte of a 2000-byte stretch a third of the way into the file, in the pixel data.
void scramble(const QString& path, char key)
{
    QByteArray bytes = fileBytes(path);
    for (int i = bytes.size() / 3; i < std::min(bytes.size(), bytes.size() / 3 + 2000); i += 3)
        bytes[i] = char(bytes[i] ^ key);
    writeScratchFile(QFileInfo(path).fileName(), bytes);
}

// A decoder that meets damaged data reports an error and still hands over its rows, grey or
// garbled from the damage on. Such a file is refused with the decoder's words.
TEST(SourceImageFile, TiffsWhoseDecoderReportsDamageAreRefused)
{
    const QString jpeg = writePhotoTiff(QStringLiteral("damaged-jpeg.tif"), COMPRESSION_JPEG);
    const QString fax = writePhotoTiff(QStringLiteral("damaged-group4.tif"), COMPRESSION_CCITTFAX4);
    ASSERT_FALSE(jpeg.isEmpty());
    ASSERT_FALSE(fax.isEmpty());
    for (const QString& path : {jpeg, fax}) {
        ScriptedPrompt prompt;
        LogCapture log;
        KsSourceImage image(path);
        ASSERT_TRUE(image.isValid()) << "undamaged " << path.toStdString();
    }
    scramble(jpeg, 0x33);
    scramble(fax, 0x5A);
    const std::pair<QString, QString> cases[] = {{jpeg, QStringLiteral("JPEGLib: ")}, {fax, QStringLiteral("Fax4Decode: ")}};
    for (const auto& [path, decoder] : cases) {
        ScriptedPrompt prompt;
        LogCapture log;
        KsSourceImage image(path);
        EXPECT_FALSE(image.isValid()) << path.toStdString();
        EXPECT_EQ(prompt.messages().size(), 1) << path.toStdString();
        if (prompt.messages().isEmpty())
            continue;
        const QString& message = prompt.messages().first().text;
        EXPECT_TRUE(message.startsWith(QStringLiteral("Sorry - could not open file ") + path + QStringLiteral("\n\n")))
            << message.toStdString();
        EXPECT_TRUE(message.contains(decoder)) << message.toStdString();
    }
}

// How far apart two 16-bit images of one size are, in levels of 255: colours at most and on
// average, alpha at most.
struct Distance {
    double colourMax = 0;
    double colourMean = 0;
    double alphaMax = 0;
};

Distance distance(const KsSourceImage::View16& a, const KsSourceImage::View16& b)
{
    Distance d;
    double sum = 0;
    for (int y = 0; y < a.height; ++y) {
        const std::uint16_t* p = reinterpret_cast<const std::uint16_t*>(reinterpret_cast<const char*>(a.data) + y * a.bytesPerLine);
        const std::uint16_t* q = reinterpret_cast<const std::uint16_t*>(reinterpret_cast<const char*>(b.data) + y * b.bytesPerLine);
        for (int x = 0; x < 4 * a.width; ++x) {
            const double levels = std::abs(int(p[x]) - int(q[x])) / 257.0;
            if (x % 4 == 3) {
                d.alphaMax = std::max(d.alphaMax, levels);
                continue;
            }
            d.colourMax = std::max(d.colourMax, levels);
            sum += levels;
        }
    }
    d.colourMean = sum / (3.0 * a.width * a.height);
    return d;
}

// The L*a*b* TIFF `name` of the test data written again as `file` among the scratch files, in
// one strip, its rows `repeat` times over, with photometric interpretation `photometric`;
// `change` may alter each row (its samples, pixel after pixel) first.
template <typename Change>
QString rewriteLabTiff(const char* name, const QString& file, std::uint16_t photometric, int repeat, Change change)
{
    TIFF* in = TIFFOpen(QFile::encodeName(dataFile((std::string(name) + ".tif").c_str())).constData(), "r");
    const QString path = scratchPath(file);
    TIFF* out = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!in || !out)
        return QString();
    std::uint32_t width = 0, height = 0;
    std::uint16_t bits = 0, samples = 0, extraCount = 0;
    std::uint16_t* extra = nullptr;
    float* white = nullptr;
    TIFFGetField(in, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(in, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(in, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(in, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, height * std::uint32_t(repeat));
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(out, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, height * std::uint32_t(repeat));
    if (TIFFGetField(in, TIFFTAG_EXTRASAMPLES, &extraCount, &extra))
        TIFFSetField(out, TIFFTAG_EXTRASAMPLES, extraCount, extra);
    if (TIFFGetField(in, TIFFTAG_WHITEPOINT, &white))
        TIFFSetField(out, TIFFTAG_WHITEPOINT, white);
    const std::size_t rowBytes = std::size_t(TIFFScanlineSize(in));
    std::vector<std::uint8_t> rows(rowBytes * height);
    bool ok = true;
    for (std::uint32_t y = 0; y < height && ok; ++y) {
        ok = TIFFReadScanline(in, rows.data() + y * rowBytes, y, 0) >= 0;
        change(rows.data() + y * rowBytes, width, samples, bits);
    }
    for (std::uint32_t y = 0; y < height * std::uint32_t(repeat) && ok; ++y)
        ok = TIFFWriteScanline(out, rows.data() + (y % height) * rowBytes, y, 0) >= 0;
    TIFFClose(in);
    TIFFClose(out);
    return ok ? path : QString();
}

// CIE L*a*b* TIFFs as ImageMagick writes them from a photo, 8-bit, and 16-bit with alpha,
// against its own reading of them (tests/data/SOURCES.md). A file of many rows, whose colours
// are turned in bands side by side, reads as its rows do on their own.
TEST(SourceImageFile, CieLabTiffsOpenWithTheColoursOtherProgramsReadInThem)
{
    for (const char* name : {"lab8", "lab16a"}) {
        SCOPED_TRACE(name);
        ScriptedPrompt prompt;
        KsSourceImage lab(dataFile((std::string(name) + ".tif").c_str()));
        KsSourceImage read(dataFile((std::string(name) + "-read.png").c_str()));
        ASSERT_TRUE(lab.isValid());
        ASSERT_TRUE(read.isValid());
        EXPECT_TRUE(prompt.messages().isEmpty());
        ASSERT_EQ(lab.masterKind(), KsSourceImage::Master16Bit);
        ASSERT_EQ(lab.width(), read.width());
        ASSERT_EQ(lab.height(), read.height());
        const Distance d = distance(lab.view16(), read.view16());
        EXPECT_LE(d.colourMax, 3.0);
        EXPECT_LT(d.colourMean, 0.5);
        EXPECT_EQ(d.alphaMax, 0.0);

        constexpr int repeat = 250;
        const QString tall = rewriteLabTiff(name, QStringLiteral("%1-tall.tif").arg(QLatin1String(name)), PHOTOMETRIC_CIELAB,
                                            repeat, [](std::uint8_t*, std::uint32_t, std::uint16_t, std::uint16_t) {});
        ASSERT_FALSE(tall.isEmpty());
        KsSourceImage many(tall);
        ASSERT_TRUE(many.isValid());
        ASSERT_EQ(many.height(), lab.height() * repeat);
        const KsSourceImage::View16& m = many.view16();
        const KsSourceImage::View16& one = lab.view16();
        for (int y = 0; y < m.height; ++y)
            ASSERT_EQ(std::memcmp(reinterpret_cast<const char*>(m.data) + y * m.bytesPerLine,
                                  reinterpret_cast<const char*>(one.data) + (y % one.height) * one.bytesPerLine,
                                  std::size_t(one.width) * 8),
                      0)
                << "row " << y;
    }
}

// ICC's encoding of the same colours: a* and b* offset by 128; 16-bit ones in ICC's version 2
// form, whose L* = 100 is 0xFF00.
void toIccLab(std::uint8_t* row, std::uint32_t width, std::uint16_t samples, std::uint16_t bits)
{
    for (std::uint32_t x = 0; x < width; ++x) {
        if (bits == 8) {
            std::uint8_t* p = row + std::size_t(x) * samples;
            p[1] = std::uint8_t(p[1] ^ 0x80);
            p[2] = std::uint8_t(p[2] ^ 0x80);
        } else {
            std::uint16_t* p = reinterpret_cast<std::uint16_t*>(row) + std::size_t(x) * samples;
            p[0] = std::uint16_t((p[0] * 65280u + 32767u) / 65535u);
            p[1] = std::uint16_t(p[1] ^ 0x8000);
            p[2] = std::uint16_t(p[2] ^ 0x8000);
        }
    }
}

// The same colours in ICC's L*a*b* encoding open as in TIFF's own; colour fax's (ITU), whose
// ranges a tag of its own sets, is refused with that reason.
TEST(SourceImageFile, IccLabTiffsOpenAsTheirCieTwinsAndItuLabIsRefused)
{
    ScriptedPrompt prompt;
    for (const char* name : {"lab8", "lab16a"}) {
        SCOPED_TRACE(name);
        const QString twin =
            rewriteLabTiff(name, QStringLiteral("%1-icc.tif").arg(QLatin1String(name)), PHOTOMETRIC_ICCLAB, 1, toIccLab);
        ASSERT_FALSE(twin.isEmpty());
        KsSourceImage cie(dataFile((std::string(name) + ".tif").c_str()));
        KsSourceImage icc(twin);
        ASSERT_TRUE(cie.isValid());
        ASSERT_TRUE(icc.isValid());
        ASSERT_EQ(icc.width(), cie.width());
        ASSERT_EQ(icc.height(), cie.height());
        const Distance d = distance(icc.view16(), cie.view16());
        EXPECT_LT(d.colourMax, 0.05);
        EXPECT_EQ(d.alphaMax, 0.0);
    }
    EXPECT_TRUE(prompt.messages().isEmpty());

    const QString itu = scratchPath(QStringLiteral("itu-lab.tif"));
    TIFF* t = TIFFOpen(QFile::encodeName(itu).constData(), "w");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, std::uint32_t(2));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, std::uint32_t(1));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, std::uint16_t(8));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, std::uint16_t(3));
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_ITULAB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    std::uint8_t row[6] = {200, 128, 128, 100, 90, 170};
    ASSERT_GE(TIFFWriteScanline(t, row, 0, 0), 0);
    TIFFClose(t);
    LogCapture log;
    KsSourceImage image(itu);
    EXPECT_FALSE(image.isValid());
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_TRUE(prompt.messages().first().text.startsWith(QStringLiteral("Sorry - could not open file ") + itu
                                                          + QStringLiteral("\n\nITU L*a*b* colours are not supported")))
        << prompt.messages().first().text.toStdString();
}

// The message says why, in the reader's words, between the file's name and the hint.
TEST(SourceImageFile, ARefusedFileIsToldWithItsReason)
{
    TiffKind signedKind = tiffKind("SignedSamples").as(PHOTOMETRIC_RGB, 16);
    signedKind.sampleFormat = SAMPLEFORMAT_INT;
    // Refused by its header; its samples are never read.
    TiffKind wideKind = tiffKind("Unsigned32").as(PHOTOMETRIC_RGB, 32);
    const QString signedSamples = writeTiffOfKind(signedKind);
    const QString wideSamples = writeTiffOfKind(wideKind);
    ASSERT_FALSE(signedSamples.isEmpty());
    ASSERT_FALSE(wideSamples.isEmpty());
    const QByteArray png = fileBytes(dataFile("chelsea.png"));
    const QString cutPng = writeScratchFile(QStringLiteral("cut.png"), png.left(png.size() / 2));
    const QString text = writeScratchFile(QStringLiteral("words.jpg"), QByteArray("just some words\n"));
    const std::pair<QString, QString> cases[] = {
        {signedSamples, QStringLiteral("Samples of format 2 and 16 bits are not supported")},
        {wideSamples, QStringLiteral("Samples of 32 bits are not supported")},
        {cutPng, QStringLiteral("The file ends early")},
        {text, QStringLiteral("Unsupported image format")},
    };
    for (const auto& [path, reason] : cases) {
        ScriptedPrompt prompt;
        LogCapture log;
        KsSourceImage image(path);
        EXPECT_FALSE(image.isValid()) << path.toStdString();
        ASSERT_EQ(prompt.messages().size(), 1) << path.toStdString();
        const QString& message = prompt.messages().first().text;
        const QString begin = QStringLiteral("Sorry - could not open file ") + path + QStringLiteral("\n\n") + reason;
        EXPECT_TRUE(message.startsWith(begin)) << message.toStdString() << "\ndoes not begin with\n" << begin.toStdString();
    }
}

// --- conversions and views ------------------------------------------------------------------

TEST(SourceImageSamples, ConversionEdges)
{
    EXPECT_EQ(KsSourceImage::half16To8(32768), 255);
    EXPECT_EQ(KsSourceImage::half16ToFull(32768), 65535);
    EXPECT_EQ(KsSourceImage::half16To8(16384), 127);
    EXPECT_EQ(KsSourceImage::half16ToFull(16384), 32767);
    EXPECT_EQ(KsSourceImage::full16To8(65535), 255);
    EXPECT_EQ(KsSourceImage::full16To8(128), 0);
    EXPECT_EQ(KsSourceImage::full16To8(129), 1);
    // Samples beyond the half scale saturate instead of wrapping.
    EXPECT_EQ(KsSourceImage::half16To8(65535), 255);
    EXPECT_EQ(KsSourceImage::half16ToFull(65535), 65535);
}

TEST(SourceImageSamples, HalfScaleViewIsUsedInPlaceAndConvertedToFullScale)
{
    std::vector<std::uint16_t> host = wideRow({32768, 16384, 0, 32768, 1, 2, 3, 16384});
    KsSourceImage image(KsSourceImage::View16{2, 1, host.data(), 16}, QStringLiteral("host"));
    ASSERT_TRUE(image.isValid());
    EXPECT_TRUE(image.isBorrowed());
    EXPECT_EQ(image.masterKind(), KsSourceImage::Master16Bit);
    EXPECT_EQ(image.sampleFormat(), KsSourceImage::Samples16Half);
    EXPECT_EQ(image.view16().data, host.data());
    EXPECT_EQ(image.qImage().pixel(0, 0), qRgba(0, 127, 255, 255));
    EXPECT_EQ(image.fullResolutionPixels().pixelType, DvPixelRgba16H);

    KsSourceImage full(image, KsSourceImage::FullRange{});
    ASSERT_TRUE(full.isValid());
    EXPECT_EQ(full.sampleFormat(), KsSourceImage::Samples16);
    EXPECT_EQ(full.view16().data[0], 65535);
    EXPECT_EQ(full.view16().data[1], 32767);
    EXPECT_EQ(full.fullResolutionPixels().pixelType, DvPixelRgba16);
    EXPECT_EQ(host[0], 32768);  // the host's pixels are left as they are

    // Only format 3 to 2 converts.
    KsSourceImage again(full, KsSourceImage::FullRange{});
    const std::uint16_t before = again.view16().data[1];
    again.convertFormat(KsSourceImage::Samples16);
    EXPECT_EQ(again.view16().data[1], before);
}

TEST(SourceImageSamples, EngineWritesShowAfterThePixmapIsMarkedDirty)
{
    std::vector<std::uint16_t> host = wideRow({0, 0, 0, 32768});
    KsSourceImage image(KsSourceImage::View16{1, 1, host.data(), 8}, QStringLiteral("host"));
    host[2] = 32768;
    EXPECT_EQ(image.qImage().pixel(0, 0), qRgba(0, 0, 0, 255));
    image.setPixmapDirty();
    EXPECT_EQ(image.qImage().pixel(0, 0), qRgba(255, 0, 0, 255));

    // An 8-bit master shares the pixels the engine writes; its pixmap is rebuilt as well.
    std::vector<std::uint32_t> pixels8(4, 0xff000000u);
    KsSourceImage shared(KsSourceImage::View8{2, 2, reinterpret_cast<std::uint8_t*>(pixels8.data()), 8}, QStringLiteral("m"));
    ASSERT_TRUE(shared.isValid());
    const qint64 key = shared.pixmap().cacheKey();
    pixels8[0] = 0xffffffffu;
    shared.setPixmapDirty();
    EXPECT_NE(shared.pixmap().cacheKey(), key);
    EXPECT_EQ(shared.pixmap().toImage().pixel(0, 0), 0xffffffffu);
}

TEST(SourceImageSamples, DroppedImagesBecomeStraightArgb32)
{
    QImage premultiplied(2, 1, QImage::Format_ARGB32_Premultiplied);
    premultiplied.setPixel(0, 0, qRgba(64, 0, 0, 128));  // premultiplied red at half alpha
    premultiplied.setPixel(1, 0, qRgba(10, 20, 30, 255));
    QImage indexed = premultiplied.convertToFormat(QImage::Format_Indexed8);
    for (const QImage& given : {premultiplied, indexed, premultiplied.convertToFormat(QImage::Format_RGB16)}) {
        KsSourceImage image(NamedImage(given, QUrl(QStringLiteral("http://example.org/pics/cat.png?x=1"))));
        ASSERT_TRUE(image.isValid());
        EXPECT_EQ(image.fileName(), QStringLiteral("cat.png"));
        EXPECT_EQ(image.masterKind(), KsSourceImage::MasterDisplayImage);
        EXPECT_EQ(image.qImage().format(), QImage::Format_ARGB32);
        expectSamePixels(image.qImage(), given.convertToFormat(QImage::Format_ARGB32));
        EXPECT_EQ(image.fullResolutionPixels().pixelType, DvPixelRgba8);
    }
    KsSourceImage fromPremultiplied(NamedImage(premultiplied, QUrl()));
    EXPECT_NEAR(qRed(fromPremultiplied.qImage().pixel(0, 0)), 128, 1);
    EXPECT_EQ(qAlpha(fromPremultiplied.qImage().pixel(0, 0)), 128);

    KsSourceImage nothing{NamedImage(QImage(), QUrl())};
    EXPECT_FALSE(nothing.isValid());
}

TEST(SourceImageSamples, CopiesAreDeepAndViewCopiesShare)
{
    std::vector<std::uint16_t> host = wideRow({100, 200, 300, 32768});
    KsSourceImage original(KsSourceImage::View16{1, 1, host.data(), 8}, QStringLiteral("o"));
    KsSourceImage deep(original);
    KsSourceImage view(original, 0);
    ASSERT_TRUE(deep.isValid());
    ASSERT_TRUE(view.isValid());
    EXPECT_NE(deep.view16().data, host.data());
    EXPECT_EQ(view.view16().data, host.data());
    EXPECT_TRUE(view.isBorrowed());
    EXPECT_FALSE(deep.isBorrowed());
    view.view16().data[0] = 7;
    EXPECT_EQ(host[0], 7);
    EXPECT_EQ(deep.view16().data[0], 100);

    KsSourceImage kind0(NamedImage(redBlueHalf(), QUrl()));
    KsSourceImage kind0View(kind0, 0);
    KsSourceImage kind0Deep(kind0);
    EXPECT_EQ(kind0View.view8().data, kind0.view8().data);
    EXPECT_NE(kind0Deep.view8().data, kind0.view8().data);
    expectSamePixels(kind0Deep.qImage(), kind0.qImage());
}

// --- the working image ----------------------------------------------------------------------

TEST(SourceImageWorking, HalfResolutionMatchesTheEngineAndFullResolutionShares)
{
    ModelReset reset;
    QImage picture(5, 3, QImage::Format_ARGB32);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            picture.setPixel(x, y, qRgba(x * 50, y * 80, (x + y) * 20, 255));
    KsSourceImage image(NamedImage(picture, QUrl()));

    useDivisor(2);
    image.updateWorkingImage();
    ASSERT_EQ(image.workingImage().size(), QSize(3, 2));
    QImage reference(3, 2, QImage::Format_ARGB32);
    ASSERT_EQ(DvScaleImage(KsSourceImage::imageDescriptor(reference), KsSourceImage::imageDescriptor(image.qImage())), DvOk);
    expectSamePixels(image.workingImage(), reference);
    EXPECT_EQ(image.workingView().width, 3);
    EXPECT_EQ(image.workingView().data, image.workingImage().constBits());

    // Built once per divisor: the engine keeps reading these pixels during its session.
    const uchar* address = image.workingImage().constBits();
    image.updateWorkingImage();
    EXPECT_EQ(image.workingImage().constBits(), address);

    useDivisor(1);
    image.updateWorkingImage();
    EXPECT_EQ(image.workingImage().constBits(), image.qImage().constBits());
    EXPECT_EQ(image.workingPixmap().cacheKey(), image.pixmap().cacheKey());
    EXPECT_EQ(image.workingView().data, image.view8().data);
}

TEST(SourceImageWorking, EngineRefusalFallsBackToQtScaling)
{
    ModelReset reset;
    QImage column(1, 3, QImage::Format_ARGB32);
    column.fill(qRgba(10, 20, 30, 255));
    KsSourceImage image(NamedImage(column, QUrl()));
    useDivisor(2);
    LogCapture log;
    image.updateWorkingImage();
    ASSERT_EQ(image.workingImage().size(), QSize(1, 2));
    EXPECT_EQ(image.workingImage().pixel(0, 0), qRgba(10, 20, 30, 255));
    EXPECT_EQ(image.workingImage().pixel(0, 1), qRgba(10, 20, 30, 255));
    bool logged = false;
    for (const QString& line : log.lines())
        logged = logged || line.contains(QStringLiteral("DvScaleImage returned"));
    EXPECT_TRUE(logged);
}

// --- fingerprint and project map ------------------------------------------------------------

TEST(SourceImageProject, ChecksumCoversTheFirstRowOnly)
{
    QImage a(4, 3, QImage::Format_ARGB32);
    a.fill(qRgba(1, 2, 3, 255));
    QImage b = a.copy();
    b.setPixel(2, 2, qRgba(9, 9, 9, 255));
    QImage c = a.copy();
    c.setPixel(0, 0, qRgba(9, 9, 9, 255));
    const quint32 sa = KsSourceImage(NamedImage(a, QUrl())).checksum();
    EXPECT_NE(sa, 0u);
    EXPECT_EQ(KsSourceImage(NamedImage(b, QUrl())).checksum(), sa);
    EXPECT_NE(KsSourceImage(NamedImage(c, QUrl())).checksum(), sa);
    // Width and height enter the fingerprint too.
    EXPECT_NE(KsSourceImage(NamedImage(a.copy(0, 0, 4, 2), QUrl())).checksum(), sa);
}

TEST(SourceImageProject, MapRoundTripsForEveryKind)
{
    ScriptedPrompt prompt;
    KsSourceImage kind0(NamedImage(redBlueHalf(), QUrl(QStringLiteral("file:///tmp/rbh.png"))));
    KsSourceImage kind1(dataFile("chelsea16.png"));
    std::vector<std::uint32_t> pixels8 = {0x80ff0000u, 0xff00ff00u, 0x000000ffu, 0xffffffffu};
    KsSourceImage kind2(KsSourceImage::View8{2, 2, reinterpret_cast<std::uint8_t*>(pixels8.data()), 8}, QStringLiteral("host"));
    for (KsSourceImage* original : {&kind0, &kind1, &kind2}) {
        ASSERT_TRUE(original->isValid());
        const QVariant map = original->toVariant();
        KsSourceImage back(map);
        ASSERT_TRUE(back.isValid()) << original->masterKind();
        EXPECT_EQ(back.masterKind(), original->masterKind());
        EXPECT_EQ(back.sampleFormat(), original->sampleFormat());
        EXPECT_EQ(back.fileName(), original->fileName());
        EXPECT_FALSE(back.isBorrowed());
        expectSamePixels(back.qImage(), original->qImage());
        EXPECT_EQ(back.checksum(), original->checksum());
        if (original->masterKind() == KsSourceImage::Master16Bit) {
            const auto& v = original->view16();
            for (int y = 0; y < v.height; ++y)
                ASSERT_EQ(std::memcmp(back.view16().data + y * v.width * 4, v.data + y * v.width * 4, std::size_t(v.width) * 8), 0);
        }
    }
    // The stored form of the 8-bit buffer keeps its alpha as it is.
    EXPECT_EQ(KsSourceImage(kind2.toVariant()).qImage().pixel(0, 0), 0x80ff0000u);
}

TEST(SourceImageProject, OldMapsAndDamagedMaps)
{
    QVariantMap old;
    old.insert(QStringLiteral("valid_"), true);
    old.insert(QStringLiteral("filename_"), QStringLiteral("old.jpg"));
    old.insert(QStringLiteral("imageImage_"), redBlueHalf());
    KsSourceImage image{QVariant(old)};
    ASSERT_TRUE(image.isValid());
    EXPECT_EQ(image.masterKind(), KsSourceImage::MasterDisplayImage);
    EXPECT_EQ(image.sampleFormat(), KsSourceImage::Samples8);
    expectSamePixels(image.qImage(), redBlueHalf());

    QVariantMap damaged = old;
    damaged.insert(QStringLiteral("imageMaster_"), 1);
    damaged.insert(QStringLiteral("format_"), 2);
    damaged.insert(QStringLiteral("imageImage_"), QByteArray("\x89PNG\r\n\x1a\n garbage"));
    LogCapture log;
    EXPECT_FALSE(KsSourceImage{QVariant(damaged)}.isValid());

    QVariantMap invalid;
    invalid.insert(QStringLiteral("valid_"), false);
    KsSourceImage none{QVariant(invalid)};
    EXPECT_FALSE(none.isValid());
    EXPECT_EQ(none.checksum(), 0u);
}

// --- saving ----------------------------------------------------------------------------------

std::uint16_t extraSamplesOf(const QString& path)
{
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tiff)
        return 0xffff;
    std::uint16_t count = 0;
    std::uint16_t* values = nullptr;
    std::uint16_t result = 0xfffe;
    if (TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &count, &values) && count == 1)
        result = values[0];
    TIFFClose(tiff);
    return result;
}

TEST(SourceImageSave, EightBitPngAndTiffReadBackTheSame)
{
    ScriptedPrompt prompt;
    KsSourceImage image(NamedImage(redBlueHalf(), QUrl()));
    for (int kind : {KsSourceImage::FilePng, KsSourceImage::FileTiff}) {
        const QString path = scratchPath(kind == KsSourceImage::FilePng ? QStringLiteral("rbh8.png") : QStringLiteral("rbh8.tif"));
        image.setFileName(path);
        image.setFileKind(kind);
        ASSERT_TRUE(image.save()) << kind;
        KsSourceImage back(path);
        ASSERT_TRUE(back.isValid());
        EXPECT_EQ(back.fileKind(), kind);
        expectSamePixels(back.qImage(), redBlueHalf());
        if (kind == KsSourceImage::FileTiff) {
            EXPECT_EQ(extraSamplesOf(path), EXTRASAMPLE_UNASSALPHA);
        }
    }
    EXPECT_TRUE(prompt.messages().isEmpty());
}

TEST(SourceImageSave, SixteenBitPngAndTiffKeepEverySample)
{
    ScriptedPrompt prompt;
    // B, G, R, A: red, blue, and a half-transparent colour with samples no 8-bit file holds.
    std::vector<std::uint16_t> host = wideRow({0, 0, 32768, 32768, 32768, 0, 0, 32768, 1000, 20000, 30001, 16385});
    KsSourceImage half(KsSourceImage::View16{3, 1, host.data(), 24}, QStringLiteral("h"));
    for (int kind : {KsSourceImage::FilePng, KsSourceImage::FileTiff}) {
        const QString path = scratchPath(kind == KsSourceImage::FilePng ? QStringLiteral("rbh16.png") : QStringLiteral("rbh16.tif"));
        half.setFileName(path);
        half.setFileKind(kind);
        // A half-scale image is written on the full scale.
        ASSERT_TRUE(half.save());
        KsSourceImage back(path);
        ASSERT_TRUE(back.isValid());
        ASSERT_EQ(back.sampleFormat(), KsSourceImage::Samples16);
        for (std::size_t i = 0; i < host.size(); ++i)
            EXPECT_EQ(back.view16().data[i], KsSourceImage::half16ToFull(host[i])) << "sample " << i;
        if (kind == KsSourceImage::FileTiff) {
            EXPECT_EQ(extraSamplesOf(path), EXTRASAMPLE_UNASSALPHA);
        }

        // A full-scale image is written as it is.
        const QString again = scratchPath(kind == KsSourceImage::FilePng ? QStringLiteral("rbh16b.png") : QStringLiteral("rbh16b.tif"));
        back.setFileName(again);
        ASSERT_TRUE(back.save());
        KsSourceImage third(again);
        ASSERT_TRUE(third.isValid());
        EXPECT_EQ(std::memcmp(third.view16().data, back.view16().data, host.size() * 2), 0);
    }
    EXPECT_TRUE(prompt.messages().isEmpty());
}

TEST(SourceImageSave, FailedSaveLeavesNoFileAndKeepsTheOldOne)
{
    KsSourceImage image(NamedImage(redBlueHalf(), QUrl()));
    const QString missing = scratchPath(QStringLiteral("no-such-folder/out.png"));
    image.setFileName(missing);
    image.setFileKind(KsSourceImage::FilePng);
    LogCapture log;
    EXPECT_FALSE(image.save());
    EXPECT_FALSE(QFile::exists(missing));
    EXPECT_FALSE(QDir(scratchPath(QStringLiteral("no-such-folder"))).exists());

    // Replacing a file leaves nothing else behind and keeps the old file's permissions.
    const QString folder = scratchPath(QStringLiteral("replace"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString target = folder + QStringLiteral("/photo.png");
    writeScratchFile(QStringLiteral("replace/photo.png"), QByteArray("old contents"));
    QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
    image.setFileName(target);
    ASSERT_TRUE(image.save());
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("photo.png")});
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    expectSamePixels(QImage(target).convertToFormat(QImage::Format_ARGB32), redBlueHalf());

    // Nothing to write with: no file kind.
    image.setFileKind(KsSourceImage::FileNone);
    EXPECT_FALSE(image.save());
}

// A disk that fills up (a lowered file-size limit stands in for it) mid-file or in the last bytes,
// which the writers leave to the file device's buffer: each writer fails with the system's
// reason and leaves the earlier file as it was, with nothing beside it.
TEST(SourceImageSave, AWriteCutShortFailsWithItsReasonAndKeepsTheEarlierFile)
{
    ScriptedPrompt prompt;
    LogCapture log;
    KsSourceImage narrow(NamedImage(QImage(dataFile("chelsea.png")), QUrl()));
    KsSourceImage wide(dataFile("chelsea.png"));
    ASSERT_EQ(narrow.sampleFormat(), KsSourceImage::Samples8);
    ASSERT_EQ(wide.sampleFormat(), KsSourceImage::Samples16);
    const QString folder = scratchPath(QStringLiteral("limited"));
    const QString target = folder + QStringLiteral("/photo");
    const QByteArray earlier("the earlier file");
    for (KsSourceImage* image : {&narrow, &wide}) {
        for (int kind : {KsSourceImage::FilePng, KsSourceImage::FileTiff}) {
            const QString whole = scratchPath(QStringLiteral("whole"));
            image->setFileName(whole);
            image->setFileKind(kind);
            ASSERT_TRUE(image->save());
            const qint64 size = QFileInfo(whole).size();
            image->setFileName(target);
            for (qint64 limit : {size / 2, size - 100, size - 1}) {
                SCOPED_TRACE(testing::Message() << image->sampleFormat() << " " << kind << ": " << limit << " of "
                                                << size << " bytes");
                writeScratchFile(QStringLiteral("limited/photo"), earlier);
                QString reason;
                bool saved = true;
                {
                    FileSizeLimit lowered{rlim_t(limit)};
                    ASSERT_TRUE(lowered.isSet());
                    saved = image->save(&reason);
                }
                EXPECT_FALSE(saved);
                EXPECT_EQ(reason.toStdString(), "File too large");
                EXPECT_EQ(fileBytes(target), earlier);
                EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("photo")});
            }
        }
    }
    EXPECT_TRUE(prompt.messages().isEmpty());
}

// A link the user saves through, in another folder than its file: the file gets the image, the
// link stays a link, and no temporary file is left in either folder.
TEST(SourceImageSave, ASaveThroughALinkReplacesTheFileItNamesAndKeepsTheLink)
{
    ScriptedPrompt prompt;
    KsSourceImage image(NamedImage(redBlueHalf(), QUrl()));
    const QString target = writeScratchFile(QStringLiteral("photos/photo.png"), QByteArray("old contents"));
    const QString link = scratchPath(QStringLiteral("links/photo.png"));
    ASSERT_TRUE(QDir().mkpath(scratchPath(QStringLiteral("links"))));
    ASSERT_TRUE(QFile::link(QStringLiteral("../photos/photo.png"), link));
    // A link whose file is not there yet names the file to create.
    const QString dangling = scratchPath(QStringLiteral("links/new.tif"));
    ASSERT_TRUE(QFile::link(QStringLiteral("../photos/new.tif"), dangling));

    image.setFileName(link);
    image.setFileKind(KsSourceImage::FilePng);
    ASSERT_TRUE(image.save());
    image.setFileName(dangling);
    image.setFileKind(KsSourceImage::FileTiff);
    ASSERT_TRUE(image.save());

    for (const QString& path : {link, dangling}) {
        EXPECT_TRUE(QFileInfo(path).isSymLink()) << path.toStdString();
        KsSourceImage back(path);
        ASSERT_TRUE(back.isValid()) << path.toStdString();
        expectSamePixels(back.qImage(), redBlueHalf());
    }
    EXPECT_EQ(QDir(scratchPath(QStringLiteral("photos"))).entryList(QDir::Files | QDir::Hidden),
              (QStringList{QStringLiteral("new.tif"), QStringLiteral("photo.png")}));
    EXPECT_EQ(QDir(scratchPath(QStringLiteral("links"))).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{QStringLiteral("new.tif"), QStringLiteral("photo.png")}));
    EXPECT_TRUE(prompt.messages().isEmpty());
}

// --- the model's frame -------------------------------------------------------------------------

TEST(ModelFrame, ResolutionForPixelCounts)
{
    ModelReset reset;
    GmModel* model = GmModel::instance();
    EXPECT_EQ(GmModel::instance(), model);
    EXPECT_EQ(model->resolution(), 1);
    EXPECT_EQ(model->source(), nullptr);
    EXPECT_EQ(model->output(), nullptr);
    QList<QPair<int, int>> emitted;
    QObject::connect(model, &GmModel::resolutionChanged, [&](int o, int n) { emitted.append({o, n}); });
    const struct {
        qint64 pixels;
        int divisor;
    } cases[] = {{4000000, 1}, {4000001, 2}, {16000001, 4}, {16000004, 8}, {100000000, 8},
                 {qint64(50000) * 50000, 8}, {16000004, 8}, {1, 1}};
    int previous = 1;
    for (const auto& c : cases) {
        model->chooseResolutionForPixelCount(c.pixels);
        EXPECT_EQ(model->resolution(), c.divisor) << c.pixels;
        ASSERT_FALSE(emitted.isEmpty());
        EXPECT_EQ(emitted.last(), qMakePair(previous, c.divisor)) << c.pixels;
        previous = c.divisor;
    }
    // Emitted every time, also when the divisor stays.
    EXPECT_EQ(emitted.size(), int(sizeof cases / sizeof cases[0]));
}

TEST(ModelFrame, DestroyClearsTheInstance)
{
    GmModel* first = GmModel::instance();
    first->chooseResolutionForPixelCount(100000000);
    GmModel::destroy();
    GmModel* second = GmModel::instance();
    EXPECT_EQ(second->resolution(), 1);
    GmModel::destroy();
    GmModel::destroy();  // twice is harmless
}

} // namespace
