// The source image: file reading by kind, the 8-bit display form, the working image at the
// model's divisor, the project map, and PNG / TIFF saving with transparency.

#include "document/GmModel.h"
#include "document/KsSourceImage.h"
#include "document/NamedImage.h"

#include "ExifBlock.h"
#include "FileSizeLimit.h"
#include "LogCapture.h"
#include "ScriptedPrompt.h"
#include "ScratchFiles.h"

#include <QDir>
#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

#include <tiffio.h>

#include <cstring>
#include <vector>

#include <sys/stat.h>

using testsupport::FileSizeLimit;
using testsupport::LogCapture;
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
        EXPECT_TRUE(m.text.startsWith(QStringLiteral("Sorry - could not open file ") + path + QStringLiteral("\n\nIf you have")))
            << m.text.toStdString();
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
