// The engine end to end on a real photograph: session, analysis, a Keep and a Delete stroke,
// and the cut-out for every pixel type, written as PNG files with alpha.
#include "testimage.h"

#include "dravik.h"

#include <boost/gil.hpp>
#include <boost/gil/extension/io/png.hpp>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace gil = boost::gil;

namespace {

constexpr int keepLeft = 200, keepTop = 150, deleteLeft = 10, deleteTop = 10, strokeSize = 24;

template <typename T>
struct Counts {
    long opaque = 0, clear = 0, soft = 0;
};

template <typename T>
Counts<T> countAlpha(const std::vector<T>& samples, int full)
{
    Counts<T> c;
    for (std::size_t i = 3; i < samples.size(); i += 4) {
        if (samples[i] == full)
            ++c.opaque;
        else if (samples[i] == 0)
            ++c.clear;
        else
            ++c.soft;
    }
    return c;
}

template <typename T>
void expectStrokes(const std::vector<T>& samples, int width, int full)
{
    const auto alpha = [&](int x, int y) { return int(samples[(std::size_t(y) * width + x) * 4 + 3]); };
    for (int d = 0; d < strokeSize; d += 5) {
        EXPECT_EQ(alpha(keepLeft + d, keepTop + d), full);
        EXPECT_EQ(alpha(deleteLeft + d, deleteTop + d), 0);
    }
    const Counts<T> c = countAlpha(samples, full);
    EXPECT_GT(c.opaque, 0);
    EXPECT_GT(c.clear, 0);
    EXPECT_GT(c.soft, 0);  // the band between the strokes
}

template <typename View>
void writePng(const std::string& name, const View& view)
{
    const std::string path = ::testing::TempDir() + name;
    gil::write_view(path, view, gil::png_tag());
}

} // namespace

TEST(GenerateMaskPhoto, AnAnalysedPhotographIsCutOutForEveryPixelType)
{
    testsupport::RgbaImage8 photo = testsupport::loadRgba8("chelsea.png");
    const testsupport::RgbaImage16 photo16 = testsupport::loadRgba16("chelsea16.png");
    ASSERT_EQ(photo.width, photo16.width);
    const int w = photo.width, h = photo.height;
    DvLibrary* library = DvInit();
    const DvImageDesc d{w, h, photo.strideBytes(), DvPixelRgba8, photo.samples.data()};
    DvSession* session = DvBeginSession(library, d);
    DvImage* status = DvNewStatusImage(library, d);
    ASSERT_TRUE(session && status);
    const DvResult analysed = DvAnalyseImage(session, nullptr);
    if (analysed != DvOk) {
        DvFinish(library);
        GTEST_SKIP() << "the analysis is not available (" << analysed << ")";
    }
    const DvSelection keep{keepLeft, keepTop, {strokeSize, strokeSize, unsigned(strokeSize), DvPixelStatus, nullptr}};
    const DvSelection drop{deleteLeft, deleteTop, {strokeSize, strokeSize, unsigned(strokeSize), DvPixelStatus, nullptr}};
    ASSERT_EQ(DvSelect(session, status, &keep, 2, 0x0F, 0, 0.f, nullptr), DvOk);
    ASSERT_EQ(DvSelect(session, status, &drop, 4, 0x0F, 0, 0.f, nullptr), DvOk);

    {
        std::vector<std::uint8_t> cut = photo.samples;
        const DvImageDesc cd{w, h, photo.strideBytes(), DvPixelRgba8, cut.data()};
        ASSERT_EQ(DvGenerateMask(session, nullptr, cd, d, status, nullptr, 0, 1.f, 0.5f, nullptr, 0), DvOk);
        expectStrokes(cut, w, 255);
        writePng("chelsea_cutout8.png",
                 gil::interleaved_view(w, h, reinterpret_cast<const gil::rgba8_pixel_t*>(cut.data()), w * 4));
    }
    for (const int type : {DvPixelRgba16, DvPixelRgba16H}) {
        const int full = type == DvPixelRgba16 ? 65535 : 32768;
        std::vector<std::uint16_t> source = photo16.samples;
        for (auto& s : source)
            s = std::uint16_t((std::uint32_t(s) * full + 32767) / 65535);
        std::vector<std::uint16_t> cut = source;
        const DvImageDesc sd{w, h, photo16.strideBytes(), type, source.data()};
        const DvImageDesc cd{w, h, photo16.strideBytes(), type, cut.data()};
        ASSERT_EQ(DvGenerateMask(session, nullptr, cd, sd, status, nullptr, 0, 1.f, 0.5f, nullptr, 0), DvOk);
        expectStrokes(cut, w, full);
        if (type == DvPixelRgba16)
            writePng("chelsea_cutout16.png",
                     gil::interleaved_view(w, h, reinterpret_cast<const gil::rgba16_pixel_t*>(cut.data()),
                                           w * 8));
    }
    EXPECT_EQ(DvFinish(library), DvOk);
}
