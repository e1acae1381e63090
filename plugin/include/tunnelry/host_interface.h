#pragma once
/* The image editor's filter interface as this plug-in uses it: the records the host passes,
 * the callbacks it offers and the suites it hands out by name. Only what the plug-in reads or
 * writes is declared; C-compatible, fixed-width types, so that a host in either language can
 * include it. */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Selectors: the host calls the entry point once per step of a filter run. */
enum {
    kSelectorAbout = 0,
    kSelectorParameters = 1,
    kSelectorPrepare = 2,
    kSelectorStart = 3,
    kSelectorContinue = 4,
    kSelectorFinish = 5
};

/* The document's image modes the plug-in accepts. */
enum {
    kImageModeRGB = 3,
    kImageModeCMYK = 4,
    kImageModeRGB48 = 11,
    kImageModeCMYK64 = 13
};

/* Result codes. Negative values are host errors; a positive value tells the host that the
 * plug-in has already shown the problem to the user (or, from the application, a code of
 * its own). */
enum {
    kResultNoError = 0,
    kResultFileNotFound = -43,   /* the application is missing or not a program */
    kResultParameterError = -50, /* bad call sequence, stale object, unexpected exception */
    kResultMemoryFull = -108,    /* out of memory, or the hand-over could not be made */
    kResultUserCanceled = -128,  /* the user discarded the work */
    kResultNotUsable = 2         /* the document cannot be filtered; the user was told */
};

/* Rectangles: top and left inclusive, bottom and right exclusive. */
typedef struct Rect {
    int16_t top;
    int16_t left;
    int16_t bottom;
    int16_t right;
} Rect;

typedef struct VRect {
    int32_t top;
    int32_t left;
    int32_t bottom;
    int32_t right;
} VRect;

/* A block of memory owned by the host. */
typedef struct HostHandleData* HostHandle;

typedef struct HandleProcs {
    /* Size of the handle's block in bytes. */
    int32_t (*sizeProc)(HostHandle handle);
    /* The block's address; it stays put until the handle is disposed of. */
    char* (*lockProc)(HostHandle handle, uint8_t moveHigh);
    void (*disposeProc)(HostHandle handle);
} HandleProcs;

/* Four-character codes of document properties. */
#define TN_FOUR_CHARS(a, b, c, d) \
    (((uint32_t)(a) << 24) | ((uint32_t)(b) << 16) | ((uint32_t)(c) << 8) | (uint32_t)(d))
#define kPropertySignature TN_FOUR_CHARS('8', 'B', 'I', 'M')
#define kPropertyTitle TN_FOUR_CHARS('t', 'i', 't', 'l')

/* Reads a document property: a simple one into *simpleValue, a complex one as a new handle in
 * *complexValue that the caller disposes of. Returns 0 on success. */
typedef int16_t (*GetPropertyProc)(uint32_t signature, uint32_t key, int32_t index,
                                   intptr_t* simpleValue, HostHandle* complexValue);

typedef struct PropertyProcs {
    GetPropertyProc getPropertyProc;
} PropertyProcs;

/* Hands out the host's suites by name and version. */
typedef struct SPBasicSuite {
    /* Stores the suite's function table in *suite; returns 0 on success. */
    int32_t (*AcquireSuite)(const char* name, int32_t version, const void** suite);
    int32_t (*ReleaseSuite)(const char* name, int32_t version);
} SPBasicSuite;

/* The colour-space suite, version 1. Colours are converted in place, `count` at a time. */
#define kColorSpaceSuiteName "Photoshop ColorSpace Suite for Plug-ins"
#define kColorSpaceSuiteVersion 1

enum {
    kColorSpaceRGB = 0,
    kColorSpaceCMYK = 2
};

/* One colour of the suite: four components; an RGB colour is (unused, R, G, B), a CMYK colour
 * (C, M, Y, K). */
typedef uint8_t Color8[4];
typedef uint16_t Color16[4];

typedef struct ColorSpaceSuite1 {
    int32_t (*Convert8)(int32_t sourceSpace, int32_t destinationSpace, Color8* colors, int16_t count);
    int32_t (*Convert16)(int32_t sourceSpace, int32_t destinationSpace, Color16* colors, int16_t count);
} ColorSpaceSuite1;

/* Coordinates of documents that do not fit 16 bits. */
typedef struct BigDocumentStruct {
    /* Set to 1 by the plug-in when it reads and writes the 32-bit rectangles below. */
    int32_t PluginUsing32BitCoordinates;
    VRect filterRect32;
    VRect inRect32;
    VRect outRect32;
    VRect maskRect32;
} BigDocumentStruct;

/* Asks the host for the buffers described by the transfer fields; returns 0 on success. */
typedef int16_t (*AdvanceStateProc)(void);

/* The parameter block of every selector but About. */
typedef struct FilterRecord {
    SPBasicSuite* sSPBasic;
    HandleProcs* handleProcs;
    PropertyProcs* propertyProcs;
    BigDocumentStruct* bigDocumentData; /* null when the host has no 32-bit coordinates */
    AdvanceStateProc advanceState;

    int16_t imageMode;
    int16_t planes;   /* colour planes plus the layer's transparency plane */
    Rect filterRect;  /* the area to filter */

    int32_t maxSpace;    /* memory the host offers */
    int32_t bufferSpace; /* memory the plug-in asks for besides the host's buffers */

    /* Input: the host fills inData with inRect of planes inLoPlane..inHiPlane, interleaved. */
    Rect inRect;
    int16_t inLoPlane;
    int16_t inHiPlane;
    int16_t inColumnBytes; /* bytes from one pixel to the next */
    int16_t inPlaneBytes;  /* bytes from one plane to the next within a pixel */
    const void* inData;
    int32_t inRowBytes;

    /* Output: the plug-in writes outData, which the host commits for outRect. */
    Rect outRect;
    int16_t outLoPlane;
    int16_t outHiPlane;
    int16_t outColumnBytes;
    int16_t outPlaneBytes;
    void* outData;
    int32_t outRowBytes;

    Rect maskRect;
} FilterRecord;

/* The parameter block of the About selector. */
typedef struct AboutRecord {
    SPBasicSuite* sSPBasic;
} AboutRecord;

/* The plug-in's entry: the selector, its parameter block (an AboutRecord for About, a
 * FilterRecord otherwise), the host's slot that keeps the plug-in's data between calls, and
 * the result code. */
typedef void (*PluginEntryProc)(int16_t selector, void* parameterBlock, intptr_t* data, int16_t* result);

/* The plug-in's property list: what the host reads from the library before it offers the
 * filter, exported read-only under the name kPropertyListSymbol. Each record is a key, a
 * length and that many bytes. Numbers are little-endian; four-character codes are their
 * four characters in reading order; texts are their characters without a terminator; names
 * are length-prefixed (one length byte, then the characters). */
#define kPropertyListSymbol "PluginPropertyList"
#define kPropertyListType TN_FOUR_CHARS('P', 'i', 'P', 'L')
#define kPropertyListId 16000

#define kPropertyKind TN_FOUR_CHARS('k', 'i', 'n', 'd')     /* four-character code: the kind of plug-in */
#define kPropertyName TN_FOUR_CHARS('n', 'a', 'm', 'e')     /* name: the menu entry */
#define kPropertyCategory TN_FOUR_CHARS('c', 'a', 't', 'g') /* name: the sub-menu */
#define kPropertyVersion TN_FOUR_CHARS('v', 'e', 'r', 's')  /* 32 bits: interface version, major in the high half */
#define kPropertyEntry TN_FOUR_CHARS('w', 'x', '8', '6')    /* text: the entry point's symbol */
#define kPropertyModes TN_FOUR_CHARS('m', 'o', 'd', 'e')    /* 32 bits: bit n set for image mode n */
#define kPropertyEnable TN_FOUR_CHARS('e', 'n', 'b', 'l')   /* text: the host's expression for when to enable */
#define kPropertyMaxSize TN_FOUR_CHARS('m', 's', '3', '2')  /* two 32-bit numbers: most rows, most columns */
#define kPropertyFilterCases TN_FOUR_CHARS('f', 'i', 'c', 'i') /* four bytes per case, see below */

/* A filter plug-in's kind. */
#define kPluginKindFilter TN_FOUR_CHARS('8', 'B', 'F', 'M')

/* Filter cases, in their order in the filter-case record: for each, the input handling, the
 * output handling and two flag bytes. */
enum {
    kCaseFlatImageNoSelection = 0,
    kCaseFlatImageWithSelection,
    kCaseFloatingSelection,
    kCaseEditableTransparencyNoSelection,
    kCaseEditableTransparencyWithSelection,
    kCaseProtectedTransparencyNoSelection,
    kCaseProtectedTransparencyWithSelection,
    kFilterCaseCount
};
enum {
    kCaseHandlingCannotFilter = 0,
    kCaseHandlingStraightData = 1
};
/* flags1: the host does not copy the source into the destination first. */
#define kCaseFlagDontCopyToDestination 0x01

typedef struct PropertyRecord {
    uint32_t key;
    uint32_t length;
    const uint8_t* bytes;
} PropertyRecord;

typedef struct PropertyList {
    uint32_t type; /* kPropertyListType */
    int32_t id;    /* kPropertyListId */
    uint32_t count;
    const PropertyRecord* records;
} PropertyList;

#ifdef __cplusplus
}
#endif
