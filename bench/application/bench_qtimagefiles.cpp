// Images read through Qt's readers (every kind but PNG and TIFF): a 1500 x 1000 photograph as
// a text (ASCII) PPM, whose reader takes its bytes a few at a time, and as a JPEG, whose file is
// read unbuffered so that a picture cut short is told.

#include "document/QtImageFiles.h"

#include "qtbench.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

QTemporaryDir& scratch()
{
    static QTemporaryDir dir;
    return dir;
}

QImage photo()
{
    static const QImage image =
        QImage(QStringLiteral(KESTRINE_TEST_DATA "/chelsea.png"))
            .scaled(1500, 1000, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            .convertToFormat(QImage::Format_RGB32);
    return image;
}

// The photograph written once in `format`; `quality` -1 for the writer's default.
QString written(const char* name, const char* format, int quality = -1)
{
    const QString path = scratch().filePath(QLatin1String(name));
    if (!QFile::exists(path))
        photo().save(path, format, quality);
    return path;
}

void readEach(benchmark::State& state, const QString& path)
{
    for (auto _ : state) {
        QString reason;
        const QImage image = readQtImageFile(path, &reason);
        if (image.isNull())
            state.SkipWithError(qUtf8Printable(reason));
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["file_MB"] = double(QFile(path).size()) / 1e6;
}

// The photograph as a text PPM ("P3"), which other programs write and Qt's writer does not.
QString plainPpm()
{
    const QString path = scratch().filePath(QStringLiteral("plain.ppm"));
    if (QFile::exists(path))
        return path;
    const QImage image = photo();
    QByteArray text = "P3\n" + QByteArray::number(image.width()) + ' ' + QByteArray::number(image.height()) + "\n255\n";
    for (int y = 0; y < image.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            text += QByteArray::number(qRed(row[x])) + ' ' + QByteArray::number(qGreen(row[x])) + ' '
                    + QByteArray::number(qBlue(row[x])) + (x + 1 == image.width() ? '\n' : ' ');
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return QString();
    return path;
}

void BM_ReadAsciiPpm(benchmark::State& state)
{
    readEach(state, plainPpm());
}
BENCHMARK(BM_ReadAsciiPpm)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ReadJpeg(benchmark::State& state)
{
    readEach(state, written("photo.jpg", "jpeg", 90));
}
BENCHMARK(BM_ReadJpeg)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    return qtbench::runOffscreen<QGuiApplication>(argc, argv);
}
