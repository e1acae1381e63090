// EXIF orientation: reading the value from a large JPEG (only the sections before the scan
// are read) and turning a 20-megapixel image upright.

#include "document/ExifOrientation.h"
#include "document/JpegExifReader.h"

#include "ExifBlock.h"
#include "benchsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

QTemporaryDir& scratch()
{
    static QTemporaryDir dir;
    return dir;
}

QImage toQImage(const testsupport::RgbaImage8& rgba)
{
    QImage image(rgba.width, rgba.height, QImage::Format_ARGB32);
    for (int y = 0; y < rgba.height; ++y) {
        const std::uint8_t* s = rgba.row(y);
        auto* d = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < rgba.width; ++x, s += 4)
            d[x] = qRgba(s[0], s[1], s[2], s[3]);
    }
    return image;
}

// A noisy photograph of about 5 MB with an orientation-6 block after its start marker.
QString largeJpeg()
{
    static QString path;
    if (!path.isEmpty())
        return path;
    const QImage photo = toQImage(benchsupport::enlargedPhoto("chelsea.png", 10.0, 6.0));
    QByteArray bytes;
    {
        QFile tmp(scratch().filePath(QStringLiteral("plain.jpg")));
        photo.save(tmp.fileName(), "JPG", 97);
        tmp.open(QIODevice::ReadOnly);
        bytes = tmp.readAll();
    }
    path = scratch().filePath(QStringLiteral("large.jpg"));
    QFile out(path);
    out.open(QIODevice::WriteOnly);
    out.write(testsupport::spliceAfterSoi(bytes, testsupport::ExifBlock::orientationApp1(6)));
    return path;
}

void BM_ReadOrientationOfLargeJpeg(benchmark::State& state)
{
    const QString path = largeJpeg();
    const QByteArray name = QFile::encodeName(path);
    int orientation = 0;
    for (auto _ : state) {
        ReadJpegExifOrientation(name.constData(), orientation);
        benchmark::DoNotOptimize(orientation);
    }
    if (orientation != 6)
        state.SkipWithError("orientation not found");
    state.counters["file_MB"] = double(QFile(path).size()) / 1e6;
}
BENCHMARK(BM_ReadOrientationOfLargeJpeg)->Unit(benchmark::kMicrosecond);

void BM_ApplyOrientation6To20Megapixels(benchmark::State& state)
{
    const QString path = largeJpeg();
    QImage image(5472, 3648, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        std::memset(image.scanLine(y), y & 0xff, std::size_t(image.bytesPerLine()));
    for (auto _ : state) {
        QImage turned = image;
        applyExifOrientation(path, turned);
        benchmark::DoNotOptimize(turned.constBits());
        if (turned.width() != image.height())
            state.SkipWithError("not turned");
    }
    state.counters["megapixels"] = double(image.width()) * image.height() / 1e6;
}
BENCHMARK(BM_ApplyOrientation6To20Megapixels)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
