// The Edge Finding panel on real photographs through the model and the engine: the begun
// session shows the engine's suggestion and is analysed; Apply replaces an analysis still on
// its way; a patch with its own edge finding takes the panel out of use.

#include "document/EDOs.h"
#include "document/GmModel.h"
#include "document/GmRegion.h"
#include "document/KsAppPreferences.h"
#include "document/KsSourceImage.h"
#include "document/RectRegion.h"
#include "document/SegmentationStuff.h"
#include "engine/DravikCommand.h"
#include "engine/DravikThread.h"
#include "panels/EdgeDetectionOptions.h"
#include "panels/ImageEdgeFinder.h"
#include "panels/RegionalProperties.h"

#include "HoldCommand.h"
#include "Wait.h"

#include "dravik.h"

#include <QButtonGroup>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSlider>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

using testsupport::waitUntil;

namespace {

const QString analysisDescription = QStringLiteral("Finding Edges in Image...");

class EdgeFindingEngineTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        QSettings().clear();
        m_preferences = std::make_unique<KsAppPreferences>();
        m_thread = std::make_unique<DravikThread>();
        QObject::connect(m_thread.get(), &DravikThread::commandFinished, m_thread.get(),
                         [this](DravikCommand* command) { m_finished.append(command->description()); });
        m_model = GmModel::instance();
    }
    void TearDown() override
    {
        m_release = true;
        if (GmModel* model = GmModel::existingInstance()) {
            model->closeImage();
            EXPECT_TRUE(idle());
        }
        m_finder.reset();
        GmModel::destroy();
        m_thread.reset();
        m_preferences.reset();
        QSettings().clear();
    }

    bool idle()
    {
        return waitUntil([this] { return !m_thread->isBusy() && m_thread->isQueueEmpty(); });
    }

    // The worker is held from the moment the session has begun, so that the panel's analysis
    // waits in the queue. Call before the panel exists: its own reaction comes later.
    void holdAfterSessionBegins()
    {
        QObject::connect(m_model, &GmModel::sessionHasBegun, m_thread.get(), [this] {
            if (!m_held) {
                m_held = true;
                m_thread->submit(new testsupport::HoldCommand(&m_release));
            }
        });
    }

    void openPanelAndImage(const QString& name)
    {
        m_finder = std::make_unique<ImageEdgeFinder>(nullptr, nullptr, QString());
        ASSERT_TRUE(m_model->setImage(1, 1, new KsSourceImage(QStringLiteral(KESTRINE_TEST_DATA "/") + name),
                                      nullptr));
        ASSERT_TRUE(waitUntil([this] { return m_model->segmentation()->hasPendingAnalysis(); }));
    }

    EdgeDetectionOptions* options() const { return m_finder->edgeOptions(); }
    int analysesFinished() const { return m_finished.count(analysisDescription); }

    std::unique_ptr<KsAppPreferences> m_preferences;
    std::unique_ptr<DravikThread> m_thread;
    GmModel* m_model = nullptr;
    std::unique_ptr<ImageEdgeFinder> m_finder;
    QStringList m_finished;
    std::atomic<bool> m_release{false};
    bool m_held = false;
};

TEST_P(EdgeFindingEngineTest, TheBegunSessionShowsTheSuggestionAndIsAnalysed)
{
    openPanelAndImage(QString::fromUtf8(GetParam()));
    EXPECT_TRUE(options()->isEnabled());
    EXPECT_EQ(m_finder->segmentation(), m_model->segmentation());
    const DvSession* session = m_model->segmentation()->session();
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(options()->sensitivitySlider()->value(), 50);
    EXPECT_EQ(options()->widthSlider()->value(), session->edgeWidth);
    EXPECT_EQ(options()->contrastButtons()->checkedId(), session->edgeContrast);
    EXPECT_EQ(options()->textureButtons()->checkedId(), session->texture);
    EXPECT_FALSE(options()->applyButton()->isEnabled()) << "its analysis is on its way";

    ASSERT_TRUE(idle());
    EXPECT_EQ(analysesFinished(), 1);
    EXPECT_TRUE(m_model->segmentation()->isAnalysed());
    EXPECT_FALSE(options()->applyButton()->isEnabled());
    EXPECT_FALSE(options()->defaultsButton()->isEnabled());
    EXPECT_FALSE(options()->revertButton()->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Photographs, EdgeFindingEngineTest,
                         ::testing::Values("chelsea.png", "astronaut.png", "coffee.png", "fruits.jpg",
                                           "chelsea16.png"));

using EdgeFindingEngineCases = EdgeFindingEngineTest;

TEST_F(EdgeFindingEngineCases, ApplyReplacesTheAnalysisStillQueued)
{
    holdAfterSessionBegins();
    openPanelAndImage(QStringLiteral("chelsea.png"));
    ASSERT_TRUE(m_held);
    SegmentationStuff* record = m_model->segmentation();
    QPointer<DravikCommand> first = record->analysisCommand();
    ASSERT_FALSE(first.isNull());

    options()->sensitivitySlider()->setValue(30);
    EXPECT_EQ(record->edos().sensitivity().current(), 30);
    ASSERT_TRUE(options()->applyButton()->isEnabled());
    options()->applyButton()->click();
    EXPECT_TRUE(first.isNull()) << "the queued analysis is cancelled";
    EXPECT_TRUE(record->hasPendingAnalysis());
    EXPECT_EQ(record->edos().sensitivity().applied(), 30);
    EXPECT_EQ(record->edos().sensitivity().stored(), 50);
    EXPECT_FALSE(options()->applyButton()->isEnabled());

    m_release = true;
    ASSERT_TRUE(idle());
    EXPECT_EQ(analysesFinished(), 1);
    EXPECT_FALSE(record->hasPendingAnalysis());
    ASSERT_TRUE(record->isAnalysed());
    DvVariable variable{};
    ASSERT_EQ(DvGetVariable(record->analysisSession(), &variable, "imageTol"), DvOk);
    EXPECT_NEAR(variable.normalised, 1.0f - 29.0f / 99.0f, 1e-5);
    EXPECT_FALSE(options()->applyButton()->isEnabled());
    EXPECT_TRUE(options()->defaultsButton()->isEnabled());
    EXPECT_FALSE(options()->revertButton()->isEnabled());
}

TEST_F(EdgeFindingEngineCases, ApplyIsDisabledAfterTheStartUpAnalysisBesideThePatchPanel)
{
    // As in the main window: the patch panel comes second, and its analysis of the begun
    // session replaces the image panel's.
    m_finder = std::make_unique<ImageEdgeFinder>(nullptr, nullptr, QString());
    QWidget host;
    RegionalProperties patchPanel(&host);
    ASSERT_TRUE(m_model->setImage(1, 1, new KsSourceImage(QStringLiteral(KESTRINE_TEST_DATA "/chelsea.png")),
                                  nullptr));
    ASSERT_TRUE(waitUntil([this] { return m_model->segmentation()->hasPendingAnalysis(); }));
    ASSERT_TRUE(idle());
    ASSERT_EQ(analysesFinished(), 1);
    ASSERT_TRUE(m_model->segmentation()->isAnalysed());
    EXPECT_FALSE(options()->applyButton()->isEnabled());
    EXPECT_FALSE(options()->defaultsButton()->isEnabled());
    EXPECT_FALSE(options()->revertButton()->isEnabled());
    m_model->closeImage();
    EXPECT_TRUE(idle());
}

TEST_F(EdgeFindingEngineCases, APatchWithItsOwnEdgeFindingTakesThePanelOutOfUse)
{
    openPanelAndImage(QStringLiteral("chelsea.png"));
    ASSERT_TRUE(idle());
    auto* own = new RectRegion(QPointF(20, 20));
    own->segmentation().setChecked(true);
    auto* plain = new RectRegion(QPointF(200, 100));

    m_model->setActiveRegion(own);
    EXPECT_FALSE(options()->isEnabled());
    m_model->setActiveRegion(plain);
    EXPECT_TRUE(options()->isEnabled());
    m_model->setActiveRegion(own);
    EXPECT_FALSE(options()->isEnabled());
    m_model->setActiveRegion(nullptr);
    EXPECT_TRUE(options()->isEnabled());

    // Switching the patch's own edge finding off brings the panel back.
    m_model->setActiveRegion(own);
    own->segmentation().setChecked(false);
    emit m_model->ownSmegStatusChanged(own);
    EXPECT_TRUE(options()->isEnabled());

    // The patch panel's own record never switches the image's panel.
    EdgeDetectionOptions patchPanel(false);
    patchPanel.bindRecord(&own->segmentation());
    own->segmentation().setChecked(true);
    patchPanel.activeRegionChangedSlot(own);
    EXPECT_TRUE(patchPanel.isEnabled());

    m_model->setActiveRegion(nullptr);
    delete own;
    delete plain;
}

} // namespace
