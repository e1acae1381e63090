#include "document/DeviceStreamBuffer.h"

DeviceStreamBuffer::int_type DeviceStreamBuffer::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    return m_device.write(&byte, 1) == 1 ? c : traits_type::eof();
}

std::streamsize DeviceStreamBuffer::xsputn(const char* s, std::streamsize n)
{
    const qint64 written = m_device.write(s, n);
    return written < 0 ? 0 : std::streamsize(written);
}

DeviceStreamBuffer::pos_type DeviceStreamBuffer::seekoff(off_type offset, std::ios_base::seekdir dir,
                                                         std::ios_base::openmode mode)
{
    const qint64 base = dir == std::ios_base::beg ? 0 : dir == std::ios_base::cur ? m_device.pos() : m_device.size();
    return seekpos(pos_type(off_type(base + offset)), mode);
}

DeviceStreamBuffer::pos_type DeviceStreamBuffer::seekpos(pos_type position, std::ios_base::openmode)
{
    const qint64 target = qint64(off_type(position));
    // Asking where the writer stands moves nothing; a real move writes out the device's buffer.
    if (target < 0 || (target != m_device.pos() && !m_device.seek(target)))
        return pos_type(off_type(-1));
    return position;
}
