#pragma once
// Finds the EXIF Orientation value of a JPEG file: walks the sections up to the start of scan
// and parses only APP1 "Exif" blocks. Plain C++ over the file's bytes, so that it can be fed
// arbitrary input; every offset is checked against the block before it is read.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

class JpegExifReader {
public:
    // Messages go to `messages` ("Error : " for fatal ones, "Nonfatal Error : " for the
    // others); null keeps the reader quiet.
    explicit JpegExifReader(std::FILE* messages = stderr);

    // Reads the named file (bytes as the file system takes them); false when it cannot be
    // opened or is not a readable JPEG up to its first scan.
    bool readFile(const char* fileName);
    // The same over bytes in memory.
    bool readBytes(const unsigned char* data, std::size_t size);

    // The Orientation found by the last read, 0 when none (or an undefined value).
    int orientation() const { return m_orientation; }

private:
    template <typename Source>
    bool readSections(Source& source);
    void parseExifBlock(const unsigned char* record, std::size_t length);
    void walkDirectory(std::uint64_t start, int nesting);
    double convertValue(const unsigned char* value, int format);
    std::uint16_t get16(const unsigned char* p) const;
    std::uint32_t get32(const unsigned char* p) const;

    void fatal(const char* text);
    void warn(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    std::FILE* m_messages;
    int m_orientation = 0;
    int m_orientationTagsSeen = 0;
    bool m_littleEndian = false;
    // The EXIF block being parsed: the TIFF header onwards; offsets are relative to it.
    const unsigned char* m_block = nullptr;
    std::uint64_t m_blockLength = 0;
    // Directory offsets already walked in the current block: a link back to one of them
    // would otherwise multiply the work at every nesting level.
    std::vector<bool> m_visited;
    std::vector<unsigned char> m_section;
};

// Reads the EXIF Orientation of a file into `orientation` (0 when none); messages go to the
// standard error stream. Returns whether the file was read as a JPEG.
bool ReadJpegExifOrientation(const char* fileName, int& orientation);
