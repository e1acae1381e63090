// The source image of a 20-megapixel 16-bit photograph: loading the PNG (with the 8-bit
// display form and its pixmap), the 16 -> 8 bit conversion alone, saving a 16-bit TIFF and
// building the project map.

#include "document/KsSourceImage.h"
#include "document/SourceImageFiles.h"

#include "benchsupport.h"
#include "qtbench.h"

#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

namespace {

QTemporaryDir& scratch()
{
    static QTemporaryDir dir;
    return dir;
}

// A photograph enlarged to 20 megapixels, written once as a 16-bit RGBA PNG whose low bytes
// carry noise, as a camera's 16-bit output does.
QString photo16()
{
    static QString path;
    if (!path.isEmpty())
        return path;
    const testsupport::RgbaImage8 photo = benchsupport::enlargedPhoto("chelsea.png", 20.0, 1.5);
    std::vector<std::uint16_t> samples(std::size_t(photo.width) * photo.height * 4);
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> low(0, 255);
    for (int y = 0; y < photo.height; ++y) {
        const std::uint8_t* s = photo.row(y);
        std::uint16_t* d = samples.data() + std::size_t(y) * photo.width * 4;
        for (int x = 0; x < photo.width; ++x, s += 4, d += 4) {
            // Memory order B, G, R, A; opaque alpha stays exact.
            d[0] = std::uint16_t(s[2] * 256 + low(rng));
            d[1] = std::uint16_t(s[1] * 256 + low(rng));
            d[2] = std::uint16_t(s[0] * 256 + low(rng));
            d[3] = 65535;
        }
    }
    path = scratch().filePath(QStringLiteral("photo16.png"));
    sourceimagefiles::writePng(QFile::encodeName(path).toStdString(),
                               sourceimagefiles::Pixels16{photo.width, photo.height, samples.data(), qint64(photo.width) * 8});
    return path;
}

KsSourceImage& loaded()
{
    static std::unique_ptr<KsSourceImage> image(new KsSourceImage(photo16()));
    return *image;
}

void BM_LoadPng16(benchmark::State& state)
{
    const QString path = photo16();
    for (auto _ : state) {
        KsSourceImage image(path);
        if (!image.isValid())
            state.SkipWithError("not loaded");
        benchmark::DoNotOptimize(image.pixmap().cacheKey());
    }
    state.counters["megapixels"] = double(loaded().width()) * loaded().height() / 1e6;
    state.counters["file_MB"] = double(QFile(path).size()) / 1e6;
}
BENCHMARK(BM_LoadPng16)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Convert16To8(benchmark::State& state)
{
    KsSourceImage& image = loaded();
    for (auto _ : state) {
        KsSourceImage::convertTo8(image.view16(), image.view8(), KsSourceImage::Samples16);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Convert16To8)->Unit(benchmark::kMillisecond);

void BM_SaveTiff16(benchmark::State& state)
{
    KsSourceImage& image = loaded();
    const QString path = scratch().filePath(QStringLiteral("out16.tif"));
    image.setFileName(path);
    image.setFileKind(KsSourceImage::FileTiff);
    for (auto _ : state) {
        if (!image.save())
            state.SkipWithError("not saved");
    }
    state.counters["file_MB"] = double(QFile(path).size()) / 1e6;
}
BENCHMARK(BM_SaveTiff16)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ToVariant(benchmark::State& state)
{
    KsSourceImage& image = loaded();
    qint64 bytes = 0;
    for (auto _ : state) {
        const QVariant map = image.toVariant();
        bytes = map.toMap().value(QStringLiteral("imageImage_")).toByteArray().size();
    }
    state.counters["png_MB"] = double(bytes) / 1e6;
    state.counters["zlib_level"] = sourceimagefiles::pngCompressionLevel();
}
BENCHMARK(BM_ToVariant)->Unit(benchmark::kMillisecond)->Iterations(3);

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
