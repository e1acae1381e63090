#pragma once
// The image the user cuts out: its pixels as they came from a file, a drop or the host's
// shared memory, in 8-bit or 16-bit form, and what is derived from them: the 8-bit ARGB image
// for display and for the engine, its pixmap, and the same image at the workspace resolution.
// Pixels are interleaved with four channels in the memory order of Format_ARGB32 (B, G, R, A),
// 16-bit samples included.

#include "dravik.h"

#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <memory>

class NamedImage;

class KsSourceImage : public QObject {
    Q_OBJECT
public:
    // Which pixels are authoritative.
    enum MasterKind { MasterDisplayImage = 0, Master16Bit = 1, Master8BitBuffer = 2 };
    // Sample format, as stored in project files.
    enum SampleFormat { Samples8 = 1, Samples16 = 2, Samples16Half = 3 };
    // The writer save() uses.
    enum FileKind { FileNone = 0, FilePng = 1, FileTiff = 2 };

    struct View8 {
        int width = 0;
        int height = 0;
        std::uint8_t* data = nullptr;
        qint64 bytesPerLine = 0;
    };
    struct View16 {
        int width = 0;
        int height = 0;
        std::uint16_t* data = nullptr;
        qint64 bytesPerLine = 0;
    };
    struct FullRange {};

    // Takes a dropped or pasted picture, converted to straight ARGB32 whatever its format.
    explicit KsSourceImage(const NamedImage& image);
    // Reads a file: PNG and TIFF through our own readers into a 16-bit master, anything else
    // through Qt (turned upright by its EXIF orientation); a PNG or TIFF our readers refuse is
    // not read again by Qt's. Opening an image, its cut-out copy included, is weighed against
    // the memory available before any pixels are allocated. A file no reader can read, or one
    // that does not fit in memory, leaves the image not valid and is reported to the user;
    // nothing is thrown.
    explicit KsSourceImage(const QString& fileName);
    // Pixels in memory the caller keeps alive for the image's life, used in place: 8-bit, or
    // 16-bit on the 0..32768 scale.
    KsSourceImage(const View8& view, const QString& name);
    KsSourceImage(const View16& view, const QString& name);
    // Deep copy.
    KsSourceImage(const KsSourceImage& other);
    // Deep copy with 16-bit samples on the full 0..65535 scale.
    KsSourceImage(const KsSourceImage& other, FullRange);
    // Shares the other's pixels: writes land in the other, which must outlive this one.
    KsSourceImage(const KsSourceImage& other, int);
    // The reverse of toVariant.
    explicit KsSourceImage(const QVariant& variant);
    // The size and master kind of the image a map of toVariant holds, read from the stored
    // picture's header without decoding its pixels; false when it holds no usable picture.
    static bool storedLayout(const QVariant& variant, QSize& size, int& masterKind);
    ~KsSourceImage() override;

    KsSourceImage& operator=(const KsSourceImage&) = delete;

    bool isValid() const { return m_valid; }
    // Not valid for lack of memory: refused as too large for what is available, or an
    // allocation failed while it was built.
    bool lackedMemory() const { return m_lackedMemory; }
    const QString& fileName() const { return m_fileName; }
    void setFileName(const QString& fileName) { m_fileName = fileName; }
    int fileKind() const { return m_fileKind; }
    void setFileKind(int kind) { m_fileKind = kind; }
    int masterKind() const { return m_master; }
    int sampleFormat() const { return m_format; }
    bool isBorrowed() const { return m_borrowed != 0; }
    int width() const { return m_view8.width; }
    int height() const { return m_view8.height; }

    // Marks the display pixmap (and, for a 16-bit master, the 8-bit pixels) out of date, after
    // something (the engine) wrote into the master pixels.
    void setPixmapDirty() { m_pixmapDirty = true; }
    void updatePixmap();
    // Builds the working image at the model's divisor. A working image already built from the
    // same pixels at that divisor is kept in place: the engine reads it for a whole session.
    void updateWorkingImage();

    QImage qImage();
    const QPixmap& pixmap();
    const QImage& workingImage() const { return m_workingImage; }
    const QPixmap& workingPixmap() const { return m_workingPixmap; }
    const View8& workingView() const { return m_workingView; }
    const View8& view8() const { return m_view8; }
    const View16& view16() const { return m_view16; }

    // Converts 16-bit samples from the 0..32768 scale (source, this image when null) to the
    // full scale into this image's 16-bit pixels; every other pair does nothing.
    void convertFormat(int target, const KsSourceImage* source = nullptr);
    // The master pixels as the engine's mask generation takes them; all zero without pixels.
    DvImageDesc fullResolutionPixels();
    // Project fingerprint: CRC-16 of the first row's first width bytes, xor width, xor height;
    // 0 for an image that is not valid.
    quint32 checksum() const;
    QVariant toVariant() const;
    // Writes the file by its kind (PNG or TIFF, transparency kept) through a temporary file
    // beside it, so that a failed write leaves any earlier file untouched. A symbolic link is
    // followed: the file it names is replaced and the link kept. When it fails, the reason (for
    // the user) goes to `reason` when one is given.
    bool save(QString* reason = nullptr);

    // The engine's descriptor of a QImage: pixel type 0 for Indexed8, 1 for 32-bit RGB and ARGB,
    // -1 (unusable) otherwise. The image's pixels are written in place; it must not be shared.
    static DvImageDesc imageDescriptor(const QImage& image);

    // Sample conversions, exposed for tests: 0..65535 to 8 bits, 0..32768 to 8 bits, and
    // 0..32768 to 0..65535. Values beyond the scale saturate.
    static std::uint8_t full16To8(std::uint32_t x) { return std::uint8_t((x + 128) / 257); }
    static std::uint8_t half16To8(std::uint32_t x)
    {
        const std::uint32_t v = (x * 255) >> 15;
        return std::uint8_t(v > 255 ? 255 : v);
    }
    static std::uint16_t half16ToFull(std::uint32_t x)
    {
        const std::uint32_t v = (x * 65535) >> 15;
        return std::uint16_t(v > 65535 ? 65535 : v);
    }
    // Every sample of `from` into `to` (same size) by the rule of the sample format (2 or 3).
    static void convertTo8(const View16& from, const View8& to, int sampleFormat);

private:
    void init();
    // False when the file is no PNG or TIFF, or is one that cannot be read; `reason` then says
    // why (for the user).
    bool readOwnFormat(const QString& fileName, bool& tooLarge, QString& reason);
    void refreshPixmaps();
    void allocate16(int width, int height);
    void allocate8(int width, int height);
    void dropPixels();
    void copyPixelsFrom(const KsSourceImage& other);
    bool loadPngBlob(const QByteArray& bytes, int kind);
    void scaleInto(QImage& working) const;
    void warnCannotOpen(const QString& fileName, const QString& detail) const;

    QString m_fileName;
    bool m_valid = true;
    bool m_lackedMemory = false;
    bool m_pixmapDirty = true;
    QPixmap m_displayPixmap;
    QPixmap m_workingPixmap;
    QImage m_display;
    QImage m_workingImage;
    View8 m_workingView;
    View8 m_view8;
    View16 m_view16;
    std::unique_ptr<std::uint32_t[]> m_buffer8;   // one word a pixel, rows packed
    std::unique_ptr<std::uint16_t[]> m_buffer16;  // four samples a pixel, rows packed
    int m_master = MasterDisplayImage;
    int m_borrowed = 0;
    int m_format = Samples8;
    int m_fileKind = FileNone;

    // What the working image was built from, so that it is rebuilt only when that changes.
    int m_workingDivisor = 0;
    const void* m_workingFrom = nullptr;
    quint64 m_pixelRevision = 0;
    quint64 m_workingRevision = 0;
};
