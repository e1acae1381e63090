#include "session/scale.h"
#include "session/session.h"

#include <gtest/gtest.h>

#include <vector>

using namespace dravik;
using classification::Rect;

TEST(SelectMasks, FollowTheCaseTableInOrder)
{
    struct Case {
        unsigned char s, t;
        int mode;
        unsigned char write, match;
    };
    const Case cases[] = {
        {1, 16, 0, 16, 16},  {1, 0, 0, 15, 47},  {1, 2, 1, 15, 63},  {1, 32, 0, 32, 32},
        {16, 1, 0, 16, 16},  {2, 16, 2, 16, 16}, {32, 1, 3, 32, 32}, {4, 32, 0, 32, 32},
        {2, 1, 0, 15, 63},   {8, 1, 2, 15, 63},  {4, 6, 1, 15, 63},  {0, 1, 0, 0, 0},
        {6, 1, 0, 0, 0},
    };
    for (const Case& c : cases) {
        const SelectMasks m = selectMasks(c.s, c.t, c.mode);
        EXPECT_EQ(m.write, c.write) << int(c.s) << " " << int(c.t) << " " << c.mode;
        EXPECT_EQ(m.match, c.match) << int(c.s) << " " << int(c.t) << " " << c.mode;
    }
}

TEST(ResolutionFactor, IsTheFactorTheScalingEntryUsesForThePair)
{
    // Small reduced images: the ratio of the sizes less one is far from the factor.
    EXPECT_EQ(resolutionFactor(10, 10, 5, 5), 2);
    EXPECT_EQ(resolutionFactor(4, 4, 8, 8), 1);
    EXPECT_EQ(resolutionFactor(3000, 3001, 1000, 1001), 4);
    EXPECT_EQ(resolutionFactor(50, 50, 49, 49), 2);
    // Every pair the application makes: working size = full size / d, rounded up.
    for (int d : {1, 2, 4, 8})
        for (int w = 1; w <= 70; ++w)
            for (int h : {1, 3, 17, 64}) {
                const int sw = (w + d - 1) / d, sh = (h + d - 1) / d;
                const int used = classification::scaleFactor(w, h, sw, sh);
                if (used == 1 || used == 2 || used == 4 || used == 8) {
                    EXPECT_EQ(resolutionFactor(w, h, sw, sh), used) << w << "x" << h << " / " << d;
                }
            }
    // Pairs the scaling entry does not make: the snapped ratio of the sizes less one.
    EXPECT_EQ(resolutionFactor(600, 600, 100, 100), 8);
}

TEST(ResolutionFactor, SnapsTheRatioOfSizesLessOne)
{
    EXPECT_EQ(resolutionFactor(3000, 4001, 750, 1001), 4);
    EXPECT_EQ(resolutionFactor(1000, 1000, 1000, 1000), 1);
    EXPECT_EQ(resolutionFactor(999, 1999, 500, 1000), 2);
    // One status row cannot decide: the widths do, and equal sizes are factor 1.
    EXPECT_EQ(resolutionFactor(1000, 2, 500, 1), 2);
    EXPECT_EQ(resolutionFactor(4001, 4, 1001, 1), 4);
    EXPECT_EQ(resolutionFactor(1, 1, 1, 1), 1);
    EXPECT_EQ(resolutionFactor(640, 1, 640, 1), 1);
    EXPECT_EQ(resolutionFactor(2, 2, 1, 1), 2);
    EXPECT_EQ(resolutionFactor(8, 8, 1, 1), 8);
}

TEST(MaskArea, IsClippedToTheImage)
{
    EXPECT_EQ(maskArea(nullptr, 200, 100), (Rect{0, 0, 99, 199}));
    const DvArea inside{10, 20, 30, 40};
    EXPECT_EQ(maskArea(&inside, 200, 100), (Rect{20, 10, 59, 39}));
    const DvArea across{-5, 90, 300, 300};
    EXPECT_EQ(maskArea(&across, 200, 100), (Rect{90, 0, 99, 199}));
    const DvArea huge{2147483000, 0, 2147483000, 10};
    EXPECT_TRUE(maskArea(&huge, 200, 100).isEmpty());
}

TEST(AreaOf, ViewsTheCallersBytesInTheRectanglesCoordinates)
{
    std::vector<unsigned char> bytes(3 * 8, 0);
    bytes[1 * 8 + 2] = 9;  // row 1, column 2
    const DvSelection sel{40, 30, {4, 3, 8, DvPixelStatus, bytes.data()}};
    AreaRecord a = areaOf(sel);
    EXPECT_EQ(a.rectangle, (Rect{30, 40, 32, 43}));
    ASSERT_TRUE(a.bitmap);
    EXPECT_EQ((*a.bitmap)(31, 42), 9);
    (*a.bitmap)(32, 43) = 5;
    EXPECT_EQ(bytes[2 * 8 + 3], 5) << "the bitmap is not a copy";

    const DvSelection whole{1, 2, {4, 3, 4, DvPixelStatus, nullptr}};
    EXPECT_FALSE(areaOf(whole).bitmap);
    const DvSelection empty{1, 2, {0, 3, 4, DvPixelStatus, bytes.data()}};
    EXPECT_TRUE(areaOf(empty).rectangle.isEmpty());
    EXPECT_FALSE(areaOf(empty).bitmap);

    EXPECT_TRUE(readableSelection(whole));
    const DvSelection shortRows{0, 0, {9, 3, 8, DvPixelStatus, bytes.data()}};
    EXPECT_FALSE(readableSelection(shortRows));
}

TEST(AnalysisWork, FollowsWhatChangedSinceTheLastCommit)
{
    Variables v;
    EXPECT_EQ(analysisWork(true, v), AnalysisWork::Rebuild);
    EXPECT_EQ(analysisWork(false, v), AnalysisWork::None);

    v.set("b-smooth", 0.9f);
    EXPECT_EQ(analysisWork(false, v), AnalysisWork::None) << "read by mask generation only";
    for (const char* name : {"focus", "featureTol", "overlap", "interpolation", "imageTol"}) {
        Variables w;
        w.set(name, 1.0f);
        EXPECT_EQ(analysisWork(false, w), AnalysisWork::Rerun) << name;
    }
    for (const char* name : {"t%", "#maxBits", "#texture"}) {
        Variables w;
        w.set(name, 0.95f);
        EXPECT_EQ(analysisWork(false, w), AnalysisWork::Rebuild) << name;
    }
    // The texture filter moves the derived texture size: a rebuild.
    Variables w;
    w.set("textureFilter", 1.0f);
    EXPECT_EQ(analysisWork(false, w), AnalysisWork::Rebuild);
    w.commitAll();
    EXPECT_EQ(analysisWork(false, w), AnalysisWork::None);
}

TEST(ClassificationObject, WorkingArrayHasAFrameOfOnes)
{
    std::vector<unsigned char> pixels(4 * 6 * 5, 0);
    const DvImageDesc d{6, 5, 24, DvPixelRgba8, pixels.data()};
    classification::RgbaView8 view = classification::viewRgba8(d);
    view.reindexSelf(blitz::TinyVector<int, 2>(10, 20));
    classification::IiClassification c(view);
    EXPECT_EQ(c.imageRect(), (Rect{10, 20, 14, 25}));
    const classification::Bytes& framed = c.framedWorking();
    EXPECT_EQ(corvath::utility::domainOf(framed), (Rect{9, 19, 15, 26}));
    EXPECT_EQ(corvath::utility::domainOf(c.working()), (Rect{10, 20, 14, 25}));
    EXPECT_EQ(blitz::sum(framed == 1), 7 * 8 - 5 * 6);
    EXPECT_TRUE(blitz::all(c.working() == 0));
    c.working()(10, 20) = 3;
    EXPECT_EQ(framed(10, 20), 3) << "the working array is the frame's interior";
    EXPECT_EQ(c.undoStack().maxDepth(), 200u);
    EXPECT_TRUE(c.changed().isEmpty());
    EXPECT_FALSE(c.dirty());
}
