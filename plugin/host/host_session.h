#pragma once
// The test host's calls into the plug-in: the selector's parameter block, the data slot kept
// between calls as a host keeps it, and every call's outcome.

#include "fake_host.h"

#include "tunnelry/host_interface.h"

#include <cstdint>
#include <string>
#include <vector>

struct HostCall {
    int16_t selector;
    int16_t result;
    intptr_t dataBefore;
    intptr_t dataAfter;
};

class HostSession {
public:
    HostSession(PluginEntryProc entry, FakeHost& host) : m_entry(entry), m_host(host) {}

    // One call with *result at 0: an AboutRecord with the host's basic suite for About, the
    // host's FilterRecord for every other selector. Returns the result.
    int16_t call(int16_t selector);

    // The host's data slot: null before the first call, then whatever the plug-in left.
    intptr_t data = 0;
    std::vector<HostCall> calls;

private:
    PluginEntryProc m_entry;
    FakeHost& m_host;
};

// "about", "parameters", "prepare", "start", "continue", "finish".
const char* selectorName(int16_t selector);
bool parseSelector(const std::string& name, int16_t& selector);

// How the host's output buffer compares with what a run can leave there.
enum class OutputState {
    Untouched,    // as the host set it up
    Layer,        // the layer's own pixels written back
    Inverted,     // every sample of the hand-over inverted (255 - byte), written back
    Other
};
OutputState outputState(const FakeHost& host);
const char* outputStateName(OutputState state);
