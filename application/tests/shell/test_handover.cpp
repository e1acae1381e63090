// The host launches run in this process: the image-editor plug-in's hand-over through two
// shared mappings, the XML control file and the edit in place, each from the command line to
// the hand-back in the destructor. Each case runs in its own process.
#include "document/GmModel.h"
#include "document/KsSourceImage.h"
#include "engine/DravikThread.h"
#include "engine/DvCmdGenerateMask.h"
#include "shell/HandOverPixels.h"
#include "shell/KsApp.h"
#include "shell/Launch.h"

#include "platform/shared_memory.h"
#include "HeldCutout.h"
#include "PeakMemory.h"
#include "RunLog.h"
#include "ProgramRun.h"
#include "ScriptedPrompt.h"
#include "Wait.h"

#include <QCoreApplication>
#include <QThread>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using testsupport::HeldCutout;
using testsupport::onStart;
using testsupport::ReportedMemory;
using testsupport::runLogHas;
using testsupport::runMain;

namespace {

using platform::SharedMemoryHandle;

constexpr int kWidth = 64;
constexpr int kHeight = 48;

// A recognisable RGBA byte for each sample (channel c of pixel i), different per seed.
std::uint8_t patternByte(int i, int c, int seed)
{
    return std::uint8_t(i * 7 + c * 61 + seed * 13 + (i >> 5));
}

std::uint16_t patternSample(int i, int c, int seed)
{
    // Spread over the host's 0..32768 scale, its top included.
    return i == 0 ? 32768 : std::uint16_t((i * 977 + c * 4099 + seed * 131) % 32769);
}

std::vector<std::uint8_t> rgba8(int seed)
{
    std::vector<std::uint8_t> bytes(std::size_t(kWidth) * kHeight * 4);
    for (int i = 0; i < kWidth * kHeight; ++i)
        for (int c = 0; c < 4; ++c)
            bytes[std::size_t(i) * 4 + c] = patternByte(i, c, seed);
    return bytes;
}

// 16-bit RGBA samples as the mapping holds them, little- or big-endian.
std::vector<std::uint8_t> rgba16(int seed, bool bigEndian)
{
    std::vector<std::uint8_t> bytes(std::size_t(kWidth) * kHeight * 8);
    for (int i = 0; i < kWidth * kHeight; ++i)
        for (int c = 0; c < 4; ++c) {
            const std::uint16_t v = patternSample(i, c, seed);
            bytes[std::size_t(i) * 8 + c * 2 + (bigEndian ? 1 : 0)] = std::uint8_t(v & 0xFF);
            bytes[std::size_t(i) * 8 + c * 2 + (bigEndian ? 0 : 1)] = std::uint8_t(v >> 8);
        }
    return bytes;
}

// The index of RGBA channel c in the program's B, G, R, A order.
int bgraIndex(int c)
{
    return c == 3 ? 3 : 2 - c;
}

class Mapping {
public:
    explicit Mapping(const std::vector<std::uint8_t>& content)
        : m_handle(platform::createSharedMemory(content.size()))
    {
        platform::SharedMemoryView view(m_handle);
        if (view)
            std::memcpy(view.data(), content.data(), content.size());
    }
    ~Mapping() { platform::closeSharedMemory(m_handle); }

    // A second descriptor for the program to take and close, as a child's inherited one.
    std::string handOver()
    {
        m_given = dup(int(m_handle));
        return platform::formatHandle(m_given);
    }
    int given() const { return m_given; }

    std::vector<std::uint8_t> bytes() const
    {
        platform::SharedMemoryView view(m_handle);
        return std::vector<std::uint8_t>(view.data(), view.data() + view.size());
    }

private:
    SharedMemoryHandle m_handle;
    int m_given = -1;
};

bool isOpen(int fd)
{
    return fcntl(fd, F_GETFD) >= 0;
}

class HandOver : public ::testing::Test {
protected:
    void TearDown() override { KsApp::setStartUpHook(nullptr); }

    int runTunnel(Mapping& result, Mapping& source, const std::string& width, const std::string& height,
                  const std::string& bits, const std::string& order, const std::string& title = "T")
    {
        return runMain({"p", "--tn", result.handOver(), source.handOver(), width, height, bits, order, title});
    }
};

TEST_F(HandOver, EightBitImageComesInAndTheAppliedCutOutGoesBack)
{
    Mapping source(rgba8(1));
    Mapping result(rgba8(1));
    bool sourceMatches = false;
    bool outputMatches = false;
    bool closeOnExec = false;
    QString name;
    onStart([&](KsApp& app) {
        KsSourceImage* in = app.sourceImage();
        KsSourceImage* out = app.outputImage();
        ASSERT_TRUE(in && out);
        ASSERT_EQ(in->width(), kWidth);
        ASSERT_EQ(in->height(), kHeight);
        name = in->fileName();
        sourceMatches = outputMatches = true;
        for (int i = 0; i < kWidth * kHeight; ++i)
            for (int c = 0; c < 4; ++c) {
                sourceMatches &= in->view8().data[i * 4 + bgraIndex(c)] == patternByte(i, c, 1);
                outputMatches &= out->view8().data[i * 4 + bgraIndex(c)] == patternByte(i, c, 1);
            }
        // The cut-out: a different pattern written into the output image.
        for (int i = 0; i < kWidth * kHeight; ++i)
            for (int c = 0; c < 4; ++c)
                out->view8().data[i * 4 + bgraIndex(c)] = patternByte(i, c, 2);
        closeOnExec = (fcntl(source.given(), F_GETFD) & FD_CLOEXEC) && (fcntl(result.given(), F_GETFD) & FD_CLOEXEC);
    });
    EXPECT_EQ(runTunnel(result, source, "64", "48", "8", "little"), 0);
    EXPECT_TRUE(sourceMatches);
    EXPECT_TRUE(outputMatches);
    EXPECT_EQ(name, QStringLiteral("T"));
    EXPECT_TRUE(closeOnExec);
    EXPECT_EQ(result.bytes(), rgba8(2));
    EXPECT_EQ(source.bytes(), rgba8(1));
    // Both inherited descriptors are closed at the end.
    EXPECT_FALSE(isOpen(source.given()));
    EXPECT_FALSE(isOpen(result.given()));
}

TEST_F(HandOver, DiscardedOrEmptyRunsWriteNothing)
{
    for (HandBackStatus status : {HandBackDiscarded, HandBackNothing}) {
        Mapping source(rgba8(1));
        Mapping result(rgba8(3));
        onStart([](KsApp& app) { std::memset(app.outputImage()->view8().data, 0, kWidth * kHeight * 4); }, status);
        EXPECT_EQ(runTunnel(result, source, "64", "48", "8", "little"), int(status));
        EXPECT_EQ(result.bytes(), rgba8(3)) << status;
        EXPECT_FALSE(isOpen(result.given()));
    }
}

// A layer that does not fit in the memory available is told, naming the document, and the run
// ends as out of memory, writing nothing back.
TEST_F(HandOver, ALayerThatDoesNotFitInMemoryIsToldAndEndsWithEleven)
{
    testsupport::ScriptedPrompt prompt;
    ReportedMemory little(1024);
    Mapping source(rgba8(1));
    Mapping result(rgba8(3));
    bool started = false;
    onStart([&](KsApp&) { started = true; });
    EXPECT_EQ(runTunnel(result, source, "64", "48", "8", "little", "Layer 1"), 11);
    EXPECT_FALSE(started);
    EXPECT_EQ(result.bytes(), rgba8(3));
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_TRUE(prompt.messages()[0].text.startsWith(
        QStringLiteral("Sorry - not enough memory to open file Layer 1\n\nThe image has 64 x 48 pixels")))
        << prompt.messages()[0].text.toStdString();
}

TEST_F(HandOver, SixteenBitLittleEndianSamplesPassUnchangedOnTheHostScale)
{
    Mapping source(rgba16(1, false));
    Mapping result(rgba16(1, false));
    bool matches = false;
    int format = 0;
    onStart([&](KsApp& app) {
        KsSourceImage* in = app.sourceImage();
        KsSourceImage* out = app.outputImage();
        ASSERT_TRUE(in && out);
        format = in->sampleFormat();
        matches = true;
        for (int i = 0; i < kWidth * kHeight; ++i)
            for (int c = 0; c < 4; ++c)
                matches &= in->view16().data[i * 4 + bgraIndex(c)] == patternSample(i, c, 1);
        for (int i = 0; i < kWidth * kHeight; ++i)
            for (int c = 0; c < 4; ++c)
                out->view16().data[i * 4 + bgraIndex(c)] = patternSample(i, c, 2);
    });
    EXPECT_EQ(runTunnel(result, source, "64", "48", "16", "little"), 0);
    EXPECT_TRUE(matches);
    // The engine takes these as samples on the 0..32768 scale.
    EXPECT_EQ(format, int(KsSourceImage::Samples16Half));
    EXPECT_EQ(result.bytes(), rgba16(2, false));
}

TEST_F(HandOver, SixteenBitSamplesAreSwappedBothWaysForAnyOtherWord)
{
    for (const std::string order : {"big", ""}) {
        Mapping source(rgba16(1, true));
        Mapping result(rgba16(1, true));
        bool matches = false;
        onStart([&](KsApp& app) {
            ASSERT_TRUE(app.sourceImage());
            matches = true;
            for (int i = 0; i < kWidth * kHeight; ++i)
                for (int c = 0; c < 4; ++c) {
                    matches &= app.sourceImage()->view16().data[i * 4 + bgraIndex(c)] == patternSample(i, c, 1);
                    app.outputImage()->view16().data[i * 4 + bgraIndex(c)] = patternSample(i, c, 2);
                }
        });
        EXPECT_EQ(runTunnel(result, source, "64", "48", "16", order), 0);
        EXPECT_TRUE(matches) << order;
        EXPECT_EQ(result.bytes(), rgba16(2, true)) << order;
    }
}

TEST_F(HandOver, AGeometryBeyondItsMappingGivesNoImageAndNoWrite)
{
    // One row too many for the mapping, a zero width, a negative height, a width that does not
    // parse, an unsupported depth.
    const std::vector<std::vector<std::string>> geometries = {
        {"64", "49", "8"}, {"0", "48", "8"}, {"64", "-48", "8"}, {"64x", "48", "8"}, {"64", "48", "12"},
        {"64", "48", "16"}};
    for (const auto& geometry : geometries) {
        Mapping source(rgba8(1));
        Mapping result(rgba8(1));
        bool noImage = false;
        onStart([&](KsApp& app) { noImage = !app.sourceImage() && !app.outputImage(); });
        EXPECT_EQ(runTunnel(result, source, geometry[0], geometry[1], geometry[2], "little"), 0);
        EXPECT_TRUE(noImage) << geometry[0] << " " << geometry[1] << " " << geometry[2];
        EXPECT_EQ(result.bytes(), rgba8(1));
    }
    // The source mapping alone too small: no image either.
    Mapping small(std::vector<std::uint8_t>(16, 9));
    Mapping result(rgba8(1));
    bool noImage = false;
    onStart([&](KsApp& app) { noImage = !app.sourceImage(); });
    EXPECT_EQ(runTunnel(result, small, "64", "48", "8", "little"), 0);
    EXPECT_TRUE(noImage);
    EXPECT_EQ(result.bytes(), rgba8(1));
    EXPECT_TRUE(runLogHas(QStringLiteral("Hand-over: the source mapping holds 16 bytes, 12288 needed")));
}

TEST_F(HandOver, AClosedDescriptorGivesNoImageAndIsNeverClosedLater)
{
    Mapping source(rgba8(1));
    Mapping result(rgba8(1));
    // A number far above what the program opens on its way up, so that nothing takes it.
    const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int number = fcntl(null, F_DUPFD_CLOEXEC, 900);
    close(null);
    ASSERT_GE(number, 900);
    close(number);
    const std::string sourceText = platform::formatHandle(number);
    bool noImage = false;
    bool placed = false;
    onStart([&](KsApp& app) {
        noImage = !app.sourceImage();
        // A file the program opens later at that number is not the host's mapping to close.
        if (!isOpen(number)) {
            const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
            placed = fd >= 0 && dup2(fd, number) == number;
            close(fd);
        }
    });
    EXPECT_EQ(runMain({"p", "--tn", result.handOver(), sourceText, "64", "48", "8", "little", "T"}), 0);
    EXPECT_TRUE(noImage);
    EXPECT_EQ(result.bytes(), rgba8(1));
    if (placed) {
        EXPECT_TRUE(isOpen(number));
        close(number);
    }
}

TEST_F(HandOver, AnExceptionAfterStartUpWritesNothingBack)
{
    Mapping source(rgba8(1));
    Mapping result(rgba8(1));
    KsApp::setStartUpHook([](QWidget*) {
        std::memset(KsApp::instance()->outputImage()->view8().data, 0, kWidth * kHeight * 4);
        throw std::runtime_error("broke after the hand-over");
    });
    EXPECT_EQ(runTunnel(result, source, "64", "48", "8", "little"), 12);
    EXPECT_EQ(result.bytes(), rgba8(1));
    EXPECT_TRUE(runLogHas(QStringLiteral("Nothing handed back: the run ended on an error")));
}

// A cut-out held on the engine until the case lets it go; let go, it writes the second
// pattern into the handed-over output, as the engine writes the cut-out. Never left held for
// good, whatever the hand-back does: it is let go after thirty seconds, and when the case ends.
// The fallback is far beyond a start-up on a loaded machine, so that it never lets go before
// the case's own cancel does.
class HeldSecondPattern {
public:
    HeldSecondPattern()
        : m_fallback([this] {
              for (int i = 0; i < 3000 && !m_release; ++i)
                  std::this_thread::sleep_for(std::chrono::milliseconds(10));
              m_release = true;
          })
    {
    }
    ~HeldSecondPattern()
    {
        letGo();
        m_fallback.join();
    }
    HeldSecondPattern(const HeldSecondPattern&) = delete;
    HeldSecondPattern& operator=(const HeldSecondPattern&) = delete;

    // Submits the cut-out once the start-up's own engine work is done; false when it is not.
    bool submit()
    {
        if (!testsupport::waitUntil([] {
                return !DravikThread::instance()->isBusy() && DravikThread::instance()->isQueueEmpty();
            }))
            return false;
        KsSourceImage* output = KsApp::instance()->outputImage();
        DravikThread::instance()->submit(new HeldCutout(&m_release, [output] {
            for (int i = 0; i < kWidth * kHeight; ++i)
                for (int c = 0; c < 4; ++c)
                    output->view8().data[i * 4 + bgraIndex(c)] = patternByte(i, c, 2);
        }));
        return true;
    }

    void letGo() { m_release = true; }

private:
    std::atomic<bool> m_release{false};
    std::thread m_fallback;
};

TEST_F(HandOver, TheHandBackWaitsForACutoutStillBeingMade)
{
    Mapping source(rgba8(1));
    Mapping result(rgba8(1));
    HeldSecondPattern cutout;
    KsApp::setStartUpHook([&](QWidget*) {
        ASSERT_TRUE(cutout.submit());
        // The loop ends otherwise, with the cut-out still being made; it is let go only once
        // an event loop runs again.
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, [&cutout] {
            QTimer::singleShot(50, QCoreApplication::instance(), [&cutout] { cutout.letGo(); });
        });
        QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
    });
    EXPECT_EQ(runTunnel(result, source, "64", "48", "8", "little"), int(HandBackApply));
    EXPECT_EQ(result.bytes(), rgba8(2));
}

TEST_F(HandOver, ACutoutCancelledWhileTheHandBackWaitsHandsNothingBack)
{
    testsupport::ScriptedPrompt prompt;
    Mapping source(rgba8(1));
    Mapping result(rgba8(1));
    HeldSecondPattern cutout;
    bool cancelled = false;
    KsApp::setStartUpHook([&](QWidget*) {
        ASSERT_TRUE(cutout.submit());
        // The loop ends with the cut-out still being made; the user cancels it while the
        // hand-back waits.
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, [&cancelled] {
            QTimer::singleShot(50, QCoreApplication::instance(),
                               [&cancelled] { cancelled = testsupport::clickCancelOfCutoutWait(); });
        });
        QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
    });
    EXPECT_EQ(runTunnel(result, source, "64", "48", "8", "little"), kExitHandBackFailed);
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(result.bytes(), rgba8(1));
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_TRUE(prompt.messages()[0].text.contains(QStringLiteral("The cut-out was not finished.")))
        << prompt.messages()[0].text.toStdString();
}

TEST_F(HandOver, ACutOutThatCannotBeCopiedBackIsToldAndEndsWithItsOwnCode)
{
    // What the host may do to the result mapping while the program runs: shrink it below the
    // image, or leave a descriptor that maps nothing in its place.
    struct Spoiler {
        const char* name;
        std::function<void(int)> spoil;
        std::size_t bytesLeft;
        const char* reason;
    };
    const Spoiler spoilers[] = {
        {"shrunk", [](int fd) { ASSERT_EQ(ftruncate(fd, 16), 0); }, 16, "the result mapping holds 16 bytes, 12288 needed"},
        {"unmappable",
         [](int fd) {
             const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
             ASSERT_EQ(dup2(null, fd), fd);
             close(null);
         },
         rgba8(1).size(), "cannot map the result mapping"},
    };
    for (const Spoiler& spoiler : spoilers) {
        SCOPED_TRACE(spoiler.name);
        testsupport::ScriptedPrompt prompt;
        Mapping source(rgba8(1));
        Mapping result(rgba8(1));
        onStart([&](KsApp& app) {
            std::memset(app.outputImage()->view8().data, 0, kWidth * kHeight * 4);
            spoiler.spoil(result.given());
        });
        EXPECT_EQ(runTunnel(result, source, "64", "48", "8", "little"), kExitHandBackFailed);
        ASSERT_EQ(prompt.messages().size(), 1);
        EXPECT_EQ(prompt.messages()[0].kind, Prompt::Warning);
        EXPECT_TRUE(prompt.messages()[0].text.contains(QStringLiteral("\"T\""))) << prompt.messages()[0].text.toStdString();
        EXPECT_TRUE(prompt.messages()[0].text.contains(QLatin1String(spoiler.reason))) << prompt.messages()[0].text.toStdString();
        // Whatever the host left there is untouched.
        const std::vector<std::uint8_t> layer = rgba8(1);
        EXPECT_EQ(result.bytes(), std::vector<std::uint8_t>(layer.begin(), layer.begin() + spoiler.bytesLeft));
    }
}

TEST_F(HandOver, ATitleLikeAQtOptionStaysTheTitle)
{
    Mapping source(rgba8(1));
    Mapping result(rgba8(1));
    QString name;
    onStart([&](KsApp& app) {
        ASSERT_TRUE(app.sourceImage());
        name = app.sourceImage()->fileName();
    });
    EXPECT_EQ(runTunnel(result, source, "64", "48", "8", "little", "-reverse"), 0);
    EXPECT_EQ(name, QStringLiteral("-reverse"));
}

TEST(HandOverPixels, RedAndBlueTradePlacesOnEveryRow)
{
    // Three pixels a row, two rows: RGBA in, BGRA out, and back again.
    const std::vector<std::uint8_t> rgba = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12,
                                            13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};
    std::vector<std::uint8_t> bgra(rgba.size());
    handoverpixels::copy8(rgba.data(), bgra.data(), 3, 2);
    EXPECT_EQ(bgra, (std::vector<std::uint8_t>{3, 2, 1, 4, 7, 6, 5, 8, 11, 10, 9, 12,
                                               15, 14, 13, 16, 19, 18, 17, 20, 23, 22, 21, 24}));
    std::vector<std::uint8_t> back(rgba.size());
    handoverpixels::copy8(bgra.data(), back.data(), 3, 2);
    EXPECT_EQ(back, rgba);

    // 16 bits: samples R, G, B, A as little-endian words; swapped, each word's bytes turn too.
    const std::vector<std::uint8_t> wide = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    std::vector<std::uint8_t> out(8);
    handoverpixels::copy16(wide.data(), out.data(), 1, 1, false);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{0x05, 0x06, 0x03, 0x04, 0x01, 0x02, 0x07, 0x08}));
    handoverpixels::copy16(wide.data(), out.data(), 1, 1, true);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0x08, 0x07}));
}

} // namespace
