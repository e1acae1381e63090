// EXIF orientation: the section reader over hand-made and damaged blocks, the transform of
// every orientation on exact pixels, and a real photograph turned end to end.

#include "document/ExifOrientation.h"
#include "document/JpegExifReader.h"

#include "ExifBlock.h"
#include "ScratchFiles.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using testsupport::ExifBlock;
using testsupport::spliceAfterSoi;

using testsupport::scratchPath;

namespace {

QByteArray smallJpeg()
{
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    return bytes;
}

QString writeFile(const QString& name, const QByteArray& bytes)
{
    const QString path = scratchPath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        ADD_FAILURE() << "cannot write " << path.toStdString();
    return path;
}

QString jpegWith(const QString& name, const QByteArray& app1)
{
    return writeFile(name, spliceAfterSoi(smallJpeg(), app1));
}

// Six distinct opaque colours on 3 x 2 pixels.
QImage sixColours()
{
    QImage image(3, 2, QImage::Format_ARGB32);
    const QRgb colours[6] = {0xffff0000, 0xff00ff00, 0xff0000ff, 0xffffff00, 0xff00ffff, 0xffff00ff};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            image.setPixel(x, y, colours[y * 3 + x]);
    return image;
}

// Where out(x, y) comes from in the source, per orientation, for a W x H source.
QPoint sourceOf(int orientation, int x, int y, int w, int h)
{
    switch (orientation) {
    case 2: return {w - 1 - x, y};
    case 3: return {w - 1 - x, h - 1 - y};
    case 4: return {x, h - 1 - y};
    case 5: return {y, x};
    case 6: return {y, h - 1 - x};
    case 7: return {w - 1 - y, h - 1 - x};
    case 8: return {w - 1 - y, x};
    default: return {x, y};
    }
}

bool swapsSides(int orientation)
{
    return orientation >= 5 && orientation <= 8;
}

void expectUpright(const QImage& src, const QImage& out, int orientation)
{
    const int w = src.width(), h = src.height();
    ASSERT_EQ(out.size(), swapsSides(orientation) ? QSize(h, w) : QSize(w, h));
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x) {
            const QPoint s = sourceOf(orientation, x, y, w, h);
            ASSERT_EQ(out.pixel(x, y), src.pixel(s)) << "orientation " << orientation << " at " << x << "," << y;
        }
}

std::string readStderr(const std::function<void()>& action)
{
    testing::internal::CaptureStderr();
    action();
    return testing::internal::GetCapturedStderr();
}

int orientationOfBytes(const QByteArray& bytes, bool* ok = nullptr, std::FILE* messages = stderr)
{
    // An exact-sized copy, so that the sanitizers see any read past the end.
    const std::vector<unsigned char> exact(bytes.begin(), bytes.end());
    JpegExifReader reader(messages);
    const bool read = reader.readBytes(exact.data(), exact.size());
    if (ok)
        *ok = read;
    return reader.orientation();
}

// --- every orientation, both byte orders ---------------------------------------------------

class OrientationTest : public testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(OrientationTest, TurnsSixColoursExactly)
{
    const int orientation = std::get<0>(GetParam());
    const bool bigEndian = std::get<1>(GetParam());
    const QString path = jpegWith(QStringLiteral("o%1%2.jpg").arg(orientation).arg(bigEndian ? "mm" : "ii"),
                                  ExifBlock::orientationApp1(orientation, bigEndian));
    const QImage src = sixColours();
    QImage out = src;
    std::string messages = readStderr([&] { applyExifOrientation(path, out); });
    expectUpright(src, out, orientation);
    EXPECT_EQ(out.format(), QImage::Format_ARGB32);
    if (orientation == 9)
        EXPECT_NE(messages.find("Nonfatal Error : Undefined rotation value 9\n"), std::string::npos) << messages;
    else
        EXPECT_EQ(messages, "");
}

INSTANTIATE_TEST_SUITE_P(AllValues, OrientationTest,
                         testing::Combine(testing::Range(1, 10), testing::Bool()));

TEST(ExifOrientation, LongAndRationalValuesAreHonoured)
{
    for (bool bigEndian : {false, true})
        for (auto format : {ExifBlock::Long, ExifBlock::Rational}) {
            const QString path = jpegWith(QStringLiteral("fmt%1%2.jpg").arg(format).arg(bigEndian),
                                          ExifBlock::orientationApp1(6, bigEndian, format));
            int orientation = -1;
            EXPECT_TRUE(ReadJpegExifOrientation(QFile::encodeName(path).constData(), orientation));
            EXPECT_EQ(orientation, 6) << "format " << format << " big endian " << bigEndian;
            const QImage src = sixColours();
            QImage out = src;
            applyExifOrientation(path, out);
            expectUpright(src, out, 6);
        }
}

TEST(ExifOrientation, ThumbnailOrientationDoesNotOverrideTheFirst)
{
    ExifBlock block(false);
    // IFD0 at 8 (18 bytes) links to IFD1 at 26 carrying a different value.
    block.directory({{0x0112, ExifBlock::Short, 1, 8}}, 26);
    block.directory({{0x0112, ExifBlock::Short, 1, 3}});
    EXPECT_EQ(orientationOfBytes(spliceAfterSoi(smallJpeg(), block.app1())), 8);
}

TEST(ExifOrientation, OrientationInsideTheExifSubdirectory)
{
    ExifBlock block(true);
    block.directory({{0x8769, ExifBlock::Long, 1, 26}});
    block.directory({{0x0112, ExifBlock::Short, 1, 5}});
    EXPECT_EQ(orientationOfBytes(spliceAfterSoi(smallJpeg(), block.app1())), 5);
}

// --- files that are left alone -------------------------------------------------------------

TEST(ExifOrientation, OtherFormatsAreLeftUnchanged)
{
    const QImage src = sixColours();
    const QString png = scratchPath(QStringLiteral("plain.png"));
    const QString bmp = scratchPath(QStringLiteral("plain.bmp"));
    ASSERT_TRUE(src.save(png, "PNG"));
    ASSERT_TRUE(src.save(bmp, "BMP"));
    // A 1 x 1 GIF: Qt reads GIF but does not write it.
    const QString gif = writeFile(QStringLiteral("plain.gif"),
                                  QByteArray::fromHex("47494638396101000100800000000000ffffff21f904010000000"
                                                      "02c00000000010001000002024401003b"));
    for (const QString& path : {png, bmp, gif}) {
        QImage image(path);
        ASSERT_FALSE(image.isNull()) << path.toStdString();
        const QImage before = image;
        std::string messages = readStderr([&] { applyExifOrientation(path, image); });
        EXPECT_EQ(image, before) << path.toStdString();
        EXPECT_NE(messages.find("Not JPEG: "), std::string::npos) << messages;
    }
}

TEST(ExifOrientation, JpegWithoutExifAfterATurnedOneStaysAsItIs)
{
    const QString turned = jpegWith(QStringLiteral("six.jpg"), ExifBlock::orientationApp1(6));
    const QString plain = writeFile(QStringLiteral("noexif.jpg"), smallJpeg());
    QImage first = sixColours();
    applyExifOrientation(turned, first);
    EXPECT_EQ(first.size(), QSize(2, 3));
    QImage second = sixColours();
    applyExifOrientation(plain, second);
    EXPECT_EQ(second, sixColours());
    EXPECT_TRUE(exifOrientationMatrix(plain).isIdentity());
}

TEST(ExifOrientation, FileCutOffInsideASectionFailsQuietly)
{
    const QByteArray whole = spliceAfterSoi(smallJpeg(), ExifBlock::orientationApp1(6));
    const QString path = writeFile(QStringLiteral("cut.jpg"), whole.left(20));
    QImage image = sixColours();
    std::string messages = readStderr([&] { applyExifOrientation(path, image); });
    EXPECT_EQ(image, sixColours());
    EXPECT_NE(messages.find("Error : Premature end of file?\n"), std::string::npos) << messages;
    EXPECT_NE(messages.find("Not JPEG: "), std::string::npos) << messages;
}

TEST(ExifOrientation, MissingFileIsReported)
{
    int orientation = -1;
    std::string messages = readStderr([&] {
        EXPECT_FALSE(ReadJpegExifOrientation("/nonexistent/photo.jpg", orientation));
    });
    EXPECT_EQ(orientation, 0);
    EXPECT_EQ(messages, "can't open '/nonexistent/photo.jpg'\n");
}

// --- damaged blocks ------------------------------------------------------------------------

TEST(ExifReader, ShortApp1IsAnIncorrectHeader)
{
    // Ten bytes: length, "Exif", two zeros and the byte order, nothing more.
    const QByteArray app1 = ExifBlock::app1Section(QByteArray("Exif\0\0II", 8));
    ASSERT_EQ(app1.size(), 12);
    bool ok = false;
    std::string messages = readStderr([&] {
        EXPECT_EQ(orientationOfBytes(spliceAfterSoi(smallJpeg(), app1), &ok), 0);
    });
    EXPECT_TRUE(ok);
    EXPECT_EQ(messages, "Nonfatal Error : Incorrect Exif header\n");
}

TEST(ExifReader, HeaderFaultsEndTheBlockButNotTheRead)
{
    struct Case {
        QByteArray tiff;
        const char* message;
    } cases[] = {
        {QByteArray("XX\x2A\0\x08\0\0\0", 8), "Nonfatal Error : Invalid Exif alignment marker.\n"},
        {QByteArray("II\x2B\0\x08\0\0\0", 8), "Nonfatal Error : Invalid Exif start (1)\n"},
    };
    for (const Case& c : cases) {
        bool ok = false;
        std::string messages = readStderr([&] {
            orientationOfBytes(spliceAfterSoi(smallJpeg(), ExifBlock::app1Section(QByteArray("Exif\0\0", 6) + c.tiff)), &ok);
        });
        EXPECT_TRUE(ok);
        EXPECT_EQ(messages, c.message);
    }
}

TEST(ExifReader, DirectoryCountOutsideTheBlockIsIllegallySized)
{
    ExifBlock block(false);
    block.put16(3000);  // 3000 entries announced, none there
    block.put32(0);
    std::string messages = readStderr([&] { orientationOfBytes(spliceAfterSoi(smallJpeg(), block.app1())); });
    EXPECT_EQ(messages, "Nonfatal Error : Illegally sized directory\n");

    ExifBlock start(false);
    start.set32(4, 0xFFFFFFF0u);  // first directory far beyond the block
    messages = readStderr([&] { orientationOfBytes(spliceAfterSoi(smallJpeg(), start.app1())); });
    EXPECT_NE(messages.find("Nonfatal Error : Illegally sized directory\n"), std::string::npos) << messages;
}

TEST(ExifReader, MissingNextLinkAtTheBlockEndIsAccepted)
{
    ExifBlock block(false);
    block.put16(1);
    block.put16(0x0112);
    block.put16(ExifBlock::Short);
    block.put32(1);
    block.put16(6);
    block.put16(0);  // no next-directory link follows
    EXPECT_EQ(orientationOfBytes(spliceAfterSoi(smallJpeg(), block.app1()), nullptr, nullptr), 6);
}

TEST(ExifReader, BadEntriesAreSkipped)
{
    ExifBlock block(false);
    block.directory({{0x0112, 13, 1, 6},                   // no such format
                     {0x0112, ExifBlock::Short, 70000, 6}, // too many components
                     {0x0112, ExifBlock::Long, 2, 60000},  // value beyond the block
                     {0x0112, ExifBlock::Short, 1, 3}});
    int orientation = -1;
    std::string messages = readStderr([&] { orientation = orientationOfBytes(spliceAfterSoi(smallJpeg(), block.app1())); });
    EXPECT_EQ(orientation, 3);
    EXPECT_EQ(messages,
              "Nonfatal Error : Illegal number format 13 for tag 0112\n"
              "Nonfatal Error : Illegal number of components 70000 for tag 0112\n"
              "Nonfatal Error : Illegal value pointer for tag 0112\n");
}

TEST(ExifReader, CircularLinksStop)
{
    // IFD0 at 8 links to itself through the EXIF pointer and to IFD1 at 26, which links back.
    ExifBlock block(true);
    block.directory({{0x0112, ExifBlock::Short, 1, 6}, {0x8769, ExifBlock::Long, 1, 8}}, 38);
    block.directory({{0xA005, ExifBlock::Long, 1, 8}}, 8);
    bool ok = false;
    EXPECT_EQ(orientationOfBytes(spliceAfterSoi(smallJpeg(), block.app1()), &ok, nullptr), 6);
    EXPECT_TRUE(ok);
}

TEST(ExifReader, FiveThousandSelfLinksFinish)
{
    ExifBlock block(false);
    QVector<ExifBlock::Entry> entries{{0x0112, ExifBlock::Short, 1, 8}};
    for (int i = 0; i < 5000; ++i)
        entries.append({0x8769, ExifBlock::Long, 1, 8});
    block.directory(entries);
    ASSERT_LT(block.size() + 8, 65535);
    EXPECT_EQ(orientationOfBytes(spliceAfterSoi(smallJpeg(), block.app1()), nullptr, nullptr), 8);
}

TEST(ExifReader, MarkerFaults)
{
    const QByteArray jpeg = smallJpeg();
    struct Case {
        QByteArray bytes;
        const char* message;
    } cases[] = {
        {QByteArray("\xFF\xD8\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xE0", 10), "too many padding bytes\n"},
        {QByteArray("\xFF\xD8\xFF\xE0\x00\x01", 6), "Error : invalid marker\n"},
        {QByteArray("\xFF\xD8\xFF\xD9\x00\x02", 6), "No image in jpeg!\n"},
        {QByteArray("\xFF\xD8\xFF\xE0\x00\x10\x00", 7), "Error : Premature end of file?\n"},
        {QByteArray("\x42\x4D", 2), ""},
        {QByteArray(), ""},
    };
    for (const Case& c : cases) {
        bool ok = true;
        std::string messages = readStderr([&] { orientationOfBytes(c.bytes, &ok); });
        EXPECT_FALSE(ok) << c.message;
        EXPECT_EQ(messages, c.message);
    }
    // Six fill bytes are still a marker.
    bool ok = false;
    orientationOfBytes(QByteArray("\xFF\xD8\xFF\xFF\xFF\xFF\xFF\xFF\xDA\x00\x02", 11), &ok, nullptr);
    EXPECT_TRUE(ok);
}

TEST(ExifReader, ExtremeValuesAreUndefined)
{
    for (quint32 value : {0xFFFFFFFFu, 0x80000000u}) {
        ExifBlock block(false);
        block.directory({{0x0112, ExifBlock::Long, 1, value}});
        int orientation = -1;
        std::string messages = readStderr([&] { orientation = orientationOfBytes(spliceAfterSoi(smallJpeg(), block.app1())); });
        EXPECT_EQ(orientation, 0);
        EXPECT_NE(messages.find("Undefined rotation value"), std::string::npos);
    }
    // A rational with a zero denominator reads as 0.
    ExifBlock block(false);
    block.directory({{0x0112, ExifBlock::SRational, 1, 26}});
    block.put32(6);
    block.put32(0);
    EXPECT_EQ(orientationOfBytes(spliceAfterSoi(smallJpeg(), block.app1()), nullptr, nullptr), 0);
}

TEST(ExifReader, EverySeedOfTheFuzzCorpusReads)
{
    const QDir seeds(QStringLiteral(EXIF_SEEDS));
    const QStringList names = seeds.entryList(QDir::Files);
    ASSERT_GE(names.size(), 10);
    for (const QString& name : names) {
        QFile file(seeds.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        int orientation = orientationOfBytes(file.readAll(), nullptr, nullptr);
        EXPECT_GE(orientation, 0) << name.toStdString();
        EXPECT_LE(orientation, 8) << name.toStdString();
    }
}

// --- a real photograph ---------------------------------------------------------------------

TEST(ExifOrientation, PhotographWithSplicedOrientationSixTurnsExactly)
{
    QFile original(QStringLiteral(KESTRINE_TEST_DATA "/fruits.jpg"));
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    const QByteArray bytes = original.readAll();
    const QString path = writeFile(QStringLiteral("fruits-six.jpg"),
                                   spliceAfterSoi(bytes, ExifBlock::orientationApp1(6, true)));

    QImage plain;
    ASSERT_TRUE(plain.loadFromData(bytes));
    ASSERT_EQ(plain.size(), QSize(512, 480));
    QImage turned;
    ASSERT_TRUE(turned.load(path));
    // The reader itself does not turn it: only the correction does.
    ASSERT_EQ(turned, plain);
    applyExifOrientation(path, turned);
    expectUpright(plain, turned, 6);
}

} // namespace
