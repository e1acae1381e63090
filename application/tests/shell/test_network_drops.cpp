// Drops on the canvas of the running program: addresses of local files and of a scripted
// server on the loopback interface, images carried by the drop and plain text. The largest
// image becomes the document and the fallback tool becomes current. Each case runs in its own
// process.

#include "canvas/GmZoomWidget.h"
#include "document/GmModel.h"
#include "document/KsSourceImage.h"
#include "document/SourceImageFiles.h"
#include "shell/KsApp.h"
#include "shell/KsMainWindow.h"
#include "tools/ArrowTool.h"
#include "tools/GmTool.h"
#include "tools/NoTool.h"

#include "ExifBlock.h"
#include "HostileImages.h"
#include "HttpResponder.h"
#include "MainWindowRun.h"
#include "PeakMemory.h"
#include "ProgramRun.h"
#include "ScratchFiles.h"
#include "ScriptedPrompt.h"
#include "Wait.h"

#include <QBuffer>
#include <QDir>
#include <QDropEvent>
#include <QImage>
#include <QMimeData>

#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <functional>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::closeSoon;
using testsupport::engineIdle;
using testsupport::HttpResponder;
using testsupport::mainWindow;
using testsupport::ScriptedPrompt;
using testsupport::waitUntil;

namespace {

QUrl localPng(const QString& name, int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::red);
    const QString path = QDir(qEnvironmentVariable("KESTRINE_TEST_SCRATCH")).filePath(name);
    image.save(path, "PNG");
    return QUrl::fromLocalFile(path);
}

// Drops the data on the canvas as the window system would; true when the drop was accepted.
bool dropOnCanvas(QMimeData* data)
{
    GmZoomWidget* canvas = mainWindow()->imageView()->canvas();
    if (!canvas)
        return false;
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    drop.setAccepted(false);
    // Straight to the widget: the application holds back drops while no drag is running.
    static_cast<QObject*>(canvas)->event(&drop);
    return drop.isAccepted();
}

QSize documentSize()
{
    const KsSourceImage* source = GmModel::instance()->source();
    return source ? QSize(source->width(), source->height()) : QSize();
}

const QString kFruits = QStringLiteral(KESTRINE_TEST_DATA "/fruits.jpg");

// The 512 x 480 photo as a camera held on its side stores it: as taken, with orientation 6.
QByteArray sidewaysPhoto()
{
    return testsupport::spliceAfterSoi(testsupport::fileBytes(kFruits), testsupport::ExifBlock::orientationApp1(6));
}

// The document's top left pixel: the photo's bottom left one once it is turned upright.
QRgb documentCorner()
{
    const KsSourceImage* source = GmModel::instance()->source();
    return source && source->view8().data ? *reinterpret_cast<const QRgb*>(source->view8().data) : 0;
}

QRgb uprightCorner()
{
    const QImage stored = QImage(kFruits).convertToFormat(QImage::Format_ARGB32);
    return stored.pixel(0, stored.height() - 1);
}

// Runs the body in the program's window, then closes it.
void inWindow(const std::function<void()>& body)
{
    KsApp::setStartUpHook([body](QWidget* window) {
        body();
        closeSoon(window);
    });
    testsupport::runMain({"kestrine3"});
    KsApp::setStartUpHook(nullptr);
}

TEST(NetworkDrops, AWebImageLargerThanTheLocalOneBecomesTheDocument)
{
    ScriptedPrompt prompt;
    QSize opened;
    QString name;
    bool fallbackTool = false;
    QStringList requests;
    inWindow([&] {
        // A document worked on with the Select tool: the drop replaces it and starts over.
        ASSERT_TRUE(testsupport::openPhoto());
        ASSERT_TRUE(mainWindow()->arrowTool()->installSlot());
        HttpResponder server;
        server.servePng("/big.png", 64, 48);
        QMimeData data;
        data.setUrls({QUrl(server.url("/big.png")), localPng("small.png", 32, 24)});
        ASSERT_TRUE(dropOnCanvas(&data));
        ASSERT_TRUE(waitUntil([] { return documentSize() == QSize(64, 48); }));
        ASSERT_TRUE(engineIdle());
        opened = documentSize();
        name = GmModel::instance()->source()->fileName();
        // The fallback tool came back, and gave way to the first brush once the edges were
        // being found, as it does after every new image.
        fallbackTool = GmTool::currentTool() == mainWindow()->deleteLocalBrush();
        requests = server.requests();
    });
    EXPECT_EQ(opened, QSize(64, 48));
    EXPECT_EQ(name, QStringLiteral("big.png"));
    EXPECT_TRUE(fallbackTool);
    EXPECT_EQ(requests, (QStringList{"HEAD /big.png", "GET /big.png"}));
    EXPECT_TRUE(prompt.messages().isEmpty());
}

// The document a drop opened: its size and its top left pixel.
struct Opened {
    QSize size;
    QRgb corner = 0;
};

// In the window: drops the address on the canvas and waits for the document it opens.
void dropAndWait(const QUrl& url, Opened& opened)
{
    QMimeData data;
    data.setUrls({url});
    ASSERT_TRUE(dropOnCanvas(&data));
    ASSERT_TRUE(waitUntil([] { return GmModel::instance()->source() != nullptr; }));
    ASSERT_TRUE(engineIdle());
    opened = {documentSize(), documentCorner()};
}

TEST(NetworkDrops, ADroppedPhotoOnItsSideOpensUpright)
{
    ScriptedPrompt prompt;
    const QString path = testsupport::writeScratchFile(QStringLiteral("sideways.jpg"), sidewaysPhoto());
    Opened opened;
    inWindow([&] { dropAndWait(QUrl::fromLocalFile(path), opened); });
    EXPECT_EQ(opened.size, QSize(480, 512));
    EXPECT_EQ(opened.corner, uprightCorner());
    EXPECT_TRUE(prompt.messages().isEmpty());
}

// The photo written by the program's own TIFF writer into the scratch folder; empty when it
// cannot be written.
QString tiffOf(const QImage& photo)
{
    const QString path = testsupport::scratchPath(QStringLiteral("photo.tif"));
    std::ofstream out(QFile::encodeName(path).toStdString(), std::ios::binary);
    sourceimagefiles::writeTiff(out, sourceimagefiles::Pixels8{photo.width(), photo.height(),
                                                               const_cast<std::uint8_t*>(photo.constBits()),
                                                               photo.bytesPerLine()});
    return out.flush() ? path : QString();
}

// Qt reads no TIFF on this system; a dropped one opens as the File menu opens it.
TEST(NetworkDrops, ADroppedTiffOpens)
{
    ScriptedPrompt prompt;
    const QImage photo = QImage(kFruits).convertToFormat(QImage::Format_ARGB32);
    const QString path = tiffOf(photo);
    ASSERT_FALSE(path.isEmpty());
    Opened opened;
    inWindow([&] { dropAndWait(QUrl::fromLocalFile(path), opened); });
    EXPECT_EQ(opened.size, photo.size());
    EXPECT_EQ(opened.corner, photo.pixel(0, 0));
    EXPECT_TRUE(prompt.messages().isEmpty());
}

// A damaged picture is named, with the reason, as when it is opened from the File menu; a
// dropped JPEG cut short is refused as it is there.
TEST(NetworkDrops, ADamagedDroppedPictureIsRefusedWithItsName)
{
    ScriptedPrompt prompt;
    const QByteArray png = testsupport::fileBytes(QStringLiteral(KESTRINE_TEST_DATA "/chelsea.png"));
    const QString cutPng = testsupport::writeScratchFile(QStringLiteral("cut.png"), png.left(png.size() / 2));
    const QByteArray jpeg = testsupport::fileBytes(kFruits);
    const QString cutJpeg = testsupport::writeScratchFile(QStringLiteral("cut.jpg"), jpeg.left(jpeg.size() / 2));
    bool noDocument = false;
    inWindow([&] {
        for (const QString& path : {cutPng, cutJpeg}) {
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(path)});
            ASSERT_TRUE(dropOnCanvas(&data));
        }
        ASSERT_TRUE(engineIdle());
        noDocument = GmModel::instance()->source() == nullptr;
    });
    EXPECT_TRUE(noDocument);
    ASSERT_EQ(prompt.messages().size(), 2);
    for (int i = 0; i < 2; ++i) {
        const QString begin = QStringLiteral("Sorry - could not open file ") + (i == 0 ? cutPng : cutJpeg) + QStringLiteral("\n\n");
        EXPECT_TRUE(prompt.messages()[i].text.startsWith(begin)) << prompt.messages()[i].text.toStdString();
    }
}

// In the window: drops the address and waits for the message the drop ends with; the peak of
// the memory grown meanwhile.
std::uint64_t dropAndWaitForMessage(const QUrl& url, const ScriptedPrompt& prompt)
{
    testsupport::PeakResidentGrowth peak;
    EXPECT_TRUE(peak.isReset());
    QMimeData data;
    data.setUrls({url});
    EXPECT_TRUE(dropOnCanvas(&data));
    EXPECT_TRUE(waitUntil([&prompt] { return !prompt.messages().isEmpty(); }));
    const std::uint64_t grown = peak.megabytes();
    EXPECT_TRUE(engineIdle());
    return grown;
}

// A dropped PNG is read as the File menu reads it: a chunk claiming 2 GB in a file of a few
// bytes is refused, by name, without the memory it claims.
TEST(NetworkDrops, ADroppedPngClaimingGigabytesIsRefusedWithoutTakingThem)
{
    ScriptedPrompt prompt;
    const QString path = testsupport::writeScratchFile(QStringLiteral("claim.png"), testsupport::chunkClaimingTwoGigabytes());
    bool noDocument = false;
    std::uint64_t grown = 0;
    inWindow([&] {
        grown = dropAndWaitForMessage(QUrl::fromLocalFile(path), prompt);
        noDocument = GmModel::instance()->source() == nullptr;
    });
    EXPECT_TRUE(noDocument);
    EXPECT_LT(grown, 100u);
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_TRUE(prompt.messages()[0].text.startsWith(QStringLiteral("Sorry - could not open file ") + path))
        << prompt.messages()[0].text.toStdString();
}

// A photo of 6000 x 4000 pixels in a JPEG of a few hundred kilobytes; decoded, its pixels take
// 96 MB.
QByteArray largeJpeg()
{
    QImage photo(6000, 4000, QImage::Format_RGB32);
    photo.fill(QColor(40, 120, 60));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    photo.save(&buffer, "JPEG");
    return bytes;
}

const QString kNotEnoughMemory = QStringLiteral("Sorry - not enough memory to open file ");

// A dropped picture of a kind Qt reads is weighed from its header, as one opened from the File
// menu: a JPEG whose pixels do not fit in the memory available is refused before it is
// decoded, by name and size, without the memory its pixels would take.
TEST(NetworkDrops, ADroppedJpegThatDoesNotFitIsRefusedBeforeItIsDecoded)
{
    ScriptedPrompt prompt;
    const QString path = testsupport::writeScratchFile(QStringLiteral("large.jpg"), largeJpeg());
    bool noDocument = false;
    std::uint64_t grown = ~std::uint64_t(0);
    inWindow([&] {
        testsupport::ReportedMemory little(qint64(64) << 20);
        grown = dropAndWaitForMessage(QUrl::fromLocalFile(path), prompt);
        noDocument = GmModel::instance()->source() == nullptr;
    });
    EXPECT_TRUE(noDocument);
    EXPECT_LT(grown, 48u);
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_TRUE(prompt.messages()[0].text.startsWith(kNotEnoughMemory + path
                                                     + QStringLiteral("\n\nThe image has 6000 x 4000 pixels: ")))
        << prompt.messages()[0].text.toStdString();
}

// A fetched PNG is read by the program's own reader, as a dropped file is: a chunk claiming 2 GB
// in a body of a few bytes costs nothing, and the picture, which has no pixels, is not opened.
TEST(NetworkDrops, AFetchedPngClaimingGigabytesIsRefusedWithoutTakingThem)
{
    ScriptedPrompt prompt;
    bool noDocument = false;
    std::uint64_t grown = ~std::uint64_t(0);
    inWindow([&] {
        HttpResponder server;
        HttpResponder::Answer claim;
        claim.contentType = "image/png";
        claim.body = testsupport::chunkClaimingTwoGigabytes();
        server.answer(QStringLiteral("/claim.png"), claim);
        grown = dropAndWaitForMessage(QUrl(server.url(QStringLiteral("/claim.png"))), prompt);
        noDocument = GmModel::instance()->source() == nullptr;
    });
    EXPECT_TRUE(noDocument);
    EXPECT_LT(grown, 100u);
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_EQ(prompt.messages()[0].text, QStringLiteral("Image could not be opened"));
}

// A fetched picture is weighed from its header before it is decoded: one that does not fit in
// the memory available is refused with its address and size.
TEST(NetworkDrops, AFetchedPictureThatDoesNotFitIsRefusedBeforeItIsDecoded)
{
    ScriptedPrompt prompt;
    bool noDocument = false;
    std::uint64_t grown = ~std::uint64_t(0);
    QString address;
    inWindow([&] {
        HttpResponder server;
        HttpResponder::Answer photo;
        photo.contentType = "image/jpeg";
        photo.body = largeJpeg();
        server.answer(QStringLiteral("/large.jpg"), photo);
        address = server.url(QStringLiteral("/large.jpg"));
        testsupport::ReportedMemory little(qint64(64) << 20);
        grown = dropAndWaitForMessage(QUrl(address), prompt);
        noDocument = GmModel::instance()->source() == nullptr;
    });
    EXPECT_TRUE(noDocument);
    EXPECT_LT(grown, 48u);
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_TRUE(prompt.messages()[0].text.startsWith(kNotEnoughMemory + address
                                                     + QStringLiteral("\n\nThe image has 6000 x 4000 pixels: ")))
        << prompt.messages()[0].text.toStdString();
}

// A fetched TIFF is read by the program's own reader and opens, as a dropped one does.
TEST(NetworkDrops, AFetchedTiffOpens)
{
    ScriptedPrompt prompt;
    const QImage photo = QImage(kFruits).convertToFormat(QImage::Format_ARGB32);
    const QString path = tiffOf(photo);
    ASSERT_FALSE(path.isEmpty());
    Opened opened;
    inWindow([&] {
        HttpResponder server;
        HttpResponder::Answer answer;
        answer.contentType = "image/tiff";
        answer.body = testsupport::fileBytes(path);
        server.answer(QStringLiteral("/photo.tif"), answer);
        dropAndWait(QUrl(server.url(QStringLiteral("/photo.tif"))), opened);
    });
    EXPECT_EQ(opened.size, photo.size());
    EXPECT_EQ(opened.corner, photo.pixel(0, 0));
    EXPECT_TRUE(prompt.messages().isEmpty());
}

// What another program's drop carries: the picture as the bytes of its file, which Qt decodes
// when the drop's image is asked for.
class ForeignPictureData : public QMimeData {
public:
    explicit ForeignPictureData(const QByteArray& jpeg) : m_jpeg(jpeg) {}
    QStringList formats() const override
    {
        return {QStringLiteral("image/jpeg"), QStringLiteral("application/x-qt-image")};
    }
    bool hasFormat(const QString& format) const override { return formats().contains(format); }

protected:
    QVariant retrieveData(const QString& format, QVariant::Type) const override
    {
        if (format == QLatin1String("image/jpeg"))
            return m_jpeg;
        if (format == QLatin1String("application/x-qt-image"))
            return QImage::fromData(m_jpeg, "JPEG");
        return QVariant();
    }

private:
    QByteArray m_jpeg;
};

// A picture another program's drop carries is weighed from its header before it is decoded.
TEST(NetworkDrops, APictureAnotherProgramDropsIsWeighedBeforeItIsDecoded)
{
    ScriptedPrompt prompt;
    const QByteArray jpeg = largeJpeg();
    bool noDocument = false;
    std::uint64_t grown = ~std::uint64_t(0);
    inWindow([&] {
        testsupport::ReportedMemory little(qint64(64) << 20);
        testsupport::PeakResidentGrowth peak;
        ASSERT_TRUE(peak.isReset());
        ForeignPictureData data(jpeg);
        ASSERT_TRUE(dropOnCanvas(&data));
        grown = peak.megabytes();
        ASSERT_TRUE(engineIdle());
        noDocument = GmModel::instance()->source() == nullptr;
    });
    EXPECT_TRUE(noDocument);
    EXPECT_LT(grown, 48u);
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_TRUE(prompt.messages()[0].text.startsWith(kNotEnoughMemory
                                                     + QStringLiteral("(the dropped picture)\n\nThe image has 6000 x 4000 pixels: ")))
        << prompt.messages()[0].text.toStdString();
}

TEST(NetworkDrops, AFetchedPhotoOnItsSideOpensUpright)
{
    ScriptedPrompt prompt;
    Opened opened;
    inWindow([&] {
        HttpResponder server;
        HttpResponder::Answer photo;
        photo.contentType = "image/jpeg";
        photo.body = sidewaysPhoto();
        server.answer(QStringLiteral("/sideways.jpg"), photo);
        dropAndWait(QUrl(server.url(QStringLiteral("/sideways.jpg"))), opened);
    });
    EXPECT_EQ(opened.size, QSize(480, 512));
    EXPECT_EQ(opened.corner, uprightCorner());
    EXPECT_TRUE(prompt.messages().isEmpty());
}

TEST(NetworkDrops, OfTwoLocalImagesOfOneSizeTheFirstIsOpened)
{
    ScriptedPrompt prompt;
    QString name;
    inWindow([&] {
        QMimeData data;
        data.setUrls({localPng("first.png", 30, 20), localPng("second.png", 20, 30)});
        ASSERT_TRUE(dropOnCanvas(&data));
        ASSERT_TRUE(waitUntil([] { return GmModel::instance()->source() != nullptr; }));
        ASSERT_TRUE(engineIdle());
        name = GmModel::instance()->source()->fileName();
    });
    EXPECT_EQ(name, QStringLiteral("first.png"));
}

TEST(NetworkDrops, AnImageSearchResultFetchesOnlyTheImageItNames)
{
    ScriptedPrompt prompt;
    QStringList requests;
    QSize opened;
    inWindow([&] {
        HttpResponder server;
        server.servePng("/big.png", 64, 48);
        QMimeData data;
        data.setUrls({QUrl(QStringLiteral("http://search.example/?imgurl=%1&x=1").arg(server.url("/big.png")))});
        ASSERT_TRUE(dropOnCanvas(&data));
        ASSERT_TRUE(waitUntil([] { return documentSize() == QSize(64, 48); }));
        ASSERT_TRUE(engineIdle());
        opened = documentSize();
        requests = server.requests();
    });
    EXPECT_EQ(opened, QSize(64, 48));
    EXPECT_EQ(requests, (QStringList{"HEAD /big.png", "GET /big.png"}));
}

TEST(NetworkDrops, ASecureAddressAloneSendsNothingAndWarnsOnce)
{
    ScriptedPrompt prompt;
    int requests = -1;
    inWindow([&] {
        HttpResponder server;
        QMimeData data;
        data.setUrls({QUrl(QStringLiteral("https://127.0.0.1:%1/big.png").arg(server.port()))});
        ASSERT_TRUE(dropOnCanvas(&data));
        waitUntil([] { return false; }, 300);
        requests = server.count();
    });
    EXPECT_EQ(requests, 0);
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_EQ(prompt.messages()[0].title, QStringLiteral("Image dropped"));
    EXPECT_EQ(prompt.messages()[0].text, QStringLiteral("Image could not be opened"));
}

// A FIFO named like a picture. Should the drop open it, a writer waiting on the other end hands
// it a picture, so that the mistake shows as a new document rather than as a program held for
// good.
TEST(NetworkDrops, ADroppedFifoIsRefusedAndTheDocumentKept)
{
    ScriptedPrompt prompt;
    const QString fifo = QDir(qEnvironmentVariable("KESTRINE_TEST_SCRATCH")).filePath(QStringLiteral("pipe.png"));
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QByteArray picture;
    {
        QBuffer buffer(&picture);
        QImage image(64, 48, QImage::Format_ARGB32);
        image.fill(Qt::blue);
        ASSERT_TRUE(image.save(&buffer, "PNG"));
    }
    // Small enough for the pipe's buffer, so that the writer never waits for the bytes to go.
    ASSERT_LT(picture.size(), PIPE_BUF);
    std::thread writer([&fifo, &picture] {
        const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        ssize_t ignored = ::write(fd, picture.constData(), std::size_t(picture.size()));
        (void)ignored;
        ::close(fd);
    });

    bool accepted = false;
    QString before;
    QString after;
    inWindow([&] {
        ASSERT_TRUE(testsupport::openPhoto());
        before = GmModel::instance()->source()->fileName();
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(fifo)});
        accepted = dropOnCanvas(&data);
        ASSERT_TRUE(engineIdle());
        after = GmModel::instance()->source()->fileName();
    });
    // The writer waits for a reader while the drop left the FIFO alone: this one lets it end.
    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    writer.join();
    if (reader >= 0)
        ::close(reader);

    EXPECT_TRUE(accepted);
    EXPECT_EQ(after, before);
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_EQ(prompt.messages()[0].title, QStringLiteral("Image dropped"));
    EXPECT_EQ(prompt.messages()[0].text, QStringLiteral("Image could not be opened"));
}

TEST(NetworkDrops, TextAloneIsAcceptedAndLoadsNothing)
{
    ScriptedPrompt prompt;
    bool accepted = false;
    bool noDocument = false;
    inWindow([&] {
        QMimeData data;
        data.setText(QStringLiteral("a caption, not an address"));
        accepted = dropOnCanvas(&data);
        waitUntil([] { return false; }, 200);
        noDocument = GmModel::instance()->source() == nullptr;
    });
    EXPECT_TRUE(accepted);
    EXPECT_TRUE(noDocument);
    EXPECT_TRUE(prompt.messages().isEmpty());
}

} // namespace
