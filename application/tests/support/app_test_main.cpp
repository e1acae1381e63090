// The main of test binaries that run the program's own start-up (which makes the Qt
// application itself): temporary, settings and runtime folders in a fresh scratch folder, and
// the offscreen windowing plug-in.

#include "OfflineWeb.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    testsupport::ScratchFolder scratch(testsupport::ScratchFolder::OwnTemporaryFolder);
    testsupport::goOffline();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
