#include "tunnelry/filter_plugin.h"

#include "tunnelry/host_state.h"

bool FilterPlugin::dispatchSelector(int16_t selector, void* parameterBlock)
{
    if (selector == kSelectorAbout) {
        About(static_cast<AboutRecord*>(parameterBlock));
        return true;
    }
    m_filterRecord = static_cast<FilterRecord*>(parameterBlock);
    setCurrentFilterRecord(m_filterRecord);
    switch (selector) {
    case kSelectorParameters:
        Parameters();
        return false;
    case kSelectorPrepare:
        Prepare();
        return false;
    case kSelectorStart:
        Start();
        return false;
    case kSelectorContinue:
        Continue();
        return false;
    case kSelectorFinish:
        Finish();
        return true;
    default:
        return false;
    }
}
