// Quality of the whole mask pipeline through the call interface on composites with known
// alpha: a session over the composite (reduced at factor 2), its analysis, the trimap as the
// classification (Keep 255, Delete 0, Blend the rest), DvGenerateMask at full resolution, and
// SAD and MSE over the trimap's unknown band.
// Usage: measure_generatemask [directory of the composites] [--stand-in] [--depths]
// --stand-in skips the analysis (a constant width map stands in for it). --depths hands the
// composite over at 8 bits and as both 16-bit types, for the whole-image core and for one
// exclusive matting patch and mask-core patch over the image, and counts the pixels whose
// alpha differs from the 8-bit one by more than 2 and more than 16 levels (of 255).
#include "session/session.h"
#include "dravik.h"

#include "benchsupport.h"

#include <boost/gil.hpp>
#include <boost/gil/extension/io/png.hpp>

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace gil = boost::gil;

namespace {

struct Quality : benchsupport::AlphaError {
    int result = -1;
    std::vector<double> alpha;  // per full-resolution pixel, in levels of 255
};

// The composite, its trimap and true alpha, and a session over it at factor f with the trimap
// as its classification.
struct Scene {
    gil::rgba8_image_t composite;
    gil::gray8_image_t trimapImage, truthImage;
    int rows = 0, cols = 0, f = 1;
    std::vector<unsigned char> source, working, marks;
    classification::Bytes widths;
    DvLibrary* library = nullptr;
    DvSession* session = nullptr;
    DvImage* status = nullptr;
    int analysed = -1;

    Scene(const std::string& dir, const std::string& fg, const std::string& bg, int factor, bool standIn)
        : f(factor)
    {
        gil::read_and_convert_image(dir + "/" + fg + "__" + bg + ".png", composite, gil::png_tag());
        gil::read_and_convert_image(dir + "/" + fg + ".trimap.png", trimapImage, gil::png_tag());
        gil::read_and_convert_image(dir + "/" + fg + ".gt.png", truthImage, gil::png_tag());
        const auto cv = gil::const_view(composite);
        const auto tv = gil::const_view(trimapImage);
        rows = int(cv.height()) / f * f;
        cols = int(cv.width()) / f * f;

        source.resize(std::size_t(rows) * cols * 4);
        for (int i = 0; i < rows; ++i)
            for (int j = 0; j < cols; ++j)
                for (int c = 0; c < 4; ++c)
                    source[(std::size_t(i) * cols + j) * 4 + c] = c == 3 ? 255 : cv(j, i)[c];
        const DvImageDesc full{cols, rows, unsigned(cols * 4), DvPixelRgba8, source.data()};

        const int wr = rows / f, wc = cols / f;
        working.resize(std::size_t(wr) * wc * 4);
        const DvImageDesc sessionImage{wc, wr, unsigned(wc * 4), DvPixelRgba8, working.data()};
        if (f == 1)
            working = source;
        else
            DvScaleImage(sessionImage, full);

        marks.resize(std::size_t(wr) * wc);
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

        library = DvInit();
        session = DvBeginSession(library, sessionImage);
        status = DvNewStatusImage(library, sessionImage);
        if (standIn) {
            widths.resize(wr, wc);
            widths = 3;
            static_cast<DvInSession*>(session)->classification().widthMap.reference(widths);
            session->analysed = 1;
            analysed = DvOk;
        } else {
            analysed = DvAnalyseImage(session, nullptr);
        }
    }
    ~Scene() { DvFinish(library); }

    // The cut-out with the source handed over as `pixelType`; method 0 is the whole-image core,
    // 1 and 3 one exclusive patch over the whole image.
    Quality measure(int pixelType, int method)
    {
        Quality q;
        if ((q.result = analysed) != DvOk)
            return q;
        const int full = pixelType == DvPixelRgba16 ? 65535 : pixelType == DvPixelRgba16H ? 32768 : 255;
        std::vector<std::uint16_t> wide(source.size());
        for (std::size_t i = 0; i < source.size(); ++i)
            wide[i] = std::uint16_t((source[i] * full + 127) / 255);
        std::vector<unsigned char> cut8 = source;
        std::vector<std::uint16_t> cut16 = wide;
        const bool narrow = pixelType == DvPixelRgba8;
        const unsigned stride = unsigned(cols * 4 * (narrow ? 1 : 2));
        const DvImageDesc src{cols, rows, stride, pixelType, narrow ? (void*)source.data() : (void*)wide.data()};
        const DvImageDesc cutDesc{cols, rows, stride, pixelType, narrow ? (void*)cut8.data() : (void*)cut16.data()};

        const int wr = rows / f, wc = cols / f;
        const DvSelection all{0, 0, {wc, wr, unsigned(wc), DvPixelStatus, marks.data()}};
        DvSetStatus(session, status, &all);
        DvMaskPatch patch{};
        patch.area = {0, 0, {wc, wr, unsigned(wc), DvPixelStatus, nullptr}};
        patch.exclusive = 1;
        patch.method = (unsigned char)method;
        patch.valueA = patch.valueB = 0.5f;
        patch.level = 0.5f;
        q.result = DvGenerateMask(session, nullptr, cutDesc, src, status, nullptr, 0, 1.f, 0.5f,
                                  method ? &patch : nullptr, method ? 1 : 0);

        q.alpha.resize(std::size_t(rows) * cols);
        for (std::size_t i = 0; i < q.alpha.size(); ++i)
            q.alpha[i] = (narrow ? double(cut8[i * 4 + 3]) : double(cut16[i * 4 + 3])) * 255.0 / full;
        const auto tv = gil::const_view(trimapImage);
        const auto gv = gil::const_view(truthImage);
        static_cast<benchsupport::AlphaError&>(q) = benchsupport::bandError(
            rows, cols, [&](int i, int j) { return int(tv(j, i)[0]); },
            [&](int i, int j) { return q.alpha[std::size_t(i) * cols + j]; },
            [&](int i, int j) { return int(gv(j, i)[0]); });
        return q;
    }
};

// Pixels whose alphas differ by more than `levels` (of 255).
long differing(const Quality& a, const Quality& b, double levels)
{
    long n = 0;
    for (std::size_t i = 0; i < a.alpha.size() && i < b.alpha.size(); ++i)
        n += std::fabs(a.alpha[i] - b.alpha[i]) > levels;
    return n;
}

} // namespace

int main(int argc, char** argv)
{
    std::string dir = "../shared/testdata/matting";
    bool standIn = false, depths = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--stand-in") == 0)
            standIn = true;
        else if (std::strcmp(argv[i], "--depths") == 0)
            depths = true;
        else
            dir = argv[i];
    }
    const char* fgs[] = {"lion", "rambutan", "crane"};
    const char* bgs[] = {"building", "baboon"};
    if (!depths) {
        std::printf("%-20s %6s %6s %9s %9s %8s\n", "composite", "factor", "result", "SAD", "MSE", "band px");
        for (const char* fg : fgs)
            for (const char* bg : bgs)
                for (int f : {1, 2}) {
                    Scene scene(dir, fg, bg, f, standIn);
                    const Quality q = scene.measure(DvPixelRgba8, 0);
                    std::printf("%-20s %6d %6d %9.3f %9.5f %8ld\n", (std::string(fg) + "__" + bg).c_str(), f,
                                q.result, q.sad, q.mse, q.band);
                }
        return 0;
    }
    std::printf("%-20s %6s %6s %4s %6s %9s %9s %9s %9s\n", "composite", "factor", "method", "type", "result",
                "SAD", "MSE", ">2 of 8b", ">16 of 8b");
    for (const char* fg : fgs)
        for (const char* bg : bgs)
            for (int f : {1, 2}) {
                Scene scene(dir, fg, bg, f, standIn);
                for (int method : {0, 1, 3}) {
                    const Quality q8 = scene.measure(DvPixelRgba8, method);
                    for (int type : {DvPixelRgba8, DvPixelRgba16, DvPixelRgba16H}) {
                        const Quality q = type == DvPixelRgba8 ? q8 : scene.measure(type, method);
                        std::printf("%-20s %6d %6d %4d %6d %9.3f %9.5f %9ld %9ld\n",
                                    (std::string(fg) + "__" + bg).c_str(), f, method, type, q.result, q.sad,
                                    q.mse, differing(q, q8, 2.0), differing(q, q8, 16.0));
                    }
                }
            }
    return 0;
}
