#include "session/variables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

using dravik::Variables;

namespace {

std::string textOf(const dravik::VariableBase& v)
{
    std::string s;
    return v.text(s);
}

// The record of a name after a publish.
const DvVariable& published(Variables& table, const char* name)
{
    table.publish();
    const DvVariable* r = table.find(name);
    EXPECT_NE(r, nullptr) << name;
    return *r;
}

struct Expected {
    const char* name;
    float normalised;
    const char* text;
};

} // namespace

TEST(Variables, FreshTableHoldsTheDefaultsInOrder)
{
    Variables table;
    table.publish();
    const Expected expected[] = {
        {"imageTol", 0.51f, "2.02792"},
        {"inFocusEdgeWidth", 0.3f, "2"},
        {"edgeContrast", 0.5f, "1=medium"},
        {"textureFilter", 0.5f, "1=medium"},
        {"interpolation", 0.f, "0=range"},
        {"#resolution", 0.f, "3"},
        {"#texture", float(std::log(1 / 0.9) / std::log(8 / 0.9)), "3"},
        {"#colourBits", 0.5f, "4"},
        {"#maxBits", 7.f / 11.f, "7"},
        {"featureTol", float(std::log(1.05) / std::log(2.0)), "1.05"},
        {"focus", 0.f, "0"},
        {"overlap", 1.f / 3.f, "1"},
        {"t%", 1.f / 3.f, "0.166667"},
        {"b-smooth", 0.05f, "5"},
        {"b-careful", 0.32f, "16"},
        {"b-greedy", 0.16f, "8"},
        {"v-mdPt", 0.5f, "5"},
        {"v-smplf", 0.3f, "0.6"},
        {"v-smth", 0.2f, "0.4"},
        {"BlendMode", 1.f, "2=bp"},
        {"fg sampling", 1.f, "1=both"},
        {"bg sampling", 1.f, "1=both"},
    };
    ASSERT_EQ(table.count(), 22);
    for (int i = 0; i < table.count(); ++i) {
        const DvVariable& r = table.records()[i];
        EXPECT_STREQ(r.name, expected[i].name);
        EXPECT_NEAR(r.normalised, expected[i].normalised, 1e-5) << expected[i].name;
        EXPECT_STREQ(r.text, expected[i].text) << expected[i].name;
        EXPECT_FALSE(table.entries()[i].variable->changed()) << expected[i].name;
    }

    EXPECT_NEAR(table.imageTol.value(), 2.02792f, 1e-5);
    EXPECT_NEAR(table.inFocusEdgeWidth.value(), 2.828427f, 1e-5);
    EXPECT_EQ(table.inFocusEdgeWidth.effective(), 2);
    EXPECT_EQ(table.resolution.effective(), 3.0f);
    EXPECT_EQ(table.texture.effective(), 2);
    EXPECT_EQ(table.colourBits.effective(), 4);
    EXPECT_EQ(table.maxBits.effective(), 7);
}

TEST(Variables, ResetDefaultsSizesTheEdgeWidthAndItsDerivedValues)
{
    Variables table;
    table.resetDefaults(640);
    EXPECT_EQ(table.inFocusEdgeWidth.value(), 2.0f);

    table.resetDefaults(4000);
    EXPECT_NEAR(table.inFocusEdgeWidth.value(), 11.0485f, 1e-4);
    EXPECT_EQ(table.inFocusEdgeWidth.effective(), 11);
    // ceil(11 * 2^0.5) = 16 for both; the texture size is one less.
    EXPECT_EQ(table.resolution.effective(), 16.0f);
    EXPECT_EQ(table.texture.effective(), 15);
    EXPECT_TRUE(table.inFocusEdgeWidth.changed());
    EXPECT_TRUE(table.resolution.changed());

    table.resetDefaults(12000);
    EXPECT_EQ(table.inFocusEdgeWidth.value(), 32.0f);

    // Every other variable returns to its default, whatever it was set to.
    table.set("overlap", 1.f);
    table.set("BlendMode", 0.f);
    table.resetDefaults(1024);
    EXPECT_EQ(table.overlap.value(), 1);
    EXPECT_EQ(table.blendMode.value(), 2);
    EXPECT_NEAR(table.inFocusEdgeWidth.value(), 2.828427f, 1e-5);
}

TEST(Variables, WordValuesAndTheEdgeContrastAdjustment)
{
    Variables table;
    table.set("edgeContrast", 0.25f);
    EXPECT_EQ(table.edgeContrast.value(), 1);
    table.set("edgeContrast", 0.24f);
    EXPECT_EQ(table.edgeContrast.value(), 0);
    EXPECT_EQ(textOf(table.edgeContrast), "0=low");
    EXPECT_EQ(table.colourBits.effective(), 5);

    table.set("edgeContrast", 1.f);
    EXPECT_EQ(textOf(table.edgeContrast), "2=high");
    EXPECT_EQ(table.colourBits.effective(), 3);
    EXPECT_EQ(table.maxBits.effective(), 6);

    table.set("edgeContrast", 0.f);
    table.set("#maxBits", 1.f);
    EXPECT_EQ(table.maxBits.value(), 11);
    EXPECT_EQ(table.maxBits.effective(), 8);

    table.set("interpolation", 1.f);
    EXPECT_EQ(textOf(table.interpolation), "3=median fast");
    table.set("fg sampling", 0.f);
    EXPECT_EQ(textOf(table.fgSampling), "0=global");
}

TEST(Variables, TextureBelowOneIsOff)
{
    Variables table;
    table.texture.setValue(0.95f);
    EXPECT_EQ(table.texture.effective(), 0);
    EXPECT_EQ(textOf(table.texture), "Off");
    table.texture.setValue(1.0f);
    EXPECT_EQ(textOf(table.texture), "3");
}

TEST(Variables, LinearAndLogarithmicScales)
{
    Variables table;
    table.set("focus", 0.5f);
    EXPECT_FLOAT_EQ(table.focus.value(), 2.0f);
    table.set("imageTol", 1.f);
    EXPECT_NEAR(table.imageTol.value(), 4.0f, 1e-5);
    table.set("imageTol", 0.5f);
    EXPECT_NEAR(table.imageTol.value(), 2.0f, 1e-5);
    table.set("b-smooth", 0.055f);  // 5.5 rounds half up
    EXPECT_EQ(table.bSmooth.value(), 6);
    table.set("inFocusEdgeWidth", 0.6f);  // 32^0.6 = 8
    EXPECT_NEAR(table.inFocusEdgeWidth.value(), 8.f, 1e-4);
}

TEST(Variables, ChangeTrackingFollowsDerivedValues)
{
    Variables table;
    table.publish();
    table.set("textureFilter", 1.f);
    EXPECT_EQ(table.resolution.value(), 1.0f) << "derived values are not stored";
    EXPECT_EQ(table.resolution.effective(), 4.0f);
    EXPECT_EQ(table.texture.effective(), 5);
    EXPECT_TRUE(table.textureFilter.changed());
    EXPECT_TRUE(table.resolution.changed());
    EXPECT_TRUE(table.texture.changed());
    EXPECT_FALSE(table.imageTol.changed());
    EXPECT_FALSE(table.colourBits.changed());

    EXPECT_STREQ(published(table, "textureFilter").text, "2=coarse*");
    EXPECT_STREQ(published(table, "#resolution").text, "4*");
    EXPECT_STREQ(published(table, "#texture").text, "6*");
    EXPECT_STREQ(published(table, "overlap").text, "1");

    std::ostringstream change;
    table.textureFilter.printChange(change);
    EXPECT_EQ(change.str(), "1, 2");

    table.commitAll();
    for (const auto& e : table.entries())
        EXPECT_FALSE(e.variable->changed());
    EXPECT_STREQ(published(table, "#texture").text, "6");
}

TEST(Variables, RevertReturnsToTheLastCommit)
{
    Variables table;
    table.resetDefaults(3000);
    table.set("featureTol", 0.8f);
    table.set("overlap", 1.f);
    table.commitAll();  // an analysis completed here
    const float featureTol = table.featureTol.value();
    const float edgeWidth = table.inFocusEdgeWidth.value();

    table.set("featureTol", 0.1f);
    table.set("overlap", 0.f);
    table.set("edgeContrast", 1.f);
    table.set("#texture", 0.f);
    table.revert();
    table.commitAll();

    EXPECT_NEAR(table.featureTol.value(), featureTol, 1e-5);
    EXPECT_NEAR(table.inFocusEdgeWidth.value(), edgeWidth, 1e-4);
    EXPECT_EQ(table.overlap.value(), 3);
    EXPECT_EQ(table.edgeContrast.value(), 1);
    EXPECT_EQ(table.texture.effective(), 11) << "edge width 8 gives ceil(8 * 2^0.5) - 1";
    for (const auto& e : table.entries())
        EXPECT_FALSE(e.variable->changed());
}

TEST(Variables, RevertWithoutChangesKeepsEveryEffectiveValue)
{
    // The normalised round trip of a revert must not move a value across a truncation.
    for (int n : {640, 1024, 2500, 4000, 12000}) {
        Variables table;
        table.resetDefaults(n);
        table.commitAll();
        table.publish();
        std::vector<std::string> before;
        for (int i = 0; i < table.count(); ++i)
            before.push_back(table.records()[i].text);
        table.revert();
        table.commitAll();
        table.publish();
        for (int i = 0; i < table.count(); ++i)
            EXPECT_EQ(before[i], table.records()[i].text) << table.records()[i].name << " n " << n;
    }
}

TEST(Variables, SetKeepsValuesInRangeAndRefusesWhatItCannotUse)
{
    Variables table;
    table.set("edgeContrast", 1.7f);
    EXPECT_EQ(table.edgeContrast.value(), 2);
    EXPECT_EQ(table.find("edgeContrast")->normalised, 1.f);
    table.set("inFocusEdgeWidth", -3.f);
    EXPECT_NEAR(table.inFocusEdgeWidth.value(), 1.f, 1e-6);

    const int overlap = table.overlap.value();
    EXPECT_THROW(table.set("overlap", std::nanf("")), Variables::InvalidValue);
    EXPECT_EQ(table.overlap.value(), overlap);
    EXPECT_THROW(table.set("no such", 0.5f), Variables::VariableNotFound);
    EXPECT_THROW(table.variable("no such"), Variables::VariableNotFound);
    EXPECT_EQ(table.find("no such"), nullptr);

    table.inFocusEdgeWidth.setClamped(100.f);
    EXPECT_EQ(table.inFocusEdgeWidth.value(), 32.f);
    table.edgeContrast.setClamped(-1);
    EXPECT_EQ(table.edgeContrast.value(), 0);
}

TEST(Variables, RecordsAreSyncedBeforeTheyAreRead)
{
    Variables table;
    // Written directly, as the defaults are: the record is stale until synced.
    table.overlap.setValue(3);
    EXPECT_EQ(table.find("overlap")->normalised, 1.f);
    table.resetDefaults(1024);
    table.revert();
    table.publish();
    EXPECT_NEAR(table.find("overlap")->normalised, 1.f / 3.f, 1e-6);
    EXPECT_EQ(table.variable("overlap").owner(), &table);
}

TEST(Variables, RevertRestoresStoredValuesExactly)
{
    // Through the normalised value 13 would come back as 12.999999 and truncate to 12.
    for (int width = 1; width <= 32; ++width) {
        Variables table;
        table.inFocusEdgeWidth.setClamped(float(width));
        table.commitAll();
        table.inFocusEdgeWidth.setClamped(5.f);
        table.revert();
        table.commitAll();
        EXPECT_EQ(table.inFocusEdgeWidth.effective(), width);
    }
}
