#pragma once
// The filter run of the image editor's plug-in: the checks, the host's pixel transfer, the
// hand-over to the application and the copy-back by its exit code. The operating-system side
// (mappings, processes, windows, messages) is left to the concrete class.

#include "tunnelry/filter_plugin.h"

#include "platform/host_ui.h"
#include "platform/shared_memory.h"

#include <cstdint>
#include <string>

class PhotoshopShim : public FilterPlugin {
public:
    // Starts the application's About box when the application can be started.
    void About(AboutRecord* record) override;
    // Asks for no buffer space of the plug-in's own and takes 32-bit coordinates when offered.
    void Prepare() override;
    // Checks, then runs the session; otherwise error 2 (unless already negative) and empty
    // rectangles. The host window is restored whatever leaves the session.
    void Start() override;

    // The host window of the calling thread: hidden and disabled while the application runs.
    virtual void restoreHostWindow() = 0;
    virtual void hideHostWindow() = 0;
    // Called between hiding the host window and the launch.
    virtual void aboutToLaunch() {}
    // Shows `first` + "\n\n" + `second` as an error; true when the user pressed OK.
    virtual bool showError(const std::string& first, const std::string& second) = 0;
    // Kept in its place among the operations; nothing calls it.
    virtual bool reservedQuery() const { return false; }
    // Starts the application on the two mappings and waits for it; returns its exit code.
    virtual int launchApplication(int32_t width, int32_t height) = 0;
    // Creates both mappings and fills them with the layer; false (logged) when it cannot.
    virtual bool openSession(unsigned bytesPerPixel, int32_t width, int32_t height) = 0;
    virtual void closeSession() = 0;
    // Starts the application with `argument` without waiting.
    virtual void launchAbout(const std::string& argument) = 0;
    // Whether the application can be started for the current document (error -43 when the
    // application is missing); true for About.
    virtual bool canLaunch() = 0;

    // Accepts RGB and RGB48 with at least 4 planes, CMYK and CMYK64 with at least 5; alerts
    // the user otherwise.
    bool checkImageMode(const FilterRecord& record);
    // Sets up the transfer and the whole session; see Start.
    void RunSession();
    // Sets the host's transfer fields by the image mode and asks for the buffers; returns the
    // host's result.
    int16_t setupTransfer();
    // Copies the result mapping into the host's output buffer: 0, -108 when a colour
    // conversion or the host's buffer failed, or the system's error number when the mapping
    // cannot be read.
    int SetImageData(unsigned bytesPerPixel, int32_t width, int32_t height);
    // The document's title property, up to its first NUL; empty when the host has none.
    std::string documentTitle();

    bool isSixteenBit() const { return m_sixteenBit; }
    platform::SharedMemoryHandle sourceHandle() const { return m_source; }
    platform::SharedMemoryHandle resultHandle() const { return m_result; }

protected:
    PhotoshopShim() = default;

    // Writes the host's layer into two views of rows of width × bpp bytes, converting CMYK to
    // RGBA, one row at a time into both while it is fresh in the cache. False (logged) when
    // the host's buffer is unusable or the conversion fails.
    bool fillViews(unsigned char* view, unsigned char* copy, unsigned bytesPerPixel, int32_t width, int32_t height);
    // Writes a view of RGBA rows into the host's output buffer, converting to CMYK; 0 or -108.
    int copyViewToHost(const unsigned char* view, unsigned bytesPerPixel, int32_t width, int32_t height);

    bool m_sixteenBit = false;
    platform::SharedMemoryHandle m_source = platform::kNoSharedMemory;
    platform::SharedMemoryHandle m_result = platform::kNoSharedMemory;
    platform::HostWindow* m_hostWindow = nullptr;
    bool m_hostWindowEnabled = false;
    std::string m_applicationPath;

private:
    // The host's colour-space suite for one conversion; nullptr (logged) when the host cannot
    // give it. Every acquisition is released by releaseColourSpaceSuite.
    const ColorSpaceSuite1* acquireColourSpaceSuite();
    void releaseColourSpaceSuite();
};
