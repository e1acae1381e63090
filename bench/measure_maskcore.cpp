// Quality of the mask core on composites with known alpha: the trimap's Keep (255), Delete (0)
// and unknown band become the classification, the core fills the band, and SAD and MSE are
// measured over the band. Usage: measure_maskcore [directory of the composites].
#include "mask/markdistance.h"
#include "mask/maskcore.h"

#include "benchsupport.h"

#include <boost/gil.hpp>
#include <boost/gil/extension/io/png.hpp>

#include <cmath>
#include <cstdio>
#include <string>

using namespace classification;
namespace gil = boost::gil;

namespace {

using Quality = benchsupport::AlphaError;

template <typename View>
blitz::Array<unsigned char, 2> greyArray(const View& v)
{
    blitz::Array<unsigned char, 2> a(v.height(), v.width());
    for (int i = 0; i < int(v.height()); ++i)
        for (int j = 0; j < int(v.width()); ++j)
            a(i, j) = v(j, i)[0];
    return a;
}

// The composite at factor f (f = 1: itself; f = 2: its 2 x 2 means as the working image) and
// the status from the trimap at the working resolution.
Quality measure(const std::string& dir, const std::string& fg, const std::string& bg, int f, int model,
                unsigned char level)
{
    gil::rgb8_image_t composite;
    gil::gray8_image_t trimapImage, truthImage;
    gil::read_and_convert_image(dir + "/" + fg + "__" + bg + ".png", composite, gil::png_tag());
    gil::read_and_convert_image(dir + "/" + fg + ".trimap.png", trimapImage, gil::png_tag());
    gil::read_and_convert_image(dir + "/" + fg + ".gt.png", truthImage, gil::png_tag());
    const auto cv = gil::const_view(composite);
    const blitz::Array<unsigned char, 2> trimap = greyArray(gil::const_view(trimapImage));
    const blitz::Array<unsigned char, 2> truth = greyArray(gil::const_view(truthImage));

    const int rows = int(cv.height()) / f * f, cols = int(cv.width()) / f * f;
    ColourImage<unsigned char> source(rows, cols), out(rows, cols);
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) {
            const auto p = cv(j, i);
            source(i, j) = Colour<unsigned char>(p[0], p[1], p[2], 255);
        }
    out = Colour<unsigned char>(0, 0, 0, 0);

    const int wr = rows / f, wc = cols / f;
    ColourImage<unsigned char> working(wr, wc);
    StatusByteArray status(wr, wc), blend(wr, wc);
    blend = level;
    for (int i = 0; i < wr; ++i)
        for (int j = 0; j < wc; ++j) {
            int sum[3] = {0, 0, 0};
            bool allKeep = true, allDelete = true;
            for (int u = 0; u < f; ++u)
                for (int v = 0; v < f; ++v) {
                    for (int c = 0; c < 3; ++c)
                        sum[c] += source(i * f + u, j * f + v)[c];
                    allKeep = allKeep && trimap(i * f + u, j * f + v) == 255;
                    allDelete = allDelete && trimap(i * f + u, j * f + v) == 0;
                }
            working(i, j) = Colour<unsigned char>(sum[0] / (f * f), sum[1] / (f * f), sum[2] / (f * f), 255);
            status(i, j) = (allKeep ? 2 : allDelete ? 4 : 8) | 128;
        }
    MarkDistances distances;
    computeMarkDistances(distances, status, ProgressRange());
    const Rect r{0, 0, wr - 1, wc - 1};
    computeMaskCore<unsigned char>({working, 1.f}, out, source, working, status, r, r,
                                   {float(f), float(f)}, blend, distances, model, 0.f, ProgressRange());

    return benchsupport::bandError(
        rows, cols, [&](int i, int j) { return int(trimap(i, j)); }, [&](int i, int j) { return int(out(i, j)[3]); },
        [&](int i, int j) { return int(truth(i, j)); });
}

} // namespace

int main(int argc, char** argv)
{
    const std::string dir = argc > 1 ? argv[1] : "../shared/testdata/matting";
    const char* fgs[] = {"lion", "rambutan", "crane"};
    const char* bgs[] = {"building", "baboon"};
    std::printf("%-20s %6s %6s %5s %9s %9s %8s\n", "composite", "factor", "model", "level", "SAD", "MSE",
                "band px");
    for (const char* fg : fgs)
        for (const char* bg : bgs)
            for (int f : {1, 2})
                for (int model : {2, 1})
                    for (int level : {0, 128}) {
                        const Quality q = measure(dir, fg, bg, f, model, (unsigned char)level);
                        std::printf("%-20s %6d %6d %5d %9.3f %9.5f %8ld\n",
                                    (std::string(fg) + "__" + bg).c_str(), f, model, level, q.sad,
                                    q.mse, q.band);
                    }
    return 0;
}
