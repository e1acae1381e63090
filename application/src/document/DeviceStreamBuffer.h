#pragma once
// Lets the C++ stream writers (PNG through Boost.GIL, TIFF through libtiff) write straight into
// a Qt file device, a QSaveFile above all. Unbuffered: the device buffers, and a flush of the
// stream writes out the device's buffer. Seeks go to the device, so a writer that patches its
// header at the end works on any device that can seek.
//
// A failure sticks: once a write, a seek or a flush failed, the buffer touches the device no
// more and answers every request with a failure. A file device forgets its error on the next
// seek or write, and would write its buffered bytes wherever that seek went.

#include <QIODevice>

#include <streambuf>

class DeviceStreamBuffer : public std::streambuf {
public:
    // The device must be open for writing and outlive the buffer.
    explicit DeviceStreamBuffer(QIODevice& device) : m_device(device) {}

    // True once the device refused a write, a seek or a flush.
    bool failed() const { return m_failed; }

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    pos_type seekoff(off_type offset, std::ios_base::seekdir dir, std::ios_base::openmode mode) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode mode) override;
    int sync() override;

private:
    pos_type fail();

    QIODevice& m_device;
    bool m_failed = false;
};
