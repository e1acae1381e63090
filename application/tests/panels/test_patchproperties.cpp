// The two blending panels and the patch panel on a photograph through the model and the real
// engine: the image's ratio reaching the patches that track it, a user's own patch ratio
// surviving later image changes, the panel's pages and visibility, a patch analysed on its
// own, and protection from the panel.

#include "canvas/ImageView.h"
#include "document/BlendingStuff.h"
#include "document/GmRegion.h"
#include "document/PixelState.h"
#include "document/RectRegion.h"
#include "panels/CommonBlendOptsWidget.h"
#include "panels/EdgeDetectionOptions.h"
#include "panels/ImageBlendingWindow.h"
#include "panels/RegionalProperties.h"

#include "EngineDocument.h"
#include "ModelImage.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPointer>
#include <QSignalSpy>
#include <QSlider>
#include <QStackedWidget>
#include <QTest>

#include <memory>

using testsupport::placedMask;

namespace {

constexpr uchar kProtected = 32;

class PatchPropertiesTest : public testsupport::EngineDocument {
protected:
    void SetUp() override
    {
        EngineDocument::SetUp();
        m_host = std::make_unique<QWidget>();
        m_blending = std::make_unique<ImageBlendingWindow>(m_host.get());
        m_panel = std::make_unique<RegionalProperties>(m_host.get());
    }
    void TearDown() override
    {
        m_panel.reset();
        m_blending.reset();
        m_host.reset();
        EngineDocument::TearDown();
    }

    static RectRegion* rectPatch(QRectF r)
    {
        auto* patch = new RectRegion(r.topLeft());
        patch->rectangle().dragCornerTo(r.bottomRight());
        patch->rectangle().endDrag();
        patch->beginSubSession();
        return patch;
    }
    static float ratioOf(GmRegion* patch) { return patch->blending().options().blendRatio; }
    static bool tracks(GmRegion* patch) { return patch->blending().options().isPatchBlendRatioTrackingImage; }

    CommonBlendOptsWidget& imageWidget() { return *m_blending->blendOptions(); }
    CommonBlendOptsWidget& patchWidget() { return *m_panel->commonBlending(); }

    std::unique_ptr<QWidget> m_host;
    std::unique_ptr<ImageBlendingWindow> m_blending;
    std::unique_ptr<RegionalProperties> m_panel;
};

TEST_F(PatchPropertiesTest, TheImageRatioReachesOnlyTrackingPatchesAndAUsersOwnRatioStays)
{
    open();
    ASSERT_TRUE(imageWidget().isEnabled());
    GmRegion* follower = rectPatch({60, 40, 140, 120});
    GmRegion* own = rectPatch({250, 60, 120, 100});
    ASSERT_TRUE(idle());
    follower->blending().options().isPatchBlendRatioTrackingImage = true;
    follower->blending().options().blendRatio = 0.5f;
    own->blending().options().blendRatio = 0.5f;

    // The user moves the image's slider one step towards Smart.
    imageWidget().ratioSlider()->setValue(0);
    QTest::keyClick(imageWidget().ratioSlider(), Qt::Key_Right);
    ASSERT_EQ(imageWidget().ratioSlider()->value(), 1);
    EXPECT_FLOAT_EQ(m_model->blending()->options().blendRatio, 0.875f);
    EXPECT_FLOAT_EQ(ratioOf(follower), 0.875f);
    EXPECT_FLOAT_EQ(ratioOf(own), 0.5f);

    // Showing the tracking patch and passing the image's ratio on moves its slider without
    // unlocking it.
    m_model->setActiveRegion(follower);
    EXPECT_EQ(m_panel->pages()->currentIndex(), int(RegionalProperties::PatchPage));
    EXPECT_TRUE(patchWidget().lockBox()->isChecked());
    QTest::keyClick(imageWidget().ratioSlider(), Qt::Key_Right);
    EXPECT_EQ(patchWidget().ratioSlider()->value(), 2);
    EXPECT_TRUE(patchWidget().lockBox()->isChecked());
    EXPECT_TRUE(tracks(follower));

    // The other patch is locked by the user, then given its own ratio with its slider.
    m_model->setActiveRegion(own);
    EXPECT_FALSE(patchWidget().lockBox()->isChecked());
    QTest::keyClick(patchWidget().lockBox(), Qt::Key_Space);
    EXPECT_TRUE(tracks(own));
    EXPECT_FLOAT_EQ(ratioOf(own), 0.75f) << "locking takes the image's ratio";
    QTest::keyClick(patchWidget().ratioSlider(), Qt::Key_Right);
    EXPECT_FALSE(patchWidget().lockBox()->isChecked());
    EXPECT_FALSE(tracks(own)) << "the user's move unlocks the patch itself, not only the box";
    EXPECT_FLOAT_EQ(ratioOf(own), 0.625f);

    // Later image changes leave it alone and still reach the follower.
    QTest::keyClick(imageWidget().ratioSlider(), Qt::Key_End);
    EXPECT_FLOAT_EQ(m_model->blending()->options().blendRatio, 0.0f);
    EXPECT_FLOAT_EQ(ratioOf(follower), 0.0f);
    EXPECT_FLOAT_EQ(ratioOf(own), 0.625f);
    EXPECT_EQ(patchWidget().ratioSlider()->value(), 3) << "the panel still shows the patch's own ratio";
}

TEST_F(PatchPropertiesTest, ThePanelShowsItselfForAReadyPatchInTheWorkspaceTabUnlessClosed)
{
    m_host->show();
    open();
    EXPECT_EQ(m_panel->pages()->currentIndex(), int(RegionalProperties::NoPatchPage));
    m_panel->userShow();
    ASSERT_TRUE(m_panel->isVisible());
    m_panel->updateVisibilitySlot();
    EXPECT_FALSE(m_panel->isVisible()) << "no active patch";

    m_panel->viewTabChangedSlot(ImageView::Source);
    GmRegion* patch = rectPatch({60, 40, 140, 120});
    ASSERT_TRUE(idle());
    ASSERT_EQ(m_model->activeRegion(), patch);
    EXPECT_EQ(m_panel->pages()->currentIndex(), int(RegionalProperties::PatchPage));
    m_model->emitActiveRegionReady();
    EXPECT_FALSE(m_panel->isVisible()) << "not in the Source tab";
    m_panel->viewTabChangedSlot(ImageView::Workspace);
    EXPECT_TRUE(m_panel->isVisible());
    m_panel->viewTabChangedSlot(ImageView::CutOut);
    EXPECT_FALSE(m_panel->isVisible());
    m_panel->viewTabChangedSlot(ImageView::Workspace);
    ASSERT_TRUE(m_panel->isVisible());

    // Closed by the user: a new ready patch leaves it closed.
    m_panel->close();
    ASSERT_FALSE(m_panel->isVisible());
    rectPatch({250, 60, 120, 100});
    ASSERT_TRUE(idle());
    m_model->emitActiveRegionReady();
    EXPECT_FALSE(m_panel->isVisible());

    // No patch any more: page 0.
    m_model->setActiveRegion(nullptr);
    EXPECT_EQ(m_panel->pages()->currentIndex(), int(RegionalProperties::NoPatchPage));
}

TEST_F(PatchPropertiesTest, AnalysingAPatchSeparatelyQueuesItsOwnAnalysis)
{
    open();
    GmRegion* patch = rectPatch({200, 100, 200, 150});
    ASSERT_TRUE(idle());
    ASSERT_EQ(m_model->activeRegion(), patch);
    QGroupBox* box = m_panel->analyseSeparatelyBox();
    ASSERT_FALSE(box->isChecked());
    EXPECT_FALSE(m_panel->edgeOptions()->isEnabled());

    QSignalSpy smeg(m_model, &GmModel::smegChanged);
    QList<GmRegion*> own;
    QObject::connect(m_model, &GmModel::ownSmegStatusChanged, m_panel.get(),
                     [&own](GmRegion* region) { own.append(region); });
    QTest::keyClick(box, Qt::Key_Space);
    EXPECT_TRUE(patch->segmentation().isChecked());
    EXPECT_FALSE(smeg.isEmpty());
    ASSERT_EQ(own.size(), 1);
    EXPECT_EQ(own.first(), patch);
    EXPECT_EQ(m_panel->edgeOptions()->record(), &patch->segmentation());
    EXPECT_TRUE(m_panel->edgeOptions()->isEnabled());
    EXPECT_TRUE(patch->segmentation().hasPendingAnalysis());
    ASSERT_TRUE(idle());
    EXPECT_TRUE(patch->segmentation().isAnalysed());
    EXPECT_TRUE(patch->hasOwnSegmentation());

    // With no active patch, unticking changes the image's own record.
    m_model->setActiveRegion(nullptr);
    ASSERT_TRUE(m_model->segmentation()->isChecked());
    box->setChecked(true);
    own.clear();
    QTest::keyClick(box, Qt::Key_Space);
    EXPECT_FALSE(m_model->segmentation()->isChecked());
    ASSERT_EQ(own.size(), 1);
    EXPECT_EQ(own.first(), nullptr);
    EXPECT_TRUE(patch->segmentation().isChecked());
}

TEST_F(PatchPropertiesTest, ProtectingFromThePanelCoversThePatchInTheStatusImage)
{
    open();
    GmRegion* other = rectPatch({250, 60, 120, 100});
    GmRegion* patch = rectPatch({60, 40, 140, 120});
    ASSERT_TRUE(idle());
    ASSERT_EQ(m_model->activeRegion(), patch);

    QTest::keyClick(m_panel->protectBox(), Qt::Key_Space);
    EXPECT_TRUE(patch->isProtected());
    ASSERT_TRUE(idle());
    const QImage mask = placedMask(status().size(), patch->filledMask()->mask());
    int covered = 0;
    for (int y = 0; y < status().height(); ++y)
        for (int x = 0; x < status().width(); ++x) {
            const bool inside = mask.pixelIndex(x, y) == 1;
            ASSERT_EQ((statusAt(x, y) & kProtected) != 0, inside) << x << "," << y;
            covered += inside;
        }
    EXPECT_GT(covered, 1000);

    // Another patch's protection leaves the page as it is.
    m_panel->protectBox()->setChecked(false);
    other->setProtected(true);
    EXPECT_FALSE(m_panel->protectBox()->isChecked());
    // The active patch's own change is shown.
    patch->setProtected(true);
    EXPECT_TRUE(m_panel->protectBox()->isChecked());
    ASSERT_TRUE(idle());
}

} // namespace
