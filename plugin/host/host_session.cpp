#include "host_session.h"

namespace {

const char* const kSelectorNames[] = {"about", "parameters", "prepare", "start", "continue", "finish"};

} // namespace

int16_t HostSession::call(int16_t selector)
{
    AboutRecord about{&m_host.basicSuite};
    void* block = selector == kSelectorAbout ? static_cast<void*>(&about) : static_cast<void*>(&m_host.record);
    HostCall record{selector, 0, data, 0};
    m_entry(selector, block, &data, &record.result);
    record.dataAfter = data;
    calls.push_back(record);
    return record.result;
}

const char* selectorName(int16_t selector)
{
    if (selector >= 0 && selector < int16_t(sizeof kSelectorNames / sizeof kSelectorNames[0]))
        return kSelectorNames[selector];
    return "unknown";
}

bool parseSelector(const std::string& name, int16_t& selector)
{
    for (int16_t i = 0; i < int16_t(sizeof kSelectorNames / sizeof kSelectorNames[0]); ++i) {
        if (name == kSelectorNames[i]) {
            selector = i;
            return true;
        }
    }
    return false;
}

OutputState outputState(const FakeHost& host)
{
    if (host.output == host.initialOutput)
        return OutputState::Untouched;
    if (host.output == host.outputHoldingInput())
        return OutputState::Layer;
    std::vector<unsigned char> inverted = host.expectedHandOver();
    for (unsigned char& b : inverted)
        b = static_cast<unsigned char>(255 - b);
    if (host.output == host.expectedOutput(inverted))
        return OutputState::Inverted;
    return OutputState::Other;
}

const char* outputStateName(OutputState state)
{
    switch (state) {
    case OutputState::Untouched:
        return "untouched";
    case OutputState::Layer:
        return "layer";
    case OutputState::Inverted:
        return "inverted";
    case OutputState::Other:
        break;
    }
    return "other";
}
