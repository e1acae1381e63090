#pragma once
// A filter plug-in: the selector dispatch over the steps of a filter run.

#include "tunnelry/plugin.h"

class FilterPlugin : public Plugin {
public:
    // About runs with its AboutRecord and ends the run; every other selector first makes its
    // block the current FilterRecord. Finish ends the run; an unknown selector does nothing.
    bool Message(int16_t selector, void* parameterBlock) override { return dispatchSelector(selector, parameterBlock); }
    bool dispatchSelector(int16_t selector, void* parameterBlock);

    virtual void Parameters() {}
    virtual void Prepare() {}
    virtual void Start() {}
    virtual void Continue() {}
    virtual void Finish() {}

    // The result handed to the host for the latest call.
    int16_t error() const { return m_error; }
    FilterRecord* filterRecord() const { return m_filterRecord; }

protected:
    FilterPlugin() = default;

    int16_t m_error = 0;
    FilterRecord* m_filterRecord = nullptr;
};
