// The segmentation record: its saved map, the meta-type's copy, the pending analysis and the
// outline that follows the analysis session.

#include "document/GmModel.h"
#include "document/SegmentationStuff.h"
#include "document/Shape.h"
#include "engine/DravikCommand.h"

#include "ModelImage.h"

#include "dravik.h"

#include <QVariant>

#include <gtest/gtest.h>

namespace {

class NoOp : public DravikCommand {
public:
    NoOp() : DravikCommand(nullptr, QStringLiteral("No-op")) {}
    void execute() override {}
};

TEST(SegmentationStuff, TheMapCarriesTheSwitchAndTheOptions)
{
    SegmentationStuff record;
    record.setChecked(true);
    record.edos().sensitivity().setCurrent(71);
    record.edos().sensitivity().apply();
    record.edos().width().setDefaultValue(6);
    const QVariant map = record.toVariant();
    EXPECT_EQ(map.toMap().keys(), (QStringList{"edos_", "isChecked_"}));

    const SegmentationStuff loaded(map, nullptr);
    EXPECT_TRUE(loaded.isChecked());
    EXPECT_EQ(loaded.edos().sensitivity(), record.edos().sensitivity());
    EXPECT_EQ(loaded.edos().width().defaultValue(), 6);
    EXPECT_EQ(loaded.session(), nullptr);
    EXPECT_EQ(loaded.analysisSession(), nullptr);

    // Absent keys keep their defaults.
    const SegmentationStuff empty(QVariantMap(), nullptr);
    EXPECT_FALSE(empty.isChecked());
    EXPECT_EQ(empty.edos().sensitivity().current(), EDOs::defaultSensitivity);
}

TEST(SegmentationStuff, TheMetaTypeCopyIsAFreshRecord)
{
    SegmentationStuff record;
    record.setChecked(true);
    record.edos().texture().setAll(4);
    DvSession* fake = reinterpret_cast<DvSession*>(&record);
    record.setSession(fake);
    const QVariant copy = QVariant::fromValue(record);
    const SegmentationStuff fresh = copy.value<SegmentationStuff>();
    EXPECT_EQ(fresh.parentRegion(), nullptr);
    EXPECT_EQ(fresh.session(), nullptr);
    EXPECT_FALSE(fresh.isChecked());
    EXPECT_EQ(fresh.edos().texture().current(), EDOs::defaultTexture);
    record.setSession(nullptr);
}

TEST(SegmentationStuff, AnAnalysisIsPendingWhileItsCommandExists)
{
    SegmentationStuff record;
    EXPECT_FALSE(record.hasPendingAnalysis());
    auto* command = new NoOp;
    record.setAnalysisCommand(command);
    EXPECT_TRUE(record.hasPendingAnalysis());
    delete command;
    EXPECT_FALSE(record.hasPendingAnalysis());
}

TEST(SegmentationStuff, TheOutlineFollowsTheAnalysisSession)
{
    testsupport::ModelImage image(100, 80, 2);
    testsupport::DirtyLog dirty;
    QList<int> hints;
    QObject::connect(GmModel::instance(), &GmModel::rectDirty,
                     [&](const ImageRectF&, DirtyHint hint, PatchPreviewWanted) { hints.append(hint); });

    DvOutlinePoint points[] = {{1, 2}, {10, 2}, {10, 20}};
    DvOutline outline{};
    outline.points = points;
    outline.count = 3;
    DvSession session{};
    session.outlines = &outline;
    session.outlineCount = 1;

    SegmentationStuff record;
    EXPECT_EQ(record.edgeOutline(), nullptr);
    record.setAnalysisSession(&session);
    record.sessionChanged();
    ASSERT_NE(record.edgeOutline(), nullptr);
    ASSERT_EQ(record.edgeOutline()->outlinePieces().size(), 1u);
    // Working coordinates times the divisor.
    EXPECT_EQ(record.edgeOutline()->outlineBounds(), QRectF(2, 4, 18, 36));
    EXPECT_EQ(dirty.last(), QRectF(0, 0, 100, 80));
    EXPECT_EQ(hints.last(), int(DirtyHintOutline));

    record.analysisStarted();
    EXPECT_TRUE(record.edgeOutline()->outlinePieces().empty());
    EXPECT_EQ(hints.last(), int(DirtyHintNone));
    record.setAnalysisSession(nullptr);
}

} // namespace
