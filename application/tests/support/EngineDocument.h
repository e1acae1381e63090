#pragma once
// A document on a photograph of the test data through the model and the real engine, at a
// working resolution divisor: the worker, the preferences, opening, waiting, analysing and
// painting strokes, and the status bytes.

#include "document/Brushing.h"
#include "document/GmModel.h"
#include "document/GmStatusArray.h"
#include "document/KsAppPreferences.h"
#include "document/KsSourceImage.h"
#include "document/SegmentationStuff.h"
#include "engine/DravikCommand.h"
#include "engine/DravikThread.h"

#include "Wait.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <gtest/gtest.h>

#include <memory>

namespace testsupport {

class EngineDocument : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_preferences = std::make_unique<KsAppPreferences>();
        m_thread = std::make_unique<DravikThread>();
        m_model = GmModel::instance();
    }
    void TearDown() override
    {
        if (GmModel* model = GmModel::existingInstance()) {
            model->closeImage();
            EXPECT_TRUE(idle());
        }
        GmModel::destroy();
        m_thread.reset();
        m_preferences.reset();
    }

    bool idle()
    {
        return waitUntil([this] { return !m_thread->isBusy() && m_thread->isQueueEmpty(); }, 60000);
    }

    // Opens the photograph as file handling does, then works at the divisor.
    void open(int divisor = 2, const char* name = "chelsea.png")
    {
        const QString path = QString::fromUtf8(KESTRINE_TEST_DATA) + "/" + name;
        openSource(new KsSourceImage(path), divisor);
    }

    // Opens an image the test built (the model takes it over), then works at the divisor.
    void openSource(KsSourceImage* source, int divisor)
    {
        ASSERT_TRUE(m_model->setImage(1, 1, source, nullptr));
        ASSERT_TRUE(idle());
        if (divisor != m_model->resolution()) {
            m_model->changeResolution(divisor);
            ASSERT_TRUE(idle());
        }
        ASSERT_EQ(m_model->resolution(), divisor);
        ASSERT_NE(m_model->statusArray()->statusImage(), nullptr);
    }

    void submit(DravikCommand* command)
    {
        m_thread->submit(command);
        ASSERT_TRUE(idle());
    }

    // Analyses the image at sensitivity 50.
    void analyse()
    {
        m_model->segmentation()->edos().sensitivity().setCurrent(50);
        m_model->segmentation()->submitAnalysis(nullptr);
        ASSERT_TRUE(idle());
        ASSERT_TRUE(m_model->segmentation()->analysisSession()->analysed);
    }

    // A straight stroke of the given size (working pixels) between two image points.
    static std::unique_ptr<Brushing> stroke(QPointF from, QPointF to, double size)
    {
        auto brushing = std::make_unique<Brushing>(QColor(Qt::green));
        brushing->startStroke(from, size);
        brushing->addSegment(to, size);
        return brushing;
    }

    const QImage& status() const { return *m_model->statusArray()->statusImage(); }
    uchar statusAt(int x, int y) const { return status().constScanLine(y)[x]; }
    QByteArray statusBytes() const
    {
        QByteArray bytes;
        const QImage& image = status();
        for (int y = 0; y < image.height(); ++y)
            bytes.append(reinterpret_cast<const char*>(image.constScanLine(y)), image.width());
        return bytes;
    }

    std::unique_ptr<KsAppPreferences> m_preferences;
    std::unique_ptr<DravikThread> m_thread;
    GmModel* m_model = nullptr;
};

} // namespace testsupport
