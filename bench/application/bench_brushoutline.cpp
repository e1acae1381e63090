// Moving the brush outline over the canvas's Workspace view at zoom 8, over a 4-megapixel
// working image with a status overlay: the pointer moves by a few widget pixels, the outline
// area is recomputed and the union of its old and new areas repainted. Brush sizes in working
// pixels.

#include "tools/BrushingTool.h"
#include "tools/KeepExactTool.h"
#include "tools/NoTool.h"

#include "canvasscene.h"
#include "qtbench.h"

#include <QMouseEvent>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

namespace {

// Unassigned with a band of Keep; the Keep Exact brush installed, at zoom 8 over the middle
// of the image.
class Scene : public benchsupport::CanvasScene {
public:
    Scene()
        : CanvasScene([](int x, int, int w, int) { return x >= w / 3 && x < w / 2 ? 2 : 1; })
    {
        m_noTool = std::make_unique<NoTool>();
        m_brush = std::make_unique<KeepExactTool>();
        m_brush->installSlot();
        show(8.0);
    }
    ~Scene()
    {
        m_brush.reset();
        m_noTool.reset();
    }

    QPoint visibleCentre() const { return canvas()->visibleRegion().boundingRect().center(); }

private:
    std::unique_ptr<NoTool> m_noTool;
    std::unique_ptr<KeepExactTool> m_brush;
};

std::unique_ptr<Scene> g_scene;

Scene& scene()
{
    if (!g_scene)
        g_scene = std::make_unique<Scene>();
    return *g_scene;
}

// Brush size (working pixels) as the argument.
void BM_BrushOutlineUpdateZoom8(benchmark::State& state)
{
    Scene& s = scene();
    BrushingTool::setBrushSize(int(state.range(0)));
    GmZoomWidget* canvas = s.canvas();
    const QPoint centre = s.visibleCentre();
    int step = 0;
    for (auto _ : state) {
        // Three widget pixels a move, so that the point's place within its working pixel
        // changes as well.
        const QPoint at = centre + QPoint((step % 20) * 3, (step % 7) * 3);
        ++step;
        const QRect old = canvas->brushOutlineRect();
        QMouseEvent move(QEvent::MouseMove, at, canvas->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(canvas, &move);
        const QRect area = canvas->brushOutlineRect();
        canvas->repaint(old.isValid() ? old.united(area) : area);
    }
    state.counters["outline_px"] = double(canvas->brushOutlineRect().width()) * canvas->brushOutlineRect().height();
}
BENCHMARK(BM_BrushOutlineUpdateZoom8)->Arg(10)->Arg(40)->Arg(100)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    qInstallMessageHandler(qtbench::quiet);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    g_scene.reset();
    return 0;
}
