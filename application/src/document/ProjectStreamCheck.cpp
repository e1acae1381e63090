#include "document/ProjectStreamCheck.h"

#include <QMetaType>
#include <QPainterPath>

#include <cstring>

namespace {

// Which picture, if any, a value may be: pictures sit only under the keys that hold them.
enum class PictureKind { None, Image, Bitmap };

// A PNG's pixels come out of deflate data, which expands at most about 1032 times; a picture
// that claims more pixel bytes than its data can carry would only be allocated to fail.
constexpr double kMaxInflation = 1032.0;
constexpr double kInflationSlack = 4096.0;

constexpr quint32 kNullLength = 0xFFFFFFFFu;

// The smallest encodings: a variant is a type id and a null flag, a string its length.
constexpr qint64 kMinVariant = 5;
constexpr qint64 kMinString = 4;
constexpr qint64 kPointF = 16;
constexpr qint64 kPathElement = 20;

using Picture = ProjectStreamCheck::Picture;

// What a PNG's header says, and whether the file gives a colour transparency.
struct PngHeader {
    quint32 width = 0;
    quint32 height = 0;
    int depth = 0;
    int colourType = 0;
    bool transparency = false;
};

class Walk {
public:
    Walk(const char* data, qint64 size, QList<Picture>* pictures)
        : m_at(reinterpret_cast<const uchar*>(data)), m_left(size > 0 ? size : 0), m_pictures(pictures)
    {
    }

    qint64 left() const { return m_left; }

    bool variant(int depth, PictureKind picture)
    {
        quint32 type = 0;
        quint8 null = 0;
        if (!u32(type) || !u8(null) || null > 1)
            return false;
        switch (type) {
        case QMetaType::UnknownType:
            return true;
        case QMetaType::Bool:
            return skip(1);
        case QMetaType::Int:
            return skip(4);
        case QMetaType::Double:
            return skip(8);
        case QMetaType::QPointF:
            return skip(kPointF);
        case QMetaType::QRectF:
            return skip(2 * kPointF);
        case QMetaType::QColor:
            return colour();
        case QMetaType::QString:
            return string(nullptr, nullptr);
        case QMetaType::QByteArray:
            return picture == PictureKind::Image ? storedPng() : bytes();
        case QMetaType::QStringList:
            return stringList();
        case QMetaType::QPolygonF:
            return polygon();
        case QMetaType::QVariantList:
            return list(depth + 1);
        case QMetaType::QVariantMap:
            return map(depth + 1);
        case QMetaType::QImage:
            return picture == PictureKind::Image && png();
        case QMetaType::QBitmap:
            return picture == PictureKind::Bitmap && png();
        case QMetaType::User:
            return painterPath();
        default:
            return false;
        }
    }

private:
    bool skip(qint64 n)
    {
        if (n < 0 || n > m_left)
            return false;
        m_at += n;
        m_left -= n;
        return true;
    }
    bool u8(quint8& value)
    {
        if (m_left < 1)
            return false;
        value = m_at[0];
        return skip(1);
    }
    bool u32(quint32& value)
    {
        if (m_left < 4)
            return false;
        value = quint32(m_at[0]) << 24 | quint32(m_at[1]) << 16 | quint32(m_at[2]) << 8 | quint32(m_at[3]);
        return skip(4);
    }
    bool i32(qint32& value)
    {
        quint32 bits = 0;
        if (!u32(bits))
            return false;
        value = qint32(bits);
        return true;
    }
    // A count of elements of at least the given size each, checked against the bytes left.
    bool count(quint32& n, qint64 elementSize)
    {
        return u32(n) && qint64(n) <= m_left / elementSize;
    }

    // UTF-16 in an even number of bytes; the bytes are handed back for the map keys.
    bool string(const uchar** text, quint32* length)
    {
        quint32 n = 0;
        if (!u32(n))
            return false;
        if (n == kNullLength)
            n = 0;
        if (n % 2 != 0 || qint64(n) > m_left)
            return false;
        if (text)
            *text = m_at;
        if (length)
            *length = n;
        return skip(n);
    }
    bool bytes()
    {
        quint32 n = 0;
        if (!u32(n))
            return false;
        return n == kNullLength || skip(n);
    }
    bool stringList()
    {
        quint32 n = 0;
        if (!count(n, kMinString))
            return false;
        for (quint32 i = 0; i < n; ++i) {
            if (!string(nullptr, nullptr))
                return false;
        }
        return true;
    }
    bool polygon()
    {
        quint32 n = 0;
        return count(n, kPointF) && skip(qint64(n) * kPointF);
    }
    // Spec, alpha, three components and padding; a spec beyond the known ones is no colour.
    bool colour()
    {
        quint8 spec = 0;
        return u8(spec) && spec <= 5 && skip(10);
    }
    bool list(int depth)
    {
        quint32 n = 0;
        if (depth > ProjectStreamCheck::maxNesting || !count(n, kMinVariant))
            return false;
        for (quint32 i = 0; i < n; ++i) {
            if (!variant(depth, PictureKind::None))
                return false;
        }
        return true;
    }
    bool map(int depth)
    {
        quint32 n = 0;
        if (depth > ProjectStreamCheck::maxNesting || !count(n, kMinString + kMinVariant))
            return false;
        for (quint32 i = 0; i < n; ++i) {
            const uchar* key = nullptr;
            quint32 keyLength = 0;
            if (!string(&key, &keyLength))
                return false;
            if (depth == 1) {
                m_documentKey = key;
                m_documentKeyLength = keyLength;
            }
            m_key = key;
            m_keyLength = keyLength;
            if (!variant(depth, pictureUnder(key, keyLength)))
                return false;
        }
        return true;
    }

    static bool keyIs(const uchar* key, quint32 length, const char* name)
    {
        const std::size_t n = std::strlen(name);
        if (length != 2 * n)
            return false;
        for (std::size_t i = 0; i < n; ++i) {
            if (key[2 * i] != 0 || key[2 * i + 1] != uchar(name[i]))
                return false;
        }
        return true;
    }
    // The status image and an image's display pixels are pictures, a brushing's mask a bitmap.
    static PictureKind pictureUnder(const uchar* key, quint32 length)
    {
        if (keyIs(key, length, "statusArray_") || keyIs(key, length, "imageImage_"))
            return PictureKind::Image;
        if (keyIs(key, length, "Bitmap"))
            return PictureKind::Bitmap;
        return PictureKind::None;
    }

    // A key as text: UTF-16, big-endian.
    static QString keyText(const uchar* key, quint32 length)
    {
        QString text;
        for (quint32 i = 0; i + 1 < length; i += 2)
            text.append(QChar(ushort(key[i] << 8 | key[i + 1])));
        return text;
    }

    // Notes a picture under the current keys.
    void note(const PngHeader& header, bool decoded)
    {
        if (!m_pictures)
            return;
        Picture picture;
        picture.documentKey = keyText(m_documentKey, m_documentKeyLength);
        picture.key = keyText(m_key, m_keyLength);
        picture.width = header.width;
        picture.height = header.height;
        picture.decoded = decoded;
        if (decoded) {
            // Qt's reader makes one byte a pixel of grey or palette pictures without
            // transparency, eight of 16-bit ones and four of the others; rows of whole words.
            const int perPixel = header.depth == 16 ? 8
                                 : (header.colourType == 0 || header.colourType == 3) && !header.transparency ? 1
                                                                                                                : 4;
            picture.decodedBytes = quint64(header.height) * ((quint64(header.width) * perPixel + 3) / 4 * 4);
        }
        m_pictures->append(picture);
    }

    // The only type registered by name that a document holds.
    bool painterPath()
    {
        static const char name[] = "QPainterPath";
        quint32 n = 0;
        if (!u32(n) || n == kNullLength || qint64(n) > m_left)
            return false;
        // Qt looks the name up as a C string: up to its first zero.
        const void* zero = std::memchr(m_at, 0, n);
        const std::size_t nameLength = zero ? std::size_t(static_cast<const uchar*>(zero) - m_at) : n;
        if (nameLength != sizeof(name) - 1 || std::memcmp(m_at, name, nameLength) != 0)
            return false;
        skip(n);

        qint32 elements = 0;
        if (!i32(elements) || elements < 0)
            return false;
        if (elements == 0)
            return true;
        if (qint64(elements) > (m_left - 8) / kPathElement)
            return false;
        // Qt checks the order of the elements only in debug builds, and its drawing takes a
        // curve's two further points from the elements after it: a path is one of ours only in
        // the order Qt's own calls build, a MoveTo first and each CurveTo followed by its two
        // CurveToData, which follow nothing else.
        int curveDataOwed = 0;
        for (qint32 i = 0; i < elements; ++i) {
            qint32 kind = 0;
            if (!i32(kind) || !skip(kPathElement - 4))
                return false;
            switch (kind) {
            case QPainterPath::MoveToElement:
            case QPainterPath::LineToElement:
            case QPainterPath::CurveToElement:
                if (curveDataOwed != 0 || (i == 0 && kind != QPainterPath::MoveToElement))
                    return false;
                curveDataOwed = kind == QPainterPath::CurveToElement ? 2 : 0;
                break;
            case QPainterPath::CurveToDataElement:
                if (curveDataOwed == 0)
                    return false;
                --curveDataOwed;
                break;
            default:
                return false;
            }
        }
        if (curveDataOwed != 0)
            return false;
        qint32 subpathStart = 0;
        qint32 fillRule = 0;
        return i32(subpathStart) && subpathStart >= 0 && subpathStart < elements && i32(fillRule)
               && (fillRule == 0 || fillRule == 1);
    }

    // A picture is a marker (0 for none), then a PNG file, which Qt's image reader reads
    // exactly up to the end of its IEND chunk, decoding it.
    bool png()
    {
        quint32 marker = 0;
        if (!u32(marker))
            return false;
        if (marker == 0)
            return true;
        static const uchar signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        if (m_left < 8 || std::memcmp(m_at, signature, 8) != 0)
            return false;
        skip(8);

        PngHeader header;
        double pixelBytes = 0;
        double dataBytes = 0;
        for (bool first = true;; first = false) {
            quint32 length = 0;
            if (!u32(length) || length > 0x7FFFFFFFu || m_left < 4 + qint64(length) + 4)
                return false;
            const uchar* type = m_at;
            const uchar* body = m_at + 4;
            if (first != (std::memcmp(type, "IHDR", 4) == 0))
                return false;
            if (first) {
                if (length != 13 || !readHeader(body, header, pixelBytes))
                    return false;
            } else if (std::memcmp(type, "IDAT", 4) == 0) {
                dataBytes += length;
            } else if (std::memcmp(type, "tRNS", 4) == 0) {
                header.transparency = true;
            }
            skip(4 + qint64(length) + 4);
            if (std::memcmp(type, "IEND", 4) == 0)
                break;
        }
        if (pixelBytes > kMaxInflation * dataBytes + kInflationSlack)
            return false;
        note(header, true);
        return true;
    }

    // A byte array under a key of pictures: an image's pixels at their own depth, which the
    // document keeps as a PNG file that the stream leaves encoded. Its size is noted from its
    // header; bytes that are no PNG are left to the document's own reading.
    bool storedPng()
    {
        quint32 n = 0;
        if (!u32(n))
            return false;
        if (n == kNullLength)
            return true;
        if (qint64(n) > m_left)
            return false;
        static const uchar signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        PngHeader header;
        double pixelBytes = 0;
        if (n >= 8 + 8 + 13 && std::memcmp(m_at, signature, 8) == 0 && std::memcmp(m_at + 12, "IHDR", 4) == 0
            && readHeader(m_at + 16, header, pixelBytes))
            note(header, false);
        return skip(n);
    }

    static bool readHeader(const uchar* body, PngHeader& header, double& pixelBytes)
    {
        const auto be32 = [](const uchar* p) {
            return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
        };
        header.width = be32(body);
        header.height = be32(body + 4);
        header.depth = body[8];
        header.colourType = body[9];
        return headerPixelBytes(header, pixelBytes);
    }
    static bool headerPixelBytes(const PngHeader& header, double& pixelBytes)
    {
        const quint32 width = header.width;
        const quint32 height = header.height;
        const int depth = header.depth;
        int channels = 0;
        switch (header.colourType) {
        case 0: channels = 1; break;  // grey
        case 2: channels = 3; break;  // RGB
        case 3: channels = 1; break;  // palette
        case 4: channels = 2; break;  // grey and alpha
        case 6: channels = 4; break;  // RGBA
        default: return false;
        }
        if (width == 0 || height == 0 || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu
            || (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16))
            return false;
        pixelBytes = double(width) * double(height) * channels * depth / 8.0;
        return true;
    }

    const uchar* m_at;
    qint64 m_left;
    QList<Picture>* m_pictures;
    // The keys the walk is under: of the outermost map, and of the innermost.
    const uchar* m_documentKey = nullptr;
    quint32 m_documentKeyLength = 0;
    const uchar* m_key = nullptr;
    quint32 m_keyLength = 0;
};

} // namespace

qint64 ProjectStreamCheck::valueLength(const char* data, qint64 size, QList<Picture>* pictures)
{
    if (!data || size <= 0)
        return -1;
    Walk walk(data, size, pictures);
    if (!walk.variant(0, PictureKind::None))
        return -1;
    return size - walk.left();
}
