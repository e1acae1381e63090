// The colour display: selection gestures through the window, edge drags forwarded as the panel
// forwards them, picked colours, resolution and view changes, painting over a real photograph
// in the model, the background menu, and the highlight the status array computes from the
// display's signals.

#include "colour/ColourDisplay.h"
#include "document/GmColor.h"
#include "document/GmModel.h"
#include "document/GmStatusArray.h"
#include "document/KsAppPreferences.h"

#include "ModelImage.h"
#include "PopupMenuCloser.h"
#include "Wait.h"
#include "WidgetInput.h"
#include "WorkingPhoto.h"

#include "dravik.h"

#include <colourSpace>

#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QTimer>

#include <gtest/gtest.h>

#include <bitset>
#include <memory>
#include <vector>

using testsupport::mousePress;
using testsupport::mouseClick;
using testsupport::mouseMove;
using testsupport::mouseRelease;
using testsupport::waitUntil;

namespace {

using Bins = std::bitset<256>;
using Channel = Ht::colour::channel;

Bins binsOf(int low, int high)
{
    Bins bins;
    for (int i = low; i <= high; ++i)
        bins.set(size_t(i));
    return bins;
}

QImage maskOf(int hLow, int hHigh, int vLow, int vHigh)
{
    QImage mask(256, 256, QImage::Format_Mono);
    mask.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    mask.fill(0);
    for (int v = vLow; v <= vHigh; ++v)
        for (int h = hLow; h <= hHigh; ++h)
            mask.setPixel(h, v, 1);
    return mask;
}

// The values a pointer position stands for, on a display of the given extent.
int valueAcross(int x, int width)
{
    return int(x * (1.0 / width) * 255.0);
}
int valueUp(int y, int height)
{
    return int((height - y) * (1.0 / height) * 255.0);
}

struct Emission {
    enum Kind { Flags, Map, Cleared } kind;
    Bins bins;
    QImage map;
    int horizontal = -1;
    int vertical = -1;
    quint8 statuses = 0;
};

// Every signal of the display, in order.
class Recorder {
public:
    explicit Recorder(ColourDisplay* display)
    {
        QObject::connect(display,
                         qOverload<const std::vector<bool>&, Channel, quint8>(&ColourDisplay::highlightChanged),
                         display, [this](const std::vector<bool>& flags, Channel channel, quint8 statuses) {
                             Emission e{Emission::Flags, {}, {}, channel, -1, statuses};
                             EXPECT_EQ(flags.size(), 256u);
                             for (size_t i = 0; i < flags.size() && i < 256; ++i)
                                 e.bins[i] = flags[i];
                             events.push_back(e);
                         });
        QObject::connect(display,
                         qOverload<const QImage&, Channel, Channel, quint8>(&ColourDisplay::highlightChanged),
                         display, [this](const QImage& map, Channel h, Channel v, quint8 statuses) {
                             events.push_back({Emission::Map, {}, map, h, v, statuses});
                         });
        QObject::connect(display, &ColourDisplay::unHighlit, display,
                         [this] { events.push_back({Emission::Cleared, {}, {}, -1, -1, 0}); });
        QObject::connect(display, &ColourDisplay::clickInColourDisplay, display, [this] { ++clicks; });
    }

    int highlights() const
    {
        int n = 0;
        for (const Emission& e : events)
            n += e.kind != Emission::Cleared;
        return n;
    }
    const Emission& last() const { return events.back(); }
    void clear() { events.clear(); }

    std::vector<Emission> events;
    int clicks = 0;
};

// Forwards a left-button drag that starts in the widget it watches to the display, as the
// colour workspace does for its edge strips.
class EdgeForwarder : public QObject {
public:
    EdgeForwarder(ColourDisplay* display, int edge) : m_display(display), m_edge(edge) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
            return false;
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (type == QEvent::MouseButtonPress) {
            m_dragging = mouse->button() == Qt::LeftButton;
            if (m_dragging)
                m_display->startEdgeDrag(m_edge);
            return m_dragging;
        }
        if (!m_dragging)
            return false;
        QMouseEvent forwarded(type, m_display->mapFromGlobal(mouse->globalPos()), mouse->globalPos(), mouse->button(),
                              mouse->buttons(), mouse->modifiers());
        QCoreApplication::sendEvent(m_display, &forwarded);
        if (type == QEvent::MouseButtonRelease)
            m_dragging = false;
        return true;
    }

private:
    ColourDisplay* m_display;
    int m_edge;
    bool m_dragging = false;
};

class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// A photograph of the test data as the model's source, its working image at the given divisor
// and a status record over bytes of the test's own, installed in the status array.
class PhotoModel {
public:
    explicit PhotoModel(const char* name, int divisor = 1)
        : m_photo(testsupport::workingPhoto(name, 2))
    {
        GmModel::instance()->chooseResolutionForPixelCount(divisor == 1 ? 1 : 4000001);
        m_image = std::make_unique<KsSourceImage>(
            KsSourceImage::View8{m_photo.width(), m_photo.height(), m_photo.bits(), m_photo.bytesPerLine()},
            QStringLiteral("photo"));
        GmModelTestAccess::setSource(m_image.get());
        m_image->updateWorkingImage();
        const QImage& working = m_image->workingImage();
        const QImage statuses = testsupport::statusImage(working.size());
        m_stride = (working.width() + 3) & ~3;
        m_bytes.assign(size_t(m_stride) * working.height(), 0);
        for (int y = 0; y < working.height(); ++y)
            std::copy_n(statuses.constScanLine(y), working.width(), m_bytes.data() + size_t(y) * m_stride);
        m_record.width = working.width();
        m_record.height = working.height();
        m_record.stride = unsigned(m_stride);
        m_record.pixelType = DvPixelStatus;
        m_record.data = m_bytes.data();
        array()->setStatusImage(&m_record);
    }
    ~PhotoModel()
    {
        GmStatusArray::setPatchMaskLookup(nullptr);
        GmModelTestAccess::setSource(nullptr);
        GmModel::destroy();
    }
    PhotoModel(const PhotoModel&) = delete;
    PhotoModel& operator=(const PhotoModel&) = delete;

    GmStatusArray* array() const { return GmModel::instance()->statusArray(); }
    const QImage& working() const { return m_image->workingImage(); }
    const QImage& fullPicture() const { return m_photo; }
    // Writes the engine's bytes, as a command would, without telling the array.
    void fillEngineBytes(uchar value) { std::fill(m_bytes.begin(), m_bytes.end(), value); }

private:
    QImage m_photo;
    std::unique_ptr<KsSourceImage> m_image;
    int m_stride = 0;
    std::vector<uchar> m_bytes;
    DvImage m_record{};
};

class ColourDisplayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_preferences = std::make_unique<KsAppPreferences>();
        m_window = std::make_unique<QWidget>();
        m_window->resize(400, 400);
        display = new ColourDisplay(m_window.get());
        display->setGeometry(72, 72, 256, 256);
        recorder = std::make_unique<Recorder>(display);
        ASSERT_TRUE(testsupport::showForInput(display));
    }
    void TearDown() override
    {
        recorder.reset();
        m_window.reset();
        m_photo.reset();
        GmModel::destroy();
        m_preferences.reset();
    }

    PhotoModel& photo(const char* name = "chelsea.png", int divisor = 1)
    {
        m_photo = std::make_unique<PhotoModel>(name, divisor);
        return *m_photo;
    }
    QWidget* window() const { return m_window.get(); }
    GmColor* highlight() const { return m_preferences->color(KsAppPreferences::ColorWorkspaceHighlightColor); }

    void drag(QPoint from, QPoint to, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        mousePress(display, from, Qt::LeftButton, modifiers);
        mouseMove(display, (from + to) / 2, modifiers);
        mouseMove(display, to, modifiers);
        mouseRelease(display, to, Qt::LeftButton, modifiers);
    }

    QImage grab() const { return display->grab().toImage().convertToFormat(QImage::Format_RGB32); }

    ColourDisplay* display = nullptr;
    std::unique_ptr<Recorder> recorder;

private:
    std::unique_ptr<KsAppPreferences> m_preferences;
    std::unique_ptr<QWidget> m_window;
    std::unique_ptr<PhotoModel> m_photo;
};

// --- Histogram gestures (5 bits) -----------------------------------------------------------

TEST_F(ColourDisplayTest, AClickAtTheRightEdgeSelectsTheLastBin)
{
    // The last pixel column is the right edge a real pointer can reach.
    mousePress(display, {255, 100});
    mouseRelease(display, {255, 100});
    EXPECT_EQ(recorder->clicks, 1);
    EXPECT_EQ(display->selectedBins(), binsOf(248, 255));
    EXPECT_FALSE(display->isSelectionEmpty());

    // A new selection replaces the old: the clearing first, then one highlight carrying the bin.
    ASSERT_EQ(recorder->events.size(), 3u);
    EXPECT_EQ(recorder->events[0].kind, Emission::Cleared);
    EXPECT_EQ(recorder->events[1].bins, Bins());
    EXPECT_EQ(recorder->events[2].kind, Emission::Flags);
    EXPECT_EQ(recorder->events[2].bins, binsOf(248, 255));
    EXPECT_EQ(recorder->events[2].horizontal, Ht::colour::Hue);
    EXPECT_EQ(recorder->events[2].statuses, 15);

    // Added with Shift to an empty selection: exactly one highlight, nothing cleared.
    display->unHighlight();
    recorder->clear();
    mousePress(display, {0, 10}, Qt::LeftButton, Qt::ShiftModifier);
    mouseRelease(display, {0, 10}, Qt::LeftButton, Qt::ShiftModifier);
    ASSERT_EQ(recorder->events.size(), 1u);
    EXPECT_EQ(recorder->last().bins, binsOf(0, 7));
}

TEST_F(ColourDisplayTest, RemovingOrRepeatingChangesNothingAndEmitsNothing)
{
    drag({10, 50}, {40, 60});
    const Bins selected = display->selectedBins();
    ASSERT_EQ(selected, binsOf(8, 39));
    recorder->clear();

    // Alt over bins that are not selected: the result is unchanged.
    drag({150, 80}, {220, 80}, Qt::AltModifier);
    EXPECT_EQ(display->selectedBins(), selected);
    EXPECT_TRUE(recorder->events.empty());

    // The same additive gesture twice: the second announces nothing.
    drag({100, 30}, {130, 40}, Qt::ShiftModifier);
    EXPECT_GT(recorder->highlights(), 0);
    recorder->clear();
    drag({100, 30}, {130, 40}, Qt::ShiftModifier);
    EXPECT_TRUE(recorder->events.empty());
    EXPECT_EQ(display->selectedBins(), selected | binsOf(96, 135));
    mouseClick(display, {230, 30}, Qt::LeftButton, Qt::ShiftModifier);
    mouseClick(display, {230, 30}, Qt::LeftButton, Qt::ShiftModifier);
    EXPECT_EQ(recorder->highlights(), 1);

    // Alt over selected bins takes them out, Shift and Alt together add.
    drag({20, 30}, {30, 30}, Qt::AltModifier);
    EXPECT_EQ(display->selectedBins(), binsOf(8, 15) | binsOf(32, 39) | binsOf(96, 135) | binsOf(224, 231));
    drag({200, 30}, {200, 30}, Qt::AltModifier | Qt::ShiftModifier);
    EXPECT_EQ(display->selectedBins() & binsOf(192, 199), binsOf(192, 199));
    EXPECT_EQ(recorder->last().bins, display->selectedBins());
}

TEST_F(ColourDisplayTest, TheHighlightFollowsTheDragAndTheReleaseAddsNothing)
{
    mousePress(display, {128, 128});
    mouseMove(display, {160, 128});
    ASSERT_FALSE(recorder->events.empty());
    EXPECT_EQ(recorder->last().bins, binsOf(120, 159));
    // Back over the start: the span shrinks again while the drag goes on.
    mouseMove(display, {100, 128});
    EXPECT_EQ(recorder->last().bins, binsOf(96, 127));
    const size_t seen = recorder->events.size();
    mouseRelease(display, {100, 128});
    EXPECT_EQ(recorder->events.size(), seen);
    EXPECT_EQ(display->selectedBins(), binsOf(96, 127));

    // A right button neither starts nor continues a gesture.
    testsupport::PopupMenuCloser closer;
    mousePress(display, {10, 10}, Qt::RightButton);
    mouseRelease(display, {10, 10}, Qt::RightButton);
    EXPECT_EQ(recorder->events.size(), seen);
    EXPECT_EQ(recorder->clicks, 1);
}

TEST_F(ColourDisplayTest, UnHighlightAnnouncesTheClearingThenAnEmptySelection)
{
    drag({10, 10}, {90, 10});
    recorder->clear();
    display->unHighlight();
    ASSERT_EQ(recorder->events.size(), 2u);
    EXPECT_EQ(recorder->events[0].kind, Emission::Cleared);
    EXPECT_EQ(recorder->events[1].kind, Emission::Flags);
    EXPECT_TRUE(recorder->events[1].bins.none());
    EXPECT_TRUE(display->isSelectionEmpty());
    // Even with nothing left to clear.
    display->unHighlight();
    EXPECT_EQ(recorder->events.size(), 4u);
}

TEST_F(ColourDisplayTest, APointerBeyondTheEdgesCountsAsTheLastValue)
{
    // At 8 bits the last pixel column and the edge itself give different values.
    display->setColourBits(8);
    ASSERT_EQ(valueAcross(255, 256), 254);
    drag({200, 100}, {320, 100});
    EXPECT_EQ(display->selectedBins(), binsOf(valueAcross(200, 256), 255));
    drag({50, 100}, {-40, 100});
    EXPECT_EQ(display->selectedBins(), binsOf(0, valueAcross(50, 256)));

    display->setMode(ColourDisplay::ColourMapMode);
    display->unHighlight();
    drag({100, 100}, {120, -30});
    EXPECT_EQ(display->selectedMask(), maskOf(valueAcross(100, 256), valueAcross(120, 256), valueUp(100, 256), 255));
    drag({100, 100}, {120, 300});
    EXPECT_EQ(display->selectedMask(), maskOf(valueAcross(100, 256), valueAcross(120, 256), 0, valueUp(100, 256)));
}

TEST_F(ColourDisplayTest, AForwardedMoveWithoutAHeldButtonStartsItsOwnGesture)
{
    QMouseEvent move(QEvent::MouseMove, QPoint(70, 20), display->mapToGlobal(QPoint(70, 20)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    ASSERT_EQ(QGuiApplication::mouseButtons(), Qt::NoButton);
    QCoreApplication::sendEvent(display, &move);
    EXPECT_EQ(recorder->clicks, 1);
    EXPECT_EQ(recorder->last().bins, binsOf(64, 71));

    // Without the left button among its buttons a move is ignored.
    const size_t seen = recorder->events.size();
    QMouseEvent hover(QEvent::MouseMove, QPoint(200, 20), display->mapToGlobal(QPoint(200, 20)), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(display, &hover);
    EXPECT_EQ(recorder->events.size(), seen);
}

// --- Two-dimensional gestures --------------------------------------------------------------

TEST_F(ColourDisplayTest, AnEdgeDragFromTheLeftSelectsWholeColumns)
{
    display->setMode(ColourDisplay::ColourMapMode);
    EdgeForwarder forwarder(display, 3);
    window()->installEventFilter(&forwarder);

    // Pressed in the strip left of the display, dragged into it.
    mousePress(window(), {60, 150});
    mouseMove(window(), {72 + 50, 150});
    mouseMove(window(), {72 + 100, 120});
    mouseRelease(window(), {72 + 100, 120});

    const QImage expected = maskOf(0, binHigh(valueAcross(100, 256), 3), 0, 255);
    EXPECT_EQ(recorder->last().kind, Emission::Map);
    EXPECT_EQ(recorder->last().map, expected);
    EXPECT_EQ(display->selectedMask(), expected);
    EXPECT_EQ(recorder->clicks, 0);

    // The other edges pin the other sides.
    struct Case {
        int edge;
        QPoint at;  // display coordinates
        QImage expected;
    };
    const Case cases[] = {
        {0, {40, 100}, maskOf(0, 255, binLow(valueUp(100, 256), 3), 255)},
        {1, {40, 100}, maskOf(binLow(valueAcross(40, 256), 3), 255, 0, 255)},
        {2, {40, 100}, maskOf(0, 255, 0, binHigh(valueUp(100, 256), 3))},
    };
    for (const Case& c : cases) {
        window()->removeEventFilter(&forwarder);
        EdgeForwarder edge(display, c.edge);
        window()->installEventFilter(&edge);
        mousePress(window(), {60, 20});
        mouseMove(window(), QPoint(72, 72) + c.at);
        mouseRelease(window(), QPoint(72, 72) + c.at);
        EXPECT_EQ(display->selectedMask(), c.expected) << c.edge;
        window()->removeEventFilter(&edge);
    }
}

TEST_F(ColourDisplayTest, APressDragSelectsTheBinAlignedRectangle)
{
    display->setMode(ColourDisplay::ColourMapMode);
    drag({40, 200}, {150, 60});
    const QImage expected = maskOf(binLow(valueAcross(40, 256), 3), binHigh(valueAcross(150, 256), 3),
                                   binLow(valueUp(200, 256), 3), binHigh(valueUp(60, 256), 3));
    EXPECT_EQ(display->selectedMask(), expected);
    EXPECT_EQ(recorder->last().map, expected);
    EXPECT_EQ(recorder->last().horizontal, Ht::colour::Hue);
    EXPECT_EQ(recorder->last().vertical, Ht::colour::Lightness);

    // A second rectangle with Shift joins it; Alt cuts a hole.
    drag({200, 200}, {220, 180}, Qt::ShiftModifier);
    drag({60, 150}, {70, 140}, Qt::AltModifier);
    QImage both = expected;
    const QImage second = maskOf(binLow(valueAcross(200, 256), 3), binHigh(valueAcross(220, 256), 3),
                                 binLow(valueUp(200, 256), 3), binHigh(valueUp(180, 256), 3));
    const QImage hole = maskOf(binLow(valueAcross(60, 256), 3), binHigh(valueAcross(70, 256), 3),
                               binLow(valueUp(150, 256), 3), binHigh(valueUp(140, 256), 3));
    for (int v = 0; v < 256; ++v)
        for (int h = 0; h < 256; ++h)
            both.setPixel(h, v, (both.pixelIndex(h, v) || second.pixelIndex(h, v)) && !hole.pixelIndex(h, v));
    EXPECT_EQ(display->selectedMask(), both);
}

// --- Picked colours and settings -----------------------------------------------------------

TEST_F(ColourDisplayTest, PickedColoursReplaceAddOrRemoveTheirBin)
{
    display->setChannels(Ht::colour::Red, Ht::colour::Green);
    display->colourPicked(QColor(200, 10, 10), Qt::NoModifier);
    EXPECT_EQ(display->selectedBins(), binsOf(200, 207));
    EXPECT_EQ(recorder->last().horizontal, Ht::colour::Red);

    display->colourPicked(QColor(50, 10, 10), Qt::ShiftModifier);
    EXPECT_EQ(display->selectedBins(), binsOf(200, 207) | binsOf(48, 55));
    display->colourPicked(QColor(201, 99, 99), Qt::AltModifier);
    EXPECT_EQ(display->selectedBins(), binsOf(48, 55));
    display->colourPicked(QColor(100, 10, 10), Qt::ControlModifier);
    EXPECT_EQ(display->selectedBins(), binsOf(96, 103));
    EXPECT_EQ(recorder->last().bins, binsOf(96, 103));

    // In the colour map the cell of both channels.
    display->setMode(ColourDisplay::ColourMapMode);
    display->colourPicked(QColor(100, 30, 0), Qt::NoModifier);
    EXPECT_EQ(display->selectedMask(), maskOf(96, 103, 24, 31));
    display->colourPicked(QColor(0, 255, 0), Qt::ShiftModifier);
    display->colourPicked(QColor(100, 31, 255), Qt::AltModifier);
    EXPECT_EQ(display->selectedMask(), maskOf(0, 7, 248, 255));
    EXPECT_EQ(recorder->last().map, maskOf(0, 7, 248, 255));
    EXPECT_EQ(recorder->last().vertical, Ht::colour::Green);
}

TEST_F(ColourDisplayTest, ACoarserResolutionKeepsABinOnlyWhenItsFirstValueWasSelected)
{
    display->setChannels(Ht::colour::Red, Ht::colour::Green);
    display->setColourBits(8);
    display->colourPicked(QColor(8, 0, 0), Qt::NoModifier);
    display->colourPicked(QColor(40, 0, 0), Qt::ShiftModifier);
    ASSERT_EQ(display->selectedBins(), binsOf(8, 8) | binsOf(40, 40));
    recorder->clear();
    display->setColourBits(5);
    EXPECT_EQ(display->selectedBins(), binsOf(8, 15) | binsOf(40, 47));
    ASSERT_EQ(recorder->highlights(), 1);
    EXPECT_EQ(recorder->last().bins, binsOf(8, 15) | binsOf(40, 47));

    display->setColourBits(8);
    display->colourPicked(QColor(9, 0, 0), Qt::NoModifier);
    for (int r = 10; r <= 15; ++r)
        display->colourPicked(QColor(r, 0, 0), Qt::ShiftModifier);
    display->setColourBits(5);
    EXPECT_TRUE(display->selectedBins().none());
    EXPECT_TRUE(display->isSelectionEmpty());
}

TEST_F(ColourDisplayTest, ACoarserColourMapSelectionStaysBinAligned)
{
    display->setMode(ColourDisplay::ColourMapMode);
    display->setChannels(Ht::colour::Red, Ht::colour::Green);
    display->colourPicked(QColor(100, 30, 0), Qt::NoModifier);
    display->setColourBits(8);
    display->setColourBits(5);
    EXPECT_EQ(display->selectedMask(), maskOf(96, 103, 24, 31));

    // At 3 bits every 32 x 32 cell is either wholly selected or wholly clear.
    drag({10, 240}, {90, 150}, Qt::ShiftModifier);
    display->setColourBits(3);
    const QImage& mask = display->selectedMask();
    for (int v = 0; v < 256; ++v)
        for (int h = 0; h < 256; ++h)
            ASSERT_EQ(mask.pixelIndex(h, v), mask.pixelIndex(h & ~31, v & ~31)) << h << "," << v;
    EXPECT_EQ(recorder->last().map, mask);
}

TEST_F(ColourDisplayTest, ChangingTheViewedStatusesAlwaysAnnouncesTheHighlight)
{
    display->colourPicked(QColor(0, 0, 0), Qt::ShiftModifier);
    recorder->clear();
    display->setStatusesViewed(15);
    ASSERT_EQ(recorder->events.size(), 1u);
    EXPECT_EQ(recorder->last().statuses, 15);
    EXPECT_EQ(recorder->last().bins, binsOf(0, 7));
    display->setStatusesViewed(2 | 8);
    ASSERT_EQ(recorder->events.size(), 2u);
    EXPECT_EQ(recorder->last().statuses, 10);
    EXPECT_EQ(display->renderer().statusMask(), 10);
    EXPECT_TRUE(display->renderer().isRebuildRequested());
}

// --- Painting --------------------------------------------------------------------------------

// What the renderer alone draws from the same images.
QImage directDrawing(const QImage& working, const QImage& status, int horizontal, int vertical, int mode)
{
    ColourMapRenderer renderer;
    renderer.setChannels(horizontal, vertical);
    renderer.rebuild({&working, &status, nullptr});
    QPixmap pixmap(256, 256);
    {
        QPainter painter(&pixmap);
        renderer.draw(painter, mode, ColourMapRenderer::backgroundColour(0));
    }
    return pixmap.toImage().convertToFormat(QImage::Format_RGB32);
}

QRgb over(QColor pen, QRgb under)
{
    const double a = pen.alphaF();
    return qRgb(int(pen.red() * a + qRed(under) * (1 - a) + 0.5), int(pen.green() * a + qGreen(under) * (1 - a) + 0.5),
                int(pen.blue() * a + qBlue(under) * (1 - a) + 0.5));
}

bool near(QRgb a, QRgb b, int tolerance = 2)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance
        && std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

TEST_F(ColourDisplayTest, TheHistogramShowsTheSelectedColumnsInTheOverlayColour)
{
    PhotoModel& model = photo();
    display->setChannels(Ht::colour::Lightness, Ht::colour::Hue);
    const QImage plain = grab();
    EXPECT_EQ(plain, directDrawing(model.working(), model.array()->snapshot(), Ht::colour::Lightness,
                                   Ht::colour::Hue, ColourDisplay::HistogramMode));

    drag({100, 20}, {130, 20});
    const Bins selected = display->selectedBins();
    ASSERT_EQ(selected, binsOf(96, 135));
    const QImage shown = grab();
    const QColor pen = GmStatusArray::saturationScaledColour(highlight()->color(), 0.85);
    ASSERT_LT(pen.alpha(), 255);
    int histogramPixelsCovered = 0;
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            if (selected[size_t(x)]) {
                ASSERT_TRUE(near(shown.pixel(x, y), over(pen, plain.pixel(x, y)))) << x << "," << y;
                histogramPixelsCovered += plain.pixel(x, y) != qRgb(240, 240, 240);
            } else {
                ASSERT_EQ(shown.pixel(x, y), plain.pixel(x, y)) << x << "," << y;
            }
        }
    }
    // The overlay lies over bars, not only over the background.
    EXPECT_GT(histogramPixelsCovered, 0);
}

TEST_F(ColourDisplayTest, TheColourMapShowsSquareCells)
{
    PhotoModel& model = photo("coffee.png");
    display->setMode(ColourDisplay::ColourMapMode);
    display->setChannels(Ht::colour::Hue, Ht::colour::Saturation);
    const QImage shown = grab();
    EXPECT_EQ(shown, directDrawing(model.working(), model.array()->snapshot(), Ht::colour::Hue,
                                   Ht::colour::Saturation, ColourDisplay::ColourMapMode));
    const ColourMapRenderer& renderer = display->renderer();
    int occupied = 0;
    for (int row = 0; row < 32; ++row) {
        for (int column = 0; column < 32; ++column) {
            const int v = 31 - row;
            const bool used = renderer.cell(column, v).count != 0;
            occupied += used;
            const QRgb expected = used ? renderer.cellColour(column, v) : qRgb(240, 240, 240);
            for (int y = row * 8; y < row * 8 + 8; ++y)
                for (int x = column * 8; x < column * 8 + 8; ++x)
                    ASSERT_EQ(shown.pixel(x, y), expected) << column << "," << row;
        }
    }
    EXPECT_GT(occupied, 20);

    // A selected cell is drawn over the cell it names: the highest values at the top.
    display->colourPicked(QColor(0, 0, 0), Qt::ShiftModifier);  // hue 0, saturation 0
    const QImage selected = grab();
    const QColor pen = GmStatusArray::saturationScaledColour(highlight()->color(), 0.85);
    EXPECT_TRUE(near(selected.pixel(3, 252), over(pen, shown.pixel(3, 252))));
    EXPECT_EQ(selected.pixel(3, 3), shown.pixel(3, 3));
}

TEST_F(ColourDisplayTest, TheFirstPaintHandsTheHighlightColourToTheStatusArrayOnce)
{
    // Painting without a document creates none and keeps the colour for the first one.
    grab();
    EXPECT_EQ(GmModel::existingInstance(), nullptr);

    PhotoModel& model = photo();
    highlight()->setColor(QColor(10, 200, 30));
    ASSERT_NE(model.array()->highlightColour(), QColor(10, 200, 30));
    testsupport::DirtyLog dirty;
    grab();
    EXPECT_EQ(model.array()->highlightColour(), QColor(10, 200, 30));
    EXPECT_EQ(dirty.size(), 1);

    highlight()->setColor(QColor(1, 2, 3));
    grab();
    EXPECT_EQ(model.array()->highlightColour(), QColor(10, 200, 30));
    EXPECT_EQ(dirty.size(), 1);

    // A change of the named colour repaints the display.
    PaintCounter counter;
    display->installEventFilter(&counter);
    emit highlight()->colorChanged(QColor(1, 2, 3));
    EXPECT_TRUE(waitUntil([&] { return counter.paints > 0; }, 5000));
}

TEST_F(ColourDisplayTest, TheContextMenuChoosesTheBackground)
{
    EXPECT_EQ(grab().pixel(128, 128), qRgb(240, 240, 240));

    QList<bool> checked;
    QStringList texts;
    int icons = 0;
    QTimer inspect;
    inspect.setInterval(0);
    QObject::connect(&inspect, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        inspect.stop();
        for (QAction* action : menu->actions()) {
            texts.append(action->text());
            checked.append(action->isChecked());
            icons += action->icon().pixmap(16, 16).toImage().pixel(8, 8) == ColourMapRenderer::backgroundColour(texts.size() - 1).rgb();
        }
        menu->close();
    });
    inspect.start();
    mousePress(display, {30, 30}, Qt::RightButton);
    mouseRelease(display, {30, 30}, Qt::RightButton);
    EXPECT_EQ(texts, QStringList({"Gray background", "Yellow background", "Blue background"}));
    EXPECT_EQ(checked, QList<bool>({true, false, false}));
    EXPECT_EQ(icons, 3);
    EXPECT_EQ(display->background(), 0);

    PaintCounter counter;
    display->installEventFilter(&counter);
    testsupport::PopupMenuCloser closer("Yellow background");
    mousePress(display, {30, 30}, Qt::RightButton);
    mouseRelease(display, {30, 30}, Qt::RightButton);
    ASSERT_TRUE(closer.opened());
    EXPECT_EQ(display->background(), 1);
    EXPECT_TRUE(waitUntil([&] { return counter.paints > 0; }, 5000));
    EXPECT_EQ(grab().pixel(128, 128), qRgb(255, 255, 224));

    // The current choice again: nothing to repaint.
    QCoreApplication::processEvents();
    counter.paints = 0;
    closer.arm("Yellow background");
    mousePress(display, {30, 30}, Qt::RightButton);
    mouseRelease(display, {30, 30}, Qt::RightButton);
    ASSERT_TRUE(closer.opened());
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.paints, 0);
    EXPECT_EQ(display->background(), 1);

    closer.arm("Blue background");
    mousePress(display, {30, 30}, Qt::RightButton);
    mouseRelease(display, {30, 30}, Qt::RightButton);
    EXPECT_EQ(display->background(), 2);
    EXPECT_EQ(grab().pixel(128, 128), qRgb(240, 255, 255));

    // Dismissed: nothing changes.
    closer.arm();
    mousePress(display, {30, 30}, Qt::RightButton);
    mouseRelease(display, {30, 30}, Qt::RightButton);
    ASSERT_TRUE(closer.opened());
    EXPECT_EQ(display->background(), 2);
    // No gesture came of the right presses.
    EXPECT_TRUE(recorder->events.empty());
}

// --- The model's images ----------------------------------------------------------------------

TEST_F(ColourDisplayTest, CountsTheWorkingImageTheStatusSnapshotAndThePatch)
{
    PhotoModel& model = photo("astronaut.png", 2);
    ASSERT_LT(model.working().width(), model.fullPicture().width());
    const QImage patch = testsupport::ellipseMask(QRect(20, 30, model.working().width() / 2, model.working().height() / 3));
    GmStatusArray::setPatchMaskLookup([&] { return patch; });
    const QImage snapshot = model.array()->snapshot();
    // A command writes the engine's bytes after the last refresh: the display must not see it.
    model.fillEngineBytes(0);

    display->setChannels(Ht::colour::Red, Ht::colour::Green);
    display->setStatusesViewed(1 | 4);
    grab();
    ColourMapRenderer expected;
    expected.setChannels(Ht::colour::Red, Ht::colour::Green);
    expected.setStatusMask(1 | 4);
    expected.rebuild({&model.working(), &snapshot, &patch});
    ASSERT_FALSE(expected.isEmpty());
    const ColourMapRenderer& shown = display->renderer();
    for (int h = 0; h < 32; ++h) {
        for (int v = 0; v < 32; ++v) {
            ASSERT_EQ(shown.cell(h, v).count, expected.cell(h, v).count) << h << "," << v;
            ASSERT_EQ(shown.cell(h, v).sum0, expected.cell(h, v).sum0) << h << "," << v;
        }
    }

    // Once the array refreshes, a status change reaches the counts at the next paint.
    QObject::connect(model.array(), &GmStatusArray::statusChanged, display, &ColourDisplay::statusArrayChanged);
    model.array()->refresh();
    grab();
    EXPECT_TRUE(display->renderer().isEmpty());
}

// --- End to end with the status array --------------------------------------------------------

// The connections the colour workspace makes between its display and the status array.
void wireAsThePanelDoes(ColourDisplay* display, GmStatusArray* array)
{
    QObject::connect(display,
                     qOverload<const std::vector<bool>&, Channel, quint8>(&ColourDisplay::highlightChanged), array,
                     qOverload<const std::vector<bool>&, Channel, quint8>(&GmStatusArray::highlightChanged));
    QObject::connect(display, qOverload<const QImage&, Channel, Channel, quint8>(&ColourDisplay::highlightChanged),
                     array, qOverload<const QImage&, Channel, Channel, quint8>(&GmStatusArray::highlightChanged));
    QObject::connect(display, &ColourDisplay::unHighlit, array, &GmStatusArray::unHighlight);
    QObject::connect(array, &GmStatusArray::statusChanged, display, &ColourDisplay::statusArrayChanged);
}

// Waits until the last run started has finished and its finished() has reached the array.
void waitForHighlight(GmStatusArray* array)
{
    ASSERT_TRUE(waitUntil([&] { return !array->isHighlightRunning(); }));
    QCoreApplication::processEvents();
}

template <typename Selected>
QImage bruteForceHighlight(const QImage& working, const QImage& status, quint8 viewed, Selected selected)
{
    QImage expected(working.size(), QImage::Format_Indexed8);
    expected.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    for (int y = 0; y < working.height(); ++y)
        for (int x = 0; x < working.width(); ++x)
            expected.scanLine(y)[x] = (status.pixelIndex(x, y) & viewed) && selected(working.pixel(x, y)) ? 1 : 0;
    return expected;
}

int differences(const QImage& highlight, const QImage& expected)
{
    int n = 0;
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x)
            n += (highlight.pixelIndex(x, y) != 0) != (expected.pixelIndex(x, y) != 0);
    return n;
}

TEST_F(ColourDisplayTest, AHistogramDragHighlightsThePixelsOfItsBins)
{
    PhotoModel& model = photo("chelsea.png");
    GmStatusArray* array = model.array();
    wireAsThePanelDoes(display, array);
    display->setChannels(Ht::colour::Lightness, Ht::colour::Hue);
    display->setStatusesViewed(1 | 8);
    drag({60, 100}, {140, 90});
    const Bins selected = display->selectedBins();
    ASSERT_EQ(selected, binsOf(56, 143));
    waitForHighlight(array);

    const QImage expected = bruteForceHighlight(model.working(), array->snapshot(), 1 | 8, [&](QRgb c) {
        return selected[size_t(channelValue(Ht::colour::Lightness, c))];
    });
    int highlighted = 0;
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x)
            highlighted += expected.pixelIndex(x, y);
    ASSERT_GT(highlighted, 1000);
    EXPECT_EQ(differences(*array->highlightImage(), expected), 0);

    // Clearing the selection clears the highlight.
    display->unHighlight();
    waitForHighlight(array);
    EXPECT_EQ(differences(*array->highlightImage(), bruteForceHighlight(model.working(), array->snapshot(), 0,
                                                                        [](QRgb) { return false; })),
              0);
}

TEST_F(ColourDisplayTest, AColourMapMarqueeHighlightsThePixelsOfItsCells)
{
    PhotoModel& model = photo("fruits.jpg");
    GmStatusArray* array = model.array();
    wireAsThePanelDoes(display, array);
    display->setMode(ColourDisplay::ColourMapMode);
    display->setChannels(Ht::colour::Hue, Ht::colour::Saturation);
    display->setStatusesViewed(2 | 4);
    drag({10, 250}, {70, 60});
    const QImage selected = display->selectedMask();
    waitForHighlight(array);

    const QImage expected = bruteForceHighlight(model.working(), array->snapshot(), 2 | 4, [&](QRgb c) {
        return selected.pixelIndex(channelValue(Ht::colour::Hue, c), channelValue(Ht::colour::Saturation, c)) != 0;
    });
    int highlighted = 0;
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x)
            highlighted += expected.pixelIndex(x, y);
    ASSERT_GT(highlighted, 1000);
    EXPECT_EQ(differences(*array->highlightImage(), expected), 0);
}

} // namespace
