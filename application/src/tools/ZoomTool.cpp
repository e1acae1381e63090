#include "tools/ZoomTool.h"

#include "canvas/BitmapCursor.h"
#include "document/GmModel.h"
#include "document/Rectangle.h"
#include "document/Texts.h"
#include "panels/Browser.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>

namespace {

std::unique_ptr<QCursor> loadZoomCursor(const char* data, Qt::CursorShape fallback)
{
    std::unique_ptr<QCursor> cursor = makeBitmapCursor(6, 6, QString::fromLatin1(data),
                                                       QStringLiteral(":images/curs_mask_zoom.png"));
    return cursor ? std::move(cursor) : std::make_unique<QCursor>(fallback);
}

QString navigatorTip()
{
    return QCoreApplication::translate("ZoomTool",
                                       "<p>You can also use the <b>Navigator</b> window as an alternative way to "
                                       "adjust zoom and panning of the whole image.</p>",
                                       "[tip]");
}

} // namespace

ZoomTool::ZoomTool(QActionGroup* actionGroup, QWidget* menuWidget, QWidget* barWidget, ToolOptions* toolOptions)
    : RectangleTool(QStringLiteral("Zoom Tool"), tr("Zoom Tool"), QIcon(QStringLiteral(":images/tool_image_zoom.png")),
                    tr("Z"), QString(), actionGroup, menuWidget, barWidget, toolOptions),
      m_zoomIn(loadZoomCursor(":images/curs_data_zoomin.png", Qt::CrossCursor)),
      m_zoomOut(loadZoomCursor(":images/curs_data_zoomout.png", Qt::CrossCursor)),
      m_unavailable(loadZoomCursor(":images/curs_data_zoomunavailable.png", Qt::ForbiddenCursor)),
      m_current(m_zoomIn.get())
{
    // Queued connections and signal spies carry rectangles by the name the signals use.
    qRegisterMetaType<ImageRectF>("ImageRectF");
    setHelpText(tr("<p>Use to zoom in (or out) of the image:</p><ul><li><b><i>Zoom In</i></b>: Click.</li>"
                   "<li><b><i>Zoom Out</i></b>: Hold down the <b>Alt</b> key and click.</li><li><b><i>Marquee "
                   "(Box) Zoom</i></b>: Click and drag.</li></ul>",
                   "[tip]")
                + navigatorTip()
                + learnMoreParagraph(Browser::helpRoot()
                                     + QStringLiteral("/4-Kestrine_Tools/About_Kestrine_Tools.htm")));
    setOptionsWidget(createOptionsWidget());
}

ZoomTool::~ZoomTool()
{
    // A rubber band left behind would be drawn with no tool to finish it.
    if (GmModel* model = GmModel::existingInstance())
        model->clearZoomRect();
}

QWidget* ZoomTool::createOptionsWidget()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("ZoomToolOptions"));
    auto* layout = new QHBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* actualPixels = new QPushButton(tr("Actual Pixels"), page);
    actualPixels->setObjectName(QStringLiteral("actualPixels"));
    actualPixels->setToolTip(tr("Show image with no zoom"));
    actualPixels->setWhatsThis(
        tr("<p><b>Actual Pixels</b></p><p>Shows your image in its original form, with no zoom.</p>") + navigatorTip());
    connect(actualPixels, &QPushButton::clicked, this, [this](bool) { emit actualPixelsSignal(); });
    layout->addWidget(actualPixels);

    auto* fitScreen = new QPushButton(tr("Fit Screen"), page);
    fitScreen->setObjectName(QStringLiteral("fitScreen"));
    fitScreen->setToolTip(tr("Zoom to fit image on screen"));
    fitScreen->setWhatsThis(
        tr("<p><b>Fit Screen</b></p><p>Adjusts the size of your image, automatically, to fit on your screen.</p>")
        + navigatorTip());
    connect(fitScreen, &QPushButton::clicked, this, [this](bool) { emit fitScreenSignal(); });
    layout->addWidget(fitScreen);

    layout->addStretch();
    return page;
}

QCursor ZoomTool::cursor() const
{
    return *m_current;
}

void ZoomTool::showCursor(const QCursor* cursor)
{
    if (cursor == m_current)
        return;
    m_current = cursor;
    if (GmTool::currentTool() == this)
        emit GmModel::instance()->cursorChanged(m_current);
}

void ZoomTool::chooseCursor(Qt::KeyboardModifiers modifiers)
{
    if (modifiers & Qt::AltModifier) {
        // Alt has no say over a rectangle already being dragged.
        const GmModel* model = GmModel::existingInstance();
        if (model && model->zoomRect())
            return;
        showCursor(m_zoomOutPossible ? m_zoomOut.get() : m_unavailable.get());
    } else {
        showCursor(m_zoomInPossible ? m_zoomIn.get() : m_unavailable.get());
    }
}

void ZoomTool::mousePressed(const ImagePointF& point, QMouseEvent* event)
{
    chooseCursor(event->modifiers());
    if (event->button() != Qt::LeftButton)
        return;
    if (m_current == m_zoomIn.get())
        RectangleTool::mousePressed(point, event);
    else if (m_current == m_zoomOut.get())
        emit zoomOutSignal();
}

void ZoomTool::mouseMoved(const ImagePointF& point, QMouseEvent* event)
{
    chooseCursor(event->modifiers());
    if (m_current == m_zoomIn.get())
        RectangleTool::mouseMoved(point, event);
}

void ZoomTool::mouseReleased(const ImagePointF& point, QMouseEvent* event)
{
    chooseCursor(event->modifiers());
    if (m_current == m_zoomIn.get())
        RectangleTool::mouseReleased(point, event);
    else if (event->button() == Qt::LeftButton)
        GmModel::instance()->clearZoomRect(); // the zoom reached its limit during the drag
}

void ZoomTool::mouseDoubleClicked(const ImagePointF&, QMouseEvent* event)
{
    chooseCursor(event->modifiers());
    if (event->button() != Qt::LeftButton)
        return;
    if (m_current == m_zoomIn.get())
        emit zoomInSignal();
    else if (m_current == m_zoomOut.get())
        emit zoomOutSignal();
}

void ZoomTool::beginRect(const ImagePointF& point)
{
    GmModel::instance()->beginZoomRect(point);
}

void ZoomTool::finishRect(const ImagePointF& point)
{
    GmModel* model = GmModel::instance();
    if (previousButtonState() == 2) {
        if (ks::Rectangle* rect = model->zoomRect()) {
            rect->dragCornerTo(point);
            const QRectF shown = rect->rect();
            // Dragged up or left of the press: not a zoom.
            if (shown.width() >= 0.0 && shown.height() >= 0.0)
                emit zoomToRectSignal(shown);
        }
    } else if (previousButtonState() == 1) {
        emit zoomInSignal();
    }
    model->clearZoomRect();
}

ks::Rectangle* ZoomTool::currentRect() const
{
    const GmModel* model = GmModel::existingInstance();
    return model ? model->zoomRect() : nullptr;
}

void ZoomTool::escapeKeyPressed()
{
    if (buttonState() != 0) {
        GmModel::instance()->clearZoomRect();
        clearButtonStates();
        return;
    }
    RectangleTool::escapeKeyPressed();
}

void ZoomTool::keyEvent(QKeyEvent* event)
{
    if (event->key() != Qt::Key_Alt)
        return;
    // Whether the key event's modifiers already count the Alt key itself differs between
    // platforms: the event type decides.
    Qt::KeyboardModifiers modifiers = event->modifiers();
    if (event->type() == QEvent::KeyPress)
        modifiers |= Qt::AltModifier;
    else
        modifiers &= ~Qt::AltModifier;
    chooseCursor(modifiers);
}

ImageView::ViewTabs ZoomTool::usableViewTabs() const
{
    return ImageView::Source | ImageView::Workspace | ImageView::CutOut;
}

ImageView::ViewTab ZoomTool::homeViewTab() const
{
    return ImageView::Workspace;
}

bool ZoomTool::clearsPreviewOnPress() const
{
    return false;
}

bool ZoomTool::usesBrush() const
{
    return false;
}

bool ZoomTool::clearsColourHighlight() const
{
    return false;
}

int ZoomTool::arrowTargetDisplayState(ArrowTarget* target) const
{
    return m_underlying ? m_underlying->arrowTargetDisplayState(target) : GmTool::arrowTargetDisplayState(target);
}

GmTool* ZoomTool::underlyingTool() const
{
    return m_underlying;
}

void ZoomTool::activate(GmTool* previous)
{
    GmTool* stood = previous && previous->underlyingTool() ? previous->underlyingTool() : previous;
    // Never stand in for itself: forwarded questions would go round in a circle.
    if (stood != this)
        m_underlying = stood;
    else if (previous != this)
        m_underlying = nullptr;
    clearButtonStates();
}

void ZoomTool::deactivate(GmTool*)
{
    GmModel::instance()->clearZoomRect();
    clearButtonStates();
}

void ZoomTool::zoomInEnabledSlot(bool enabled)
{
    m_zoomInPossible = enabled;
    if (enabled && m_current != m_zoomOut.get())
        showCursor(m_zoomIn.get());
}

void ZoomTool::zoomOutEnabledSlot(bool enabled)
{
    m_zoomOutPossible = enabled;
    if (enabled && m_current != m_zoomIn.get())
        showCursor(m_zoomOut.get());
}

void ZoomTool::setZoomSliderValue(int value)
{
    if (m_zoomSlider) {
        const QSignalBlocker blocker(m_zoomSlider);
        m_zoomSlider->setValue(value);
    }
    m_zoomSliderValue = value;
}
