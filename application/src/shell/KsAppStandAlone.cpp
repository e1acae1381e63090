#include "shell/KsAppStandAlone.h"

#include "document/DeviceStreamBuffer.h"
#include "document/GmModel.h"
#include "document/ImageMemory.h"
#include "document/KsSourceImage.h"
#include "document/Prompt.h"
#include "document/SourceImageFiles.h"
#include "document/Texts.h"
#include "document/UserFiles.h"
#include "shell/HandOverPixels.h"
#include "shell/KsMainWindow.h"
#include "shell/Tunnelry.h"

#include "platform/handover.h"

#include <QFile>
#include <QSaveFile>

#include <climits>
#include <cstring>
#include <exception>
#include <fstream>
#include <new>

namespace files = sourceimagefiles;

namespace {

// A decimal argument; 0 when it does not parse.
qint64 decimal(const QString& text)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    return ok ? value : 0;
}

// Every image is also held as one 8-bit ARGB QImage, which Qt 5 caps at 2 GiB.
bool fitsOneImage(qint64 width, qint64 height)
{
    return width > 0 && height > 0 && width <= INT_MAX / 4 && height <= INT_MAX / (width * 4);
}

std::string localPath(const QString& fileName)
{
    return QFile::encodeName(fileName).toStdString();
}

QString describe(const std::exception& error)
{
    return QString::fromLocal8Bit(error.what());
}

// An image a launch hands over that does not fit in memory ends the run as out of memory
// (exit status 11), once the user has been told: the caller waits for its result, and a window
// without the image would be no use to it.
[[noreturn]] void endForLackOfMemory(const QString& name, const imagememory::Shortage& shortage)
{
    imagememory::tell(name, shortage);
    throw std::bad_alloc();
}

// Weighs what taking the image over takes before any of it is allocated.
void weighHandOver(const QString& name, qint64 width, qint64 height, quint64 needed)
{
    const imagememory::Shortage shortage = imagememory::weigh(width, height, needed);
    if (shortage.isSet())
        endForLackOfMemory(name, shortage);
}

// The images made over the launch's buffers: one made without the memory it needed ends the run.
void checkHandedOver(const KsSourceImage& image, const QString& name, qint64 width, qint64 height, quint64 needed)
{
    if (image.lackedMemory())
        endForLackOfMemory(name, imagememory::allocationFailed(width, height, needed));
}

} // namespace

KsAppStandAlone::KsAppStandAlone(LaunchMode mode, bool* handBackFailed)
    : KsApp(mode), m_uncaughtAtStart(std::uncaught_exceptions()), m_handBackFailed(handBackFailed)
{
}

KsAppStandAlone::~KsAppStandAlone()
{
    // An exception on its way out means the run did not end the way the user decided: the
    // caller gets its own pixels back, never a half-made result.
    if (std::uncaught_exceptions() > m_uncaughtAtStart) {
        if (launchedByHost())
            Klogger::stream() << "Nothing handed back: the run ended on an error" << Klogger::endl;
    } else {
        handBack();
    }
    // The window and the model refer to the images; they go before them.
    delete mainWindow();
    GmModel::destroy();
    platform::closeSharedMemory(m_sourceHandle);
    platform::closeSharedMemory(m_resultHandle);
    m_sourceHandle = m_resultHandle = platform::kNoSharedMemory;
    m_outputImage.reset();
    m_editedImage.reset();
    m_sourceImage.reset();
}

KsSourceImage* KsAppStandAlone::sourceImage()
{
    return m_sourceImage.get();
}

KsSourceImage* KsAppStandAlone::outputImage()
{
    return m_outputImage.get();
}

void KsAppStandAlone::init(int& argc, char** argv)
{
    // Taken before the Qt application strips the options it knows from the argument vector: a
    // document titled "-reverse" must stay the title.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    // Checked before the start-up opens descriptors of its own, so that a handle naming a
    // closed descriptor can never be mistaken for one of them.
    if (launchMode() == LaunchTunnel) {
        m_resultHandle = platform::inheritedHandle(arguments.value(2).toStdString());
        m_sourceHandle = platform::inheritedHandle(arguments.value(3).toStdString());
        // Programs started later (the help pages' browser) never see the host's memory.
        for (platform::SharedMemoryHandle handle : {m_resultHandle, m_sourceHandle})
            if (handle != platform::kNoSharedMemory)
                platform::setCloseOnExec(handle);
    }

    KsApp::init(argc, argv);
    switch (launchMode()) {
    case LaunchTunnel:
        takeTunnel(arguments);
        break;
    case LaunchXmlTunnel:
        takeXmlTunnel(arguments.value(2));
        break;
    case LaunchAperture:
        takeAperture(arguments.value(2));
        break;
    case LaunchStandalone:
        break;
    }
    createMainWindow();
}

unsigned KsAppStandAlone::bytesPerPixel() const
{
    return platform::handOverBytesPerPixel(m_bits);
}

bool KsAppStandAlone::swapsBytes() const
{
    return m_byteOrder != QLatin1String(platform::kHandOverLittleEndian);
}

platform::SharedMemoryView KsAppStandAlone::mapHandOver(platform::SharedMemoryHandle handle,
                                                        const char* which, QString* reason) const
{
    const auto refuse = [reason](const QString& why) {
        Klogger::stream() << "Hand-over: " << why << Klogger::endl;
        if (reason)
            *reason = why;
        return platform::SharedMemoryView();
    };
    if (handle == platform::kNoSharedMemory)
        return refuse(QStringLiteral("the %1 handle names no open descriptor").arg(QLatin1String(which)));
    platform::SharedMemoryView view(handle);
    if (!view) {
        return refuse(QStringLiteral("cannot map the %1 mapping: %2")
                          .arg(QLatin1String(which), QString::fromLocal8Bit(std::strerror(errno))));
    }
    const std::uint64_t needed = platform::handOverBytes(bytesPerPixel(), m_width, m_height);
    if (view.size() < needed) {
        return refuse(QStringLiteral("the %1 mapping holds %2 bytes, %3 needed")
                          .arg(QLatin1String(which))
                          .arg(quint64(view.size()))
                          .arg(quint64(needed)));
    }
    return view;
}

void KsAppStandAlone::takeTunnel(const QStringList& arguments)
{
    m_width = decimal(arguments.value(4));
    m_height = decimal(arguments.value(5));
    m_bits = int(decimal(arguments.value(6)));
    m_byteOrder = arguments.value(7);
    m_title = arguments.value(8);

    Klogger::stream() << "Hand-over: " << m_width << " x " << m_height << ", " << m_bits << " bits, \""
                      << m_byteOrder << "\", \"" << m_title << "\"" << Klogger::endl;
    if (bytesPerPixel() == 0) {
        Klogger::stream() << "Hand-over: unsupported bit depth; no image" << Klogger::endl;
        return;
    }
    if (!fitsOneImage(m_width, m_height)) {
        Klogger::stream() << "Hand-over: unusable geometry; no image" << Klogger::endl;
        return;
    }
    const platform::SharedMemoryView source = mapHandOver(m_sourceHandle, "source");
    const platform::SharedMemoryView result = mapHandOver(m_resultHandle, "result");
    if (!source || !result)
        return;

    // Both copies of the host's pixels, the images over them and the document's working images.
    const quint64 needed = imagememory::toOpen(
        m_width, m_height, m_bits == 8 ? imagememory::Held::Own8Bit : imagememory::Held::Own16Bit);
    weighHandOver(m_title, m_width, m_height, needed);
    const std::size_t pixels = std::size_t(m_width) * std::size_t(m_height);
    try {
        if (m_bits == 8) {
            m_source8.reset(new std::uint8_t[pixels * 4]);
            m_output8.reset(new std::uint8_t[pixels * 4]);
        } else {
            m_source16.reset(new std::uint16_t[pixels * 4]);
            m_output16.reset(new std::uint16_t[pixels * 4]);
        }
    } catch (const std::bad_alloc&) {
        m_source8.reset();
        m_output8.reset();
        m_source16.reset();
        m_output16.reset();
        endForLackOfMemory(m_title, imagememory::allocationFailed(m_width, m_height, needed));
    }
    if (m_bits == 8) {
        handoverpixels::copy8(source.data(), m_source8.get(), m_width, m_height);
        handoverpixels::copy8(result.data(), m_output8.get(), m_width, m_height);
        m_sourceImage.reset(new KsSourceImage(
            KsSourceImage::View8{int(m_width), int(m_height), m_source8.get(), m_width * 4}, m_title));
        m_outputImage.reset(new KsSourceImage(
            KsSourceImage::View8{int(m_width), int(m_height), m_output8.get(), m_width * 4}, m_title));
    } else {
        handoverpixels::copy16(source.data(), reinterpret_cast<std::uint8_t*>(m_source16.get()), m_width,
                               m_height, swapsBytes());
        handoverpixels::copy16(result.data(), reinterpret_cast<std::uint8_t*>(m_output16.get()), m_width,
                               m_height, swapsBytes());
        m_sourceImage.reset(new KsSourceImage(
            KsSourceImage::View16{int(m_width), int(m_height), m_source16.get(), m_width * 8}, m_title));
        m_outputImage.reset(new KsSourceImage(
            KsSourceImage::View16{int(m_width), int(m_height), m_output16.get(), m_width * 8}, m_title));
    }
    checkHandedOver(*m_sourceImage, m_title, m_width, m_height, needed);
    checkHandedOver(*m_outputImage, m_title, m_width, m_height, needed);
}

void KsAppStandAlone::takeXmlTunnel(const QString& controlFile)
{
    // Throws the text that ends the run when the file cannot be opened.
    if (!Tunnelry::create(controlFile)->read())
        throw QStringLiteral("Unable to read XML control file: ") + controlFile;
    const QString input = Tunnelry::inputPath();
    m_outputPath = Tunnelry::outputPath();

    if (!userfiles::mayOpen(input, "Control file input"))
        throw QStringLiteral("Unable to open image: ") + input;
    std::ifstream in(localPath(input), std::ios::binary);
    if (!in)
        throw QStringLiteral("Unable to open image: ") + input;
    const files::Dimensions size = files::pngDimensions(in);
    if (!fitsOneImage(size.width, size.height))
        throw QStringLiteral("Unusable image size %1 x %2: ").arg(size.width).arg(size.height) + input;
    in.clear();
    in.seekg(0);
    // The input and output buffers, the images over them and the document's working images.
    const quint64 needed = imagememory::toOpen(size.width, size.height, imagememory::Held::Own8Bit);
    weighHandOver(input, size.width, size.height, needed);
    m_width = size.width;
    m_height = size.height;
    const std::size_t bytes = std::size_t(m_width) * std::size_t(m_height) * 4;
    try {
        m_source8.reset(new std::uint8_t[bytes]);
        m_output8.reset(new std::uint8_t[bytes]);
    } catch (const std::bad_alloc&) {
        m_source8.reset();
        endForLackOfMemory(input, imagememory::allocationFailed(m_width, m_height, needed));
    }
    files::readPng(in, files::Pixels8{int(m_width), int(m_height), m_source8.get(), m_width * 4});
    std::memcpy(m_output8.get(), m_source8.get(), bytes);
    m_sourceImage.reset(new KsSourceImage(
        KsSourceImage::View8{int(m_width), int(m_height), m_source8.get(), m_width * 4}, input));
    m_outputImage.reset(new KsSourceImage(
        KsSourceImage::View8{int(m_width), int(m_height), m_output8.get(), m_width * 4}, m_outputPath));
    checkHandedOver(*m_sourceImage, input, m_width, m_height, needed);
    checkHandedOver(*m_outputImage, input, m_width, m_height, needed);
}

void KsAppStandAlone::takeAperture(const QString& imageFile)
{
    // The file reader tells the user itself when it cannot read the file, or when the image
    // and a copy of it do not fit in memory.
    std::unique_ptr<KsSourceImage> source(new KsSourceImage(imageFile));
    if (!source->isValid()) {
        if (source->lackedMemory())
            throw std::bad_alloc();
        return;
    }
    // The edited copy, the view the cut-out is written through and the working images.
    const qint64 width = source->width();
    const qint64 height = source->height();
    const bool wide = source->masterKind() == KsSourceImage::Master16Bit;
    const quint64 needed =
        imagememory::toHold(width, height, wide ? imagememory::Held::Own16Bit : imagememory::Held::Own8Bit)
        + imagememory::toHold(width, height, wide ? imagememory::Held::Borrowed16Bit : imagememory::Held::Borrowed8Bit)
        + imagememory::toWork(width, height);
    weighHandOver(imageFile, width, height, needed);
    std::unique_ptr<KsSourceImage> edited(new KsSourceImage(*source));
    if (!edited->isValid()) {
        if (edited->lackedMemory()) {
            edited.reset();
            source.reset();
            endForLackOfMemory(imageFile, imagememory::allocationFailed(width, height, needed));
        }
        return;
    }
    // Writes into the output image land in the edited copy, which is what gets saved.
    m_outputImage.reset(new KsSourceImage(*edited, 0));
    m_editedImage = std::move(edited);
    m_sourceImage = std::move(source);
    checkHandedOver(*m_outputImage, imageFile, width, height, needed);
}

void KsAppStandAlone::handBack()
{
    // Runs in the destructor: whatever fails here is logged, never thrown.
    try {
        // A loop that ended otherwise may leave a cut-out being made on the engine's worker,
        // which writes the very pixels handed back.
        GmModel* model = GmModel::existingInstance();
        if (launchMode() != LaunchStandalone && model && !model->waitForCutout()) {
            Klogger::stream() << "Hand-back: the cut-out was not finished, nothing written" << Klogger::endl;
            // The user applied a result that never came: the caller must not take it as written.
            if (handBackStatus() == HandBackApply)
                failHandBack(handBackTarget(), tr("The cut-out was not finished.", "[ks3]"));
            return;
        }
        switch (launchMode()) {
        case LaunchTunnel:
            handBackTunnel();
            break;
        case LaunchXmlTunnel:
            handBackXmlTunnel();
            break;
        case LaunchAperture:
            handBackAperture();
            break;
        case LaunchStandalone:
            break;
        }
    } catch (const std::bad_alloc&) {
        Klogger::stream() << "Hand-back failed: out of memory" << Klogger::endl;
        failHandBack(handBackTarget(), tr("Out of memory", "[ks3]"));
    } catch (const std::exception& error) {
        Klogger::stream() << "Hand-back failed: " << describe(error) << Klogger::endl;
        failHandBack(handBackTarget(), describe(error));
    } catch (const QString& text) {
        Klogger::stream() << "Hand-back failed: " << text << Klogger::endl;
        failHandBack(handBackTarget(), text);
    } catch (...) {
        Klogger::stream() << "Hand-back failed" << Klogger::endl;
        failHandBack(handBackTarget(), tr("Unexpected error", "[ks3]"));
    }
}

QString KsAppStandAlone::handBackTarget() const
{
    switch (launchMode()) {
    case LaunchTunnel:
        return tr("the image editor's document \"%1\"", "[ks3]").arg(m_title);
    case LaunchXmlTunnel:
        return m_outputPath;
    case LaunchAperture:
        return m_editedImage ? m_editedImage->fileName() : QString();
    case LaunchStandalone:
        break;
    }
    return QString();
}

void KsAppStandAlone::failHandBack(const QString& target, const QString& reason)
{
    Klogger::stream() << "Hand-back: cannot write " << target << ": " << reason << Klogger::endl;
    if (m_handBackFailed)
        *m_handBackFailed = true;
    // The caller sees only the exit status, so the user is told here, after the event loop has
    // ended, that the work did not reach its destination.
    try {
        Prompt::warning(mainWindow(), productName(),
                        tr("Could not hand the cut-out back to\n%1\n\n%2", "[ks3]").arg(target, reason));
    } catch (...) {
        Klogger::stream() << "Hand-back: the user could not be told" << Klogger::endl;
    }
}

void KsAppStandAlone::handBackTunnel()
{
    if (handBackStatus() != HandBackApply) {
        Klogger::stream() << "Hand-back: status " << int(handBackStatus()) << ", nothing written" << Klogger::endl;
        return;
    }
    const std::uint8_t* output = m_bits == 8 ? m_output8.get() : reinterpret_cast<std::uint8_t*>(m_output16.get());
    if (!output) {
        Klogger::stream() << "Hand-back: no image was handed over, nothing written" << Klogger::endl;
        return;
    }
    QString reason;
    const platform::SharedMemoryView result = mapHandOver(m_resultHandle, "result", &reason);
    if (!result) {
        failHandBack(handBackTarget(), reason);
        return;
    }
    if (m_bits == 8)
        handoverpixels::copy8(output, result.data(), m_width, m_height);
    else
        handoverpixels::copy16(output, result.data(), m_width, m_height, swapsBytes());
    Klogger::stream() << "Hand-back: cut-out written" << Klogger::endl;
}

void KsAppStandAlone::handBackXmlTunnel()
{
    if (handBackStatus() != HandBackApply || !m_output8 || m_width <= 0 || m_height <= 0) {
        Klogger::stream() << "Hand-back: nothing written to " << m_outputPath << Klogger::endl;
        return;
    }
    // The earlier file at the path stays as it was until the whole PNG is written.
    QSaveFile file(m_outputPath);
    if (!file.open(QIODevice::WriteOnly)) {
        failHandBack(m_outputPath, file.errorString());
        return;
    }
    QString reason;
    bool written = false;
    {
        DeviceStreamBuffer buffer(file);
        std::ostream out(&buffer);
        files::writePng(out, files::Pixels8{int(m_width), int(m_height), m_output8.get(), m_width * 4});
        out.flush();
        written = out && !buffer.failed();
    }
    if (!userfiles::commit(file, written, &reason)) {
        failHandBack(m_outputPath, reason);
        return;
    }
    Klogger::stream() << "Hand-back: cut-out written to " << m_outputPath << Klogger::endl;
}

void KsAppStandAlone::handBackAperture()
{
    // Only what the user applied goes back into the file; a discarded edit leaves it alone.
    if (handBackStatus() != HandBackApply) {
        Klogger::stream() << "Hand-back: status " << int(handBackStatus()) << ", file left as it was" << Klogger::endl;
        return;
    }
    if (!m_editedImage) {
        Klogger::stream() << "Hand-back: no image was opened, nothing written" << Klogger::endl;
        return;
    }
    QString reason;
    if (!m_editedImage->save(&reason)) {
        failHandBack(m_editedImage->fileName(), reason);
        return;
    }
    Klogger::stream() << "Hand-back: saved " << m_editedImage->fileName() << Klogger::endl;
}
