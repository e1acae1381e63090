// The application style over Fusion: slider handles drawn from and sized by their pictures,
// sliders that jump to a left or middle click, tighter layouts, its hints, and its installation
// over the application's own style.

#include "WidgetInput.h"
#include "panels/KsAppStyle.h"

#include <QApplication>
#include <QGroupBox>
#include <QPainter>
#include <QPointer>
#include <QSlider>
#include <QStyleFactory>
#include <QStyleOptionSlider>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <memory>

namespace {

class OpenSlider : public QSlider {
public:
    using QSlider::QSlider;
    QStyleOptionSlider option() const
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return option;
    }
};

class AppStyleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_fusion = std::unique_ptr<QStyle>(QStyleFactory::create("Fusion"));
        m_style = std::make_unique<KsAppStyle>(QStyleFactory::create("Fusion"));
        m_horizontal = QPixmap(":/images/slider_handle_horizontal.png");
        m_vertical = QPixmap(":/images/slider_handle_vertical.png");
        ASSERT_FALSE(m_horizontal.isNull());
        ASSERT_FALSE(m_vertical.isNull());
    }

    QRect handle(const QStyleOptionSlider& option) const
    {
        return m_style->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle);
    }

    std::unique_ptr<QStyle> m_fusion;
    std::unique_ptr<KsAppStyle> m_style;
    QPixmap m_horizontal;
    QPixmap m_vertical;
};

TEST_F(AppStyleTest, HandlesHaveTheSizeOfTheirPictures)
{
    OpenSlider horizontal(Qt::Horizontal);
    horizontal.setStyle(m_style.get());
    horizontal.resize(200, 30);
    QStyleOptionSlider option = horizontal.option();
    EXPECT_EQ(handle(option).size(), m_horizontal.size());
    EXPECT_EQ(m_style->pixelMetric(QStyle::PM_SliderThickness, &option), m_horizontal.height());
    EXPECT_EQ(m_style->pixelMetric(QStyle::PM_SliderLength, &option), m_horizontal.width());

    OpenSlider vertical(Qt::Vertical);
    vertical.setStyle(m_style.get());
    vertical.resize(30, 200);
    option = vertical.option();
    EXPECT_EQ(handle(option).size(), m_vertical.size());
    EXPECT_EQ(m_style->pixelMetric(QStyle::PM_SliderControlThickness, &option), m_vertical.width());
    EXPECT_EQ(m_style->pixelMetric(QStyle::PM_SliderLength, &option), m_vertical.height());

    // Without a slider option the metrics are the base style's.
    EXPECT_EQ(m_style->pixelMetric(QStyle::PM_SliderLength),
              m_fusion->pixelMetric(QStyle::PM_SliderLength));
}

TEST_F(AppStyleTest, TheHandleRunsFromEdgeToEdgeOffsetAcrossByTheTickOffset)
{
    QStyleOptionSlider option;
    option.orientation = Qt::Horizontal;
    option.rect = QRect(10, 20, 200, 30);
    option.minimum = 0;
    option.maximum = 100;
    option.sliderPosition = 0;
    const int across = m_style->pixelMetric(QStyle::PM_SliderTickmarkOffset, &option);
    const int length = m_horizontal.width();
    EXPECT_EQ(handle(option).topLeft(), QPoint(10, 20 + across));
    option.sliderPosition = 100;
    EXPECT_EQ(handle(option).x(), option.rect.x() + option.rect.width() - length);
    option.sliderPosition = 50;
    EXPECT_EQ(handle(option).x(), 10 + QStyle::sliderPositionFromValue(0, 100, 50, 200 - length));
    option.upsideDown = true;
    option.sliderPosition = 100;
    EXPECT_EQ(handle(option).x(), 10);

    option.orientation = Qt::Vertical;
    option.rect = QRect(5, 15, 30, 150);
    option.upsideDown = false;
    option.sliderPosition = 0;
    const int verticalAcross = m_style->pixelMetric(QStyle::PM_SliderTickmarkOffset, &option);
    EXPECT_EQ(handle(option).topLeft(), QPoint(5 + verticalAcross, 15));
    option.sliderPosition = 100;
    EXPECT_EQ(handle(option).bottom(), option.rect.bottom());
}

TEST_F(AppStyleTest, TheHandlePictureIsDrawnWhereTheHandleIs)
{
    OpenSlider slider(Qt::Horizontal);
    slider.setStyle(m_style.get());
    slider.setRange(0, 100);
    slider.setValue(70);
    slider.resize(200, 30);
    QImage rendered(slider.size(), QImage::Format_ARGB32);
    rendered.fill(Qt::white);
    slider.render(&rendered);

    const QRect where = handle(slider.option());
    const QImage picture = m_horizontal.toImage().convertToFormat(QImage::Format_ARGB32);
    int compared = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            if (qAlpha(picture.pixel(x, y)) != 255)
                continue;
            ASSERT_EQ(rendered.pixel(where.x() + x, where.y() + y), picture.pixel(x, y))
                << "at " << x << "," << y;
            ++compared;
        }
    EXPECT_GT(compared, 20);
}

TEST_F(AppStyleTest, LeftAndMiddleClicksOnTheGrooveSetTheValueThere)
{
    QWidget window;
    window.resize(300, 60);
    auto* slider = new OpenSlider(Qt::Horizontal, &window);
    slider->setStyle(m_style.get());
    slider->setRange(0, 100);
    slider->setPageStep(10);
    slider->setGeometry(20, 10, 220, 30);
    ASSERT_TRUE(testsupport::showForInput(slider));
    EXPECT_EQ(m_style->styleHint(QStyle::SH_Slider_AbsoluteSetButtons), 5);

    // The value whose handle is centred under the click.
    auto valueUnder = [&](int x) {
        const QStyleOptionSlider option = slider->option();
        const QRect groove = m_style->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, slider);
        const int length = m_horizontal.width();
        return QStyle::sliderValueFromPosition(0, 100, x - length / 2 - groove.x(), groove.width() - length);
    };

    testsupport::mouseClick(slider, QPoint(160, 15), Qt::MiddleButton);
    EXPECT_EQ(slider->value(), valueUnder(160));
    EXPECT_GT(slider->value(), 60);
    testsupport::mouseClick(slider, QPoint(40, 15), Qt::LeftButton);
    EXPECT_EQ(slider->value(), valueUnder(40));
    EXPECT_LT(slider->value(), 25);
}

TEST_F(AppStyleTest, LayoutsAreFourPixelsTighterThanTheBaseStyles)
{
    QWidget top;
    auto* child = new QWidget(&top);
    child->setStyle(m_style.get());
    auto* layout = new QVBoxLayout(child);
    EXPECT_EQ(m_fusion->pixelMetric(QStyle::PM_LayoutLeftMargin, nullptr, child), 9);
    EXPECT_EQ(layout->contentsMargins().left(), 5);
    EXPECT_EQ(m_style->pixelMetric(QStyle::PM_LayoutTopMargin, nullptr, &top),
              m_fusion->pixelMetric(QStyle::PM_LayoutTopMargin, nullptr, &top) - 4);
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    EXPECT_EQ(m_style->pixelMetric(QStyle::PM_DefaultLayoutSpacing),
              m_fusion->pixelMetric(QStyle::PM_DefaultLayoutSpacing) - 4);
    QT_WARNING_POP
}

TEST_F(AppStyleTest, HintsForGroupBoxesToolButtonsAndSliders)
{
    QStyleOption option;
    option.palette.setColor(QPalette::Text, QColor(12, 34, 56));
    EXPECT_EQ(QRgb(m_style->styleHint(QStyle::SH_GroupBox_TextLabelColor, &option)), qRgb(12, 34, 56));
    EXPECT_EQ(m_style->styleHint(QStyle::SH_GroupBox_TextLabelColor), 0);
    EXPECT_EQ(m_style->styleHint(QStyle::SH_ToolButton_PopupDelay),
              m_fusion->styleHint(QStyle::SH_ToolButton_PopupDelay) / 2);
    EXPECT_EQ(m_style->styleHint(QStyle::SH_Slider_AbsoluteSetButtons), Qt::LeftButton | Qt::MiddleButton);
    EXPECT_EQ(m_style->styleHint(QStyle::SH_Menu_SubMenuPopupDelay),
              m_fusion->styleHint(QStyle::SH_Menu_SubMenuPopupDelay));
}

TEST_F(AppStyleTest, PolishedWidgetsShowToolTipsAlsoWhenInactive)
{
    QWidget widget;
    EXPECT_FALSE(widget.testAttribute(Qt::WA_AlwaysShowToolTips));
    m_style->polish(&widget);
    EXPECT_TRUE(widget.testAttribute(Qt::WA_AlwaysShowToolTips));
}

TEST(AppStyleInstall, WrapsAndOwnsTheApplicationsStyle)
{
    QPointer<QStyle> before = QApplication::style();
    KsAppStyle* style = KsAppStyle::install();
    EXPECT_EQ(QApplication::style(), style);
    EXPECT_EQ(style->baseStyle(), before.data());
    EXPECT_EQ(before->parent(), style);
    EXPECT_EQ(before->proxy(), style) << "the base style's own calls come back through the wrapper";

    // Replacing the style deletes the wrapper and with it the wrapped style.
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    EXPECT_TRUE(before.isNull());
}

} // namespace
