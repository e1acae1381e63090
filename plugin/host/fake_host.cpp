#include "fake_host.h"

#include <algorithm>
#include <cstring>

namespace {

FakeHost* g_current = nullptr;
FakeHost::CurrentHook g_currentHook = nullptr;

// The sample range of the fake suite: 8-bit samples run to 255, the host's 16-bit ones to
// 32768; sums wrap at 2^8 or 2^16 so that any sample the application writes converts back.
uint32_t sampleMaximum(int bytesPerSample)
{
    return bytesPerSample == 2 ? 32768u : 255u;
}

uint32_t sampleWrap(int bytesPerSample)
{
    return bytesPerSample == 2 ? 0x10000u : 0x100u;
}

uint32_t blackOf(uint32_t c, uint32_t m, uint32_t y, int bytesPerSample)
{
    return (c * 3 + m * 5 + y * 7 + 11) % (bytesPerSample == 2 ? 32769u : 256u);
}

uint32_t inverted(uint32_t value, int bytesPerSample)
{
    return (sampleMaximum(bytesPerSample) + sampleWrap(bytesPerSample) - value) % sampleWrap(bytesPerSample);
}

uint32_t loadSample(const unsigned char* at, int bytesPerSample)
{
    if (bytesPerSample == 1)
        return *at;
    uint16_t value;
    std::memcpy(&value, at, 2);
    return value;
}

void storeSample(unsigned char* at, uint32_t value, int bytesPerSample)
{
    if (bytesPerSample == 1) {
        *at = static_cast<unsigned char>(value);
        return;
    }
    const uint16_t sample = static_cast<uint16_t>(value);
    std::memcpy(at, &sample, 2);
}

// A sample of the layer's pattern; 16-bit samples cover 0..32768 with 32768 itself often.
uint32_t patternSample(std::size_t index, int bytesPerSample)
{
    if (bytesPerSample == 1)
        return static_cast<uint8_t>(index * 31 + 7 + index / 251);
    return index % 3 == 0 ? 32768u : uint32_t(index * 97 % 32769);
}

template <typename Colour>
int32_t convert(int32_t from, int32_t to, Colour* colours, int16_t count)
{
    FakeHost& host = *FakeHost::current();
    constexpr int bytes = sizeof(colours[0][0]);
    FakeHost::ConversionCalls& calls = host.conversions;
    ++calls.calls;
    if (host.faultInConversion) {
        // Through a volatile pointer, so that the compiler cannot see the null and make a
        // trap of the store: the host must get a real segmentation fault.
        int* volatile nowhere = nullptr;
        *nowhere = 1;
    }
    calls.largestChunk = std::max<int>(calls.largestChunk, count);
    calls.colours += count;
    if (count < 0 || bytes != host.bytesPerSample) {
        ++calls.malformed;
        return -1;
    }
    for (int16_t i = 0; i < count; ++i) {
        auto& colour = colours[i];
        if (from == kColorSpaceCMYK && to == kColorSpaceRGB) {
            if (colour[3] != blackOf(colour[0], colour[1], colour[2], bytes))
                ++calls.malformed;
            const uint32_t r = inverted(colour[0], bytes);
            const uint32_t g = inverted(colour[1], bytes);
            const uint32_t b = inverted(colour[2], bytes);
            colour[0] = bytes == 2 ? FakeHost::kMarker16 : FakeHost::kMarker8;
            colour[1] = r;
            colour[2] = g;
            colour[3] = b;
        } else if (from == kColorSpaceRGB && to == kColorSpaceCMYK) {
            if (colour[0] != 0)
                ++calls.malformed;
            const uint32_t c = inverted(colour[1], bytes);
            const uint32_t m = inverted(colour[2], bytes);
            const uint32_t y = inverted(colour[3], bytes);
            colour[0] = c;
            colour[1] = m;
            colour[2] = y;
            colour[3] = blackOf(c, m, y, bytes);
        } else {
            ++calls.malformed;
            return -1;
        }
    }
    return 0;
}

int32_t convert8(int32_t from, int32_t to, Color8* colours, int16_t count)
{
    return convert(from, to, colours, count);
}

int32_t convert16(int32_t from, int32_t to, Color16* colours, int16_t count)
{
    return convert(from, to, colours, count);
}

int32_t acquireSuite(const char* name, int32_t version, const void** suite)
{
    FakeHost& host = *FakeHost::current();
    static ColorSpaceSuite1 colourSuite{&convert8, &convert16};
    const bool available =
        host.suiteAvailable < 0 || int(host.suites.acquired.size()) < host.suiteAvailable;
    if (std::strcmp(name, kColorSpaceSuiteName) != 0 || version != kColorSpaceSuiteVersion || !available) {
        ++host.suites.refusals;
        return -1;
    }
    host.suites.acquired.emplace_back(name, version);
    *suite = &colourSuite;
    return 0;
}

int32_t releaseSuite(const char* name, int32_t version)
{
    FakeHost::current()->suites.released.emplace_back(name, version);
    return 0;
}

int16_t advanceState()
{
    FakeHost& host = *FakeHost::current();
    FilterRecord& r = host.record;
    FakeHost::TransferSeen& seen = host.transfer;
    ++seen.calls;
    seen.inColumnBytes = r.inColumnBytes;
    seen.inPlaneBytes = r.inPlaneBytes;
    seen.inLoPlane = r.inLoPlane;
    seen.inHiPlane = r.inHiPlane;
    seen.outColumnBytes = r.outColumnBytes;
    seen.outPlaneBytes = r.outPlaneBytes;
    seen.outLoPlane = r.outLoPlane;
    seen.outHiPlane = r.outHiPlane;
    seen.inRect = r.inRect;
    seen.outRect = r.outRect;
    if (r.bigDocumentData) {
        seen.inRect32 = r.bigDocumentData->inRect32;
        seen.outRect32 = r.bigDocumentData->outRect32;
    }
    if (host.onAdvance)
        host.onAdvance(r);
    return host.advanceResult;
}

int16_t getProperty(uint32_t signature, uint32_t key, int32_t, intptr_t*, HostHandle* complexValue)
{
    FakeHost& host = *FakeHost::current();
    if (signature != kPropertySignature || key != kPropertyTitle || !host.hasTitle)
        return -1;
    *complexValue = reinterpret_cast<HostHandle>(&host.title);
    return 0;
}

int32_t handleSize(HostHandle handle)
{
    return int32_t(reinterpret_cast<std::string*>(handle)->size());
}

char* lockHandle(HostHandle handle, uint8_t)
{
    return reinterpret_cast<std::string*>(handle)->data();
}

void disposeHandle(HostHandle)
{
    ++FakeHost::current()->disposed;
}

} // namespace

FakeHost::FakeHost()
{
    g_current = this;
    basicSuite.AcquireSuite = &acquireSuite;
    basicSuite.ReleaseSuite = &releaseSuite;
    m_handleProcs = HandleProcs{&handleSize, &lockHandle, &disposeHandle};
    m_propertyProcs.getPropertyProc = &getProperty;
    record.sSPBasic = &basicSuite;
    record.handleProcs = &m_handleProcs;
    record.propertyProcs = &m_propertyProcs;
    record.advanceState = &advanceState;
    record.maxSpace = 1 << 30;
    record.bufferSpace = 12345;
    if (g_currentHook)
        g_currentHook(this);
}

FakeHost::~FakeHost()
{
    if (g_currentHook)
        g_currentHook(nullptr);
    g_current = nullptr;
}

FakeHost* FakeHost::current()
{
    return g_current;
}

void FakeHost::setCurrentHook(CurrentHook hook)
{
    g_currentHook = hook;
}

void FakeHost::setLayer(int16_t mode, int16_t planes, int32_t w, int32_t h, bool withBig, int32_t padding,
                        int32_t left, int32_t top)
{
    width = w;
    height = h;
    bytesPerSample = (mode == kImageModeRGB48 || mode == kImageModeCMYK64) ? 2 : 1;
    cmyk = mode == kImageModeCMYK || mode == kImageModeCMYK64;
    columnBytes = (cmyk ? 5 : 4) * bytesPerSample;
    const std::size_t rowBytes = std::size_t(w) * columnBytes + padding;

    input.assign(rowBytes * h, kPadding);
    output.assign(rowBytes * h, kPadding);
    std::size_t index = 0;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            unsigned char* pixel = input.data() + y * rowBytes + std::size_t(x) * columnBytes;
            std::memset(output.data() + y * rowBytes + std::size_t(x) * columnBytes, kUntouched, columnBytes);
            const int samples = cmyk ? 5 : 4;
            for (int s = 0; s < samples; ++s)
                storeSample(pixel + s * bytesPerSample, patternSample(index++, bytesPerSample), bytesPerSample);
            if (cmyk) {
                const uint32_t c = loadSample(pixel, bytesPerSample);
                const uint32_t m = loadSample(pixel + bytesPerSample, bytesPerSample);
                const uint32_t yellow = loadSample(pixel + 2 * bytesPerSample, bytesPerSample);
                storeSample(pixel + 3 * bytesPerSample, blackOf(c, m, yellow, bytesPerSample), bytesPerSample);
            }
        }
    }

    initialOutput = output;

    record.imageMode = mode;
    record.planes = planes;
    record.inData = input.empty() ? nullptr : input.data();
    record.outData = output.empty() ? nullptr : output.data();
    record.inRowBytes = record.outRowBytes = int32_t(rowBytes);
    record.maskRect = Rect{1, 2, 3, 4};
    if (withBig) {
        big = BigDocumentStruct{};
        big.filterRect32 = VRect{top, left, top + h, left + w};
        big.maskRect32 = VRect{1, 2, 3, 4};
        record.bigDocumentData = &big;
        // A host with 32-bit coordinates fills the 16-bit form as far as it goes.
        record.filterRect = Rect{int16_t(top), int16_t(left), int16_t(std::min(top + h, 32767)),
                                 int16_t(std::min(left + w, 32767))};
    } else {
        record.bigDocumentData = nullptr;
        record.filterRect = Rect{int16_t(top), int16_t(left), int16_t(top + h), int16_t(left + w)};
    }
}

void FakeHost::setHugeLayer(int16_t mode, int32_t w, int32_t h)
{
    setLayer(mode, mode == kImageModeCMYK || mode == kImageModeCMYK64 ? 5 : 4, 0, 0, true);
    width = w;
    height = h;
    big.filterRect32 = VRect{0, 0, h, w};
    record.filterRect = Rect{0, 0, int16_t(std::min(h, 32767)), int16_t(std::min(w, 32767))};
    record.inData = nullptr;
    record.outData = nullptr;
}

std::vector<unsigned char> FakeHost::expectedHandOver() const
{
    const std::size_t rowBytes = std::size_t(record.inRowBytes);
    const int s = bytesPerSample;
    std::vector<unsigned char> rgba(std::size_t(width) * height * 4 * s);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const unsigned char* pixel = input.data() + y * rowBytes + std::size_t(x) * columnBytes;
            unsigned char* out = rgba.data() + (std::size_t(y) * width + x) * 4 * s;
            if (!cmyk) {
                std::memcpy(out, pixel, 4 * s);
                continue;
            }
            for (int k = 0; k < 3; ++k)
                storeSample(out + k * s, inverted(loadSample(pixel + k * s, s), s), s);
            std::memcpy(out + 3 * s, pixel + 4 * s, s);
        }
    }
    return rgba;
}

std::vector<unsigned char> FakeHost::expectedOutput(const std::vector<unsigned char>& rgba) const
{
    std::vector<unsigned char> out = initialOutput;
    const std::size_t rowBytes = std::size_t(record.outRowBytes);
    const int s = bytesPerSample;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const unsigned char* from = rgba.data() + (std::size_t(y) * width + x) * 4 * s;
            unsigned char* pixel = out.data() + y * rowBytes + std::size_t(x) * columnBytes;
            if (!cmyk) {
                std::memcpy(pixel, from, 4 * s);
                continue;
            }
            uint32_t cmy[3];
            for (int k = 0; k < 3; ++k) {
                cmy[k] = inverted(loadSample(from + k * s, s), s);
                storeSample(pixel + k * s, cmy[k], s);
            }
            storeSample(pixel + 3 * s, blackOf(cmy[0], cmy[1], cmy[2], s), s);
            std::memcpy(pixel + 4 * s, from + 3 * s, s);
        }
    }
    return out;
}

std::vector<unsigned char> FakeHost::outputHoldingInput() const
{
    return expectedOutput(expectedHandOver());
}
