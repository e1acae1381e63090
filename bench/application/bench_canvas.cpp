// Repainting the canvas's Workspace view, 1600 x 1000 widget pixels, over a 4-megapixel working
// image with a status overlay, two patches and a forced edge: the whole view at three zooms,
// and a 50 x 50 dirty rectangle.

#include "ForcedEdge.h"
#include "GmModel.h"
#include "GmStatusArray.h"
#include "GmZoomWidget.h"
#include "ImageView.h"
#include "KsSourceImage.h"
#include "KsWorkspace.h"
#include "RectRegion.h"

#include "benchsupport.h"
#include "qtbench.h"

#include "dravik.h"

#include <QApplication>
#include <QScrollBar>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

// Places an image in the model without starting the engine.
struct GmModelTestAccess {
    static void setSource(KsSourceImage* source) { GmModel::instance()->m_source = source; }
};

namespace {

const QSize viewSize(1600, 1000);

class Scene {
public:
    Scene()
    {
        const testsupport::RgbaImage8 photo = benchsupport::enlargedPhoto("chelsea.png", 4.0, 1.5);
        m_pixels.resize(std::size_t(photo.width) * photo.height);
        for (int y = 0; y < photo.height; ++y) {
            const std::uint8_t* s = photo.row(y);
            for (int x = 0; x < photo.width; ++x, s += 4)
                m_pixels[std::size_t(y) * photo.width + x] = qRgba(s[0], s[1], s[2], s[3]);
        }
        m_image = std::make_unique<KsSourceImage>(
            KsSourceImage::View8{photo.width, photo.height, reinterpret_cast<std::uint8_t*>(m_pixels.data()),
                                 qint64(photo.width) * 4},
            QStringLiteral("photo"));
        GmModel* model = GmModel::instance();
        model->chooseResolutionForPixelCount(1);
        GmModelTestAccess::setSource(m_image.get());
        m_image->updateWorkingImage();

        // Statuses as after some work: Unassigned, a band of Keep, a block of Delete, Blend
        // between them.
        const int w = photo.width;
        const int h = photo.height;
        m_status.assign(std::size_t(w) * h, 1);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                std::uint8_t& s = m_status[std::size_t(y) * w + x];
                if (x > w / 3 && x < w / 2)
                    s = 2;
                else if (y > h / 2 && x > w / 2)
                    s = 4;
                else if (x >= w / 2 && x < w / 2 + 40)
                    s = 8;
            }
        }
        m_record.width = w;
        m_record.height = h;
        m_record.stride = w;
        m_record.pixelType = DvPixelStatus;
        m_record.data = m_status.data();
        model->statusArray()->setStatusImage(&m_record);

        for (const QRectF& r : {QRectF(300, 200, 600, 400), QRectF(1200, 500, 500, 700)}) {
            auto* patch = new RectRegion(r.topLeft());
            patch->rectangle().dragCornerTo(r.bottomRight());
            patch->rectangle().endDrag();
        }
        auto* edge = new ForcedEdge(QPointF(100, 900), 6);
        for (const QPointF& p : {QPointF(700, 700), QPointF(1400, 950), QPointF(2000, 600)})
            edge->polygon().appendPoint(p);

        m_view = std::make_unique<ImageView>();
        m_view->resize(viewSize + QSize(100, 100));
        m_view->show();
        QApplication::processEvents();
        const QSize extra = m_view->size() - m_view->workspace()->viewport()->size();
        m_view->resize(viewSize + extra);
        QApplication::processEvents();
    }
    ~Scene()
    {
        m_view.reset();
        GmModel::instance()->deleteAllArrowTargets();
        GmModel::instance()->statusArray()->setStatusImage(nullptr);
        GmModelTestAccess::setSource(nullptr);
        GmModel::destroy();
    }

    GmZoomWidget* canvas() const { return m_view->canvas(); }
    // Zoom, then the middle of the image in the middle of the view.
    void show(double zoom)
    {
        canvas()->setZoom(true, zoom);
        QApplication::processEvents();
        m_view->centreViewportOnSlot(QPoint(m_image->width() / 2, m_image->height() / 2));
        QApplication::processEvents();
    }
    QSize viewport() const { return m_view->workspace()->viewport()->size(); }

private:
    std::vector<std::uint32_t> m_pixels;
    std::unique_ptr<KsSourceImage> m_image;
    std::vector<std::uint8_t> m_status;
    DvImage m_record{};
    std::unique_ptr<ImageView> m_view;
};

std::unique_ptr<Scene> g_scene;

Scene& scene()
{
    if (!g_scene)
        g_scene = std::make_unique<Scene>();
    return *g_scene;
}

// Zoom in percent; the whole visible part of the canvas is repainted.
void BM_WorkspaceFullRepaint(benchmark::State& state)
{
    Scene& s = scene();
    s.show(state.range(0) / 100.0);
    GmZoomWidget* canvas = s.canvas();
    const QRect visible = canvas->visibleRegion().boundingRect();
    for (auto _ : state)
        canvas->repaint(visible);
    state.counters["widget_px"] = double(visible.width()) * visible.height();
    state.counters["viewport_w"] = s.viewport().width();
    state.counters["viewport_h"] = s.viewport().height();
}
BENCHMARK(BM_WorkspaceFullRepaint)->Arg(50)->Arg(100)->Arg(250)->Unit(benchmark::kMillisecond);

void BM_WorkspaceDirtyRect(benchmark::State& state)
{
    Scene& s = scene();
    s.show(state.range(0) / 100.0);
    GmZoomWidget* canvas = s.canvas();
    const QRect visible = canvas->visibleRegion().boundingRect();
    const QRect dirty(visible.center(), QSize(50, 50));
    for (auto _ : state)
        canvas->repaint(dirty);
}
BENCHMARK(BM_WorkspaceDirtyRect)->Arg(50)->Arg(100)->Arg(250)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    qInstallMessageHandler(qtbench::quiet);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    // The widgets go before the application does.
    g_scene.reset();
    return 0;
}
