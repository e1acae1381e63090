// Moving the brush outline over the canvas's Workspace view at zoom 8, over a 4-megapixel
// working image with a status overlay: the pointer moves by a few widget pixels, the outline
// area is recomputed and the union of its old and new areas repainted. Brush sizes in working
// pixels.

#include "BrushingTool.h"
#include "GmModel.h"
#include "GmStatusArray.h"
#include "GmZoomWidget.h"
#include "ImageView.h"
#include "KeepExactTool.h"
#include "KsSourceImage.h"
#include "KsWorkspace.h"
#include "NoTool.h"

#include "benchsupport.h"
#include "qtbench.h"

#include "dravik.h"

#include <QApplication>
#include <QMouseEvent>

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

        const int w = photo.width;
        const int h = photo.height;
        m_status.assign(std::size_t(w) * h, 1);
        for (int y = 0; y < h; ++y)
            for (int x = w / 3; x < w / 2; ++x)
                m_status[std::size_t(y) * w + x] = 2;
        m_record.width = w;
        m_record.height = h;
        m_record.stride = w;
        m_record.pixelType = DvPixelStatus;
        m_record.data = m_status.data();
        model->statusArray()->setStatusImage(&m_record);

        m_view = std::make_unique<ImageView>();
        m_noTool = std::make_unique<NoTool>();
        m_brush = std::make_unique<KeepExactTool>();
        m_view->resize(viewSize + QSize(100, 100));
        m_view->show();
        QApplication::processEvents();
        const QSize extra = m_view->size() - m_view->workspace()->viewport()->size();
        m_view->resize(viewSize + extra);
        QApplication::processEvents();
        m_brush->installSlot();
        canvas()->setZoom(true, 8.0);
        QApplication::processEvents();
        m_view->centreViewportOnSlot(QPoint(w / 2, h / 2));
        QApplication::processEvents();
    }
    ~Scene()
    {
        m_brush.reset();
        m_noTool.reset();
        m_view.reset();
        GmModel::instance()->statusArray()->setStatusImage(nullptr);
        GmModelTestAccess::setSource(nullptr);
        GmModel::destroy();
    }

    GmZoomWidget* canvas() const { return m_view->canvas(); }
    QPoint visibleCentre() const { return canvas()->visibleRegion().boundingRect().center(); }

private:
    std::vector<std::uint32_t> m_pixels;
    std::unique_ptr<KsSourceImage> m_image;
    std::vector<std::uint8_t> m_status;
    DvImage m_record{};
    std::unique_ptr<ImageView> m_view;
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
