#pragma once
// The root of the plug-in object: one object per filter run, kept in the host's data slot
// between calls. It owns the host suites it acquired and releases them when it goes.

#include "tunnelry/host_interface.h"

#include <cstdint>

class Plugin {
public:
    virtual void About(AboutRecord* record) = 0;
    // Releases every suite still acquired, through the host's basic suite of the call.
    virtual ~Plugin();
    // Runs one selector with its parameter block; true when the run is over and the object
    // may be deleted.
    virtual bool Message(int16_t selector, void* parameterBlock) = 0;

    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

protected:
    Plugin() = default;

    // A suite from the host's basic suite, recorded for release. nullptr when the host has no
    // basic suite, refuses, or the name is not one this plug-in knows.
    const void* acquireHostSuite(const char* name, int32_t version);
    // Releases a suite acquired above; nothing when it is not held.
    void releaseHostSuite(const char* name);
    void releaseHostSuites();

private:
    struct SuiteSlot {
        const char* name;
        bool acquired;
        int32_t version;
        const void* suite;
    };
    // The plug-in acquires only the colour-space suite.
    SuiteSlot m_suites[1] = {{kColorSpaceSuiteName, false, 0, nullptr}};
};
