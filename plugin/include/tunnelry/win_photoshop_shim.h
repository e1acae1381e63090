#pragma once
// The one concrete plug-in object: the filter run on the operating system's services
// (shared mappings, process start, the application's settings, the host-window and
// message seams).

#include "tunnelry/photoshop_shim.h"

#include <string>

class WinPhotoshopShim : public PhotoshopShim {
public:
    WinPhotoshopShim() = default;
    ~WinPhotoshopShim() override;

    void restoreHostWindow() override;
    void hideHostWindow() override;
    bool showError(const std::string& first, const std::string& second) override;
    int launchApplication(int32_t width, int32_t height) override;
    bool openSession(unsigned bytesPerPixel, int32_t width, int32_t height) override;
    void closeSession() override;
    void launchAbout(const std::string& argument) override;
    bool canLaunch() override;

    // The application's executable as registered, looked up once per object; "\unavailable"
    // when the lookup failed.
    const std::string& applicationPath();
};
