#pragma once
// The plug-in library's entry: the one function the host calls, once per selector, and the
// property list the host reads first. Only these two leave the library.

#include "tunnelry/host_interface.h"

#define TUNNELRY_EXPORT __attribute__((visibility("default")))

class WinPhotoshopShim;

extern "C" {

// Creates the log on the first call (and after each close), runs the call with processor
// faults caught (result 201, a message, the object abandoned), and closes the log after
// Finish and after a failed Start.
TUNNELRY_EXPORT void PluginMain(int16_t selector, void* parameterBlock, intptr_t* data, int16_t* result);

TUNNELRY_EXPORT extern const PropertyList PluginPropertyList;
}

// One call: creates the plug-in object into *data when there is none, runs the selector,
// deletes the object when the run is over or failed, and turns every exception into a result
// (-108 out of memory, -50 anything else).
void PluginMainCatchingCppExceptions(int16_t selector, void* parameterBlock, intptr_t* data, int16_t* result);

// A new plug-in object, or nullptr when there is no memory for one.
WinPhotoshopShim* AllocatePlugin();
