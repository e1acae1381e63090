#include "document/DeviceStreamBuffer.h"

#include "document/UserFiles.h"

#include <QFileDevice>

DeviceStreamBuffer::pos_type DeviceStreamBuffer::fail()
{
    m_failed = true;
    return pos_type(off_type(-1));
}

DeviceStreamBuffer::int_type DeviceStreamBuffer::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
}

std::streamsize DeviceStreamBuffer::xsputn(const char* s, std::streamsize n)
{
    std::streamsize done = 0;
    // A file at its limit takes only part of a write and gives no reason; asked for the rest,
    // it fails with the system's.
    while (!m_failed && done < n) {
        const qint64 written = m_device.write(s + done, n - done);
        if (written <= 0)
            fail();
        else
            done += std::streamsize(written);
    }
    return done;
}

DeviceStreamBuffer::pos_type DeviceStreamBuffer::seekoff(off_type offset, std::ios_base::seekdir dir,
                                                         std::ios_base::openmode mode)
{
    if (m_failed)
        return fail();
    qint64 base = 0;
    if (dir == std::ios_base::cur) {
        base = m_device.pos();
    } else if (dir == std::ios_base::end) {
        // A file device's size is what reached the file: its buffer goes out first, and a size
        // asked for after a failed flush would read 0.
        if (sync() != 0)
            return fail();
        base = m_device.size();
    }
    return seekpos(pos_type(off_type(base + offset)), mode);
}

DeviceStreamBuffer::pos_type DeviceStreamBuffer::seekpos(pos_type position, std::ios_base::openmode)
{
    if (m_failed)
        return fail();
    const qint64 target = qint64(off_type(position));
    if (target < 0)
        return pos_type(off_type(-1));
    // Asking where the writer stands moves nothing; a real move writes out the device's buffer.
    if (target != m_device.pos() && !m_device.seek(target))
        return fail();
    return position;
}

int DeviceStreamBuffer::sync()
{
    if (m_failed)
        return -1;
    auto* file = qobject_cast<QFileDevice*>(&m_device);
    if (file && !userfiles::flush(*file)) {
        fail();
        return -1;
    }
    return 0;
}
