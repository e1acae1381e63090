// Quality of the whole mask pipeline through the call interface on composites with known
// alpha: a session over the composite (reduced at factor 2), its analysis, the trimap as the
// classification (Keep 255, Delete 0, Blend the rest), DvGenerateMask at full resolution, and
// SAD and MSE over the trimap's unknown band.
// Usage: measure_generatemask [directory of the composites] [--stand-in]
// --stand-in skips the analysis (a constant width map stands in for it).
#include "session/session.h"
#include "dravik.h"

#include "benchsupport.h"

#include <boost/gil.hpp>
#include <boost/gil/extension/io/png.hpp>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace gil = boost::gil;

namespace {

struct Quality : benchsupport::AlphaError {
    int result = -1;
};

Quality measure(const std::string& dir, const std::string& fg, const std::string& bg, int f, bool standIn)
{
    gil::rgba8_image_t composite;
    gil::gray8_image_t trimapImage, truthImage;
    gil::read_and_convert_image(dir + "/" + fg + "__" + bg + ".png", composite, gil::png_tag());
    gil::read_and_convert_image(dir + "/" + fg + ".trimap.png", trimapImage, gil::png_tag());
    gil::read_and_convert_image(dir + "/" + fg + ".gt.png", truthImage, gil::png_tag());
    const auto cv = gil::const_view(composite);
    const auto tv = gil::const_view(trimapImage);
    const auto gv = gil::const_view(truthImage);
    const int rows = int(cv.height()) / f * f, cols = int(cv.width()) / f * f;

    std::vector<unsigned char> source(std::size_t(rows) * cols * 4);
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j)
            for (int c = 0; c < 4; ++c)
                source[(std::size_t(i) * cols + j) * 4 + c] = c == 3 ? 255 : cv(j, i)[c];
    std::vector<unsigned char> cut = source;
    const DvImageDesc full{cols, rows, unsigned(cols * 4), DvPixelRgba8, source.data()};
    const DvImageDesc cutDesc{cols, rows, unsigned(cols * 4), DvPixelRgba8, cut.data()};

    const int wr = rows / f, wc = cols / f;
    std::vector<unsigned char> working(std::size_t(wr) * wc * 4);
    const DvImageDesc session{wc, wr, unsigned(wc * 4), DvPixelRgba8, working.data()};
    if (f == 1)
        working = source;
    else
        DvScaleImage(session, full);

    std::vector<unsigned char> marks(std::size_t(wr) * wc);
    for (int i = 0; i < wr; ++i)
        for (int j = 0; j < wc; ++j) {
            bool allKeep = true, allDelete = true;
            for (int u = 0; u < f; ++u)
                for (int v = 0; v < f; ++v) {
                    const int t = tv(j * f + v, i * f + u)[0];
                    allKeep = allKeep && t == 255;
                    allDelete = allDelete && t == 0;
                }
            marks[std::size_t(i) * wc + j] = allKeep ? 2 : allDelete ? 4 : 8;
        }

    Quality q;
    DvLibrary* library = DvInit();
    DvSession* s = DvBeginSession(library, session);
    DvImage* status = DvNewStatusImage(library, session);
    classification::Bytes widths;
    if (standIn) {
        widths.resize(wr, wc);
        widths = 3;
        static_cast<DvInSession*>(s)->classification().widthMap.reference(widths);
        s->analysed = 1;
    } else if ((q.result = DvAnalyseImage(s, nullptr)) != DvOk) {
        DvFinish(library);
        return q;
    }
    const DvSelection all{0, 0, {wc, wr, unsigned(wc), DvPixelStatus, marks.data()}};
    DvSetStatus(s, status, &all);
    q.result = DvGenerateMask(s, nullptr, cutDesc, full, status, nullptr, 0, 1.f, 0.5f, nullptr, 0);
    DvFinish(library);

    static_cast<benchsupport::AlphaError&>(q) = benchsupport::bandError(
        rows, cols, [&](int i, int j) { return int(tv(j, i)[0]); },
        [&](int i, int j) { return int(cut[(std::size_t(i) * cols + j) * 4 + 3]); },
        [&](int i, int j) { return int(gv(j, i)[0]); });
    return q;
}

} // namespace

int main(int argc, char** argv)
{
    std::string dir = "../shared/testdata/matting";
    bool standIn = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--stand-in") == 0)
            standIn = true;
        else
            dir = argv[i];
    }
    const char* fgs[] = {"lion", "rambutan", "crane"};
    const char* bgs[] = {"building", "baboon"};
    std::printf("%-20s %6s %6s %9s %9s %8s\n", "composite", "factor", "result", "SAD", "MSE", "band px");
    for (const char* fg : fgs)
        for (const char* bg : bgs)
            for (int f : {1, 2}) {
                const Quality q = measure(dir, fg, bg, f, standIn);
                std::printf("%-20s %6d %6d %9.3f %9.5f %8ld\n", (std::string(fg) + "__" + bg).c_str(), f,
                            q.result, q.sad, q.mse, q.band);
            }
    return 0;
}
