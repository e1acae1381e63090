// Whole-image DvGenerateMask of a 20-megapixel photograph (a test photograph enlarged
// bilinearly to 5472 x 3648) over a session at factor 2, marked Keep inside an ellipse and
// Delete outside with a Blend band about 6 working pixels wide. A constant width map stands
// in for the analysis, which the driver does not read when both classes are marked. Reports
// the process's peak resident memory.
#include "session/session.h"
#include "dravik.h"
#include "testimage.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cmath>
#include <vector>

namespace {

constexpr int fullCols = 5472, fullRows = 3648, factor = 2;
constexpr int cols = fullCols / factor, rows = fullRows / factor;

std::vector<unsigned char> enlargedPhoto()
{
    const testsupport::RgbaImage8 photo = testsupport::loadRgba8("astronaut.png");
    std::vector<unsigned char> out(std::size_t(fullRows) * fullCols * 4);
    for (int i = 0; i < fullRows; ++i) {
        const float v = (i + 0.5f) * photo.height / fullRows - 0.5f;
        const int i0 = std::max(0, int(std::floor(v))), i1 = std::min(photo.height - 1, i0 + 1);
        const float fv = std::clamp(v - i0, 0.f, 1.f);
        for (int j = 0; j < fullCols; ++j) {
            const float u = (j + 0.5f) * photo.width / fullCols - 0.5f;
            const int j0 = std::max(0, int(std::floor(u))), j1 = std::min(photo.width - 1, j0 + 1);
            const float fu = std::clamp(u - j0, 0.f, 1.f);
            unsigned char* o = &out[(std::size_t(i) * fullCols + j) * 4];
            for (int c = 0; c < 3; ++c) {
                const float top = photo.row(i0)[j0 * 4 + c] * (1 - fu) + photo.row(i0)[j1 * 4 + c] * fu;
                const float bottom = photo.row(i1)[j0 * 4 + c] * (1 - fu) + photo.row(i1)[j1 * 4 + c] * fu;
                o[c] = (unsigned char)(top * (1 - fv) + bottom * fv + 0.5f);
            }
            o[3] = 255;
        }
    }
    return out;
}

void GenerateMask20MegapixelsFactor2(benchmark::State& state)
{
    std::vector<unsigned char> source = enlargedPhoto();
    std::vector<unsigned char> cut = source;
    std::vector<unsigned char> working(std::size_t(rows) * cols * 4);
    const DvImageDesc full{fullCols, fullRows, unsigned(fullCols * 4), DvPixelRgba8, source.data()};
    const DvImageDesc cutDesc{fullCols, fullRows, unsigned(fullCols * 4), DvPixelRgba8, cut.data()};
    const DvImageDesc session{cols, rows, unsigned(cols * 4), DvPixelRgba8, working.data()};
    DvScaleImage(session, full);

    std::vector<unsigned char> marks(std::size_t(rows) * cols);
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) {
            const double dx = (i - rows / 2.0) / (rows * 0.35), dy = (j - cols / 2.0) / (cols * 0.3);
            const double r = std::sqrt(dx * dx + dy * dy) * rows * 0.35;  // ~ working pixels
            const double edge = rows * 0.35;
            marks[std::size_t(i) * cols + j] = r < edge - 3 ? 2 : r > edge + 3 ? 4 : 8;
        }

    DvLibrary* library = DvInit();
    DvSession* s = DvBeginSession(library, session);
    DvImage* status = DvNewStatusImage(library, session);
    classification::Bytes widths(rows, cols);
    widths = 3;
    static_cast<DvInSession*>(s)->classification().widthMap.reference(widths);
    s->analysed = 1;
    const DvSelection all{0, 0, {cols, rows, unsigned(cols), DvPixelStatus, marks.data()}};
    DvSetStatus(s, status, &all);

    for (auto _ : state) {
        const int r = DvGenerateMask(s, nullptr, cutDesc, full, status, nullptr, 0, 1.f, 0.5f, nullptr, 0);
        if (r != DvOk)
            state.SkipWithError("DvGenerateMask failed");
    }
    DvFinish(library);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_MB"] = double(usage.ru_maxrss) / 1024.0;
}

} // namespace

BENCHMARK(GenerateMask20MegapixelsFactor2)->Unit(benchmark::kMillisecond)->Iterations(2);

BENCHMARK_MAIN();
