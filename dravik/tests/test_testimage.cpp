#include "testimage.h"

#include <gtest/gtest.h>

TEST(TestImages, PhotographsLoadAsRgba)
{
    auto cat = testsupport::loadRgba8("chelsea.png");
    EXPECT_EQ(cat.width, 451);
    EXPECT_EQ(cat.height, 300);
    EXPECT_EQ(cat.row(10)[3], 255);
    auto cat16 = testsupport::loadRgba16("chelsea16.png");
    EXPECT_EQ(cat16.width, 451);
    EXPECT_EQ(cat16.row(10)[3], 65535);
}
