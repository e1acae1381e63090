#pragma once
// The masking engine's call interface: plain functions over opaque handles that
// return small integer result codes. One entry at a time per library; every entry runs on
// the caller's thread.

#include "dravik_outline.h"

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

// A client progress function: percent 0..100 and a context word the engine passes as null.
// Answering 2 asks a cancellable operation to stop.
typedef int (*DvProgressFunction)(unsigned char percent, void* context);
enum { DvProgressAbort = 2 };

// The application's own progress function. The entries that take no progress argument call
// it by name; the engine carries a default that answers 0, which the application's
// definition replaces.
int DvProgressCallback(unsigned char percent, void* context);

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

// A positioned byte image: a stroke, a patch or status bytes. left and top place its first
// pixel in the session's image. As a stroke or patch a non-zero byte selects a pixel and a
// null data pointer selects the whole rectangle.
struct DvSelection {
    int left;
    int top;
    DvImageDesc image;
};

// An area of an image, in pixels.
struct DvArea {
    int left;
    int top;
    int width;
    int height;
};

// The edge-finding settings handed to DvPrepareAnalysis.
struct DvEdgeOptions {
    float sensitivity;  // 0..1
    int edgeWidth;
    unsigned char edgeContrast;
    unsigned char texture;
};

// One engine variable as published to the caller: its value on 0..1, its name and its text
// (valid until the next publish or the end of the session).
struct DvVariable {
    float normalised;
    const char* name;
    const char* text;
};

// A forced edge: a polyline in session coordinates and its width in session pixels.
struct DvForcedEdge {
    DvOutlinePoint* points;
    int count;
    float width;
};

// A patch of mask generation. The engine reads these fields only during the call, and writes
// only through `unsolved`.
struct DvMaskPatch {
    DvSelection area;         // the patch's rectangle and bitmap, in session coordinates
    unsigned char exclusive;  // non-zero: this call generates only this patch
    float valueA;             // matting: foreground palette detail, 0..1
    float valueB;             // matting: background palette detail, 0..1
    unsigned char colour1[3]; // foreground override colour: carried, read by no engine step
    unsigned char colour2[3]; // background override colour: carried, read by no engine step
    float level;              // blend ratio, clamped to 0..1
    unsigned char method;     // 1 matting patch, 3 mask-core patch, 0 the whole-area core
    float valueE;             // mask core: the relaxation value
    float valueD;             // 1 for a uniform background, else 0
    // Null, or where a call that returns DvOk writes 1 when this matting patch could not be
    // solved (no Keep or no Delete among its pixels to take colours from) and its pixels were
    // made as if it were not there, and 0 otherwise.
    unsigned char* unsolved;
};

// The library record; opaque to the caller.
struct DvLibrary;

// The public block of a session: readable by the caller between calls.
struct DvSession {
    int left;  // origin of a sub-session's patch in its parent's image; 0 for a session
    int top;
    int width;
    int height;
    // The area the last operation changed; all 0 when it changed nothing.
    int dirtyLeft;
    int dirtyTop;
    int dirtyWidth;
    int dirtyHeight;
    // The suggested edge-finding settings.
    float sensitivity;
    int edgeWidth;
    unsigned char edgeContrast;
    unsigned char texture;
    DvVariable* variables;
    int variableCount;
    int analysed;
    // Owned by the session.
    DvOutline* outlines;
    int outlineCount;
    std::uint32_t magic;
    DvLibrary* library;
    DvSession* parent;  // null for a session
};

// The public block of a status image: one status byte per pixel, rows 4-byte aligned. The
// caller reads the first five fields and may view the bytes directly.
struct DvImage {
    int width;
    int height;
    unsigned stride;
    int pixelType;
    unsigned char* data;
    std::uint32_t magic;
    unsigned char ownsMemory;
    DvLibrary* library;
};

DvLibrary* DvInit(void);
DvResult DvFinish(DvLibrary* library);

DvSession* DvBeginSession(DvLibrary* library, DvImageDesc image);
// The patch's bitmap bytes must stay valid until the sub-session ends.
DvSession* DvBeginSubSession(DvSession* parent, const DvSelection* patch, int ownAnalysis);
DvResult DvEndSession(DvSession* session);

DvImage* DvNewStatusImage(DvLibrary* library, DvImageDesc source);
DvResult DvDeleteStatusImage(DvImage* image);

// Reduces an 8-bit RGBA source into the caller's destination by 1, 2, 4 or 8 with
// per-channel block medians. 1: a descriptor is not usable or the factor is not supported
// (nothing written); 4: the source has no whole block.
DvResult DvScaleImage(DvImageDesc destination, DvImageDesc source);

DvResult DvPrepareAnalysis(DvSession* session, DvEdgeOptions options);
DvResult DvAnalyseImage(DvSession* session, DvProgressFunction callback);

// mode: 0 Exact, 1 Local, 2 Global, 3 Regions.
DvResult DvSelect(DvSession* session, DvImage* image, const DvSelection* stroke,
                  unsigned char newValue, unsigned char matchTarget, int mode, float strength,
                  DvProgressFunction callback);
// bandFactor: the blend width in use, scaling the Blend band along the stroke's edge; 0 for none.
DvResult DvAutoComplex(DvSession* session, DvImage* image, float bandFactor,
                       DvProgressFunction callback);
DvResult DvDespeckleSelection(DvSession* session, DvImage* image, unsigned char level);
// area: null for the whole image; fill class 0, 2 or 4.
DvResult DvAutoFill(DvSession* session, DvImage* image, const DvArea* area,
                    unsigned char fillClass, float bandFactor);
DvResult DvSetStatus(DvSession* session, DvImage* image, const DvSelection* status);
DvResult DvSetStatusInSession(DvSession* session, DvImage* image);
DvResult DvSetStatusInParent(DvSession* session, DvImage* image);

DvResult DvBeginUndoStep(DvSession* session);
DvResult DvUndo(DvSession* session);
DvResult DvRedo(DvSession* session);
// On failure the int is left untouched.
DvResult DvNumAvailableUndo(DvSession* session, int* count);
DvResult DvNumAvailableRedo(DvSession* session, int* count);

DvResult DvSetVariable(DvSession* session, const char* name, float value);
// On failure the record is left untouched.
DvResult DvGetVariable(DvSession* session, DvVariable* variable, const char* name);

// Replaces the cut-out's pixels inside the area by the generated mask. The area is in session
// (status-image) coordinates, clipped to the session image and mapped to full resolution by
// the factor between the cut-out and the status image; null is the whole image. A status
// image whose size is not the cut-out's reduced by that factor (1, 2, 4 or 8, rounded up) is
// refused with the bad-image code. On any non-zero result the cut-out is left unchanged.
DvResult DvGenerateMask(DvSession* session, const DvArea* area, DvImageDesc cutOut,
                        DvImageDesc source, DvImage* status, const DvForcedEdge* edges,
                        int edgeCount, float bandFactor, float level, const DvMaskPatch* patches,
                        int patchCount);

} // extern "C"
