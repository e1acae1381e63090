#pragma once
// Small image files that claim far more memory than they hold, built here so that a fresh
// clone needs no stored copies (they are the files ../shared/testdata/hostile/ describes).

#include <QByteArray>
#include <QtEndian>

#include <zlib.h>

#include <vector>

namespace testsupport {

inline QByteArray pngChunk(const char type[4], const QByteArray& data)
{
    QByteArray chunk(4, '\0');
    qToBigEndian(quint32(data.size()), chunk.data());
    chunk.append(type, 4).append(data);
    const uLong crc = crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(chunk.constData() + 4),
                            uInt(chunk.size() - 4));
    QByteArray tail(4, '\0');
    qToBigEndian(quint32(crc), tail.data());
    return chunk + tail;
}

// 48 bytes: a 1 x 1 RGB PNG, then a chunk of the given type whose length field claims
// 0x7FFFFFFF bytes, followed by three of them ("a\0b") and a checksum; the file ends there.
inline QByteArray chunkClaimingTwoGigabytes(const char type[4] = "tEXt")
{
    return QByteArray::fromHex("89504e470d0a1a0a0000000d4948445200000001000000010802000000907753de"
                               "7fffffff74455874610062dc49a23b")
        .replace(37, 4, type, 4);
}

// A grey PNG of the given bits a pixel (1, 2, 4, 8 or 16), every pixel black.
inline QByteArray blackGreyPng(quint32 width, quint32 height, int depth)
{
    QByteArray header(13, '\0');
    qToBigEndian(width, header.data());
    qToBigEndian(height, header.data() + 4);
    header[8] = char(depth);  // colour type 0 (grey), no interlacing

    z_stream zip{};
    deflateInit(&zip, Z_BEST_COMPRESSION);
    // Filter byte 0, then the pixels.
    std::vector<Bytef> row(1 + (std::size_t(width) * std::size_t(depth) + 7) / 8, 0);
    std::vector<Bytef> out(1 << 16);
    QByteArray data;
    for (quint32 y = 0; y <= height; ++y) {
        const bool last = y == height;
        zip.next_in = last ? nullptr : row.data();
        zip.avail_in = last ? 0 : uInt(row.size());
        do {
            zip.next_out = out.data();
            zip.avail_out = uInt(out.size());
            deflate(&zip, last ? Z_FINISH : Z_NO_FLUSH);
            data.append(reinterpret_cast<const char*>(out.data()), int(out.size() - zip.avail_out));
        } while (zip.avail_out == 0);
    }
    deflateEnd(&zip);
    return QByteArray::fromHex("89504e470d0a1a0a") + pngChunk("IHDR", header) + pngChunk("IDAT", data)
           + pngChunk("IEND", QByteArray());
}

// A grey PNG of one bit a pixel, every pixel black: 20000 x 20000 pixels take 49 KB.
inline QByteArray blackBilevelPng(quint32 width, quint32 height)
{
    return blackGreyPng(width, height, 1);
}

// 266 bytes: a little-endian TIFF claiming 11200 x 11200 RGBA pixels of 16-bit samples in one
// uncompressed tile, which holds 100 bytes.
inline QByteArray tileClaimingAGigabyte()
{
    return QByteArray::fromHex(
        "49492a006c00000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
        "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
        "0000000000000000000000000c000001040001000000c02b00000101040001000000c02b000002010300040000000201"
        "00000301030001000000010000000601030001000000020000001501030001000000040000001c010300010000000100"
        "00004201040001000000c02b00004301040001000000c02b000044010400010000000800000045010400010000006400"
        "0000520103000100000002000000000000001000100010001000");
}

} // namespace testsupport
