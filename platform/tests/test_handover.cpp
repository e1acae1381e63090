// The hand-over command line and mapping size, as both sides read them.
#include "platform/handover.h"
#include "platform/process.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Arguments = std::vector<std::string>;

TEST(HandOver, CommandLineCarriesTheContract)
{
    const std::string line = platform::handOverCommandLine(6, 5, 64, 48, 16, "My \"best\" shot");
    EXPECT_EQ(line, "\"LaunchedBy Plugin he said\" --tn \"0000000000000006\" \"0000000000000005\" \"64\" \"48\" "
                    "\"16\" little \"My best shot\"");
    const Arguments argv = platform::splitCommandLine(line);
    ASSERT_EQ(argv.size(), std::size_t(platform::kHandOverArgumentCount));
    EXPECT_EQ(argv, (Arguments{"LaunchedBy Plugin he said", "--tn", "0000000000000006", "0000000000000005", "64",
                               "48", "16", "little", "My best shot"}));

    const Arguments untitled = platform::splitCommandLine(platform::handOverCommandLine(0, 1, 1, 1, 8, ""));
    ASSERT_EQ(untitled.size(), 9u);
    EXPECT_EQ(untitled[2], "0000000000000000");
    EXPECT_EQ(untitled[6], "8");
    EXPECT_EQ(untitled[8], "");
    // Blanks in the title stay inside one argument.
    EXPECT_EQ(platform::splitCommandLine(platform::handOverCommandLine(0, 1, 1, 1, 8, "  a\tb  "))[8], "  a\tb  ");
}

TEST(HandOver, AboutCommandLine)
{
    EXPECT_EQ(platform::splitCommandLine(platform::aboutCommandLine("/opt/My Apps/kestrine3", "--about")),
              (Arguments{"/opt/My Apps/kestrine3", "--about"}));
}

TEST(HandOver, MappingSize)
{
    EXPECT_EQ(platform::handOverBytesPerPixel(8), 4u);
    EXPECT_EQ(platform::handOverBytesPerPixel(16), 8u);
    EXPECT_EQ(platform::handOverBytesPerPixel(32), 0u);
    EXPECT_EQ(platform::handOverBytes(4, 64, 48), 12288u);
    EXPECT_EQ(platform::handOverBytes(8, 64, 48), 24576u);
    EXPECT_EQ(platform::handOverBytes(4, 0, 48), 0u);
    EXPECT_EQ(platform::handOverBytes(4, -3, 48), 0u);
    // Computed in 64 bits: the host's largest document is far above the mapping limit.
    EXPECT_EQ(platform::handOverBytes(8, 2000000, 2000000), 32000000000000ull);
    EXPECT_EQ(platform::handOverBytes(4, 32768, 32768), platform::kSharedMemoryLimit);
    EXPECT_EQ(platform::handOverBytes(4, 0x7FFFFFFF, 0x7FFFFFFF), 4ull * 0x7FFFFFFF * 0x7FFFFFFF);
    // Beyond 64 bits the size saturates instead of wrapping to something small.
    EXPECT_EQ(platform::handOverBytes(8, 0x7FFFFFFF, 0x7FFFFFFF), UINT64_MAX);
    EXPECT_GE(platform::handOverBytes(8, INT64_MAX, INT64_MAX), platform::kSharedMemoryLimit);
}
