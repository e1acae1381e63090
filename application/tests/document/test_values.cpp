// Four-state values and the edge-detection options: the operation table, list and map
// round trips, and reading what an untrusted project may hold.

#include "StreamRoundTrip.h"
#include "document/EDOs.h"
#include "document/GmValue.h"

#include <QByteArray>
#include <QDataStream>
#include <QVariantList>
#include <QVariantMap>

#include <gtest/gtest.h>

using testsupport::throughStream;

namespace {

// A value with four distinct states, so that a mixed-up field shows.
GmValue<int> distinct()
{
    GmValue<int> value;
    value.setCurrent(1);
    value.setApplied(2);
    value.setDefaultValue(3);
    value.setStored(4);
    return value;
}

class OtherValue : public GmValueB {
public:
    bool isModified() const override { return false; }
    bool isNonDefault() const override { return false; }
    void apply() override {}
    void store() override {}
    void restore() override {}
    void revert() override {}
    void setDefault() override {}
    void load(const GmValueB&) override {}
};

void expectStates(const GmValue<int>& value, int current, int applied, int def, int stored)
{
    EXPECT_EQ(value.current(), current);
    EXPECT_EQ(value.applied(), applied);
    EXPECT_EQ(value.defaultValue(), def);
    EXPECT_EQ(value.stored(), stored);
}

} // namespace

TEST(GmValue, OperationsMoveExactlyOneStateEach)
{
    GmValue<int> v = distinct();
    v.apply();
    expectStates(v, 1, 1, 3, 4);
    v = distinct();
    v.store();
    expectStates(v, 1, 2, 3, 2);
    v = distinct();
    v.restore();
    expectStates(v, 1, 4, 3, 4);
    v = distinct();
    v.revert();
    expectStates(v, 2, 2, 3, 4);
    v = distinct();
    v.setDefault();
    expectStates(v, 3, 2, 3, 4);
}

TEST(GmValue, TestsCompareCurrentWithAppliedAndDefault)
{
    GmValue<int> v(7);
    EXPECT_FALSE(v.isModified());
    EXPECT_FALSE(v.isNonDefault());
    v.setCurrent(8);
    EXPECT_TRUE(v.isModified());
    EXPECT_TRUE(v.isNonDefault());
    v.apply();
    EXPECT_FALSE(v.isModified());
    EXPECT_TRUE(v.isNonDefault());
    v.setDefaultValue(8);
    EXPECT_FALSE(v.isNonDefault());
}

TEST(GmValue, LoadTakesOnlyTheOthersAppliedValue)
{
    GmValue<int> v = distinct();
    GmValue<int> other;
    other.setAll(9);
    other.setApplied(20);
    v.load(other);
    expectStates(v, 1, 20, 3, 4);

    OtherValue foreign;
    v.load(foreign);
    expectStates(v, 1, 20, 3, 4);
}

TEST(GmValue, ListHoldsTheStatesInFieldOrderAndSurvivesAStream)
{
    const GmValue<int> v = distinct();
    const QVariant list = v.toVariant();
    EXPECT_EQ(list.toList(), (QVariantList{1, 2, 3, 4}));

    GmValue<int> read(99);
    read.fromVariant(throughStream(list));
    EXPECT_EQ(read, v);
}

TEST(GmValue, EntriesThatAreNotNumbersLoadAsZero)
{
    GmValue<int> v(50);
    v.fromVariant(QVariantList{12, QStringLiteral("wide"), QStringLiteral("7"), 6.0});
    expectStates(v, 12, 0, 7, 6);

    v.fromVariant(QVariantList{5});
    expectStates(v, 5, 0, 0, 0);

    v.setAll(50);
    v.fromVariant(QVariantList{1e20, -1e20, qQNaN(), QVariantMap()});
    expectStates(v, 0, 0, 0, 0);

    v.setAll(50);
    v.fromVariant(QStringLiteral("not a list"));
    expectStates(v, 0, 0, 0, 0);
}

TEST(EDOs, DefaultsAndKeys)
{
    const EDOs e;
    expectStates(e.sensitivity(), 50, 50, 50, 50);
    expectStates(e.width(), 3, 3, 3, 3);
    expectStates(e.texture(), 1, 1, 1, 1);
    expectStates(e.contrast(), 1, 1, 1, 1);
    EXPECT_EQ(e.widthInImageCoords(), -1);
    EXPECT_FALSE(e.isModified());
    EXPECT_FALSE(e.isNonDefault());

    const QVariantMap map = e.toVariant().toMap();
    // Sorted as the map keeps them: 'I' comes before '_'.
    EXPECT_EQ(map.keys(), (QStringList{"contrast_", "sensitivity_", "texture_",
                                       "widthInImageCoords_", "width_"}));
    EXPECT_EQ(map.value("sensitivity_").toList(), (QVariantList{50, 50, 50, 50}));
    EXPECT_EQ(map.value("width_").toList(), (QVariantList{3, 3, 3, 3}));
    EXPECT_EQ(map.value("widthInImageCoords_"), QVariant(-1));
}

TEST(EDOs, ValuesListTheFourOptionsInOrder)
{
    EDOs e;
    const std::array<GmValueB*, 4> expected{&e.sensitivity(), &e.width(), &e.texture(),
                                            &e.contrast()};
    EXPECT_EQ(e.values(), expected);
}

TEST(EDOs, IsModifiedAfterApplyAllOnlyOnceACurrentValueChanges)
{
    for (int member = 0; member < 4; ++member) {
        EDOs e;
        GmValue<int>* options[] = {&e.sensitivity(), &e.width(), &e.texture(), &e.contrast()};
        for (GmValue<int>* option : options)
            option->setCurrent(option->current() + 10);
        EXPECT_TRUE(e.isModified());
        e.applyAll();
        EXPECT_FALSE(e.isModified());
        EXPECT_TRUE(e.isNonDefault());
        options[member]->setCurrent(options[member]->current() + 1);
        EXPECT_TRUE(e.isModified()) << "option " << member;
        options[member]->revert();
        EXPECT_FALSE(e.isModified());
    }
}

TEST(EDOs, GroupOperationsReachEveryOption)
{
    EDOs e;
    GmValue<int>* options[] = {&e.sensitivity(), &e.width(), &e.texture(), &e.contrast()};
    for (GmValue<int>* option : options)
        *option = distinct();
    e.storeAll();
    for (GmValue<int>* option : options)
        expectStates(*option, 1, 2, 3, 2);
    e.applyAll();
    e.restoreAll();
    for (GmValue<int>* option : options)
        expectStates(*option, 1, 2, 3, 2);
    e.setDefaultAll();
    for (GmValue<int>* option : options)
        expectStates(*option, 3, 2, 3, 2);
    e.revertAll();
    for (GmValue<int>* option : options)
        expectStates(*option, 2, 2, 3, 2);
}

TEST(EDOs, AssignCopiesAllFourStatesAndTheImageWidth)
{
    EDOs source;
    int n = 0;
    for (GmValue<int>* option :
         {&source.sensitivity(), &source.width(), &source.texture(), &source.contrast()}) {
        option->setCurrent(++n);
        option->setApplied(++n);
        option->setDefaultValue(++n);
        option->setStored(++n);
    }
    source.setWidthInImageCoords(12);

    EDOs copy;
    copy.assign(source);
    EXPECT_EQ(copy.sensitivity(), source.sensitivity());
    EXPECT_EQ(copy.width(), source.width());
    EXPECT_EQ(copy.texture(), source.texture());
    EXPECT_EQ(copy.contrast(), source.contrast());
    EXPECT_EQ(copy.widthInImageCoords(), 12);
    // The copy's list still points at its own options.
    EXPECT_EQ(copy.values()[0], &copy.sensitivity());
}

TEST(EDOs, MapSurvivesAStreamAndMissingKeysKeepDefaults)
{
    EDOs source;
    source.sensitivity() = distinct();
    source.width().setAll(8);
    source.texture().setCurrent(2);
    source.contrast().setStored(0);
    source.setWidthInImageCoords(24);

    const EDOs read(throughStream(source.toVariant()));
    EXPECT_EQ(read.sensitivity(), source.sensitivity());
    EXPECT_EQ(read.width(), source.width());
    EXPECT_EQ(read.texture(), source.texture());
    EXPECT_EQ(read.contrast(), source.contrast());
    EXPECT_EQ(read.widthInImageCoords(), 24);

    QVariantMap partial = source.toVariant().toMap();
    partial.remove("width_");
    partial.remove("widthInImageCoords_");
    const EDOs fromPartial(partial);
    EXPECT_EQ(fromPartial.sensitivity(), source.sensitivity());
    expectStates(fromPartial.width(), 3, 3, 3, 3);
    EXPECT_EQ(fromPartial.widthInImageCoords(), -1);
}
