#include "tunnelry/plugin_main.h"

#include "tunnelry/host_state.h"
#include "tunnelry/shim_log.h"
#include "tunnelry/win_photoshop_shim.h"

#include "platform/fault_guard.h"
#include "platform/host_ui.h"
#include "platform/shared_memory.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <new>
#include <vector>

#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

// The result of a call that a processor fault ended.
constexpr int16_t kResultFaultCaught = 201;

const char* const kCrashCaption = "Kestrine 3";
const char* const kCrashText = "Kestrine 3 has encountered a serious problem and will attempt to return to the plugin "
                               "host.\n\nPlease save your work as soon as possible and re-start the plugin host.";

// True from the library's load until the first plug-in object exists: an object in the
// host's data slot before then was made by an earlier load and is gone.
bool g_unloaded = true;

// A log still open when the host unloads the library (after an About, or a run the host never
// finished) is closed with it, rather than left behind in the host's memory.
__attribute__((destructor)) void closeLogAtUnload()
{
    delete ShimLog::instance();
}

FilterPlugin* pluginIn(const intptr_t* data)
{
    return reinterpret_cast<FilterPlugin*>(*data);
}

void deletePlugin(intptr_t* data)
{
    delete pluginIn(data);
    *data = 0;
}

FilterRecord* filterRecordOf(int16_t selector, void* parameterBlock)
{
    return selector == kSelectorAbout ? nullptr : static_cast<FilterRecord*>(parameterBlock);
}

void clearRectangles(FilterRecord* record)
{
    if (record)
        clearFilterRectangles(record, record->bigDocumentData != nullptr);
}

// Outside the guarded body nothing may throw into the host: a line that cannot be written
// is lost.
template <typename Write>
void quietly(Write&& write)
{
    try {
        write();
    } catch (...) {
    }
}

void logCall(const char* what, int16_t selector, const intptr_t* data, const int16_t* result)
{
    quietly([&] {
        LogLine() << "PluginMain, " << what << " with selector = " << selector << ", unloaded = " << g_unloaded
              << ", *data = " << reinterpret_cast<const void*>(*data) << ", *result = " << *result;
    });
}

// Unmaps every view of the shared object behind `handle` that the abandoned call left mapped:
// their owners' destructors never ran. The views are found in the process's map by the
// object's device and inode.
void unmapLeftViews(platform::SharedMemoryHandle handle)
{
    struct stat object;
    if (handle == platform::kNoSharedMemory || fstat(int(handle), &object) != 0)
        return;
    std::FILE* maps = std::fopen("/proc/self/maps", "re");
    if (!maps)
        return;
    std::vector<std::pair<uintptr_t, uintptr_t>> ranges;
    char line[4096];
    while (std::fgets(line, sizeof line, maps)) {
        unsigned long start, end, offset, inode;
        unsigned major, minor;
        char permissions[8];
        if (std::sscanf(line, "%lx-%lx %7s %lx %x:%x %lu", &start, &end, permissions, &offset, &major, &minor,
                        &inode)
                == 7
            && inode == object.st_ino && makedev(major, minor) == object.st_dev)
            ranges.emplace_back(start, end);
    }
    std::fclose(maps);
    for (const auto& [start, end] : ranges)
        munmap(reinterpret_cast<void*>(start), end - start);
}

// After a fault the object may be half-changed: it is not deleted (its destructor could fault
// again) but the hand-over it holds is given up, so that the host keeps no image-sized
// mappings, and the host forgets it.
void abandonPlugin(intptr_t* data)
{
    // The slot only ever holds this class; no run-time type check, which would read the object.
    auto* shim = static_cast<WinPhotoshopShim*>(pluginIn(data));
    *data = 0;
    if (!shim)
        return;
    shim->restoreHostWindow();
    for (const platform::SharedMemoryHandle handle : {shim->sourceHandle(), shim->resultHandle()}) {
        unmapLeftViews(handle);
        platform::closeSharedMemory(handle);
    }
}

struct Call {
    int16_t selector;
    void* parameterBlock;
    intptr_t* data;
    int16_t* result;
};

void runCall(void* context)
{
    Call& call = *static_cast<Call*>(context);
    PluginMainCatchingCppExceptions(call.selector, call.parameterBlock, call.data, call.result);
}

} // namespace

WinPhotoshopShim* AllocatePlugin()
{
    LogLine() << "AllocatePlugin";
    return new (std::nothrow) WinPhotoshopShim;
}

void PluginMainCatchingCppExceptions(int16_t selector, void* parameterBlock, intptr_t* data, int16_t* result)
{
    try {
        LogLine() << "PluginMainCatchingCppExceptions, begin";
        SPBasicSuite* basic = nullptr;
        if (parameterBlock)
            basic = selector == kSelectorAbout ? static_cast<AboutRecord*>(parameterBlock)->sSPBasic
                                               : static_cast<FilterRecord*>(parameterBlock)->sSPBasic;
        setHostBasicSuite(basic);
        LogLine() << "PluginMainCatchingCppExceptions, sSPBasic = " << static_cast<const void*>(basic);

        bool haveObject = true;
        if (*data == 0) {
            WinPhotoshopShim* shim = AllocatePlugin();
            if (shim) {
                *data = reinterpret_cast<intptr_t>(static_cast<FilterPlugin*>(shim));
                g_unloaded = false;
            } else {
                LogLine() << "PluginMainCatchingCppExceptions, ERROR allocating plugin";
                *result = kResultMemoryFull;
                haveObject = false;
            }
        } else if (g_unloaded) {
            LogLine() << "PluginMainCatchingCppExceptions, (plugin != NULL && unloaded)";
            *result = kResultParameterError;
            *data = 0;
            haveObject = false;
        }

        if (haveObject) {
            FilterPlugin* plugin = pluginIn(data);
            const bool done = plugin->Message(selector, parameterBlock);
            *result = plugin->error();
            if (done) {
                LogLine() << "PluginMainCatchingCppExceptions, plugin->Message() == Done ";
                deletePlugin(data);
            } else if (selector == kSelectorContinue) {
                // The plug-in does all its work in Start: a host that asks to go on is lost.
                *result = kResultParameterError;
                LogLine() << "PluginMainCatchingCppExceptions: CONTINUE!";
                clearRectangles(filterRecordOf(selector, parameterBlock));
                deletePlugin(data);
            } else if (selector == kSelectorStart && *result != 0) {
                LogLine() << "PluginMainCatchingCppExceptions, failed to Start. error: " << *result;
                deletePlugin(data);
            }
        }
    } catch (const std::bad_alloc&) {
        *result = kResultMemoryFull;
        LogLine() << "PluginMainCatchingCppExceptions, bad_alloc exception caught. *result = " << *result;
        deletePlugin(data);
    } catch (...) {
        *result = kResultParameterError;
        LogLine() << "PluginMainCatchingCppExceptions, unnamed (...) exception caught. *result = " << *result;
        deletePlugin(data);
    }
    setHostBasicSuite(nullptr);
    LogLine() << "PluginMainCatchingCppExceptions, returns";
}

extern "C" void PluginMain(int16_t selector, void* parameterBlock, intptr_t* data, int16_t* result)
{
    // Without these the call can neither keep its object nor say what happened.
    if (!data || !result)
        return;
    if (!ShimLog::instance())
        quietly([] { new ShimLog; });
    logCall("begins", selector, data, result);

    Call call{selector, parameterBlock, data, result};
    platform::CaughtFault fault;
    if (!platform::runGuarded(&runCall, &call, &fault)) {
        *result = kResultFaultCaught;
        quietly([&] {
            LogLine() << "PluginMain, caught signal " << fault.signal << " at "
                      << reinterpret_cast<const void*>(fault.address);
        });
        clearRectangles(filterRecordOf(selector, parameterBlock));
        quietly([] { platform::messageSink().showMessage(kCrashCaption, kCrashText, platform::MessageIcon::Error); });
        abandonPlugin(data);
        setHostBasicSuite(nullptr);
    }

    logCall("returns", selector, data, result);
    if (selector == kSelectorFinish || (selector == kSelectorStart && *result != 0))
        quietly([] { ShimLog::close(); });
}
