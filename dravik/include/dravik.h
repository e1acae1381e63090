#pragma once
// The masking engine's call interface: plain functions over opaque handles that
// return small integer result codes.

#include <cstdint>

extern "C" {

// Result codes of every entry that returns a code.
enum DvResultCode {
    DvOk = 0,
    DvRefused = 1,
    DvCancelled = 2,
    DvOutOfMemory = 3,
    DvInternalFailure = 4,
    DvLibraryDead = 5,
    DvBadSession = 6,
    DvBadLibrary = 7,
    DvOutOfMemoryUntrusted = 8,
    DvBadImage = 9,
    DvNoSegmentation = 10,
};
typedef int DvResult;

// The client's progress function: percent 0..100 and a context word the engine passes as
// null. Answering 2 asks a cancellable operation to stop.
typedef int (*DvProgressCallback)(unsigned char percent, void* context);
enum { DvProgressAbort = 2 };

} // extern "C"
