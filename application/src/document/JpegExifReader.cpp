#include "document/JpegExifReader.h"

#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <new>

namespace {

// Bytes per component of the TIFF field formats 1..12.
constexpr int kFormatSize[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};

constexpr int kMaxNesting = 4;
constexpr int kMaxPadding = 7;
constexpr std::uint32_t kMaxComponents = 65536;
// A next-directory link this little past the block's end is a known writer quirk, not damage.
constexpr std::uint64_t kLinkSlack = 20;

constexpr std::uint16_t kTagOrientation = 0x0112;
constexpr std::uint16_t kTagExifDirectory = 0x8769;
constexpr std::uint16_t kTagInteropDirectory = 0xA005;

class FileSource {
public:
    explicit FileSource(std::FILE* file) : m_file(file) {}
    int get() { return std::getc(m_file); }
    bool read(unsigned char* to, std::size_t count) { return std::fread(to, 1, count, m_file) == count; }

private:
    std::FILE* m_file;
};

class MemorySource {
public:
    MemorySource(const unsigned char* data, std::size_t size) : m_data(data), m_size(size) {}
    int get() { return m_position < m_size ? m_data[m_position++] : EOF; }
    bool read(unsigned char* to, std::size_t count)
    {
        if (count > m_size - m_position)
            return false;
        if (count)
            std::memcpy(to, m_data + m_position, count);
        m_position += count;
        return true;
    }

private:
    const unsigned char* m_data;
    std::size_t m_size;
    std::size_t m_position = 0;
};

// Truncates toward zero; values beyond int (and NaN) must not reach the conversion.
int truncateToInt(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= double(INT_MAX))
        return INT_MAX;
    if (value <= double(INT_MIN))
        return INT_MIN;
    return static_cast<int>(value);
}

} // namespace

JpegExifReader::JpegExifReader(std::FILE* messages) : m_messages(messages) {}

bool JpegExifReader::readFile(const char* fileName)
{
    m_orientation = 0;
    std::FILE* file = std::fopen(fileName, "rb");
    if (!file) {
        if (m_messages)
            std::fprintf(m_messages, "can't open '%s'\n", fileName);
        return false;
    }
    FileSource source(file);
    const bool ok = readSections(source);
    if (!ok && m_messages)
        std::fprintf(m_messages, "Not JPEG: %s\n", fileName);
    std::fclose(file);
    std::vector<unsigned char>().swap(m_section);
    return ok;
}

bool JpegExifReader::readBytes(const unsigned char* data, std::size_t size)
{
    m_orientation = 0;
    MemorySource source(data, data ? size : 0);
    const bool ok = readSections(source);
    std::vector<unsigned char>().swap(m_section);
    return ok;
}

template <typename Source>
bool JpegExifReader::readSections(Source& source)
{
    if (source.get() != 0xFF || source.get() != 0xD8)
        return false;
    for (;;) {
        int marker;
        int padding = 0;
        while ((marker = source.get()) == 0xFF) {
            if (++padding >= kMaxPadding) {
                if (m_messages)
                    std::fputs("too many padding bytes\n", m_messages);
                return false;
            }
        }
        if (marker == EOF) {
            fatal("Premature end of file?");
            return false;
        }
        const int high = source.get();
        const int low = source.get();
        if (high == EOF || low == EOF) {
            fatal("Premature end of file?");
            return false;
        }
        const std::size_t length = std::size_t(high) << 8 | std::size_t(low);
        if (length < 2) {
            fatal("invalid marker");
            return false;
        }
        try {
            m_section.resize(length);
        } catch (const std::bad_alloc&) {
            fatal("Could not allocate memory");
            return false;
        }
        m_section[0] = static_cast<unsigned char>(high);
        m_section[1] = static_cast<unsigned char>(low);
        if (!source.read(m_section.data() + 2, length - 2)) {
            fatal("Premature end of file?");
            return false;
        }
        switch (marker) {
        case 0xDA:  // start of scan: nothing before the pixels is left to read
            return true;
        case 0xD9:
            if (m_messages)
                std::fputs("No image in jpeg!\n", m_messages);
            return false;
        case 0xE1:
            if (length >= 6 && std::memcmp(m_section.data() + 2, "Exif", 4) == 0)
                parseExifBlock(m_section.data(), length);
            break;
        default:
            // Frame headers, comments and the other sections carry nothing the program uses.
            break;
        }
    }
}

void JpegExifReader::parseExifBlock(const unsigned char* record, std::size_t length)
{
    m_orientationTagsSeen = 0;
    if (length < 16 || std::memcmp(record + 2, "Exif\0\0", 6) != 0) {
        warn("Incorrect Exif header");
        return;
    }
    if (record[8] == 'I' && record[9] == 'I') {
        m_littleEndian = true;
    } else if (record[8] == 'M' && record[9] == 'M') {
        m_littleEndian = false;
    } else {
        warn("Invalid Exif alignment marker.");
        return;
    }
    if (get16(record + 10) != 0x2A) {
        warn("Invalid Exif start (1)");
        return;
    }
    m_block = record + 8;
    m_blockLength = length - 8;
    const std::uint32_t first = get32(record + 12);
    if (first < 8 || first > 16)
        warn("Suspicious offset of first IFD value");
    m_visited.assign(m_blockLength, false);
    walkDirectory(first, 0);
    m_block = nullptr;
    m_blockLength = 0;
}

void JpegExifReader::walkDirectory(std::uint64_t start, int nesting)
{
    if (nesting > kMaxNesting) {
        warn("Maximum directory nesting exceeded (corrupt exif header)");
        return;
    }
    if (start + 2 > m_blockLength) {
        warn("Illegally sized directory");
        return;
    }
    if (m_visited[start])
        return;
    m_visited[start] = true;

    const std::uint64_t entries = get16(m_block + start);
    const std::uint64_t end = start + 2 + 12 * entries;
    // The next-directory link may be missing at the very end of the block.
    if (end + 4 > m_blockLength && end + 2 != m_blockLength && end != m_blockLength) {
        warn("Illegally sized directory");
        return;
    }

    for (std::uint64_t i = 0; i < entries; ++i) {
        const unsigned char* entry = m_block + start + 2 + 12 * i;
        const unsigned tag = get16(entry);
        const int format = get16(entry + 2);
        const std::uint32_t components = get32(entry + 4);
        if (format < 1 || format > 12) {
            warn("Illegal number format %d for tag %04x", format, tag);
            continue;
        }
        if (components > kMaxComponents) {
            warn("Illegal number of components %u for tag %04x", unsigned(components), tag);
            continue;
        }
        const std::uint64_t byteCount = std::uint64_t(components) * kFormatSize[format];
        const unsigned char* value = entry + 8;
        if (byteCount > 4) {
            const std::uint64_t valueOffset = get32(entry + 8);
            if (valueOffset + byteCount > m_blockLength) {
                warn("Illegal value pointer for tag %04x", tag);
                continue;
            }
            value = m_block + valueOffset;
        }

        if (tag == kTagOrientation) {
            if (m_orientationTagsSeen >= 2) {
                warn("More than two orientation tags!");
                continue;
            }
            // Only the first entry sets the value; the thumbnail's own is checked but not used.
            // Without a component there is no value to read.
            if (m_orientationTagsSeen == 0)
                m_orientation = components ? truncateToInt(convertValue(value, format)) : 0;
            if (m_orientation < 0 || m_orientation > 8) {
                warn("Undefined rotation value %d", m_orientation);
                m_orientation = 0;
            }
            ++m_orientationTagsSeen;
        } else if (tag == kTagExifDirectory || tag == kTagInteropDirectory) {
            const std::uint64_t target = get32(value);
            if (target < m_blockLength)
                walkDirectory(target, nesting + 1);
            else
                warn("Illegal exif or interop ofset directory link");
        }
    }

    if (end + 4 <= m_blockLength) {
        const std::uint64_t next = get32(m_block + end);
        if (next == 0)
            return;
        if (next < m_blockLength)
            walkDirectory(next, nesting + 1);
        else if (next >= m_blockLength + kLinkSlack)
            warn("Illegal subdirectory link");
    }
}

double JpegExifReader::convertValue(const unsigned char* value, int format)
{
    switch (format) {
    case 1: return value[0];
    case 6: return static_cast<std::int8_t>(value[0]);
    case 3: return get16(value);
    case 8: return static_cast<std::int16_t>(get16(value));
    case 4: return get32(value);
    case 9: return static_cast<std::int32_t>(get32(value));
    case 5:
    case 10: {
        const auto numerator = static_cast<std::int32_t>(get32(value));
        const auto denominator = static_cast<std::int32_t>(get32(value + 4));
        return denominator == 0 ? 0.0 : double(numerator) / double(denominator);
    }
    case 11: {
        float f;
        std::memcpy(&f, value, sizeof f);
        return f;
    }
    case 12: {
        double d;
        std::memcpy(&d, value, sizeof d);
        return d;
    }
    default:
        warn("Illegal format code %d", format);
        return 0.0;
    }
}

std::uint16_t JpegExifReader::get16(const unsigned char* p) const
{
    return m_littleEndian ? std::uint16_t(p[0] | p[1] << 8) : std::uint16_t(p[0] << 8 | p[1]);
}

std::uint32_t JpegExifReader::get32(const unsigned char* p) const
{
    if (m_littleEndian)
        return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
               std::uint32_t(p[3]) << 24;
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 |
           std::uint32_t(p[3]);
}

void JpegExifReader::fatal(const char* text)
{
    if (m_messages)
        std::fprintf(m_messages, "Error : %s\n", text);
}

void JpegExifReader::warn(const char* format, ...)
{
    if (!m_messages)
        return;
    std::fputs("Nonfatal Error : ", m_messages);
    va_list args;
    va_start(args, format);
    std::vfprintf(m_messages, format, args);
    va_end(args);
    std::fputc('\n', m_messages);
}

bool ReadJpegExifOrientation(const char* fileName, int& orientation)
{
    JpegExifReader reader;
    const bool ok = reader.readFile(fileName);
    orientation = reader.orientation();
    return ok;
}
