// The document's project map through a data stream and the real engine: a saved document with
// patches, a forced edge, settings and marks comes back equal in a fresh model, also over an
// open document; a map that cannot be used is refused and leaves the open document as it was.

#include "document/BrushRegion.h"
#include "document/ForcedEdge.h"
#include "document/GmColor.h"
#include "document/GmRegion.h"
#include "document/PixelState.h"
#include "document/PolyRegion.h"
#include "document/ProjectStreamCheck.h"
#include "document/RectRegion.h"
#include "engine/DvCmdSelect.h"

#include "EngineDocument.h"
#include "LogCapture.h"
#include "ModelImage.h"
#include "StreamRoundTrip.h"

#include <QDataStream>
#include <QPointer>
#include <QVariantList>
#include <QVariantMap>

#include <cmath>
#include <limits>

using testsupport::throughStream;

namespace {

class ProjectMapTest : public testsupport::EngineDocument {
protected:
    // A document on the photograph at divisor 2 with marks, three patches, a forced edge and
    // settings changed from their defaults.
    void buildDocument(const char* photo = "chelsea.png")
    {
        open(2, photo);
        m_model->segmentation()->edos().width().setCurrent(5);
        analyse();
        m_model->blending()->options().autoBlendWidth = 0.5f;
        m_model->blending()->options().bgChecked = true;
        m_model->blending()->options().bgOverride()->setColor(QColor(10, 20, 30));
        auto keep = stroke({250, 150}, {330, 170}, 8);
        submit(new DvCmdSelect(m_model, keep.get(), 1, 2, 0, 0));
        auto drop = stroke({20, 40}, {20, 260}, 8);
        submit(new DvCmdSelect(m_model, drop.get(), 1, 4, 0, 0));

        auto* rect = new RectRegion(QPointF(60, 40));
        rect->rectangle().dragCornerTo({200, 160});
        rect->rectangle().endDrag();
        rect->blending().options().blendRatio = 0.45f;
        rect->blending().options().isChoices = true;
        rect->blending().options().choices1 = 0.3f;
        rect->blending().options().fgChecked = true;
        rect->blending().options().fgOverride()->setColor(QColor(200, 100, 50));
        rect->beginSubSession();
        rect->setProtected(true);
        auto* poly = new PolyRegion(QPointF(250, 50));
        poly->polygon().appendPoint({400, 60});
        poly->polygon().appendPoint({330, 200});
        poly->segmentation().setChecked(true);
        poly->segmentation().edos().sensitivity().setCurrent(70);
        poly->submitToEngine();
        auto painted = stroke({100, 220}, {300, 262}, 12);
        auto* brushed = new BrushRegion(*painted);
        brushed->beginSubSession();
        auto* edge = new ForcedEdge(QPointF(150, 100), 7);
        edge->polygon().appendPoint({300, 181});
        edge->polygon().appendPoint({320, 60});
        edge->submitToEngine();
        ASSERT_TRUE(idle());
    }

    // The document as the tests compare it: every map but the brushed patch's bitmap, which is
    // compared by its pixels.
    struct Picture {
        int resolution = 0;
        QByteArray status;
        QImage source;
        QImage output;
        QList<int> edos;  // current and applied of the image's four options
        bool checked = false;
        QVariant blendage;
        QList<QVariant> targets;
        QImage strokeMask;
    };
    Picture picture()
    {
        Picture p;
        p.resolution = m_model->resolution();
        p.status = statusBytes();
        p.source = m_model->source()->qImage().copy();
        p.output = m_model->output()->qImage().copy();
        const EDOs& edos = m_model->segmentation()->edos();
        for (const GmValue<int>* value : {&edos.sensitivity(), &edos.width(), &edos.texture(), &edos.contrast()})
            p.edos << value->current() << value->applied();
        p.checked = m_model->segmentation()->isChecked();
        p.blendage = m_model->blending()->toVariant();
        for (ArrowTarget* target : m_model->arrowTargets()) {
            QVariant map;
            target->toVariant(map);
            if (auto* brushed = dynamic_cast<BrushRegion*>(target)) {
                p.strokeMask = QImage(brushed->brushing()).convertToFormat(QImage::Format_Indexed8);
                QVariantMap without = map.toMap();
                QVariantMap shape = without.value("brushing_").toMap();
                shape.remove("Bitmap");
                without.insert("brushing_", shape);
                map = without;
            }
            p.targets.append(map);
        }
        return p;
    }
    static QByteArray streamed(const QVariant& value)
    {
        QByteArray bytes;
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << value;
        return bytes;
    }
    static void expectEqual(const Picture& a, const Picture& b)
    {
        EXPECT_EQ(a.resolution, b.resolution);
        EXPECT_EQ(a.status, b.status);
        EXPECT_EQ(a.source, b.source);
        EXPECT_EQ(a.output, b.output);
        EXPECT_EQ(a.edos, b.edos);
        EXPECT_EQ(a.checked, b.checked);
        EXPECT_EQ(a.blendage, b.blendage);
        ASSERT_EQ(a.targets.size(), b.targets.size());
        // Compared as stored: a path in a variant compares equal only to itself.
        for (int i = 0; i < a.targets.size(); ++i)
            EXPECT_EQ(streamed(a.targets[i]), streamed(b.targets[i])) << i;
        EXPECT_EQ(testsupport::differingPixels(a.strokeMask, b.strokeMask), 0);
        EXPECT_GT(testsupport::setPixels(b.strokeMask), 100);
    }

    // The open document is exactly as it was and nothing was sent to the engine.
    void expectUntouched(const QVariant& map)
    {
        const KsSourceImage* source = m_model->source();
        const QList<ArrowTarget*> targets = m_model->arrowTargets();
        const Picture before = picture();
        const int submitted = m_thread->changeCounter();
        testsupport::LogCapture log;
        EXPECT_FALSE(m_model->loadFromVariant(map));
        EXPECT_TRUE(log.lines().join('\n').contains("the project is not loaded"));
        EXPECT_EQ(m_thread->changeCounter(), submitted);
        EXPECT_TRUE(m_thread->isQueueEmpty());
        EXPECT_FALSE(m_thread->isBusy());
        EXPECT_EQ(m_model->source(), source);
        EXPECT_EQ(m_model->arrowTargets(), targets);
        expectEqual(before, picture());
    }
};

TEST_F(ProjectMapTest, ASavedDocumentComesBackEqualInAFreshModel)
{
    buildDocument();
    const Picture saved = picture();
    ASSERT_EQ(saved.targets.size(), 4);
    // The protection and the forced edge are part of the saved statuses.
    EXPECT_TRUE(saved.status.contains(char(2 | 32)) || saved.status.contains(char(1 | 32)));
    const QVariant map = throughStream(m_model->saveToVariant());

    m_model->closeImage();
    ASSERT_TRUE(idle());
    GmModel::destroy();
    m_model = GmModel::instance();
    ASSERT_TRUE(m_model->loadFromVariant(map));
    ASSERT_TRUE(idle());

    expectEqual(saved, picture());
    EXPECT_EQ(m_model->loadState(), 2);
    EXPECT_FALSE(m_model->isUnmodified());
    ASSERT_EQ(m_model->patches().size(), 3);
    for (GmRegion* patch : m_model->patches())
        EXPECT_NE(patch->segmentation().session(), nullptr) << patch->metaObject()->className();
    EXPECT_TRUE(m_model->patches().first()->isProtected());
    // The poly patch was analysed on its own again.
    EXPECT_TRUE(m_model->patches()[1]->hasOwnSegmentation());
    EXPECT_EQ(m_model->segmentation()->edos().width().applied(), 5);
    EXPECT_EQ(m_model->forcedEdges().first()->width(), 7);
}

// The check made before a project is read takes every value a document holds, to the last
// byte: the source's pixels as PNG bytes (from a PNG file) or as a picture (from a JPEG).
TEST_F(ProjectMapTest, ASavedDocumentPassesTheStreamCheckWhole)
{
    for (const char* photo : {"chelsea.png", "fruits.jpg"}) {
        buildDocument(photo);
        QByteArray bytes;
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_5_15);
        out << QVariant(m_model->saveToVariant());
        EXPECT_EQ(ProjectStreamCheck::valueLength(bytes.constData(), bytes.size()), bytes.size()) << photo;
        m_model->closeImage();
        ASSERT_TRUE(idle());
    }
}

TEST_F(ProjectMapTest, LoadingOverAnOpenDocumentReplacesIt)
{
    buildDocument();
    const Picture saved = picture();
    const QVariant map = throughStream(m_model->saveToVariant());
    m_model->closeImage();
    ASSERT_TRUE(idle());
    open(1, "coffee.png");
    auto* other = new RectRegion(QPointF(5, 5));
    other->rectangle().dragCornerTo({50, 50});
    other->beginSubSession();
    ASSERT_TRUE(idle());
    QPointer<GmRegion> replaced = other;

    QList<std::pair<int, int>> resolutions;
    QObject::connect(m_model, &GmModel::resolutionChanged, m_thread.get(),
                     [&](int from, int to) { resolutions.append({from, to}); });
    ASSERT_TRUE(m_model->loadFromVariant(map));
    ASSERT_TRUE(idle());
    EXPECT_TRUE(replaced.isNull());
    expectEqual(saved, picture());
    EXPECT_EQ(resolutions, (QList<std::pair<int, int>>{{1, 2}}));
}

TEST_F(ProjectMapTest, AMapWithoutItsSourceImageIsRefusedAndChangesNothing)
{
    buildDocument();
    QVariantMap map = m_model->saveToVariant();
    map.remove("segImg_");
    expectUntouched(map);
}

TEST_F(ProjectMapTest, CorruptImageBytesAreRefusedAndChangeNothing)
{
    buildDocument();
    QVariantMap map = m_model->saveToVariant();
    QVariantMap source = map.value("segImg_").toMap();
    ASSERT_TRUE(source.contains("imageImage_"));
    const QVariant stored = source.value("imageImage_");
    if (stored.type() == QVariant::ByteArray) {
        QByteArray bytes = stored.toByteArray();
        bytes.truncate(bytes.size() / 2);
        bytes[bytes.size() / 2] = char(~bytes[bytes.size() / 2]);
        source.insert("imageImage_", bytes);
    } else {
        source.insert("imageImage_", QByteArray("not a picture"));
    }
    map.insert("segImg_", source);
    expectUntouched(throughStream(map));

    // The cut-out's bytes just the same.
    map = m_model->saveToVariant();
    QVariantMap output = map.value("blendImg_").toMap();
    output.insert("imageImage_", QByteArray("\x89PNG garbage"));
    map.insert("blendImg_", output);
    expectUntouched(throughStream(map));
}

TEST_F(ProjectMapTest, UnusableStatusesResolutionsAndShapesAreRefused)
{
    buildDocument();
    const QVariantMap good = m_model->saveToVariant();

    QVariantMap map = good;
    QImage small(10, 10, QImage::Format_Indexed8);
    small.fill(1);
    map.insert("statusArray_", small);
    expectUntouched(map);

    map = good;
    map.insert("statusArray_", QImage(226, 150, QImage::Format_ARGB32));
    expectUntouched(map);

    for (const QVariant& resolution : {QVariant(3), QVariant(0), QVariant(16), QVariant()}) {
        map = good;
        if (resolution.isValid())
            map.insert("resolution_", resolution);
        else
            map.remove("resolution_");
        expectUntouched(map);
    }

    map = good;
    QVariantList targets = map.value("arrowTargetList").toList();
    QVariantMap rect = targets.first().toMap();
    QVariantMap shape = rect.value("rectangle_").toMap();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    shape.insert("rect_", QRectF(nan, 10, 20, 20));
    rect.insert("rectangle_", shape);
    targets[0] = rect;
    map.insert("arrowTargetList", targets);
    expectUntouched(map);

    expectUntouched(QVariant(QStringLiteral("not a document")));

    // An object of an unknown kind is left out; the rest loads.
    map = good;
    targets = map.value("arrowTargetList").toList();
    targets.append(QVariantMap{{"type", 9}});
    map.insert("arrowTargetList", targets);
    testsupport::LogCapture log;
    ASSERT_TRUE(m_model->loadFromVariant(map));
    ASSERT_TRUE(idle());
    EXPECT_EQ(m_model->arrowTargets().size(), 4);
}

TEST(ProjectMapStatus, TheSavedStatusesAreTheBytesWhateverTheirColours)
{
    testsupport::ModelImage image(40, 30, 1);
    QImage status(40, 30, QImage::Format_Indexed8);
    // A table of greys only: picture writers store such images as grey pictures.
    QVector<QRgb> greys(256, qRgb(128, 128, 128));
    status.setColorTable(greys);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            status.scanLine(y)[x] = uchar((x * 7 + y * 13) % 256);
    GmModel* model = GmModel::instance();
    model->statusArray()->setPendingStatusImage(status);
    const QVariantMap map = throughStream(model->saveToVariant()).toMap();
    const QImage stored = map.value("statusArray_").value<QImage>();
    ASSERT_EQ(stored.size(), status.size());
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(stored.constScanLine(y)[x], status.constScanLine(y)[x]) << x << "," << y;
    EXPECT_EQ(map.value("resolution_").toInt(), 1);
    EXPECT_TRUE(map.value("arrowTargetList").toList().isEmpty());
}

} // namespace
