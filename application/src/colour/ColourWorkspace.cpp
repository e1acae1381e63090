#include "colour/ColourWorkspace.h"

#include "canvas/ImageView.h"
#include "colour/AxisWidget.h"
#include "colour/CWSMouseEventFilter.h"
#include "colour/ColourDisplay.h"
#include "colour/ColourWorkspaceSelectTool.h"
#include "document/Brushing.h"
#include "document/GmBrushing.h"
#include "document/GmColor.h"
#include "document/GmModel.h"
#include "document/GmRegion.h"
#include "document/GmStatusArray.h"
#include "document/KsAppPreferences.h"
#include "document/Texts.h"
#include "engine/DravikThread.h"
#include "engine/DvCmdSelect.h"
#include "panels/GmSubWindowLayout.h"
#include "shell/KsApp.h"
#include "shell/KsMainWindow.h"
#include "tools/GmTool.h"

#include <QAbstractButton>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSlider>

namespace {

constexpr quint8 kUnassigned = 1;
constexpr quint8 kKeep = 2;
constexpr quint8 kDrop = 4;
constexpr quint8 kBlend = 8;
constexpr quint8 kAllClasses = kUnassigned | kKeep | kDrop | kBlend;

QString learnMore()
{
    return learnMoreParagraph(KsApp::helpUrl() + QStringLiteral("/4-Kestrine_Tools/Using_the_Color_Workspace.htm"));
}

// A small down arrow for the axis choosers.
QIcon chooserIcon()
{
    QPixmap pixmap(9, 9);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(4, 4);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(Qt::gray));
    painter.drawPolygon(QPolygonF({QPointF(-3, -4), QPointF(3, -4), QPointF(0, 4)}));
    return QIcon(pixmap);
}

QColor maskColour(quint8 status)
{
    const KsAppPreferences* preferences = KsAppPreferences::instance();
    if (!preferences)
        return QColor();
    KsAppPreferences::ColorIndex index;
    switch (status) {
    case kKeep:
        index = KsAppPreferences::KeepMaskColor;
        break;
    case kDrop:
        index = KsAppPreferences::DeleteMaskColor;
        break;
    case kBlend:
        index = KsAppPreferences::BlendMaskColor;
        break;
    case kUnassigned:
        index = KsAppPreferences::PatchOrForcedEdgeColor;
        break;
    default:
        return QColor();
    }
    const GmColor* colour = preferences->color(index);
    return colour ? colour->color() : QColor();
}

} // namespace

ColourWorkspace::ColourWorkspace(QWidget* actionHost, const QString& shortcut, QWidget* parent)
    : GmSubWindow(QStringLiteral("Color Workspace"), tr("Color Workspace"), actionHost, shortcut, parent),
      m_content(new QWidget)
{
    setupUi(m_content);
    setWidget(m_content);
    makeOffIcons();
    subWindowLayout()->setSizeConstraint(QLayout::SetDefaultConstraint);
    setWhatsThisTexts();

    m_channelNames = QStringList{tr("Hue"), tr("Lightness"), tr("Saturation"), tr("Red"), tr("Green"), tr("Blue")};
    colourDisplay_->setChannels(Ht::colour::Lightness, Ht::colour::Hue);
    colourDisplay_->markRenderNeeded();
    horizontalAxis_->setOrientation(Qt::Horizontal);
    horizontalAxis_->setChannel(Ht::colour::Lightness);
    horizontalAxis_->setLabels(m_channelNames);
    horizontalAxis_->resetCachedHint();
    verticalAxis_->setOrientation(Qt::Vertical);
    verticalAxis_->setChannel(Ht::colour::Hue);
    verticalAxis_->setLabels(m_channelNames);
    verticalAxis_->resetCachedHint();

    m_mouseFilter = new CWSMouseEventFilter(colourDisplay_, this);
    for (QWidget* watched : {static_cast<QWidget*>(this), m_content, static_cast<QWidget*>(horizontalAxis_),
                             static_cast<QWidget*>(verticalAxis_), static_cast<QWidget*>(colourDisplayFrame_)}) {
        watched->setMouseTracking(true);
        watched->installEventFilter(m_mouseFilter);
    }
    colourDisplay_->setCursor(Qt::CrossCursor);
    for (QAbstractButton* button : m_content->findChildren<QAbstractButton*>())
        button->setCursor(Qt::ArrowCursor);
    colourBits_->setCursor(Qt::ArrowCursor);
    horizontalAxisChooser_->setIcon(chooserIcon());
    verticalAxisChooser_->setIcon(chooserIcon());

    connectModel();
    connect(histogramMode_, &QToolButton::clicked, this, &ColourWorkspace::modeChanged);
    connect(colourMapMode_, &QToolButton::clicked, this, &ColourWorkspace::modeChanged);
    connect(viewUnassigned_, &QToolButton::clicked, this, &ColourWorkspace::viewUnassignedChangedSlot);
    connect(viewKeep_, &QToolButton::clicked, this, &ColourWorkspace::viewKeepChangedSlot);
    connect(viewDrop_, &QToolButton::clicked, this, &ColourWorkspace::viewDropChangedSlot);
    connect(viewBlend_, &QToolButton::clicked, this, &ColourWorkspace::viewBlendChangedSlot);
    for (QToolButton* eye : {viewUnassigned_, viewKeep_, viewDrop_, viewBlend_})
        connect(eye, &QToolButton::clicked, this, &ColourWorkspace::statusesViewedChanged);
    connect(colourDisplay_, qOverload<const std::vector<bool>&, Ht::colour::channel, quint8>(&ColourDisplay::highlightChanged),
            this, &ColourWorkspace::updateReassignmentButtons);
    connect(colourDisplay_,
            qOverload<const QImage&, Ht::colour::channel, Ht::colour::channel, quint8>(&ColourDisplay::highlightChanged),
            this, &ColourWorkspace::updateReassignmentButtons);
    connect(toKeep_, &QToolButton::clicked, this, &ColourWorkspace::toKeep);
    connect(toDrop_, &QToolButton::clicked, this, &ColourWorkspace::toDrop);
    connect(toBlend_, &QToolButton::clicked, this, &ColourWorkspace::toBlend);
    connect(toUnassigned_, &QToolButton::clicked, this, &ColourWorkspace::toUnassigned);
    connect(horizontalAxisChooser_, &QToolButton::pressed, this, &ColourWorkspace::chooseHorizontalAxis);
    connect(verticalAxisChooser_, &QToolButton::pressed, this, &ColourWorkspace::chooseVerticalAxis);
    connect(colourBits_, &QSlider::valueChanged, this, &ColourWorkspace::colourBitsChanged);
}

ColourWorkspace::~ColourWorkspace()
{
    if (m_selectTool)
        setSelectTool(nullptr);
}

void ColourWorkspace::connectModel()
{
    GmModel* model = GmModel::instance();
    connect(model, &GmModel::tellImageChanged, this, &ColourWorkspace::imageChanged);
    connect(model, &GmModel::statusImageChanged, this, &ColourWorkspace::statusImageChanged);
    connect(model, &GmModel::activeRegionReady, this, &ColourWorkspace::regionChanged);
    connect(model, &GmModel::activeRegionReady, this, &ColourWorkspace::updateVisibilitySlot);
    connect(model, &GmModel::toolChanged, this, &ColourWorkspace::updateVisibilitySlot);
    GmStatusArray* status = model->statusArray();
    connect(status, &GmStatusArray::statusChanged, colourDisplay_, &ColourDisplay::statusArrayChanged);
    connect(colourDisplay_, qOverload<const std::vector<bool>&, Ht::colour::channel, quint8>(&ColourDisplay::highlightChanged),
            status, qOverload<const std::vector<bool>&, Ht::colour::channel, quint8>(&GmStatusArray::highlightChanged));
    connect(colourDisplay_,
            qOverload<const QImage&, Ht::colour::channel, Ht::colour::channel, quint8>(&ColourDisplay::highlightChanged),
            status,
            qOverload<const QImage&, Ht::colour::channel, Ht::colour::channel, quint8>(&GmStatusArray::highlightChanged));
    connect(colourDisplay_, &ColourDisplay::unHighlit, status, &GmStatusArray::unHighlight);
}

int ColourWorkspace::usableViewTabs() const
{
    return ImageView::Workspace;
}

void ColourWorkspace::makeOffIcons()
{
    QToolButton* eyes[4] = {viewUnassigned_, viewKeep_, viewDrop_, viewBlend_};
    for (int i = 0; i < 4; ++i) {
        m_onIcons[i] = eyes[i]->icon();
        QPixmap pixmap = m_onIcons[i].pixmap(64, QIcon::Normal, QIcon::On);
        {
            QPainter painter(&pixmap);
            painter.setPen(QPen(Qt::red, 2));
            const int w = pixmap.width();
            const int h = pixmap.height();
            painter.drawLine(w / 2, 2, w - 2, h / 2);
            painter.drawLine(w / 2, h / 2, w - 2, 2);
        }
        m_offIcons[i] = QIcon(pixmap);
    }
}

void ColourWorkspace::setWhatsThisTexts()
{
    const QString more = learnMore();
    m_content->setWhatsThis(
        tr("<p><b>Color Workspace</b></p><p>Displays colors from the Patch or whole image. This is a useful tool for "
           "making fine mask selections.</p><p>To make a selection in the Color Workspace, click and drag over the "
           "area of interest. The selection will be highlighted in yellow in the Color Workspace <b><i>and</i></b> "
           "in the image. To add further selections hold down the <b>Shift</b> key while dragging the mouse, to "
           "subtract from selections hold down <b>Alt</b> while dragging the mouse.</p><p>Assign your selection to a "
           "Mask by clicking the appropriate &lsquo;mask bucket&rsquo; icon.</p><p><b><i>Consider:</i></b> For very "
           "fine selections, consider moving the Color Workspace <b>Resolution</b> slider to &lsquo;Fine&rsquo;. Also "
           "remember to check that you have the right <b>Views</b> open&mdash;e.g., to see colors that have not been "
           "assigned a mask, make sure the <b>Unassigned View</b> icon is turned on.</p>")
        + more);
    setWhatsThis(m_content->whatsThis());

    const QString buckets =
        tr("<p><b>Assign to Masks</b></p><p>Having made a selection(s) in the <b>Color Workspace</b>, assign your "
           "selection to a Mask using the &lsquo;bucket&rsquo; icons below:</p><ul><li> Add <b>Keep Mask</b> to "
           "selection.</li><li> Add <b>Delete Mask</b> to selection.</li><li> Add <b>Blend Mask</b> to selection."
           "</li></ul><p><b><i>Note:</i></b> Below the above &lsquo;bucket&rsquo; icons in the Color Workspace there "
           "is a &lsquo;blank&rsquo; bucket. Use this to clear all masks from a selection in the Color Workspace.</p>")
        + more;
    for (QToolButton* button : {toKeep_, toDrop_, toBlend_, toUnassigned_})
        button->setWhatsThis(buckets);

    colourBits_->setWhatsThis(
        tr("<p><b>Resolution</b></p><p>When working on intricate areas needing more precise masking, move the slider "
           "to the right (towards &lsquo;Fine&rsquo;). This will produce more detail within the histogram / 2D color "
           "chart.<p><p>Moving the slider in the other direction has the opposite effect. &lsquo;Coarse&rsquo; "
           "settings are best for less complicated images or those where the distinction between foreground and "
           "background are more obvious.</p>")
        + more);

    const QString views =
        tr("<p><b>View from Masks</b></p><p>Control what masks(either in a Patch or for full image) are shown in the "
           "Color Workspace. All of the options below may be viewed together.</p><ul><li> View areas with no mask "
           "assigned.</li><li> View areas assigned to <b>Keep Mask</b>.</li><li> View areas assigned to <b>Delete "
           "Mask</b>.</li><li> View areas assigned to <b>Blend Mask</b>.</li></ul>")
        + more;
    for (QToolButton* button : {viewUnassigned_, viewKeep_, viewDrop_, viewBlend_})
        button->setWhatsThis(views);

    const QString modes =
        tr("<p><b>Mode</b></p><p><b>Histogram:</b> Maps selected area along horizontal axis (Photoshop behavior) in "
           "vertical columns. The map is divided into small ranges. Selections in Histogram mode are made by "
           "selecting columns along the horizontal axis (Photoshop behaviour).</p><p><b>2D Color Map:</b> Maps "
           "selected area&rsquo;s color properties on both the horizontal and vertical axes. Selections in the 2D "
           "Color Map mode are made by clicking and dragging a marquee over the area of interest.</p><p>Each "
           "selection will be highlighted in yellow in the Color Workspace <b><i>and</i></b> in the image. To add to "
           "selections hold down the <b>Shift</b> key while dragging the mouse, to subtract hold down <b>Alt</b> "
           "while dragging the mouse.</p><p>Assign your selection to a Mask by clicking the appropriate &lsquo;mask "
           "bucket&rsquo; icon.</p><p><b><i>Consider:</i></b> For very fine selections moving the <b>Color Workspace "
           "Resolution</b> slider to fine.</p>")
        + more;
    histogramMode_->setWhatsThis(modes);
    colourMapMode_->setWhatsThis(modes);

    const QString horizontal =
        tr("<p><b>Horizontal Axis</b></p><p>You can select a property to show on the <b>Graph Horizontal</b> axis "
           "using the drop down menu.</p><p>The following properties can be mapped: Red, Green, Blue color component, "
           "Hue, Lightness and Saturation.</p><p><b><i>Consider:</i></b> In <b>2D Map Mode</b> you cannot map the same "
           "property on both <b>Graph</b> axes&mdash;changing one will occasionally change the other. In <b>Histogram "
           "Mode</b> the vertical <b>Graph</b> axis always shows frequency.</p>")
        + more;
    horizontalAxis_->setWhatsThis(horizontal);
    horizontalAxisChooser_->setWhatsThis(horizontal);
    const QString vertical =
        tr("<p><b>Vertical Axis</b></p><p>You can select a property to show on the <b>Graph Vertical</b> axis "
           "using the drop down menu.</p><p>The following properties can be mapped: Red, Green, Blue color component, "
           "Hue, Lightness and Saturation.</p><p><b><i>Consider:</i></b> In <b>2D Map Mode</b> you cannot map the same "
           "property on both <b>Graph</b> axes&mdash;changing one will occasionally change the other. In <b>Histogram "
           "Mode</b> the vertical <b>Graph</b> axis always shows frequency.</p>")
        + more;
    verticalAxis_->setWhatsThis(vertical);
    verticalAxisChooser_->setWhatsThis(vertical);
}

ColourWorkspaceSelectTool* ColourWorkspace::selectTool() const
{
    return m_selectTool.data();
}

void ColourWorkspace::setSelectTool(ColourWorkspaceSelectTool* tool)
{
    disconnect(m_pickConnection);
    disconnect(m_clickConnection);
    m_selectTool = tool;
    if (!tool)
        return;
    m_pickConnection =
        connect(tool, &ColourWorkspaceSelectTool::colourPicked, colourDisplay_, &ColourDisplay::colourPicked);
    m_clickConnection = connect(colourDisplay_, &ColourDisplay::clickInColourDisplay, tool, &GmTool::installSlot);
}

void ColourWorkspace::syncResolutionSlider(QSlider* slider)
{
    if (!slider)
        return;
    slider->setRange(colourBits_->minimum(), colourBits_->maximum());
    slider->setValue(colourBits_->value());
    connect(slider, &QSlider::valueChanged, colourBits_, &QSlider::setValue);
    connect(colourBits_, &QSlider::valueChanged, slider, &QSlider::setValue);
}

int ColourWorkspace::partnerChannel(int chosen, int other)
{
    using namespace Ht::colour;
    switch (chosen) {
    case Hue:
        return other == Lightness || other == Saturation ? other : Lightness;
    case Lightness:
        return other == Hue || other == Saturation ? other : Hue;
    case Saturation:
        return other == Hue || other == Lightness ? other : Hue;
    case Red:
        return other == Green || other == Blue ? other : Green;
    case Green:
        return other == Red || other == Blue ? other : Red;
    case Blue:
        return other == Red || other == Green ? other : Red;
    default:
        return other;
    }
}

// ---- Slots --------------------------------------------------------------------------------

void ColourWorkspace::opacityChanged(int)
{
    colourDisplay_->update();
}

void ColourWorkspace::imageChanged(const KsSourceImage*)
{
    // The display reads the image itself when it rebuilds its table.
    colourDisplay_->unHighlight();
    colourDisplay_->markRenderNeeded();
    colourDisplay_->update();
}

void ColourWorkspace::statusImageChanged(const QImage*)
{
    colourDisplay_->markRenderNeeded();
    colourDisplay_->update();
}

void ColourWorkspace::regionChanged(GmRegion* region)
{
    const int count = region ? region->changeCount() : 0;
    const bool same = region ? (m_lastRegion.data() == region && m_lastRegionCount == count) : !m_hadRegion;
    if (same)
        return;
    m_lastRegion = region;
    m_hadRegion = region != nullptr;
    m_lastRegionCount = count;
    colourDisplay_->markRenderNeeded();
    colourDisplay_->update();
}

void ColourWorkspace::modeChanged()
{
    const int mode = histogramMode_->isChecked() ? ColourDisplay::HistogramMode : ColourDisplay::ColourMapMode;
    if (mode == colourDisplay_->mode())
        return;
    colourDisplay_->setMode(mode);
    colourDisplay_->unHighlight();
    colourDisplay_->update();
    horizontalAxis_->update();
    verticalAxis_->update();
}

void ColourWorkspace::selectModeChanged() {}

void ColourWorkspace::statusesViewedChanged(bool)
{
    quint8 mask = 0;
    if (viewUnassigned_->isChecked())
        mask |= kUnassigned;
    if (viewKeep_->isChecked())
        mask |= kKeep;
    if (viewDrop_->isChecked())
        mask |= kDrop;
    if (viewBlend_->isChecked())
        mask |= kBlend;
    // Rebuilds the table at the next paint and announces the highlight for the new classes.
    colourDisplay_->setStatusesViewed(mask);
    colourDisplay_->update();
}

void ColourWorkspace::updateVisibilitySlot()
{
    GmTool* current = GmTool::currentTool();
    if (!m_toolSeen) {
        m_toolSeen = true;
        m_lastTool = current;
    }
    GmTool* sampler = m_selectTool.data();
    GmTool* last = m_lastTool.data();
    // Remembered in every case: a tool change between two other tools must not hold back
    // the next patch's showing of the panel.
    m_lastTool = current;
    if (current != last && current != sampler && last != sampler)
        return;
    const GmModel* model = GmModel::instance();
    const bool wanted = (!isClosed() && model->activeRegion()) || (current && current == sampler);
    setUserVisible(wanted);
    updateVisibility();
}

void ColourWorkspace::chooseHorizontalAxis()
{
    chooseAxis(true);
}

void ColourWorkspace::chooseVerticalAxis()
{
    chooseAxis(false);
}

void ColourWorkspace::chooseAxis(bool horizontal)
{
    QToolButton* chooser = horizontal ? horizontalAxisChooser_ : verticalAxisChooser_;
    const int current = horizontal ? colourDisplay_->horizontalChannel() : colourDisplay_->verticalChannel();
    const int other = horizontal ? colourDisplay_->verticalChannel() : colourDisplay_->horizontalChannel();
    int chosen = -1;
    {
        QMenu menu;
        QList<QAction*> actions;
        for (int i = 0; i < m_channelNames.size(); ++i) {
            QAction* action = menu.addAction(m_channelNames[i]);
            action->setCheckable(true);
            action->setChecked(i == current);
            actions.append(action);
        }
        QAction* picked = menu.exec(chooser->mapToGlobal(chooser->rect().bottomLeft()));
        chosen = picked ? actions.indexOf(picked) : -1;
    }
    chooser->setDown(false);
    if (chosen < 0 || chosen == current)
        return;
    const int partner = partnerChannel(chosen, other);
    const int h = horizontal ? chosen : partner;
    const int v = horizontal ? partner : chosen;
    colourDisplay_->setChannels(h, v);
    horizontalAxis_->setChannel(h);
    horizontalAxis_->update();
    verticalAxis_->setChannel(v);
    verticalAxis_->update();
    colourDisplay_->unHighlight();
}

void ColourWorkspace::colourBitsChanged(int value)
{
    colourDisplay_->setColourBits(value);
    colourDisplay_->update();
}

void ColourWorkspace::toUnassigned()
{
    goTo(kUnassigned);
}

void ColourWorkspace::toKeep()
{
    goTo(kKeep);
}

void ColourWorkspace::toDrop()
{
    goTo(kDrop);
}

void ColourWorkspace::toBlend()
{
    goTo(kBlend);
}

void ColourWorkspace::goTo(quint8 status)
{
    GmModel* model = GmModel::instance();
    GmStatusArray* statusArray = model->statusArray();
    DravikThread* worker = DravikThread::instance();
    if (!model->source() || !statusArray || !worker)
        return;
    // The highlight must be complete: a run still going would leave part of the selection out.
    statusArray->waitForHighlight();
    const QImage* highlight = statusArray->highlightImage();
    if (!highlight)
        return;
    // The highlight has the working image's size, as the stroke mask must.
    auto* stroke = new Brushing(maskColour(status));
    stroke->setMaskImage(*highlight);
    stroke->setBoundingReducedRect(QRectF(highlight->rect()));
    auto* brushing = new GmBrushing(stroke);
    // Only a checked box lets the engine add Blend on its own.
    auto* command = new DvCmdSelect(model, stroke, kAllClasses, status, 0, autoBlend->isChecked() ? 0 : 1);
    // The stroke stays on show until the command is done with.
    brushing->setParent(command);
    worker->submit(command, DravikThread::SubmitCancellable);
    colourDisplay_->unHighlight();
}

void ColourWorkspace::updateReassignmentButtons()
{
    const bool enabled = !colourDisplay_->isSelectionEmpty();
    for (QToolButton* button : {toKeep_, toDrop_, toBlend_, toUnassigned_})
        button->setEnabled(enabled);
}

void ColourWorkspace::viewUnassignedChangedSlot(bool on)
{
    viewUnassigned_->setIcon(on ? m_onIcons[0] : m_offIcons[0]);
}

void ColourWorkspace::viewKeepChangedSlot(bool on)
{
    viewKeep_->setIcon(on ? m_onIcons[1] : m_offIcons[1]);
}

void ColourWorkspace::viewDropChangedSlot(bool on)
{
    viewDrop_->setIcon(on ? m_onIcons[2] : m_offIcons[2]);
}

void ColourWorkspace::viewBlendChangedSlot(bool on)
{
    viewBlend_->setIcon(on ? m_onIcons[3] : m_offIcons[3]);
}

void ColourWorkspace::setAutoBlend(bool on)
{
    autoBlend->setChecked(on);
}

void ColourWorkspace::hideEvent(QHideEvent* event)
{
    GmSubWindow::hideEvent(event);
    // While the panel is away the sampler has nothing to sample into: the previous tool comes
    // back.
    GmTool* current = GmTool::currentTool();
    if (!m_selectTool || current != m_selectTool.data())
        return;
    GmTool* previous = m_selectTool->previousTool();
    if (!previous)
        return;
    if (KsMainWindow* window = KsMainWindow::instance())
        window->selectToolOrFallback(previous);
    else
        previous->installSlot();
}
