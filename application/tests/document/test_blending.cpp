// Blending settings: defaults, map and stream round trips, the optional keys of older
// projects, and the override colours that the record owns.

#include "StreamRoundTrip.h"
#include "document/BlendingOptions.h"
#include "document/BlendingStuff.h"
#include "document/GmColor.h"

#include <QByteArray>
#include <QDataStream>
#include <QPointer>
#include <QSettings>

#include <gtest/gtest.h>

using testsupport::throughStream;

namespace {

void expectDefaults(const BlendingOptions& b)
{
    EXPECT_FLOAT_EQ(b.autoBlendWidth, 0.75f);
    EXPECT_FLOAT_EQ(b.blendRatio, 0.2f);
    EXPECT_FALSE(b.isPatchBlendRatioTrackingImage);
    EXPECT_EQ(b.feather, 5);
    EXPECT_FALSE(b.isChoices);
    EXPECT_FLOAT_EQ(b.choices1, 0.5f);
    EXPECT_FLOAT_EQ(b.choices2, 0.5f);
    EXPECT_FALSE(b.isMembrane);
    EXPECT_FLOAT_EQ(b.membrane1, 0.5f);
    EXPECT_FALSE(b.isUniformBg);
    EXPECT_FALSE(b.fgChecked);
    EXPECT_FALSE(b.bgChecked);
    ASSERT_NE(b.fgOverride(), nullptr);
    ASSERT_NE(b.bgOverride(), nullptr);
    EXPECT_EQ(b.fgOverride()->color(), QColor(Qt::white));
    EXPECT_EQ(b.fgOverride()->keyName(), "Foreground Override");
    EXPECT_EQ(b.fgOverride()->persist(), 0);
    EXPECT_EQ(b.bgOverride()->color(), QColor(Qt::black));
    EXPECT_EQ(b.bgOverride()->keyName(), "Background Override");
    EXPECT_EQ(b.bgOverride()->persist(), 0);
}

// Every field away from its default, the colours included.
void change(BlendingOptions& b)
{
    b.autoBlendWidth = 1.5f;
    b.blendRatio = 0.625f;
    b.isPatchBlendRatioTrackingImage = true;
    b.feather = 9;
    b.isChoices = true;
    b.choices1 = 0.1f;
    b.choices2 = 0.9f;
    b.isMembrane = true;
    b.membrane1 = 0.3f;
    b.isUniformBg = true;
    b.fgChecked = true;
    b.bgChecked = true;
    b.fgOverride()->setColor(QColor(10, 20, 30));
    b.bgOverride()->setColor(QColor(200, 100, 50, 128));
}

void expectChanged(const BlendingOptions& b)
{
    EXPECT_EQ(b.autoBlendWidth, 1.5f);
    EXPECT_EQ(b.blendRatio, 0.625f);
    EXPECT_TRUE(b.isPatchBlendRatioTrackingImage);
    EXPECT_EQ(b.feather, 9);
    EXPECT_TRUE(b.isChoices);
    EXPECT_EQ(b.choices1, 0.1f);
    EXPECT_EQ(b.choices2, 0.9f);
    EXPECT_TRUE(b.isMembrane);
    EXPECT_EQ(b.membrane1, 0.3f);
    EXPECT_TRUE(b.isUniformBg);
    EXPECT_TRUE(b.fgChecked);
    EXPECT_TRUE(b.bgChecked);
    EXPECT_EQ(b.fgOverride()->color(), QColor(10, 20, 30));
    EXPECT_EQ(b.fgOverride()->defaultColor(), QColor(Qt::white));
    EXPECT_EQ(b.bgOverride()->color(), QColor(200, 100, 50, 128));
    EXPECT_EQ(b.bgOverride()->defaultColor(), QColor(Qt::black));
}

} // namespace

TEST(BlendingOptions, Defaults)
{
    expectDefaults(BlendingOptions());
}

TEST(BlendingOptions, MapHasTheProjectKeysWithFloatsAsDoubles)
{
    const QVariantMap map = BlendingOptions().toMap();
    QStringList keys = {"autoBlueWidthF_", "blendRatioF_", "isPatchBlendRatioTrackingImage_",
                        "feather_", "isChoices_", "choices1F_", "choices2F_", "isMembrane_",
                        "membrane1F_", "isUniformBg_", "fgChecked_", "fgOverride_",
                        "bgChecked_", "bgOverride_"};
    keys.sort();
    EXPECT_EQ(map.keys(), keys);
    for (const char* key : {"autoBlueWidthF_", "blendRatioF_", "choices1F_", "choices2F_",
                            "membrane1F_"})
        EXPECT_EQ(map.value(key).userType(), QMetaType::Double) << key;
    EXPECT_EQ(map.value("feather_").userType(), QMetaType::Int);
    EXPECT_EQ(map.value("fgOverride_").toMap().value("qColor_").value<QColor>(),
              QColor(Qt::white));
}

TEST(BlendingOptions, DefaultAndChangedRecordsSurviveMapAndStream)
{
    const BlendingOptions defaults;
    const BlendingOptions readDefaults(throughStream(defaults.toMap()));
    expectDefaults(readDefaults);
    EXPECT_EQ(readDefaults.toMap(), defaults.toMap());

    BlendingOptions changed;
    change(changed);
    expectChanged(BlendingOptions(changed.toMap()));
    expectChanged(BlendingOptions(throughStream(changed.toMap())));
}

TEST(BlendingOptions, OlderMapsKeepTheDefaultsOfOptionalKeys)
{
    BlendingOptions changed;
    change(changed);
    QVariantMap map = changed.toMap();
    for (const char* key :
         {"isChoices_", "choices1F_", "choices2F_", "isMembrane_", "membrane1F_", "isUniformBg_"})
        map.remove(key);
    map.remove("fgChecked_");

    const BlendingOptions read(map);
    EXPECT_FALSE(read.isMembrane);
    EXPECT_FLOAT_EQ(read.membrane1, 0.5f);
    EXPECT_FALSE(read.isChoices);
    EXPECT_FLOAT_EQ(read.choices1, 0.5f);
    EXPECT_FLOAT_EQ(read.choices2, 0.5f);
    EXPECT_FALSE(read.isUniformBg);
    EXPECT_FALSE(read.fgChecked);
    // The keys every project has are still read.
    EXPECT_EQ(read.autoBlendWidth, 1.5f);
    EXPECT_EQ(read.feather, 9);
    EXPECT_TRUE(read.bgChecked);
}

TEST(BlendingOptions, MissingOverrideColoursKeepTheirDefaults)
{
    QVariantMap map = BlendingOptions().toMap();
    map.remove("fgOverride_");
    map.insert("bgOverride_", QStringLiteral("not a colour map"));
    const BlendingOptions read(map);
    EXPECT_EQ(read.fgOverride()->color(), QColor(Qt::white));
    EXPECT_EQ(read.bgOverride()->color(), QColor(Qt::black));
}

TEST(BlendingOptions, AProjectCannotMakeAnOverrideColourWriteTheSettings)
{
    QSettings().clear();
    {
        BlendingOptions source;
        QVariantMap map = source.toMap();
        QVariantMap fg = map.value("fgOverride_").toMap();
        fg.insert("persist_", 1);
        fg.insert("keyname_", "Keep Mask");
        map.insert("fgOverride_", fg);
        const BlendingOptions read(map);
        EXPECT_EQ(read.fgOverride()->persist(), 0);
    }
    QSettings settings;
    EXPECT_TRUE(settings.allKeys().isEmpty()) << settings.allKeys().join(", ").toStdString();
}

TEST(BlendingOptions, TheRecordDestroysItsColours)
{
    QPointer<GmColor> fg;
    QPointer<GmColor> bg;
    {
        BlendingOptions b;
        fg = b.fgOverride();
        bg = b.bgOverride();
        ASSERT_TRUE(fg && bg);
    }
    EXPECT_TRUE(fg.isNull());
    EXPECT_TRUE(bg.isNull());
}

TEST(BlendingStuff, HoldsTheOptionsUnderBos)
{
    BlendingStuff stuff;
    expectDefaults(stuff.options());
    change(stuff.options());

    const QVariantMap map = stuff.toVariant().toMap();
    EXPECT_EQ(map.keys(), QStringList{"bos_"});
    EXPECT_EQ(map.value("bos_").toMap(), stuff.options().toMap());

    const BlendingStuff read(throughStream(stuff.toVariant()));
    expectChanged(read.options());
}
