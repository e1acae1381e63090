#pragma once
// Hand-made EXIF blocks for tests, and the splice that puts one into a JPEG's bytes right
// after its start marker (the compressed data stays as it was).

#include <QByteArray>
#include <QVector>
#include <QtGlobal>

namespace testsupport {

// The TIFF part of an EXIF block, built in either byte order. Offsets are from its start,
// as they are inside the file.
class ExifBlock {
public:
    enum Format { Byte = 1, Ascii = 2, Short = 3, Long = 4, Rational = 5, SRational = 10 };

    struct Entry {
        quint16 tag;
        quint16 format;
        quint32 count;
        // Stored as the format stores a single value: Short and Byte values in the field's
        // first bytes, everything else as a 32-bit word (an offset for longer values).
        quint32 value;
    };

    // Writes the header; the first directory's offset is 8 unless changed with set32(4, ...).
    explicit ExifBlock(bool bigEndian) : m_bigEndian(bigEndian)
    {
        m_bytes.append(bigEndian ? "MM" : "II", 2);
        put16(0x2A);
        put32(8);
    }

    int size() const { return m_bytes.size(); }
    const QByteArray& bytes() const { return m_bytes; }

    void put16(quint16 v)
    {
        if (m_bigEndian) {
            m_bytes.append(char(v >> 8));
            m_bytes.append(char(v));
        } else {
            m_bytes.append(char(v));
            m_bytes.append(char(v >> 8));
        }
    }
    void put32(quint32 v)
    {
        if (m_bigEndian) {
            put16(quint16(v >> 16));
            put16(quint16(v));
        } else {
            put16(quint16(v));
            put16(quint16(v >> 16));
        }
    }
    void set32(int at, quint32 v)
    {
        QByteArray saved = m_bytes.mid(at + 4);
        m_bytes.truncate(at);
        put32(v);
        m_bytes.append(saved);
    }

    // Appends a directory with its next-directory link and returns its offset.
    int directory(const QVector<Entry>& entries, quint32 next = 0)
    {
        const int at = size();
        put16(quint16(entries.size()));
        for (const Entry& e : entries) {
            put16(e.tag);
            put16(e.format);
            put32(e.count);
            if ((e.format == Short || e.format == 8) && e.count <= 2) {
                put16(quint16(e.value));
                put16(0);
            } else if ((e.format == Byte || e.format == 6) && e.count <= 4) {
                m_bytes.append(char(e.value));
                m_bytes.append(QByteArray(3, '\0'));
            } else {
                put32(e.value);
            }
        }
        put32(next);
        return at;
    }

    // The whole APP1 section: marker, length, "Exif" and two zero bytes, then the block.
    QByteArray app1() const { return app1Section(QByteArray("Exif\0\0", 6) + m_bytes); }

    static QByteArray app1Section(const QByteArray& payload)
    {
        const int length = payload.size() + 2;
        QByteArray section("\xFF\xE1", 2);
        section.append(char(length >> 8));
        section.append(char(length));
        return section + payload;
    }

    // The usual block: one directory holding only the Orientation, as Short, Long or
    // Rational (value/1).
    static QByteArray orientationApp1(int orientation, bool bigEndian = false, Format format = Short)
    {
        ExifBlock block(bigEndian);
        if (format == Rational) {
            const quint32 valueAt = 8 + 2 + 12 + 4;
            block.directory({{0x0112, Rational, 1, valueAt}});
            block.put32(quint32(orientation));
            block.put32(1);
        } else {
            block.directory({{0x0112, quint16(format), 1, quint32(orientation)}});
        }
        return block.app1();
    }

private:
    bool m_bigEndian;
    QByteArray m_bytes;
};

// `jpeg` with `section` inserted right after its start marker (FF D8).
inline QByteArray spliceAfterSoi(const QByteArray& jpeg, const QByteArray& section)
{
    return jpeg.left(2) + section + jpeg.mid(2);
}

} // namespace testsupport
