#pragma once
// Lets the C++ stream writers (PNG through Boost.GIL, TIFF through libtiff's stream interface)
// write straight into a Qt file device, a QSaveFile above all. Unbuffered: the device buffers.
// Seeks go to the device, so a writer that patches its header at the end works on any device
// that can seek.

#include <QIODevice>

#include <streambuf>

class DeviceStreamBuffer : public std::streambuf {
public:
    // The device must be open for writing and outlive the buffer.
    explicit DeviceStreamBuffer(QIODevice& device) : m_device(device) {}

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    pos_type seekoff(off_type offset, std::ios_base::seekdir dir, std::ios_base::openmode mode) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode mode) override;

private:
    QIODevice& m_device;
};
