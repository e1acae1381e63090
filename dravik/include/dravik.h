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

// Pixel layouts of an image descriptor.
enum DvPixelType {
    DvPixelStatus = 0,   // one status byte per pixel
    DvPixelRgba8 = 1,    // RGBA, 8-bit samples, alpha is sample 3
    DvPixelRgba16 = 2,   // RGBA, 16-bit samples on 0..65535
    DvPixelRgba16H = 3,  // RGBA, 16-bit samples on 0..32768
};

// An image in the caller's memory, passed by value; the memory must outlive every engine
// object built over it.
struct DvImageDesc {
    int width;
    int height;
    unsigned stride;  // bytes from one row to the next
    int pixelType;
    void* data;
};

// One engine variable as published to the caller: its value on 0..1, its name and its text
// (valid until the next publish or the end of the session).
struct DvVariable {
    float normalised;
    const char* name;
    const char* text;
};

// Reduces an 8-bit RGBA source into the caller's destination by 1, 2, 4 or 8 with
// per-channel block medians. 1: a descriptor is not usable or the factor is not supported
// (nothing written); 4: the source has no whole block.
DvResult DvScaleImage(DvImageDesc destination, DvImageDesc source);

} // extern "C"
