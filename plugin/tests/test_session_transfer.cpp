// A filter run's pixels: what the host is asked for, what the application finds in the
// mappings, what reaches the host's output by the exit code, and the failures that must keep
// the host from committing an output buffer the plug-in never filled.
#include "session_fixture.h"

#include <cstring>

namespace {

struct LayerCase {
    const char* name;
    int16_t mode;
    int16_t planes;
    bool big;
};

void PrintTo(const LayerCase& layer, std::ostream* out)
{
    *out << layer.name;
}

std::string caseName(const ::testing::TestParamInfo<LayerCase>& info)
{
    return info.param.name;
}

class LayerTransferTest : public SessionTest, public ::testing::WithParamInterface<LayerCase> {};

} // namespace

TEST_P(LayerTransferTest, ApplyWritesTheTransformedLayerBack)
{
    const LayerCase& layer = GetParam();
    FakeHost host;
    host.setLayer(layer.mode, layer.planes, 37, 23, layer.big);
    const Rect filterRect = host.record.filterRect;
    setenv("FAKE_APP_MODE", "apply", 1);

    WinPhotoshopShim shim;
    ASSERT_EQ(run(shim, host), 0) << logText();

    // The host was asked for the whole filter rectangle in the mode's interleaving.
    const FakeHost::TransferSeen& seen = host.transfer;
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.inColumnBytes, host.columnBytes);
    EXPECT_EQ(seen.outColumnBytes, host.columnBytes);
    EXPECT_EQ(seen.inPlaneBytes, host.bytesPerSample);
    EXPECT_EQ(seen.outPlaneBytes, host.bytesPerSample);
    EXPECT_EQ(seen.inLoPlane, 0);
    EXPECT_EQ(seen.outLoPlane, 0);
    EXPECT_EQ(seen.inHiPlane, host.cmyk ? 4 : 3);
    EXPECT_EQ(seen.outHiPlane, host.cmyk ? 4 : 3);
    if (layer.big) {
        EXPECT_EQ(host.big.PluginUsing32BitCoordinates, 1);
        EXPECT_TRUE(seen.inRect32 == host.big.filterRect32);
        EXPECT_TRUE(seen.outRect32 == host.big.filterRect32);
    } else {
        EXPECT_TRUE(seen.inRect == filterRect);
        EXPECT_TRUE(seen.outRect == filterRect);
    }

    const std::map<std::string, std::string> r = report();
    EXPECT_EQ(r.at("argv[4]"), "37");
    EXPECT_EQ(r.at("argv[5]"), "23");
    EXPECT_EQ(r.at("argv[6]"), host.bytesPerSample == 2 ? "16" : "8");
    EXPECT_EQ(r.at("result.size"), std::to_string(37 * 23 * 4 * host.bytesPerSample));
    EXPECT_EQ(r.at("same"), "1");

    // The application transformed exactly the hand-over; padding kept its sentinel.
    EXPECT_EQ(firstDifference(host.output, host.expectedOutput(applied(host.expectedHandOver()))), -1);

    if (host.cmyk) {
        EXPECT_EQ(host.suites.acquired.size(), 2u);
        EXPECT_EQ(host.conversions.malformed, 0);
        EXPECT_EQ(host.conversions.colours, 2LL * 37 * 23);
    } else {
        EXPECT_TRUE(host.suites.acquired.empty());
    }
    EXPECT_EQ(host.suites.acquired, host.suites.released);
    for (const auto& [name, version] : host.suites.acquired) {
        EXPECT_EQ(name, kColorSpaceSuiteName);
        EXPECT_EQ(version, 1);
    }

    expectRectanglesCleared(host);
    EXPECT_EQ(shim.sourceHandle(), platform::kNoSharedMemory);
    EXPECT_EQ(shim.resultHandle(), platform::kNoSharedMemory);
}

INSTANTIATE_TEST_SUITE_P(Modes, LayerTransferTest,
                         ::testing::Values(LayerCase{"Rgb", kImageModeRGB, 4, false},
                                           LayerCase{"RgbBig", kImageModeRGB, 4, true},
                                           LayerCase{"Rgb48", kImageModeRGB48, 4, false},
                                           LayerCase{"Rgb48Big", kImageModeRGB48, 5, true},
                                           LayerCase{"Cmyk", kImageModeCMYK, 5, false},
                                           LayerCase{"CmykBig", kImageModeCMYK, 5, true},
                                           LayerCase{"Cmyk64", kImageModeCMYK64, 5, false},
                                           LayerCase{"Cmyk64Big", kImageModeCMYK64, 6, true}),
                         caseName);

TEST_F(SessionTest, WideCmykRowsGoThroughTheSuiteInChunks)
{
    FakeHost host;
    host.setLayer(kImageModeCMYK, 5, 40000, 2, true);
    setenv("FAKE_APP_MODE", "apply", 1);
    WinPhotoshopShim shim;
    ASSERT_EQ(run(shim, host), 0) << logText();

    EXPECT_EQ(host.conversions.largestChunk, 32767);
    // Two rows, two chunks each, once towards RGB and once back.
    EXPECT_EQ(host.conversions.calls, 8);
    EXPECT_EQ(host.conversions.colours, 4LL * 40000);
    EXPECT_EQ(host.conversions.malformed, 0);
    EXPECT_EQ(host.suites.acquired, host.suites.released);
    EXPECT_EQ(firstDifference(host.output, host.expectedOutput(applied(host.expectedHandOver()))), -1);
}

TEST_F(SessionTest, ExitCodesDecideTheCopyBack)
{
    struct Outcome {
        const char* mode;
        int16_t result;
        bool copied; // the output holds the layer again; otherwise it is untouched
    };
    const Outcome outcomes[] = {
        {"exit:1", -128, false}, {"exit:2", 2, false}, {"exit:12", 12, true},
        // 13: the application could not hand its result back and wrote nothing.
        {"exit:13", 13, true},   {"exit:255", -1, true},  {"segv", -1, true},
    };
    for (const Outcome& outcome : outcomes) {
        for (int16_t mode : {kImageModeRGB, kImageModeCMYK64}) {
            SCOPED_TRACE(std::string(outcome.mode) + " in mode " + std::to_string(mode));
            unlink(m_report.c_str());
            FakeHost host;
            host.setLayer(mode, 5, 19, 7, false);
            setenv("FAKE_APP_MODE", outcome.mode, 1);
            WinPhotoshopShim shim;
            EXPECT_EQ(run(shim, host), outcome.result);
            EXPECT_TRUE(childStarted());
            if (outcome.copied)
                EXPECT_EQ(firstDifference(host.output, host.outputHoldingInput()), -1);
            else
                EXPECT_EQ(firstDifference(host.output, host.initialOutput), -1);
            EXPECT_EQ(host.suites.acquired, host.suites.released);
            expectRectanglesCleared(host);
        }
    }
}

TEST_F(SessionTest, EmptyAndOversizedAreasStartNoChild)
{
    {
        FakeHost host;
        host.setLayer(kImageModeRGB, 4, 0, 48, false);
        WinPhotoshopShim shim;
        // Nothing to change: the call succeeds without a launch.
        EXPECT_EQ(run(shim, host), 0);
        EXPECT_FALSE(childStarted());
        EXPECT_NE(logText().find("Unable to create mapping to ks3 0 x 48"), std::string::npos) << logText();
        expectRectanglesCleared(host);
    }
    {
        FakeHost host;
        host.setHugeLayer(kImageModeRGB, 65536, 16384);
        WinPhotoshopShim shim;
        EXPECT_EQ(run(shim, host), kResultMemoryFull);
        EXPECT_FALSE(childStarted());
        EXPECT_NE(logText().find("Required buffer too large at 4294967296 bytes"), std::string::npos) << logText();
        expectRectanglesCleared(host);
    }
}

TEST_F(SessionTest, FailedHandOverIsReportedAndNothingIsCommitted)
{
    struct Fault {
        const char* name;
        int16_t mode;
        void (*inject)(FakeHost&);
        const char* logged;
    };
    const Fault faults[] = {
        {"no colour-space suite", kImageModeCMYK, [](FakeHost& h) { h.suiteAvailable = 0; },
         "Unable to acquire colour-space suite"},
        {"no input buffer", kImageModeRGB, [](FakeHost& h) { h.onAdvance = [](FilterRecord& r) { r.inData = nullptr; }; },
         "Host input buffer unusable"},
        {"input rows too short", kImageModeRGB48,
         [](FakeHost& h) { h.onAdvance = [](FilterRecord& r) { r.inRowBytes = 8 * 19 - 1; }; },
         "Host input buffer unusable"},
    };
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.name);
        FakeHost host;
        host.setLayer(fault.mode, 5, 19, 7, false);
        fault.inject(host);
        setenv("FAKE_APP_MODE", "apply", 1);
        WinPhotoshopShim shim;
        EXPECT_EQ(run(shim, host), kResultMemoryFull);
        EXPECT_FALSE(childStarted());
        EXPECT_NE(logText().find(fault.logged), std::string::npos);
        EXPECT_EQ(firstDifference(host.output, host.initialOutput), -1);
        EXPECT_EQ(host.suites.acquired, host.suites.released);
        EXPECT_EQ(shim.sourceHandle(), platform::kNoSharedMemory);
        expectRectanglesCleared(host);
    }
}

TEST_F(SessionTest, FailedCopyBackAfterApplyIsAnError)
{
    {
        SCOPED_TRACE("colour-space suite gone for the copy-back");
        FakeHost host;
        host.setLayer(kImageModeCMYK64, 5, 19, 7, true);
        host.suiteAvailable = 1;
        setenv("FAKE_APP_MODE", "apply", 1);
        WinPhotoshopShim shim;
        EXPECT_EQ(run(shim, host), kResultMemoryFull);
        EXPECT_TRUE(childStarted());
        EXPECT_NE(logText().find("Unable to acquire colour-space suite"), std::string::npos);
        EXPECT_EQ(host.suites.acquired.size(), 1u);
        EXPECT_EQ(host.suites.acquired, host.suites.released);
        expectRectanglesCleared(host);
    }
    {
        SCOPED_TRACE("no output buffer");
        unlink(m_report.c_str());
        FakeHost host;
        host.setLayer(kImageModeRGB, 4, 19, 7, false);
        host.onAdvance = [](FilterRecord& r) { r.outData = nullptr; };
        setenv("FAKE_APP_MODE", "apply", 1);
        WinPhotoshopShim shim;
        EXPECT_EQ(run(shim, host), kResultMemoryFull);
        EXPECT_TRUE(childStarted());
        EXPECT_EQ(firstDifference(host.output, host.initialOutput), -1);
    }
}

TEST_F(SessionTest, RefusedTransferBecomesTheResult)
{
    FakeHost host;
    host.setLayer(kImageModeRGB, 4, 19, 7, false);
    host.advanceResult = -30;
    setenv("FAKE_APP_MODE", "apply", 1);
    WinPhotoshopShim shim;
    EXPECT_EQ(run(shim, host), -30);
    EXPECT_EQ(host.transfer.calls, 1);
    EXPECT_FALSE(childStarted());
    EXPECT_EQ(firstDifference(host.output, host.initialOutput), -1);
}
