#pragma once
// Bytes in memory read as a C++ stream (by the PNG reader), without copying them. The bytes
// must outlive the buffer.

#include <QByteArray>

#include <ios>
#include <streambuf>

class MemoryStreamBuffer : public std::streambuf {
public:
    explicit MemoryStreamBuffer(const QByteArray& bytes)
    {
        char* begin = const_cast<char*>(bytes.constData());
        setg(begin, begin, begin + bytes.size());
    }

protected:
    pos_type seekoff(off_type offset, std::ios_base::seekdir dir, std::ios_base::openmode) override
    {
        char* base = dir == std::ios_base::beg ? eback() : dir == std::ios_base::cur ? gptr() : egptr();
        const off_type target = (base - eback()) + offset;
        if (target < 0 || target > egptr() - eback())
            return pos_type(off_type(-1));
        setg(eback(), eback() + target, egptr());
        return pos_type(target);
    }
    pos_type seekpos(pos_type position, std::ios_base::openmode mode) override
    {
        return seekoff(off_type(position), std::ios_base::beg, mode);
    }
};
