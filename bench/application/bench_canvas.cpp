// Repainting the canvas's Workspace view, 1600 x 1000 widget pixels, over a 4-megapixel working
// image with a status overlay, two patches and a forced edge: the whole view at three zooms,
// and a 50 x 50 dirty rectangle.

#include "document/ForcedEdge.h"
#include "document/RectRegion.h"

#include "canvasscene.h"
#include "qtbench.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

namespace {

// Statuses as after some work: Unassigned, a band of Keep, a block of Delete, Blend between
// them; two patches and a forced edge over them.
class Scene : public benchsupport::CanvasScene {
public:
    Scene()
        : CanvasScene([](int x, int y, int w, int h) {
              if (x > w / 3 && x < w / 2)
                  return 2;
              if (y > h / 2 && x > w / 2)
                  return 4;
              if (x >= w / 2 && x < w / 2 + 40)
                  return 8;
              return 1;
          })
    {
        for (const QRectF& r : {QRectF(300, 200, 600, 400), QRectF(1200, 500, 500, 700)}) {
            auto* patch = new RectRegion(r.topLeft());
            patch->rectangle().dragCornerTo(r.bottomRight());
            patch->rectangle().endDrag();
        }
        auto* edge = new ForcedEdge(QPointF(100, 900), 6);
        for (const QPointF& p : {QPointF(700, 700), QPointF(1400, 950), QPointF(2000, 600)})
            edge->polygon().appendPoint(p);
    }
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
