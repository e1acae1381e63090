#include "document/KsSourceImage.h"

#include "document/DeviceStreamBuffer.h"
#include "document/ExifOrientation.h"
#include "document/GmModel.h"
#include "document/ImageMemory.h"
#include "document/MemoryStreamBuffer.h"
#include "document/NamedImage.h"
#include "document/Prompt.h"
#include "document/QtImageFiles.h"
#include "document/SourceImageFiles.h"
#include "document/Texts.h"
#include "document/UserFiles.h"

#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QSaveFile>
#include <QVariantMap>

#include <climits>
#include <cmath>
#include <cstring>
#include <istream>
#include <new>
#include <ostream>

namespace files = sourceimagefiles;

namespace {

const QString kValidKey = QStringLiteral("valid_");
const QString kFileNameKey = QStringLiteral("filename_");
const QString kFormatKey = QStringLiteral("format_");
const QString kMasterKey = QStringLiteral("imageMaster_");
const QString kImageKey = QStringLiteral("imageImage_");

// Qt 5 images hold at most 2 GiB; the 8-bit form of every source image must fit in one.
bool fitsQImage(qint64 width, qint64 height)
{
    return width > 0 && height > 0 && width <= (INT_MAX - 31) / 32 && width * 4 * height <= INT_MAX;
}

std::string localPath(const QString& fileName)
{
    return QFile::encodeName(fileName).toStdString();
}

// A reader's reason as a paragraph of the open message: in its own words, begun as a sentence.
QString reasonParagraph(const QString& reason)
{
    if (reason.isEmpty())
        return QString();
    return QStringLiteral("\n\n") + reason.at(0).toUpper() + reason.mid(1);
}

files::Pixels8 pixels(const KsSourceImage::View8& v)
{
    return {v.width, v.height, v.data, v.bytesPerLine};
}

files::Pixels16 pixels(const KsSourceImage::View16& v)
{
    return {v.width, v.height, v.data, v.bytesPerLine};
}

bool hasGui()
{
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

// Asked for without an exception and thrown here: a build with the address sanitizer then
// hands a shortage back as the release build does, instead of ending the program.
template <typename T>
std::unique_ptr<T[]> pixelBuffer(std::size_t count)
{
    T* block = new (std::nothrow) T[count];
    if (!block)
        throw std::bad_alloc();
    return std::unique_ptr<T[]>(block);
}

template <typename Sample>
void copyRows(const Sample* from, qint64 fromBytesPerLine, Sample* to, qint64 toBytesPerLine, int width, int height)
{
    const std::size_t rowBytes = std::size_t(width) * 4 * sizeof(Sample);
    for (int y = 0; y < height; ++y)
        std::memcpy(reinterpret_cast<char*>(to) + y * toBytesPerLine,
                    reinterpret_cast<const char*>(from) + y * fromBytesPerLine, rowBytes);
}

} // namespace

// --- construction ---------------------------------------------------------------------------

KsSourceImage::KsSourceImage(const NamedImage& image) : m_fileName(image.name())
{
    m_master = MasterDisplayImage;
    m_format = Samples8;
    // Straight ARGB32 whatever came in: the engine reads 32-bit pixels with straight alpha.
    m_display = image.convertToFormat(QImage::Format_ARGB32);
    if (m_display.isNull() || !fitsQImage(m_display.width(), m_display.height())) {
        m_valid = false;
        m_display = QImage();
        return;
    }
    init();
}

KsSourceImage::KsSourceImage(const QString& fileName) : m_fileName(fileName)
{
    m_valid = false;
    m_master = Master16Bit;
    m_format = Samples16;
    if (!userfiles::mayOpen(fileName, "Image")) {
        warnCannotOpen(fileName, QString());
        return;
    }
    bool tooLarge = false;
    QString reason;
    if (readOwnFormat(fileName, tooLarge, reason)) {
        m_valid = true;
        init();
        if (m_valid)
            return;
        if (m_lackedMemory) {
            const qint64 width = m_view16.width;
            const qint64 height = m_view16.height;
            // Given back before the user reads the message.
            dropPixels();
            imagememory::tell(fileName, imagememory::allocationFailed(
                                            width, height, imagememory::toOpen(width, height, imagememory::Held::Own16Bit)));
            return;
        }
    }
    if (tooLarge)
        return;

    // Qt's reader is for the other formats: a PNG or TIFF that ours refused, read again by
    // Qt's, would cost again whatever it made ours refuse it.
    const std::string path = localPath(fileName);
    const bool ownFormat = files::looksLikePng(path) || files::looksLikeTiff(path);
    if (!ownFormat && !qtImageFileFits(fileName)) {
        m_lackedMemory = true;
        return;
    }
    QString qtReason;
    QImage image;
    if (!ownFormat)
        image = readQtImageFile(fileName, &qtReason);
    if (!image.isNull()) {
        applyExifOrientation(fileName, image);
        if (!fitsQImage(image.width(), image.height())) {
            warnCannotOpen(fileName, tr("\n\nThe image is too large: %1 x %2 pixels.").arg(image.width()).arg(image.height()));
            return;
        }
        m_display = image.convertToFormat(QImage::Format_ARGB32);
        if (!m_display.isNull()) {
            m_master = MasterDisplayImage;
            m_format = Samples8;
            m_fileKind = FileNone;
            m_valid = true;
            init();
            if (m_valid)
                return;
        }
        // Qt answers an image it cannot allocate with a null one.
        if (m_display.isNull() || m_lackedMemory) {
            m_lackedMemory = true;
            m_display = QImage();
            imagememory::tell(fileName, imagememory::allocationFailed(
                                            image.width(), image.height(),
                                            imagememory::toOpen(image.width(), image.height(), imagememory::Held::Own8Bit)));
            return;
        }
    }
    m_display = QImage();
    if (reason.isEmpty() && !qtReason.isEmpty()) {
        reason = qtReason;
        qWarning("KsSourceImage: cannot read %s: %s", qUtf8Printable(fileName), qUtf8Printable(reason));
    }
    warnCannotOpen(fileName, reasonParagraph(reason)
                                 + tr("\n\nIf you have Adobe Photoshop you could try loading the file into it, "
                                      "and applying the %1 filter there.").arg(productName()));
}

KsSourceImage::KsSourceImage(const View8& view, const QString& name) : m_fileName(name)
{
    m_master = Master8BitBuffer;
    m_format = Samples8;
    m_borrowed = 1;
    if (!view.data || !fitsQImage(view.width, view.height) || view.bytesPerLine < qint64(view.width) * 4) {
        qWarning("KsSourceImage: unusable 8-bit pixels for %s", qUtf8Printable(name));
        m_valid = false;
        return;
    }
    m_view8 = view;
    init();
}

KsSourceImage::KsSourceImage(const View16& view, const QString& name) : m_fileName(name)
{
    m_master = Master16Bit;
    m_format = Samples16Half;
    m_borrowed = 1;
    if (!view.data || !fitsQImage(view.width, view.height) || view.bytesPerLine < qint64(view.width) * 8) {
        qWarning("KsSourceImage: unusable 16-bit pixels for %s", qUtf8Printable(name));
        m_valid = false;
        return;
    }
    m_view16 = view;
    init();
}

KsSourceImage::KsSourceImage(const KsSourceImage& other) : QObject()
{
    copyPixelsFrom(other);
}

KsSourceImage::KsSourceImage(const KsSourceImage& other, FullRange)
    : m_fileName(other.m_fileName), m_fileKind(other.m_fileKind)
{
    m_master = other.m_master;
    m_format = Samples16;
    if (!other.m_valid || other.m_master != Master16Bit || !other.m_view16.data) {
        m_valid = false;
        return;
    }
    try {
        allocate16(other.m_view16.width, other.m_view16.height);
    } catch (const std::bad_alloc&) {
        m_valid = false;
        return;
    }
    if (other.m_format == Samples16Half) {
        m_format = Samples16Half;
        convertFormat(Samples16, &other);
    } else {
        copyRows(other.m_view16.data, other.m_view16.bytesPerLine, m_view16.data, m_view16.bytesPerLine,
                 m_view16.width, m_view16.height);
    }
    init();
}

KsSourceImage::KsSourceImage(const KsSourceImage& other, int)
    : m_fileName(other.m_fileName), m_fileKind(other.m_fileKind)
{
    m_master = other.m_master;
    m_format = other.m_format;
    m_borrowed = 1;
    m_valid = other.m_valid;
    if (!m_valid)
        return;
    switch (m_master) {
    case MasterDisplayImage:
        m_display = QImage(const_cast<uchar*>(other.m_display.constBits()), other.m_display.width(),
                           other.m_display.height(), other.m_display.bytesPerLine(), other.m_display.format());
        break;
    case Master16Bit:
        m_view16 = other.m_view16;
        break;
    default:
        m_view8 = other.m_view8;
        break;
    }
    init();
}

KsSourceImage::KsSourceImage(const QVariant& variant)
{
    const QVariantMap map = variant.toMap();
    m_fileName = map.value(kFileNameKey).toString();
    m_valid = map.value(kValidKey).toBool();
    m_master = map.contains(kMasterKey) ? map.value(kMasterKey).toInt() : MasterDisplayImage;
    m_format = map.contains(kFormatKey) ? map.value(kFormatKey).toInt() : Samples8;
    if (!m_valid)
        return;
    bool ok = m_format >= Samples8 && m_format <= Samples16Half;
    if (ok) {
        switch (m_master) {
        case MasterDisplayImage: {
            const QImage stored = map.value(kImageKey).value<QImage>();
            m_display = stored.convertToFormat(QImage::Format_ARGB32);
            m_lackedMemory = m_display.isNull() && !stored.isNull();
            ok = !m_display.isNull() && fitsQImage(m_display.width(), m_display.height());
            break;
        }
        case Master16Bit:
        case Master8BitBuffer:
            ok = loadPngBlob(map.value(kImageKey).toByteArray(), m_master);
            break;
        default:
            ok = false;
            break;
        }
    }
    if (!ok) {
        qWarning("KsSourceImage: the stored image of %s cannot be read", qUtf8Printable(m_fileName));
        m_valid = false;
        m_display = QImage();
        return;
    }
    init();
}

KsSourceImage::~KsSourceImage() = default;

void KsSourceImage::copyPixelsFrom(const KsSourceImage& other)
{
    m_fileName = other.m_fileName;
    m_fileKind = other.m_fileKind;
    m_master = other.m_master;
    m_format = other.m_format;
    m_valid = other.m_valid;
    if (!m_valid)
        return;
    try {
        switch (m_master) {
        case MasterDisplayImage:
            m_display = other.m_display.copy();
            break;
        case Master16Bit:
            allocate16(other.m_view16.width, other.m_view16.height);
            copyRows(other.m_view16.data, other.m_view16.bytesPerLine, m_view16.data, m_view16.bytesPerLine,
                     m_view16.width, m_view16.height);
            break;
        default:
            allocate8(other.m_view8.width, other.m_view8.height);
            copyRows(other.m_view8.data, other.m_view8.bytesPerLine, m_view8.data, m_view8.bytesPerLine,
                     m_view8.width, m_view8.height);
            break;
        }
    } catch (const std::bad_alloc&) {
        qWarning("KsSourceImage: out of memory copying %s", qUtf8Printable(m_fileName));
        m_valid = false;
        m_lackedMemory = true;
        return;
    }
    // Qt answers a copy it cannot allocate with a null image.
    if (m_master == MasterDisplayImage && m_display.isNull()) {
        m_valid = false;
        m_lackedMemory = !other.m_display.isNull();
        return;
    }
    init();
}

bool KsSourceImage::readOwnFormat(const QString& fileName, bool& tooLarge, QString& reason)
{
    const std::string path = localPath(fileName);
    int kind = FileNone;
    files::Dimensions size;
    try {
        if (files::looksLikePng(path))
            kind = FilePng;
        else if (files::looksLikeTiff(path))
            kind = FileTiff;
        else
            return false;
        size = kind == FilePng ? files::pngDimensions(path) : files::tiffDimensions(path);
        if (!fitsQImage(size.width, size.height)) {
            tooLarge = true;
            qWarning("KsSourceImage: %s is too large: %lld x %lld pixels", qUtf8Printable(fileName),
                     static_cast<long long>(size.width), static_cast<long long>(size.height));
            warnCannotOpen(fileName, tr("\n\nThe image is too large: %1 x %2 pixels.").arg(size.width).arg(size.height));
            return false;
        }
        if (!imagememory::fits(fileName, size.width, size.height,
                               imagememory::toOpen(size.width, size.height, imagememory::Held::Own16Bit))) {
            tooLarge = true;
            m_lackedMemory = true;
            return false;
        }
        allocate16(int(size.width), int(size.height));
        if (kind == FilePng)
            files::readPng(path, pixels(m_view16));
        else
            files::readTiff(path, pixels(m_view16));
    } catch (const std::bad_alloc&) {
        dropPixels();
        tooLarge = true;
        m_lackedMemory = true;
        imagememory::tell(fileName, imagememory::allocationFailed(
                                        size.width, size.height,
                                        imagememory::toOpen(size.width, size.height, imagememory::Held::Own16Bit)));
        return false;
    } catch (const std::exception& e) {
        qWarning("KsSourceImage: cannot read %s as %s: %s", qUtf8Printable(fileName),
                 kind == FilePng ? "PNG" : "TIFF", e.what());
        reason = QString::fromLocal8Bit(e.what());
        m_buffer16.reset();
        m_view16 = View16();
        return false;
    }
    m_fileKind = kind;
    return true;
}

void KsSourceImage::dropPixels()
{
    m_display = QImage();
    m_displayPixmap = QPixmap();
    m_buffer16.reset();
    m_buffer8.reset();
    m_view16 = View16();
    m_view8 = View8();
}

bool KsSourceImage::loadPngBlob(const QByteArray& bytes, int kind)
{
    try {
        MemoryStreamBuffer header(bytes);
        std::istream headerStream(&header);
        const files::Dimensions size = files::pngDimensions(headerStream);
        if (!fitsQImage(size.width, size.height))
            return false;
        MemoryStreamBuffer body(bytes);
        std::istream bodyStream(&body);
        if (kind == Master16Bit) {
            allocate16(int(size.width), int(size.height));
            files::readPng(bodyStream, pixels(m_view16));
        } else {
            allocate8(int(size.width), int(size.height));
            files::readPng(bodyStream, pixels(m_view8));
        }
        return true;
    } catch (const std::exception& e) {
        qWarning("KsSourceImage: stored PNG unreadable: %s", e.what());
        m_lackedMemory = dynamic_cast<const std::bad_alloc*>(&e) != nullptr;
        m_buffer16.reset();
        m_buffer8.reset();
        m_view16 = View16();
        m_view8 = View8();
        return false;
    }
}

bool KsSourceImage::storedLayout(const QVariant& variant, QSize& size, int& masterKind)
{
    const QVariantMap map = variant.toMap();
    if (!map.value(kValidKey).toBool())
        return false;
    masterKind = map.contains(kMasterKey) ? map.value(kMasterKey).toInt() : MasterDisplayImage;
    switch (masterKind) {
    case MasterDisplayImage: {
        const QImage image = map.value(kImageKey).value<QImage>();
        size = image.size();
        return !image.isNull() && fitsQImage(image.width(), image.height());
    }
    case Master16Bit:
    case Master8BitBuffer:
        try {
            MemoryStreamBuffer header(map.value(kImageKey).toByteArray());
            std::istream headerStream(&header);
            const files::Dimensions dimensions = files::pngDimensions(headerStream);
            if (!fitsQImage(dimensions.width, dimensions.height))
                return false;
            size = QSize(int(dimensions.width), int(dimensions.height));
            return true;
        } catch (const std::exception& e) {
            qWarning("KsSourceImage: stored PNG unreadable: %s", e.what());
            return false;
        }
    default:
        return false;
    }
}

void KsSourceImage::allocate16(int width, int height)
{
    m_buffer16 = pixelBuffer<std::uint16_t>(std::size_t(width) * std::size_t(height) * 4);
    m_view16 = {width, height, m_buffer16.get(), qint64(width) * 8};
}

void KsSourceImage::allocate8(int width, int height)
{
    m_buffer8 = pixelBuffer<std::uint32_t>(std::size_t(width) * std::size_t(height));
    m_view8 = {width, height, reinterpret_cast<std::uint8_t*>(m_buffer8.get()), qint64(width) * 4};
}

void KsSourceImage::init()
{
    try {
        switch (m_master) {
        case MasterDisplayImage:
            // bits() gives this image pixels of its own, which the engine may write into.
            m_view8 = {m_display.width(), m_display.height(), m_display.bits(), qint64(m_display.bytesPerLine())};
            break;
        case Master16Bit:
            allocate8(m_view16.width, m_view16.height);
            convertTo8(m_view16, m_view8, m_format);
            m_display = QImage(m_view8.data, m_view8.width, m_view8.height, m_view8.bytesPerLine, QImage::Format_ARGB32);
            break;
        case Master8BitBuffer:
            m_display = QImage(m_view8.data, m_view8.width, m_view8.height, m_view8.bytesPerLine, QImage::Format_ARGB32);
            break;
        default:
            m_valid = false;
            return;
        }
    } catch (const std::bad_alloc&) {
        qWarning("KsSourceImage: out of memory building the display image of %s", qUtf8Printable(m_fileName));
        m_valid = false;
        m_lackedMemory = true;
        m_display = QImage();
        return;
    }
    if (m_display.isNull() || !m_view8.data) {
        m_valid = false;
        return;
    }
    ++m_pixelRevision;
    refreshPixmaps();
    // Qt answers a pixmap it cannot allocate with a null one; the image would show as nothing.
    if (hasGui() && m_displayPixmap.isNull()) {
        qWarning("KsSourceImage: out of memory for the display pixmap of %s", qUtf8Printable(m_fileName));
        m_valid = false;
        m_lackedMemory = true;
        return;
    }
    m_pixmapDirty = false;
    qWarning("%s", qUtf8Printable(QStringLiteral("KsSourceImage::init ") + m_fileName
                                  + QStringLiteral(", (width, height) = (") + QString::number(m_view8.width)
                                  + QStringLiteral(", ") + QString::number(m_view8.height) + QStringLiteral(")")));
}

void KsSourceImage::warnCannotOpen(const QString& fileName, const QString& detail) const
{
    Prompt::warning(nullptr, productName(), tr("Sorry - could not open file %1").arg(fileName) + detail);
}

// --- derived images -------------------------------------------------------------------------

void KsSourceImage::convertTo8(const View16& from, const View8& to, int sampleFormat)
{
    const int samples = from.width * 4;
    const bool half = sampleFormat == Samples16Half;
    for (int y = 0; y < from.height; ++y) {
        const std::uint16_t* s = reinterpret_cast<const std::uint16_t*>(
            reinterpret_cast<const char*>(from.data) + y * from.bytesPerLine);
        std::uint8_t* d = to.data + y * to.bytesPerLine;
        if (half) {
            for (int i = 0; i < samples; ++i)
                d[i] = half16To8(s[i]);
        } else {
            for (int i = 0; i < samples; ++i)
                d[i] = full16To8(s[i]);
        }
    }
}

void KsSourceImage::refreshPixmaps()
{
    // Pixmaps need the GUI; without one (tools, benchmarks) the images alone are kept.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    m_displayPixmap = QPixmap::fromImage(m_display);
    if (m_workingDivisor == 1)
        m_workingPixmap = m_displayPixmap;
}

void KsSourceImage::updatePixmap()
{
    if (!m_pixmapDirty || !m_valid)
        return;
    // Kinds 0 and 2 share the pixels the engine writes, so their pixmap goes stale as well.
    if (m_master == Master16Bit)
        convertTo8(m_view16, m_view8, m_format);
    ++m_pixelRevision;
    refreshPixmaps();
    m_pixmapDirty = false;
}

QImage KsSourceImage::qImage()
{
    updatePixmap();
    return m_display;
}

const QPixmap& KsSourceImage::pixmap()
{
    updatePixmap();
    return m_displayPixmap;
}

void KsSourceImage::scaleInto(QImage& working) const
{
    const DvResult result = DvScaleImage(imageDescriptor(working), imageDescriptor(m_display));
    if (result == DvOk)
        return;
    qWarning("KsSourceImage::updateWorkingImage: DvScaleImage returned %d for %s; scaled by Qt instead",
             result, qUtf8Printable(m_fileName));
    const QImage scaled = m_display.scaled(working.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                              .convertToFormat(working.format());
    const qint64 rowBytes = qMin(scaled.bytesPerLine(), working.bytesPerLine());
    uchar* to = const_cast<uchar*>(working.constBits());
    for (int y = 0; y < working.height(); ++y)
        std::memcpy(to + y * qint64(working.bytesPerLine()), scaled.constScanLine(y), std::size_t(rowBytes));
}

void KsSourceImage::updateWorkingImage()
{
    updatePixmap();
    if (!m_valid)
        return;
    const int divisor = GmModel::instance()->resolution();
    if (divisor == m_workingDivisor && m_workingFrom == m_display.constBits()) {
        // Same pixels at the same divisor: keep the image the engine may be reading, refreshed
        // in place when the pixels behind it changed.
        if (m_workingRevision != m_pixelRevision && divisor > 1) {
            scaleInto(m_workingImage);
            if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
                m_workingPixmap = QPixmap::fromImage(m_workingImage);
        }
        m_workingRevision = m_pixelRevision;
        return;
    }
    m_workingDivisor = divisor;
    m_workingFrom = m_display.constBits();
    m_workingRevision = m_pixelRevision;
    if (divisor == 1) {
        m_workingImage = m_display;
        m_workingPixmap = m_displayPixmap;
        m_workingView = m_view8;
        return;
    }
    const double scale = 1.0 / divisor;
    const int width = int(std::ceil(m_display.width() * scale));
    const int height = int(std::ceil(m_display.height() * scale));
    QImage working(width, height, m_display.format());
    if (working.isNull()) {
        qWarning("KsSourceImage: out of memory for the working image of %s", qUtf8Printable(m_fileName));
        m_workingImage = QImage();
        m_workingPixmap = QPixmap();
        m_workingView = View8();
        m_workingDivisor = 0;
        return;
    }
    scaleInto(working);
    m_workingImage = working;
    m_workingView = {width, height, const_cast<uchar*>(m_workingImage.constBits()), qint64(m_workingImage.bytesPerLine())};
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        m_workingPixmap = QPixmap::fromImage(m_workingImage);
}

void KsSourceImage::convertFormat(int target, const KsSourceImage* source)
{
    const KsSourceImage* from = source ? source : this;
    if (from->m_format != Samples16Half || target != Samples16)
        return;
    const View16& s = from->m_view16;
    if (!s.data || !m_view16.data || s.width != m_view16.width || s.height != m_view16.height)
        return;
    const int samples = s.width * 4;
    for (int y = 0; y < s.height; ++y) {
        const std::uint16_t* in = reinterpret_cast<const std::uint16_t*>(
            reinterpret_cast<const char*>(s.data) + y * s.bytesPerLine);
        std::uint16_t* out = reinterpret_cast<std::uint16_t*>(
            reinterpret_cast<char*>(m_view16.data) + y * m_view16.bytesPerLine);
        for (int i = 0; i < samples; ++i)
            out[i] = half16ToFull(in[i]);
    }
    m_pixmapDirty = true;
    m_format = Samples16;
}

DvImageDesc KsSourceImage::fullResolutionPixels()
{
    updatePixmap();
    DvImageDesc desc{};
    if (!m_valid)
        return desc;
    if (m_master == MasterDisplayImage || m_master == Master8BitBuffer) {
        desc = {m_view8.width, m_view8.height, unsigned(m_view8.bytesPerLine), DvPixelRgba8, m_view8.data};
    } else if (m_master == Master16Bit) {
        desc = {m_view16.width, m_view16.height, unsigned(m_view16.bytesPerLine),
                m_format == Samples16Half ? DvPixelRgba16H : DvPixelRgba16, m_view16.data};
    }
    return desc;
}

DvImageDesc KsSourceImage::imageDescriptor(const QImage& image)
{
    int type = -1;
    switch (image.format()) {
    case QImage::Format_Indexed8: type = DvPixelStatus; break;
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32: type = DvPixelRgba8; break;
    default: break;
    }
    return {image.width(), image.height(), unsigned(image.bytesPerLine()), type,
            const_cast<uchar*>(image.constBits())};
}

quint32 KsSourceImage::checksum() const
{
    if (!m_valid)
        return 0;
    const bool wide = m_master == Master16Bit;
    const char* first = wide ? reinterpret_cast<const char*>(m_view16.data) : reinterpret_cast<const char*>(m_view8.data);
    const int width = wide ? m_view16.width : m_view8.width;
    const int height = wide ? m_view16.height : m_view8.height;
    if (!first || width <= 0)
        return 0;
    return quint32(qChecksum(first, uint(width))) ^ quint32(width) ^ quint32(height);
}

// --- project map and files --------------------------------------------------------------------

QVariant KsSourceImage::toVariant() const
{
    QVariantMap map;
    map.insert(kValidKey, m_valid);
    map.insert(kFileNameKey, m_fileName);
    map.insert(kFormatKey, m_format);
    map.insert(kMasterKey, m_master);
    if (m_valid) {
        if (m_master == MasterDisplayImage) {
            map.insert(kImageKey, m_display);
        } else {
            QByteArray bytes;
            try {
                QBuffer device(&bytes);
                device.open(QIODevice::WriteOnly);
                DeviceStreamBuffer buffer(device);
                std::ostream out(&buffer);
                if (m_master == Master16Bit)
                    files::writePng(out, pixels(m_view16));
                else
                    files::writePng(out, pixels(m_view8));
            } catch (const std::exception& e) {
                qWarning("KsSourceImage: cannot store %s: %s", qUtf8Printable(m_fileName), e.what());
                bytes.clear();
            }
            map.insert(kImageKey, bytes);
        }
    }
    return map;
}

bool KsSourceImage::save(QString* reason)
{
    const auto fail = [reason](const QString& why) {
        if (reason)
            *reason = why;
        return false;
    };
    if (!m_valid)
        return fail(tr("There is no image to save.", "[ks3]"));
    if (m_format == Samples16Half) {
        KsSourceImage copy(*this, FullRange{});
        if (!copy.isValid()) {
            qWarning("No image present to save.");
            return fail(tr("There is no image to save.", "[ks3]"));
        }
        copy.m_fileName = m_fileName;
        copy.m_fileKind = m_fileKind;
        return copy.save(reason);
    }
    if (m_fileKind != FilePng && m_fileKind != FileTiff)
        return fail(tr("Only PNG and TIFF files can keep the transparency of a cut-out.", "[ks3]"));
    const bool wide = m_format == Samples16;
    if (wide ? !m_view16.data : (m_format != Samples8 || !m_view8.data))
        return fail(tr("There is no image to save.", "[ks3]"));
    if (!wide)
        updatePixmap();

    // QSaveFile writes beside the file a link finally names and replaces that file, keeping
    // its permissions: the link stays, the earlier file stays whole until the new one is.
    QSaveFile file(m_fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        qWarning("KsSourceImage::save: cannot write beside %s: %s", qUtf8Printable(m_fileName),
                 qUtf8Printable(file.errorString()));
        return fail(file.errorString());
    }
    QString why;
    bool written = false;
    try {
        DeviceStreamBuffer buffer(file);
        std::ostream out(&buffer);
        if (m_fileKind == FilePng) {
            if (wide)
                files::writePng(out, pixels(m_view16));
            else
                files::writePng(out, pixels(m_view8));
        } else {
            if (wide)
                files::writeTiff(out, pixels(m_view16));
            else
                files::writeTiff(out, pixels(m_view8));
        }
        out.flush();
        written = out && !buffer.failed();
    } catch (const std::exception& e) {
        // The device's own reason (a full disk), when it has one, says more than the writer's.
        why = QString::fromLocal8Bit(e.what());
    }
    if (!userfiles::commit(file, written, &why)) {
        qWarning("KsSourceImage::save: cannot write %s: %s", qUtf8Printable(m_fileName), qUtf8Printable(why));
        return fail(why);
    }
    return true;
}
