#pragma once
// A stand-in for the image editor in the plug-in's tests and test host: one filter record with its input
// and output buffers, the transfer callback, the property and handle callbacks, a basic suite
// and a reversible colour-space suite that count what the plug-in does with them.
//
// The fake colour-space suite works on the colours this host builds: CMYK colours whose K is
// a fixed function of C, M and Y. CMYK to RGB gives (marker, M - C, M - M, M - Y) and RGB to
// CMYK the inverse, with the sums taken modulo the sample range, so a round trip restores the
// layer and the expected output of any RGB change can be computed.

#include "tunnelry/host_interface.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

class FakeHost {
public:
    struct TransferSeen {
        int16_t inColumnBytes = -1, inPlaneBytes = -1, inLoPlane = -1, inHiPlane = -1;
        int16_t outColumnBytes = -1, outPlaneBytes = -1, outLoPlane = -1, outHiPlane = -1;
        Rect inRect{}, outRect{};
        VRect inRect32{}, outRect32{};
        int calls = 0;
    };

    struct SuiteCalls {
        std::vector<std::pair<std::string, int32_t>> acquired;
        std::vector<std::pair<std::string, int32_t>> released;
        int refusals = 0;
    };

    struct ConversionCalls {
        int calls = 0;
        int largestChunk = 0;
        long long colours = 0;
        // Colours that did not arrive as the plug-in must pass them (a wrong K in a CMYK
        // colour, a non-zero first component in an RGB colour, a wrong direction).
        long long malformed = 0;
    };

    static constexpr uint8_t kMarker8 = 0xAB;
    static constexpr uint16_t kMarker16 = 0xABCD;
    static constexpr unsigned char kPadding = 0x5A;
    static constexpr unsigned char kUntouched = 0xC3;

    // Makes this host the one whose callbacks run; one at a time.
    FakeHost();
    ~FakeHost();
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    // A layer of `mode` with `planes` planes over a filter rectangle of width × height at
    // (left, top), rows padded by `padding` bytes. The input holds a pattern (16-bit samples
    // 0..32768, 32768 included; CMYK colours built for the fake suite), the output holds
    // kUntouched with kPadding in the row padding. With `big`, the record carries 32-bit
    // coordinates.
    void setLayer(int16_t mode, int16_t planes, int32_t width, int32_t height, bool big, int32_t padding = 12,
                  int32_t left = 3, int32_t top = 5);

    FilterRecord record{};
    BigDocumentStruct big{};
    std::vector<unsigned char> input;
    std::vector<unsigned char> output;
    // The output as setLayer left it.
    std::vector<unsigned char> initialOutput;

    // The title property; none when unset.
    bool hasTitle = false;
    std::string title;
    int disposed = 0;

    int16_t advanceResult = 0;
    // Runs inside advanceState after the fields are recorded.
    std::function<void(FilterRecord&)> onAdvance;
    TransferSeen transfer;

    // The colour-space suite is handed out for the first `suiteAvailable` acquisitions
    // (all when negative); the basic suite refuses later ones.
    int suiteAvailable = -1;
    SuiteCalls suites;
    ConversionCalls conversions;

    SPBasicSuite basicSuite{};
    int32_t width = 0;
    int32_t height = 0;
    int bytesPerSample = 1;
    bool cmyk = false;
    int columnBytes = 4;

    // Geometry only, no buffers: for sizes the plug-in must refuse before touching pixels.
    void setHugeLayer(int16_t mode, int32_t width, int32_t height);

    // The packed RGBA pixels the plug-in should hand over for the current input.
    std::vector<unsigned char> expectedHandOver() const;
    // The host's output rows (padding kept) for a hand-over of `rgba` written back.
    std::vector<unsigned char> expectedOutput(const std::vector<unsigned char>& rgba) const;
    // The output as it was set up, the layer's own pixels in every row, padding kept.
    std::vector<unsigned char> outputHoldingInput() const;

    static FakeHost* current();

    // Called with each host that becomes current and with nullptr when it goes; a test that
    // calls the plug-in's classes directly hands them the host's suites there.
    using CurrentHook = void (*)(FakeHost* host);
    static void setCurrentHook(CurrentHook hook);

    // The colour-space suite writes through a null pointer on its next conversion.
    bool faultInConversion = false;

private:
    HandleProcs m_handleProcs{};
    PropertyProcs m_propertyProcs{};
    ColorSpaceSuite1 m_colourSuite{};
};
