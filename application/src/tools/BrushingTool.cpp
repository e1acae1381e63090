#include "tools/BrushingTool.h"

#include "canvas/GmZoomWidget.h"
#include "document/Brushing.h"
#include "document/GmBrushing.h"
#include "document/GmModel.h"
#include "document/KsAppPreferences.h"
#include "document/KsSourceImage.h"
#include "document/Texts.h"
#include "engine/CommandHooks.h"
#include "panels/ParameterStack.h"
#include "panels/PersistentWidget.h"
#include "tools/CleanTool.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>

#include <algorithm>
#include <cmath>

namespace {

using PersistentSpinBox = PersistentWidget<QSpinBox, int>;

const QString commonGroup = QStringLiteral("ToolOptions") + QStringLiteral("/Common");
const QString strengthRow = QStringLiteral("Strength");

// Shared by every brushing tool.
QPointer<QWidget> g_bar;
QPointer<QSpinBox> g_spin;
QPointer<QSlider> g_slider;
QPointer<ParameterStack> g_strength;
QPointer<QStackedWidget> g_pages;
int g_livingTools = 0;

bool persistOptionsOn()
{
    const KsAppPreferences* preferences = KsAppPreferences::instance();
    return preferences && preferences->persistOptions();
}

void installHooks()
{
    GmModel::setImageInstalledHook(&BrushingTool::fitToolsToImage);
    CommandHooks::setBrushStrengthHook([] { return BrushingTool::strength(); });
}

void setSizeFromSlider(int value)
{
    if (!g_spin)
        return;
    const QSignalBlocker blocker(g_spin);
    g_spin->setValue(BrushingTool::sizeForSlider(value));
    if (GmModel* model = GmModel::existingInstance())
        emit model->cursorChanged(nullptr);
}

void setSliderFromSize(int size)
{
    if (!g_slider)
        return;
    const QSignalBlocker blocker(g_slider);
    g_slider->setValue(BrushingTool::sliderForSize(size));
}

} // namespace

BrushingTool::BrushingTool(const QString& name, const QString& displayName, const QIcon& icon,
                           const QString& shortcut, const QString& helpText, QActionGroup* actionGroup,
                           QWidget* menuWidget, QWidget* barWidget, ToolOptions* toolOptions)
    : GmTool(name, displayName, icon, shortcut, helpText, actionGroup, menuWidget, barWidget, toolOptions),
      m_sizeLabel(tr("Size", "[ks3]")),
      m_strengthLabel(tr("Strength", "[ks3]"))
{
    ++g_livingTools;
    installHooks();
    connect(this, &BrushingTool::brushSizeSliderMoved, GmModel::instance(), &GmModel::brushSizeSliderMoved);
}

BrushingTool::~BrushingTool()
{
    delete m_brushing;
    m_brushing = nullptr;
    delete m_page.data();
    if (--g_livingTools > 0) {
        // The bar stays for the other brushing tools: the base must not delete it.
        setOptionsWidget(nullptr);
    } else if (auto* spin = dynamic_cast<PersistentSpinBox*>(g_spin.data())) {
        spin->setPersist(persistOptionsOn());
    }
}

void BrushingTool::fitToolsToImage(const KsSourceImage* image)
{
    if (!image)
        return;
    const int side = std::min(image->width(), image->height());
    // Strokes are painted in working pixels: a tenth of the working image's smaller side is
    // the same share of the photo at every resolution.
    const GmModel* model = GmModel::existingInstance();
    const int divisor = model ? std::max(1, model->resolution()) : 1;
    const int workingSide = std::min((image->width() + divisor - 1) / divisor,
                                     (image->height() + divisor - 1) / divisor);
    setBrushSize(workingSide / 10);
    CleanTool::setStrength(side / 50);
}

// --- size ------------------------------------------------------------------------------------

int BrushingTool::brushSize()
{
    if (!g_spin)
        return fallbackSize;
    const int size = g_spin->value();
    if (!GmZoomWidget::tabletPressureInEffect())
        return size;
    return std::max(1, int(std::ceil(size * GmZoomWidget::tabletPressure())));
}

void BrushingTool::setBrushSize(int size)
{
    if (!g_spin)
        return;
    g_spin->setValue(size);
    if (GmModel* model = GmModel::existingInstance())
        emit model->cursorChanged(nullptr);
}

int BrushingTool::sliderForSize(int size)
{
    return int(std::sqrt(float(size - 1) * 0.0025062656f) * 100.0f);
}

int BrushingTool::sizeForSlider(int value)
{
    const float f = float(value) * 0.01f;
    return 1 + int(399.0f * (f * f));
}

int BrushingTool::strength()
{
    int value = 0;
    if (g_strength)
        g_strength->value(strengthRow, value);
    return value;
}

bool BrushingTool::sizeSliderDown()
{
    return g_slider && g_slider->isSliderDown();
}

QWidget* BrushingTool::sharedBar() { return g_bar; }
QSpinBox* BrushingTool::sizeSpinBox() { return g_spin; }
QSlider* BrushingTool::sizeSlider() { return g_slider; }
ParameterStack* BrushingTool::strengthStack() { return g_strength; }
QStackedWidget* BrushingTool::pageStack() { return g_pages; }

void BrushingTool::increaseBrushSizeSlot()
{
    if (g_spin)
        setBrushSize(int((g_spin->value() + 1) * 1.03 + 0.5));
}

void BrushingTool::decreaseBrushSizeSlot()
{
    if (g_spin)
        setBrushSize(int(g_spin->value() * 0.970873786407767 + 0.5 - 1.0));
}

void BrushingTool::syncBrushSizeToSlider(int size)
{
    setSliderFromSize(size);
}

void BrushingTool::syncBrushSizeFromSlider(int value)
{
    setSizeFromSlider(value);
    emit brushSizeSliderMoved();
}

void BrushingTool::strengthChangedSlot(int)
{
    // The commands read the value when they are built.
}

// --- the shared bar --------------------------------------------------------------------------

QWidget* BrushingTool::sharedOptionsWidget()
{
    if (!g_bar) {
        auto* bar = new QWidget;
        auto* layout = new QHBoxLayout(bar);
        layout->setContentsMargins(0, 0, 0, 0);

        auto* stack = new ParameterStack(ParameterStack::Horizontal, ParameterStack::ShowSliders);
        stack->setSettingsGroup(commonGroup);

        auto* sizeWidget = new QWidget(bar);
        sizeWidget->setObjectName(QStringLiteral("BrushSizeWidget"));
        sizeWidget->setToolTip(tr("Brush size for painting masks %1", "[ks3]%1 - shortcuts")
                                   .arg(QStringLiteral("( [, ] )")));
        sizeWidget->setWhatsThis(
            ksAppTr("<p><b>Brush Size</b> ( [ ] )</p><p>To change a brush size drag the <b>Size</b> slider or enter "
                    "a value. Alternatively use the short-cut &lsquo;[&rsquo; and &lsquo;]&rsquo; keys for quick "
                    "adjustments.</p><p>The brush cursor is displayed at the center of your image while you adjust "
                    "the size slider so that you can see exactly how large your brush will be.</p><p><b><i>Note:</i>"
                    "</b> When using a <b>Wacom</b> tablet, pen pressure determines brush size.</p>",
                    "[tip]")
            + learnMoreParagraph(QStringLiteral("4-Kestrine_Tools/Brush_Tools.htm")));
        auto* sizeLayout = new QHBoxLayout(sizeWidget);
        sizeLayout->setObjectName(QStringLiteral("BrushSizeLayout"));
        sizeLayout->setContentsMargins(0, 0, 0, 0);
        auto* label = new QLabel(m_sizeLabel, sizeWidget);
        label->setObjectName(QStringLiteral("BrushSizeLabel"));
        auto* slider = new QSlider(Qt::Horizontal, sizeWidget);
        slider->setObjectName(QStringLiteral("BrushSizeSlider"));
        // Stored values are only a start: the range below clamps them (the default 0 becomes 1).
        auto* spin = new PersistentSpinBox(commonGroup, QStringLiteral("Size"), 0, persistOptionsOn());
        spin->setParent(sizeWidget);
        spin->setSuffix(tr("px", "[all]abbrev: pixels"));
        spin->setRange(minimumSize, maximumSize);
        sizeLayout->addWidget(label);
        sizeLayout->addWidget(slider);
        sizeLayout->addWidget(spin);

        GmModel* model = GmModel::instance();
        connect(slider, &QSlider::sliderPressed, model, &GmModel::brushSizeSliderMoved);
        connect(slider, &QSlider::sliderReleased, model, [model] { model->signalDirtyImageSlot(); });
        slider->setRange(sliderForSize(minimumSize), sliderForSize(maximumSize));
        slider->setValue(sliderForSize(spin->value()));
        // Made with the bar as context: the bar outlives the tool that built it.
        connect(spin, QOverload<int>::of(&QSpinBox::valueChanged), bar, &setSliderFromSize);
        connect(slider, &QSlider::valueChanged, bar, [](int value) {
            setSizeFromSlider(value);
            if (GmModel* m = GmModel::existingInstance())
                emit m->brushSizeSliderMoved();
        });
        // Marks keep their size on the screen when the workspace resolution changes.
        connect(model, &GmModel::resolutionChanged, bar, [](int oldDivisor, int newDivisor) {
            if (g_spin && newDivisor > 0 && oldDivisor != newDivisor)
                setBrushSize(g_spin->value() * oldDivisor / newDivisor);
        });
        layout->addWidget(sizeWidget);

        stack->addSlider(strengthRow, m_strengthLabel, 0, 7, 0, QString(), this, SLOT(strengthChangedSlot(int)),
                         false);
        stack->setHelp(strengthRow, tr("Determines how far your mask selections will grow"),
                       ksAppTr("<p><b>Brush Strength</b></p><p>Determines how far your brush strokes will "
                               "&lsquo;grow&rsquo;.</p><p>A <b>Strength</b> of greater than zero may flood-fill "
                               "into other objects similar in color and texture. The greater the strength, the "
                               "less similar an object has to be for it to be filled.</p>",
                               "[tip]")
                           + learnMoreParagraph(QStringLiteral("4-Kestrine_Tools/Brush_Tools.htm")));
        stack->setParent(bar);
        if (stack->layout())
            stack->layout()->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(stack);

        auto* line = new QFrame(bar);
        line->setFrameShape(QFrame::VLine);
        line->setFrameShadow(QFrame::Sunken);
        layout->addWidget(line);
        auto* pages = new QStackedWidget(bar);
        layout->addWidget(pages);
        layout->addStretch(1);

        g_bar = bar;
        g_spin = spin;
        g_slider = slider;
        g_strength = stack;
        g_pages = pages;
    }
    QWidget* page = createOptionsPage();
    if (page && g_pages) {
        m_page = page;
        m_pageIndex = g_pages->addWidget(page);
    }
    setOptionsWidget(g_bar);
    return g_bar;
}

// --- strokes ---------------------------------------------------------------------------------

void BrushingTool::deleteBrushing()
{
    GmBrushing* brushing = m_brushing;
    m_brushing = nullptr;
    delete brushing;
}

void BrushingTool::mousePressed(const ImagePointF& point, QMouseEvent* event)
{
    if (event && event->button() != Qt::LeftButton)
        return;
    m_straightSegment = false;
    beginStroke(point);
    if (m_brushing)
        m_brushing->brushing()->startStroke(point, brushSize());
}

void BrushingTool::mouseDoubleClicked(const ImagePointF& point, QMouseEvent* event)
{
    mousePressed(point, event);
}

void BrushingTool::mouseMoved(const ImagePointF& point, QMouseEvent* event)
{
    if (!m_brushing || !event || !(event->buttons() & Qt::LeftButton))
        return;
    if (event->modifiers() & Qt::ShiftModifier) {
        m_straightSegment = true;
        m_brushing->brushing()->updateStroke(point, brushSize());
    } else {
        m_straightSegment = false;
        m_brushing->brushing()->addSegment(point, brushSize());
    }
}

void BrushingTool::mouseReleased(const ImagePointF& point, QMouseEvent* event)
{
    if (!m_brushing || (event && event->button() != Qt::LeftButton))
        return;
    m_brushing->brushing()->addSegment(point, brushSize());
    finishStroke();
    GmZoomWidget::clearTabletPressureInEffect();
}

void BrushingTool::abandonStroke()
{
    if (m_brushing)
        m_brushing->brushing()->clearStroke();
    finishStroke();
    GmZoomWidget::clearTabletPressureInEffect();
    clearButtonStates();
}

void BrushingTool::escapeKeyPressed()
{
    if (m_brushing)
        abandonStroke();
    else
        GmTool::escapeKeyPressed();
}

// --- protocol --------------------------------------------------------------------------------

QCursor BrushingTool::cursor() const
{
    return QCursor(Qt::BlankCursor);
}

ImageView::ViewTabs BrushingTool::usableViewTabs() const
{
    return ImageView::Workspace;
}

ImageView::ViewTab BrushingTool::homeViewTab() const
{
    return ImageView::Workspace;
}

bool BrushingTool::usesBrush() const
{
    return true;
}

bool BrushingTool::usesStrength() const
{
    return true;
}

void BrushingTool::activate(GmTool*)
{
    if (g_pages && m_page)
        g_pages->setCurrentWidget(m_page);
    if (g_strength)
        g_strength->setRowEnabled(strengthRow, usesStrength());
    clearButtonStates();
}

void BrushingTool::deactivate(GmTool*)
{
    // Space or another tool's shortcut in the middle of a stroke: the stroke is abandoned as
    // by Escape, so a patch it made inactive becomes active again.
    if (m_brushing)
        abandonStroke();
    deleteBrushing();
    clearButtonStates();
}
