// Raster masks at the working resolution: a 2,000-vertex polygon patch over a 4-megapixel
// working image (paint, convert, hand over), and a 500-segment brush stroke of size 40 (paint
// every segment, then take the mask for the engine).

#include "document/Brushing.h"
#include "document/GmModel.h"
#include "document/KsSourceImage.h"
#include "document/PixelState.h"
#include "document/Polygon.h"
#include "qtbench.h"

#include <QGuiApplication>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

struct GmModelTestAccess {
    static void setSource(KsSourceImage* source) { GmModel::instance()->m_source = source; }
};

namespace {

constexpr int kSide = 2000;  // 4 megapixels at divisor 1

class ModelImage {
public:
    ModelImage()
        : m_pixels(std::size_t(kSide) * kSide, 0xff808080u),
          m_image(KsSourceImage::View8{kSide, kSide, reinterpret_cast<std::uint8_t*>(m_pixels.data()), qint64(kSide) * 4},
                  QStringLiteral("bench"))
    {
        GmModel::instance()->chooseResolutionForPixelCount(1);
        GmModelTestAccess::setSource(&m_image);
    }
    ~ModelImage()
    {
        GmModelTestAccess::setSource(nullptr);
        GmModel::destroy();
    }

private:
    std::vector<std::uint32_t> m_pixels;
    KsSourceImage m_image;
};

// A closed, star-like outline around the image centre with radii that wander.
ks::Polygon wigglyPolygon(int vertices)
{
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> radius(600, 950);
    ks::Polygon polygon(QPointF(kSide / 2 + 900, kSide / 2), 1);
    for (int i = 1; i < vertices; ++i) {
        const double a = 2 * M_PI * i / vertices;
        const double r = radius(rng);
        polygon.appendPoint(QPointF(kSide / 2 + r * std::cos(a), kSide / 2 + r * std::sin(a)));
    }
    return polygon;
}

void BM_RasterisePolygon(benchmark::State& state)
{
    ModelImage image;
    ks::Polygon polygon = wigglyPolygon(2000);
    polygon.setPenAndBrush(Qt::NoPen, QBrush(Qt::color1));
    std::int64_t pixels = 0;
    for (auto _ : state) {
        polygon.rasterise();
        const PixelState* ps = polygon.pixelState();
        benchmark::DoNotOptimize(ps->mask().constBits());
        pixels = std::int64_t(ps->mask().width()) * ps->mask().height();
    }
    state.counters["mask_Mpx"] = double(pixels) / 1e6;
}
BENCHMARK(BM_RasterisePolygon)->Unit(benchmark::kMillisecond);

void BM_BrushStroke500Segments(benchmark::State& state)
{
    ModelImage image;
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> step(-60, 60);
    std::vector<QPointF> points;
    QPointF p(kSide / 2, kSide / 2);
    for (int i = 0; i <= 500; ++i) {
        points.push_back(p);
        p = QPointF(qBound(0.0, p.x() + step(rng), double(kSide)), qBound(0.0, p.y() + step(rng), double(kSide)));
    }
    for (auto _ : state) {
        Brushing stroke(QColor(0, 255, 0));
        stroke.startStroke(points[0], 40);
        for (std::size_t i = 1; i < points.size(); ++i)
            stroke.addSegment(points[i], 40);
        stroke.rasterise();
        benchmark::DoNotOptimize(stroke.pixelState()->mask().constBits());
    }
}
BENCHMARK(BM_BrushStroke500Segments)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    qInstallMessageHandler(qtbench::quiet);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
