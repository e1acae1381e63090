#include "tunnelry/plugin.h"

#include "tunnelry/host_state.h"

#include <cstring>

Plugin::~Plugin()
{
    releaseHostSuites();
}

const void* Plugin::acquireHostSuite(const char* name, int32_t version)
{
    SPBasicSuite* basic = hostBasicSuite();
    for (SuiteSlot& slot : m_suites) {
        if (std::strcmp(slot.name, name) != 0)
            continue;
        if (slot.acquired)
            return slot.suite;
        if (!basic || !basic->AcquireSuite)
            return nullptr;
        const void* suite = nullptr;
        if (basic->AcquireSuite(slot.name, version, &suite) != 0 || !suite)
            return nullptr;
        slot.acquired = true;
        slot.version = version;
        slot.suite = suite;
        return suite;
    }
    return nullptr;
}

void Plugin::releaseHostSuite(const char* name)
{
    SPBasicSuite* basic = hostBasicSuite();
    for (SuiteSlot& slot : m_suites) {
        if (!slot.acquired || std::strcmp(slot.name, name) != 0)
            continue;
        if (basic && basic->ReleaseSuite)
            basic->ReleaseSuite(slot.name, slot.version);
        slot.acquired = false;
        slot.suite = nullptr;
    }
}

void Plugin::releaseHostSuites()
{
    for (SuiteSlot& slot : m_suites)
        if (slot.acquired)
            releaseHostSuite(slot.name);
}
