// The XML control file: its reader, the "--xmltn" launch that reads a PNG and writes the
// cut-out as a PNG, a control file arriving as a file-open event, and the edit in place
// ("--aperture") that saves the applied cut-out into the image's own file.
#include "FileSizeLimit.h"
#include "PeakMemory.h"
#include "ProgramRun.h"
#include "RunLog.h"
#include "ScratchFiles.h"
#include "ScriptedPrompt.h"
#include "document/KsSourceImage.h"
#include "document/SourceImageFiles.h"
#include "shell/KsApp.h"
#include "shell/KsApplication.h"
#include "shell/Launch.h"
#include "shell/Tunnelry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileOpenEvent>
#include <QImage>
#include <QTimer>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

using testsupport::FileSizeLimit;
using testsupport::onStart;
using testsupport::ReportedMemory;
using testsupport::runLogHas;
using testsupport::runMain;

using testsupport::fileBytes;
using testsupport::scratchPath;

namespace {

QString writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
    return path;
}

std::string local(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

QString testData(const char* name)
{
    return QStringLiteral(KESTRINE_TEST_DATA "/") + QLatin1String(name);
}

// --- the reader ------------------------------------------------------------------------------

TEST(ControlFile, PathsAreTheFolderJoinedWithSrcEvenWhenAbsolute)
{
    const QString path = writeFile(scratchPath("jobs/a.okrx"), "<job><image id='imageIn' src='in.png'/>"
                                                           "<x><image id='imageOut' src='/abs/out.png'/></x></job>");
    Tunnelry* reader = Tunnelry::create(path);
    EXPECT_EQ(Tunnelry::current(), reader);
    ASSERT_TRUE(reader->read());
    const QString folder = scratchPath("jobs");
    EXPECT_EQ(Tunnelry::inputPath(), folder + "/in.png");
    EXPECT_EQ(Tunnelry::outputPath(), folder + "//abs/out.png");
    EXPECT_EQ(reader->attribute("imageIn", "src"), QStringLiteral("in.png"));
    EXPECT_EQ(reader->attribute("imageIn", "nothing"), QString());
    EXPECT_TRUE(reader->element("unknown").isNull());
    EXPECT_EQ(reader->attribute("unknown", "src"), QString());
}

TEST(ControlFile, TheLaterIdWinsAndTheRootCounts)
{
    // Depth first: the nested "second" comes before "third", which wins.
    Tunnelry* reader = Tunnelry::create(writeFile(
        scratchPath("b.okrx"), "<job id='imageOut' src='root.png'><b id='imageIn' src='first.png'>"
                           "<c id='imageIn' src='second.png'/></b><d id='imageIn' src='third.png'/></job>"));
    ASSERT_TRUE(reader->read());
    EXPECT_EQ(Tunnelry::inputPath(), scratchPath("third.png"));
    EXPECT_EQ(Tunnelry::outputPath(), scratchPath("root.png"));

    // A second file has its own ids; the first keeps its own.
    Tunnelry* second = Tunnelry::create(writeFile(scratchPath("c.okrx"), "<job><i id='imageIn' src='other.png'/></job>"));
    ASSERT_TRUE(second->read());
    EXPECT_EQ(second->attribute("imageIn", "src"), QStringLiteral("other.png"));
    EXPECT_EQ(reader->attribute("imageIn", "src"), QStringLiteral("third.png"));
    EXPECT_EQ(Tunnelry::current(), second);
    // Without "imageOut" the output is the folder itself, which no writer can take.
    EXPECT_EQ(Tunnelry::outputPath(), scratchPath("c.okrx").section('/', 0, -2) + "/");
}

TEST(ControlFile, MalformedXmlReturnsFalseAndKeepsThePaths)
{
    ASSERT_TRUE(Tunnelry::create(writeFile(scratchPath("good.okrx"),
                                           "<j><i id='imageIn' src='a.png'/><o id='imageOut' src='b.png'/></j>"))
                    ->read());
    for (const QByteArray& bad : {QByteArray("<j><i id='imageIn' src='x.png'></j>"), QByteArray(""),
                                  QByteArray("not xml at all")}) {
        Tunnelry* reader = Tunnelry::create(writeFile(scratchPath("bad.okrx"), bad));
        EXPECT_FALSE(reader->read()) << bad.constData();
        EXPECT_EQ(Tunnelry::inputPath(), scratchPath("a.png"));
        EXPECT_EQ(Tunnelry::outputPath(), scratchPath("b.png"));
        EXPECT_TRUE(reader->element("imageIn").isNull());
    }
}

TEST(ControlFile, AMissingFileThrowsItsText)
{
    const QString path = scratchPath("missing.okrx");
    try {
        Tunnelry::create(path)->read();
        ADD_FAILURE() << "no exception";
    } catch (const QString& text) {
        EXPECT_EQ(text, QStringLiteral("Unable to open XML control file: ") + path);
    }
}

// --- the "--xmltn" launch --------------------------------------------------------------------

class ControlFileLaunch : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A photograph with an alpha ramp across it, never 0 so that every colour survives.
        QImage photo(testData("chelsea.png"));
        ASSERT_FALSE(photo.isNull());
        m_image = photo.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < m_image.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(m_image.scanLine(y));
            for (int x = 0; x < m_image.width(); ++x)
                line[x] = qRgba(qRed(line[x]), qGreen(line[x]), qBlue(line[x]), 1 + x * 254 / (m_image.width() - 1));
        }
        ASSERT_TRUE(QDir().mkpath(scratchPath("job")));
        ASSERT_TRUE(m_image.save(scratchPath("job/in.png"), "PNG"));
        m_control = writeFile(scratchPath("job/control.xml"),
                              "<?xml version='1.0'?><tunnel><image id='imageIn' src='in.png'/>"
                              "<image id='imageOut' src='out.png'/></tunnel>");
    }
    void TearDown() override { KsApp::setStartUpHook(nullptr); }

    QImage m_image;
    QString m_control;
};

TEST_F(ControlFileLaunch, AppliedRunWritesTheOutputPngAlphaIncluded)
{
    QSize size;
    onStart([&](KsApp& app) {
        ASSERT_TRUE(app.sourceImage() && app.outputImage());
        size = QSize(app.sourceImage()->width(), app.sourceImage()->height());
    });
    EXPECT_EQ(runMain({"p", "--xmltn", local(m_control)}), 0);
    EXPECT_EQ(size, m_image.size());
    const QImage out(scratchPath("job/out.png"));
    ASSERT_FALSE(out.isNull());
    EXPECT_TRUE(out.hasAlphaChannel());
    EXPECT_EQ(out.convertToFormat(QImage::Format_ARGB32), m_image);
    // Written through a temporary file, which is gone.
    EXPECT_EQ(QDir(scratchPath("job")).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              (QStringList{"control.xml", "in.png", "out.png"}));
}

TEST_F(ControlFileLaunch, TheCutOutWrittenIntoTheOutputImageArrives)
{
    onStart([&](KsApp& app) {
        // Clears the alpha of the left half, as a cut-out would.
        const KsSourceImage::View8& view = app.outputImage()->view8();
        for (int y = 0; y < view.height; ++y)
            for (int x = 0; x < view.width / 2; ++x)
                view.data[y * view.bytesPerLine + x * 4 + 3] = 0;
    });
    EXPECT_EQ(runMain({"p", "--xmltn", local(m_control)}), 0);
    const QImage out = QImage(scratchPath("job/out.png")).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(out.size(), m_image.size());
    EXPECT_EQ(qAlpha(out.pixel(0, 5)), 0);
    EXPECT_EQ(qAlpha(out.pixel(m_image.width() - 1, 5)), 255);
}

TEST_F(ControlFileLaunch, DiscardedRunWritesNoOutput)
{
    onStart([](KsApp&) {}, HandBackDiscarded);
    EXPECT_EQ(runMain({"p", "--xmltn", local(m_control)}), 0);
    EXPECT_FALSE(QFile::exists(scratchPath("job/out.png")));
}

TEST_F(ControlFileLaunch, AMissingControlFileEndsWithTwelve)
{
    bool started = false;
    onStart([&](KsApp&) { started = true; });
    const QString missing = scratchPath("job/none.xml");
    EXPECT_EQ(runMain({"p", "--xmltn", local(missing)}), 12);
    EXPECT_FALSE(started);
    EXPECT_TRUE(runLogHas(QStringLiteral("Unable to open XML control file: ") + missing));
}

TEST_F(ControlFileLaunch, AMalformedControlFileOrAMissingImageEndsWithTwelve)
{
    writeFile(m_control, "<tunnel><image id='imageIn' src='in.png'>");
    EXPECT_EQ(runMain({"p", "--xmltn", local(m_control)}), 12);
    writeFile(m_control, "<tunnel><image id='imageIn' src='gone.png'/><image id='imageOut' src='out.png'/></tunnel>");
    EXPECT_EQ(runMain({"p", "--xmltn", local(m_control)}), 12);
    // Not a PNG.
    writeFile(scratchPath("job/in.png"), "not a picture");
    EXPECT_EQ(runMain({"p", "--xmltn", local(m_control)}), 12);
    EXPECT_FALSE(QFile::exists(scratchPath("job/out.png")));
}

// A folder that refuses new files even to this user; false when it would take them anyway
// (as it does for root, whom permissions do not stop).
bool makeReadOnlyFolder(const QString& path)
{
    if (!QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner))
        return false;
    QFile probe(path + QStringLiteral("/probe"));
    if (probe.open(QIODevice::WriteOnly)) {
        probe.close();
        probe.remove();
        return false;
    }
    return true;
}

// A name that fits the file system, but leaves no room for a temporary name beside it.
QString longestName(const QString& suffix)
{
    return QString(250 - suffix.size(), QLatin1Char('n')) + suffix;
}

// The caller waits for a result that cannot come: an input that does not fit in the memory
// available is told, and the run ends as out of memory, without a window and writing nothing.
TEST_F(ControlFileLaunch, AnInputThatDoesNotFitInMemoryIsToldAndEndsWithEleven)
{
    testsupport::ScriptedPrompt prompt;
    ReportedMemory little(qint64(1) << 20);
    bool started = false;
    onStart([&](KsApp&) { started = true; });
    EXPECT_EQ(runMain({"p", "--xmltn", local(m_control)}), 11);
    EXPECT_FALSE(started);
    EXPECT_FALSE(QFileInfo::exists(scratchPath("job/out.png")));
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_TRUE(prompt.messages()[0].text.startsWith(QStringLiteral("Sorry - not enough memory to open file ")
                                                     + scratchPath("job/in.png") + QStringLiteral("\n\nThe image has ")
                                                     + QStringLiteral("%1 x %2 pixels").arg(m_image.width()).arg(m_image.height())))
        << prompt.messages()[0].text.toStdString();
}

TEST_F(ControlFileLaunch, AnOutputThatCannotBeWrittenIsToldAndEndsWithItsOwnCode)
{
    ASSERT_TRUE(QDir().mkpath(scratchPath("job/folder.png")));
    const QString longName = longestName(QStringLiteral(".png"));
    const QByteArray earlier("an earlier result");
    writeFile(scratchPath("job/") + longName, earlier);
    // No "imageOut" names the control file's folder itself; then a folder, a path in a folder
    // that does not exist, and an earlier file that the write must leave as it was.
    const QStringList outputs = {QString(), QStringLiteral("folder.png"), QStringLiteral("missing/out.png"), longName};
    for (const QString& output : outputs) {
        SCOPED_TRACE(output.toStdString());
        testsupport::ScriptedPrompt prompt;
        writeFile(m_control, "<tunnel><image id='imageIn' src='in.png'/>"
                                 + (output.isEmpty() ? QByteArray()
                                                     : "<image id='imageOut' src='" + output.toUtf8() + "'/>")
                                 + "</tunnel>");
        onStart([](KsApp&) {});
        EXPECT_EQ(runMain({"p", "--xmltn", local(m_control)}), kExitHandBackFailed);
        const QString path = scratchPath("job") + "/" + output;
        ASSERT_EQ(prompt.messages().size(), 1);
        EXPECT_EQ(prompt.messages()[0].kind, Prompt::Warning);
        EXPECT_TRUE(prompt.messages()[0].text.contains(path)) << prompt.messages()[0].text.toStdString();
        EXPECT_TRUE(runLogHas(QStringLiteral("Hand-back: cannot write ") + path + ": "));
    }
    EXPECT_TRUE(QFileInfo(scratchPath("job/folder.png")).isDir());
    EXPECT_FALSE(QFile::exists(scratchPath("job/missing")));
    EXPECT_EQ(fileBytes(scratchPath("job/") + longName), earlier);
    EXPECT_EQ(QDir(scratchPath("job")).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              (QStringList{"control.xml", "in.png", longName}));
}

TEST_F(ControlFileLaunch, AReadOnlyOutputFolderKeepsTheEarlierFile)
{
    const QString folder = scratchPath("job/locked");
    const QByteArray earlier("an earlier result");
    writeFile(folder + "/out.png", earlier);
    writeFile(m_control, "<tunnel><image id='imageIn' src='in.png'/><image id='imageOut' src='locked/out.png'/></tunnel>");
    if (!makeReadOnlyFolder(folder)) {
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        GTEST_SKIP() << "this user can write into a read-only folder (root), so it cannot fail the write";
    }
    testsupport::ScriptedPrompt prompt;
    onStart([](KsApp&) {});
    const int code = runMain({"p", "--xmltn", local(m_control)});
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(code, kExitHandBackFailed);
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_TRUE(prompt.messages()[0].text.contains(folder + "/out.png")) << prompt.messages()[0].text.toStdString();
    EXPECT_EQ(fileBytes(folder + "/out.png"), earlier);
}

// A disk that fills up (a lowered file-size limit stands in for it) mid-file or in the last
// bytes, which are still in the file device's buffer when the file is to replace the earlier one.
TEST_F(ControlFileLaunch, AnOutputCutShortIsToldWithItsReasonAndKeepsTheEarlierFile)
{
    const QString path = scratchPath("job/out.png");
    onStart([](KsApp&) {});
    ASSERT_EQ(runMain({"p", "--xmltn", local(m_control)}), 0);
    const qint64 size = QFileInfo(path).size();
    const QByteArray earlier("an earlier result");
    for (qint64 limit : {size / 2, size - 100}) {
        SCOPED_TRACE(testing::Message() << limit << " of " << size << " bytes");
        writeFile(path, earlier);
        testsupport::ScriptedPrompt prompt;
        onStart([](KsApp&) {});
        int code = 0;
        {
            FileSizeLimit lowered{rlim_t(limit)};
            ASSERT_TRUE(lowered.isSet());
            code = runMain({"p", "--xmltn", local(m_control)});
        }
        EXPECT_EQ(code, kExitHandBackFailed);
        EXPECT_EQ(prompt.messages().size(), 1);
        EXPECT_EQ(prompt.messages().value(0).text.toStdString(),
                  QStringLiteral("Could not hand the cut-out back to\n%1\n\nFile too large").arg(path).toStdString());
        EXPECT_EQ(fileBytes(path), earlier);
        EXPECT_EQ(QDir(scratchPath("job")).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                  (QStringList{"control.xml", "in.png", "out.png"}));
    }
}

TEST(ControlFileEvent, AnUnreadableControlFileWarnsAndCountsAsHandled)
{
    testsupport::ScriptedPrompt prompt;
    const QString missing = scratchPath("x.OKRX");
    bool handled = false;
    QString readPath;
    KsApp::setStartUpHook([&](QWidget* window) {
        QFileOpenEvent event(missing);
        handled = QCoreApplication::sendEvent(KsApp::instance()->application(), &event);
        // A readable one is taken quietly.
        const QString good = writeFile(scratchPath("ok.okrx"), "<j><i id='imageIn' src='e.png'/></j>");
        QFileOpenEvent second(good);
        QCoreApplication::sendEvent(KsApp::instance()->application(), &second);
        readPath = Tunnelry::inputPath();
        QTimer::singleShot(0, window, &QWidget::close);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    KsApp::setStartUpHook(nullptr);
    EXPECT_TRUE(handled);
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_EQ(prompt.messages()[0].kind, Prompt::Warning);
    EXPECT_TRUE(prompt.messages()[0].text.contains(QStringLiteral("Unable to open XML control file: ") + missing));
    EXPECT_TRUE(runLogHas(QStringLiteral("Unable to open XML control file: ") + missing));
    EXPECT_EQ(readPath, scratchPath("e.png"));
}

// --- the edit in place ----------------------------------------------------------------------

class EditInPlace : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_path = scratchPath("photo.png");
        ASSERT_TRUE(QFile::copy(testData("chelsea.png"), m_path));
        QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner);
        m_before = fileBytes(m_path);
    }
    void TearDown() override { KsApp::setStartUpHook(nullptr); }

    // Writes an alpha ramp into the output image, the way a cut-out lands there.
    static void writeAlpha(KsApp& app)
    {
        KsSourceImage* out = app.outputImage();
        ASSERT_TRUE(out);
        ASSERT_EQ(out->masterKind(), int(KsSourceImage::Master16Bit));
        const KsSourceImage::View16& view = out->view16();
        for (int y = 0; y < view.height; ++y) {
            auto* row = reinterpret_cast<std::uint16_t*>(reinterpret_cast<char*>(view.data) + y * view.bytesPerLine);
            for (int x = 0; x < view.width; ++x)
                row[x * 4 + 3] = std::uint16_t(x * 65535 / (view.width - 1));
        }
    }

    QString m_path;
    QByteArray m_before;
};

TEST_F(EditInPlace, DiscardLeavesTheFileByteIdentical)
{
    for (HandBackStatus status : {HandBackDiscarded, HandBackNothing}) {
        onStart(writeAlpha, status);
        EXPECT_EQ(runMain({"p", "--aperture", local(m_path)}), 0);
        EXPECT_EQ(fileBytes(m_path), m_before);
    }
}

// The file's pixels as 16-bit B, G, R, A samples, rows packed.
std::vector<std::uint16_t> pixels16(const QString& path, int& width, int& height)
{
    const sourceimagefiles::Dimensions size = sourceimagefiles::pngDimensions(local(path));
    width = int(size.width);
    height = int(size.height);
    std::vector<std::uint16_t> samples(std::size_t(width) * height * 4);
    sourceimagefiles::readPng(local(path), sourceimagefiles::Pixels16{width, height, samples.data(), width * 8});
    return samples;
}

TEST_F(EditInPlace, ApplyRewritesTheFileWithTheOutputAlpha)
{
    int width = 0;
    int height = 0;
    const std::vector<std::uint16_t> original = pixels16(m_path, width, height);
    onStart(writeAlpha);
    EXPECT_EQ(runMain({"p", "--aperture", local(m_path)}), 0);
    EXPECT_NE(fileBytes(m_path), m_before);

    int savedWidth = 0;
    int savedHeight = 0;
    const std::vector<std::uint16_t> saved = pixels16(m_path, savedWidth, savedHeight);
    ASSERT_EQ(savedWidth, width);
    ASSERT_EQ(savedHeight, height);
    int wrong = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::size_t at = (std::size_t(y) * width + x) * 4;
            for (int c = 0; c < 3; ++c)
                wrong += original[at + c] != saved[at + c];
            wrong += saved[at + 3] != std::uint16_t(x * 65535 / (width - 1));
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_TRUE(runLogHas(QStringLiteral("Hand-back: saved ") + m_path));
}

TEST_F(EditInPlace, ApplyThroughALinkRewritesTheFileItNames)
{
    const QString link = scratchPath("photo-link.png");
    ASSERT_TRUE(QFile::link(m_path, link));
    onStart(writeAlpha);
    EXPECT_EQ(runMain({"p", "--aperture", local(link)}), 0);
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), m_path);
    EXPECT_NE(fileBytes(m_path), m_before);
}

TEST_F(EditInPlace, AFileThatCannotBeSavedBackIsToldAndEndsWithItsOwnCode)
{
    // What happens to the file's place while it is being edited: its folder is moved away, the
    // file gives way to a folder; and a name that leaves no room for a temporary file beside it.
    struct Case {
        const char* name;
        QString path;
        std::function<void()> spoil;
    };
    const QString moved = scratchPath("moved/photo.png");
    const QString replaced = scratchPath("replaced/photo.png");
    const QString longName = scratchPath("long/") + longestName(QStringLiteral(".png"));
    const Case cases[] = {
        {"folder moved away", moved,
         [] { ASSERT_TRUE(QDir().rename(scratchPath("moved"), scratchPath("moved-away"))); }},
        {"file replaced by a folder", replaced,
         [replaced] {
             ASSERT_TRUE(QFile::remove(replaced));
             ASSERT_TRUE(QDir().mkpath(replaced));
         }},
        {"name too long for a temporary file", longName, [] {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir().mkpath(QFileInfo(c.path).absolutePath());
        ASSERT_TRUE(QFile::copy(m_path, c.path));
        testsupport::ScriptedPrompt prompt;
        onStart([&](KsApp& app) {
            writeAlpha(app);
            c.spoil();
        });
        EXPECT_EQ(runMain({"p", "--aperture", local(c.path)}), kExitHandBackFailed);
        ASSERT_EQ(prompt.messages().size(), 1);
        EXPECT_EQ(prompt.messages()[0].kind, Prompt::Warning);
        EXPECT_TRUE(prompt.messages()[0].text.contains(c.path)) << prompt.messages()[0].text.toStdString();
        EXPECT_TRUE(runLogHas(QStringLiteral("Hand-back: cannot write ") + c.path + ": "));
    }
    // The files as they were, and no temporary file beside them.
    EXPECT_EQ(fileBytes(scratchPath("moved-away/photo.png")), m_before);
    EXPECT_TRUE(QFileInfo(replaced).isDir());
    EXPECT_EQ(fileBytes(longName), m_before);
    EXPECT_EQ(QDir(scratchPath("long")).entryList(QDir::Files | QDir::Hidden).size(), 1);
    EXPECT_EQ(QDir(scratchPath("replaced")).entryList(QDir::Files | QDir::Hidden).size(), 0);
}

// A disk that fills up (a lowered file-size limit stands in for it) mid-file or in the last
// bytes, which are still in the file device's buffer when the file is to be replaced.
TEST_F(EditInPlace, AFileCutShortIsToldWithItsReasonAndKeptAsItWas)
{
    const QString folder = scratchPath("limited");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString png = folder + "/photo.png";
    ASSERT_TRUE(QFile::copy(m_path, png));
    // The photograph as a 16-bit TIFF too.
    const QString tiff = folder + "/photo.tif";
    {
        int width = 0;
        int height = 0;
        std::vector<std::uint16_t> samples = pixels16(m_path, width, height);
        std::ofstream out(local(tiff), std::ios::binary);
        sourceimagefiles::writeTiff(out, sourceimagefiles::Pixels16{width, height, samples.data(), width * 8});
        ASSERT_TRUE(out.flush());
    }
    for (const QString& path : {png, tiff}) {
        const QByteArray original = fileBytes(path);
        // The size of the file that the applied edit writes.
        const QString whole = scratchPath("whole.") + QFileInfo(path).suffix();
        ASSERT_TRUE(QFile::copy(path, whole));
        onStart(writeAlpha);
        ASSERT_EQ(runMain({"p", "--aperture", local(whole)}), 0);
        const qint64 size = QFileInfo(whole).size();
        for (qint64 limit : {size / 2, size - 100}) {
            SCOPED_TRACE(testing::Message() << path.toStdString() << ": " << limit << " of " << size << " bytes");
            testsupport::ScriptedPrompt prompt;
            onStart(writeAlpha);
            int code = 0;
            {
                FileSizeLimit lowered{rlim_t(limit)};
                ASSERT_TRUE(lowered.isSet());
                code = runMain({"p", "--aperture", local(path)});
            }
            EXPECT_EQ(code, kExitHandBackFailed);
            EXPECT_EQ(prompt.messages().size(), 1);
            EXPECT_EQ(prompt.messages().value(0).text.toStdString(),
                      QStringLiteral("Could not hand the cut-out back to\n%1\n\nFile too large").arg(path).toStdString());
            EXPECT_EQ(fileBytes(path), original);
            EXPECT_TRUE(runLogHas(QStringLiteral("Hand-back: cannot write ") + path + ": File too large"));
        }
    }
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              (QStringList{"photo.png", "photo.tif"}));
}

TEST_F(EditInPlace, AReadOnlyFolderKeepsTheFileAsItWas)
{
    const QString folder = scratchPath("locked");
    const QString path = folder + "/photo.png";
    QDir().mkpath(folder);
    ASSERT_TRUE(QFile::copy(m_path, path));
    if (!makeReadOnlyFolder(folder)) {
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        GTEST_SKIP() << "this user can write into a read-only folder (root), so it cannot fail the save";
    }
    testsupport::ScriptedPrompt prompt;
    onStart(writeAlpha);
    const int code = runMain({"p", "--aperture", local(path)});
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(code, kExitHandBackFailed);
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_TRUE(prompt.messages()[0].text.contains(path)) << prompt.messages()[0].text.toStdString();
    EXPECT_EQ(fileBytes(path), m_before);
}

// An image to edit that does not fit in the memory available with its edited copy is told,
// and the run ends as out of memory, leaving the file as it was.
TEST_F(EditInPlace, AnImageThatDoesNotFitInMemoryIsToldAndEndsWithEleven)
{
    testsupport::ScriptedPrompt prompt;
    ReportedMemory little(qint64(1) << 20);
    bool started = false;
    onStart([&](KsApp&) { started = true; });
    EXPECT_EQ(runMain({"p", "--aperture", local(m_path)}), 11);
    EXPECT_FALSE(started);
    EXPECT_EQ(fileBytes(m_path), m_before);
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_TRUE(prompt.messages()[0].text.startsWith(QStringLiteral("Sorry - not enough memory to open file ") + m_path))
        << prompt.messages()[0].text.toStdString();
}

TEST_F(EditInPlace, AnUnreadableFileGivesNoImageAndWritesNothing)
{
    testsupport::ScriptedPrompt prompt;
    const QString path = writeFile(scratchPath("broken.png"), "not a picture");
    bool noImage = false;
    onStart([&](KsApp& app) { noImage = !app.sourceImage() && !app.outputImage(); });
    EXPECT_EQ(runMain({"p", "--aperture", local(path)}), 0);
    EXPECT_TRUE(noImage);
    EXPECT_EQ(fileBytes(path), QByteArray("not a picture"));
    EXPECT_EQ(prompt.messages().size(), 1);
    EXPECT_TRUE(runLogHas(QStringLiteral("Hand-back: no image was opened, nothing written")));
}

} // namespace
