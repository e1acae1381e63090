#include "canvas/GmZoomWidget.h"

#include "canvas/TabFilter.h"
#include "document/ArrowTarget.h"
#include "document/Brushing.h"
#include "document/ForcedEdge.h"
#include "document/GmAction.h"
#include "document/GmBrushing.h"
#include "document/GmColor.h"
#include "document/GmModel.h"
#include "document/GmRegion.h"
#include "document/GmStatusArray.h"
#include "document/KsAppPreferences.h"
#include "document/KsSourceImage.h"
#include "document/PixelState.h"
#include "document/Prompt.h"
#include "document/Rectangle.h"
#include "document/SegmentationStuff.h"
#include "document/Shape.h"
#include "engine/CommandHooks.h"
#include "panels/ViewOptions.h"
#include "tools/BrushingTool.h"
#include "tools/GmTool.h"

#include <QApplication>
#include <QBitmap>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QSettings>
#include <QTabletEvent>
#include <QTransform>

#include <algorithm>
#include <cmath>

namespace {

const QString backgroundColourKey = QStringLiteral("GmZoomWidget/backgroundColour_");

GmZoomWidget::BackgroundBrushHook g_backgroundBrushHook;
GmZoomWidget::ColourHighlightShownHook g_colourHighlightShownHook;
GmZoomWidget::DropSinkHook g_dropSinkHook;
GmZoomWidget::ImageMenuActionsHook g_imageMenuActionsHook;
GmZoomWidget::ShowActionsHook g_showActionsHook;

double g_tabletPressure = 1.0;
bool g_tabletPressureInEffect = false;

QPointer<QAction> g_washAction;
int g_washIntensity = 255;
int g_washStep = 15;

enum ViewMode { NoView = -1, SourceView = 0, WorkspaceView = 1, CutoutView = 2 };

// What shows behind the cut-out. A two-tone backdrop paints only its dark squares, in the
// swatch's colour; its light squares are white, not whatever lay there before.
void fillBackground(QPainter& painter, const QRectF& area)
{
    const QBrush brush = GmZoomWidget::backgroundBrush();
    if (brush.style() == Qt::TexturePattern)
        painter.fillRect(area, Qt::white);
    painter.fillRect(area, brush);
}

// The pixels of an image smaller by the divisor that cover an area in image coordinates,
// within the image.
QRect coveringPixels(const QRectF& area, int divisor, const QSize& size)
{
    const int left = int(std::floor(area.left() / divisor));
    const int top = int(std::floor(area.top() / divisor));
    const int right = int(std::ceil(area.right() / divisor));
    const int bottom = int(std::ceil(area.bottom() / divisor));
    return QRect(left, top, right - left, bottom - top) & QRect(QPoint(0, 0), size);
}

QRectF scaledBy(const QRect& r, int divisor)
{
    return QRectF(double(r.x()) * divisor, double(r.y()) * divisor, double(r.width()) * divisor,
                  double(r.height()) * divisor);
}

// Draw the part of a picture, smaller than the image by the divisor, that covers the area: the
// painter scales those pixels, nothing else of the picture is touched.
void drawCovering(QPainter& painter, const QPixmap& picture, int divisor, const QRectF& area)
{
    const QRect pixels = coveringPixels(area, divisor, picture.size());
    if (!pixels.isEmpty())
        painter.drawPixmap(scaledBy(pixels, divisor), picture, QRectF(pixels));
}

void drawCovering(QPainter& painter, const QImage& picture, int divisor, const QRectF& area)
{
    const QRect pixels = coveringPixels(area, divisor, picture.size());
    if (!pixels.isEmpty())
        painter.drawImage(scaledBy(pixels, divisor), picture, QRectF(pixels));
}

QPen cosmeticPen(const QColor& colour)
{
    QPen pen(colour);
    pen.setCosmetic(true);
    return pen;
}

QColor namedColour(KsAppPreferences::ColorIndex index, const QColor& fallback)
{
    const KsAppPreferences* preferences = KsAppPreferences::instance();
    const GmColor* colour = preferences ? preferences->color(index) : nullptr;
    return colour ? colour->color() : fallback;
}

} // namespace

GmZoomWidget::GmZoomWidget() : QWidget(nullptr), m_tabFilter(new TabFilter(this))
{
    // Queued connections and signal spies carry points by the name the signals use.
    qRegisterMetaType<ImagePointF>("ImagePointF");
    setObjectName(QStringLiteral("GmZoomWidget"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    // Every paint covers what it is given: nothing needs clearing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    setMouseTracking(true);
    setAcceptDrops(true);
    setBackgroundRole(QPalette::Window);
    m_tabFilter->watch(this);
    addAction(washAction());
    connect(washAction(), &QAction::toggled, this, [this] { update(); });

    QSettings settings;
    const QVariant stored = settings.value(backgroundColourKey);
    bool ok = false;
    const int rgb = stored.toInt(&ok);
    setBackgroundColour(ok ? QColor::fromRgb(QRgb(rgb)) : QColor(Qt::white));

    GmModel* model = GmModel::instance();
    connect(model, &GmModel::tellImageChanged, this, &GmZoomWidget::imageChangedSlot);
    connect(model, &GmModel::rectDirty, this, &GmZoomWidget::rectDirtySlot);
    connect(model, &GmModel::toolChanged, this, &GmZoomWidget::toolChangedSlot);
    connect(model, &GmModel::cursorChanged, this, &GmZoomWidget::cursorChangedSlot);
    connect(model, &GmModel::resolutionChanged, this, &GmZoomWidget::resolutionChangedSlot);
    connect(model, &GmModel::patchPreviewAvailable, this, &GmZoomWidget::patchPreviewAvailableSlot);
    connect(model, &GmModel::hintOpacityChanged, this, &GmZoomWidget::hintOpacityChangedSlot);
    connect(model, &GmModel::showOriginal, this, &GmZoomWidget::showOriginalSlot);
    connect(model, &GmModel::changeBackgroundColour, this, &GmZoomWidget::changeBackgroundColourSlot);
    connect(model, &GmModel::aboutToWaitForEngine, this, &GmZoomWidget::endHeldPressSlot);
}

GmZoomWidget::~GmZoomWidget()
{
    QSettings settings;
    settings.setValue(backgroundColourKey, int(m_backgroundColour.rgb()));
}

// --- hooks and process-wide state ------------------------------------------------------------

void GmZoomWidget::setBackgroundBrushHook(BackgroundBrushHook hook)
{
    g_backgroundBrushHook = std::move(hook);
}

void GmZoomWidget::setColourHighlightShownHook(ColourHighlightShownHook hook)
{
    g_colourHighlightShownHook = std::move(hook);
}

void GmZoomWidget::setDropSinkHook(DropSinkHook hook)
{
    g_dropSinkHook = std::move(hook);
}

void GmZoomWidget::setImageMenuActionsHook(ImageMenuActionsHook hook)
{
    g_imageMenuActionsHook = std::move(hook);
}

void GmZoomWidget::setShowActionsHook(ShowActionsHook hook)
{
    g_showActionsHook = std::move(hook);
}

QBrush GmZoomWidget::backgroundBrush()
{
    return g_backgroundBrushHook ? g_backgroundBrushHook() : QBrush(Qt::white);
}

double GmZoomWidget::tabletPressure()
{
    return g_tabletPressure;
}

bool GmZoomWidget::tabletPressureInEffect()
{
    return g_tabletPressureInEffect;
}

void GmZoomWidget::clearTabletPressureInEffect()
{
    g_tabletPressureInEffect = false;
}

QAction* GmZoomWidget::washAction()
{
    if (!g_washAction) {
        g_washAction = new QAction(QStringLiteral("wash"), QCoreApplication::instance());
        g_washAction->setObjectName(QStringLiteral("wash"));
        g_washAction->setCheckable(true);
        g_washAction->setShortcut(QKeySequence(Qt::SHIFT + Qt::Key_F6));
    }
    return g_washAction;
}

const GmRegion* GmZoomWidget::previewPatch() const
{
    return m_previewPatch.data();
}

// --- geometry and zoom -----------------------------------------------------------------------

ImagePointF GmZoomWidget::imagePoint(const QPointF& widgetPoint) const
{
    return (widgetPoint - QPointF(m_imageRect.topLeft())) / m_zoom;
}

QRect GmZoomWidget::widgetRect(const ImageRectF& rect, double margin) const
{
    const QRectF r = rect.normalized();
    const double left = r.left() * m_zoom - margin;
    const double top = r.top() * m_zoom - margin;
    const double right = r.right() * m_zoom + margin;
    const double bottom = r.bottom() * m_zoom + margin;
    if (!std::isfinite(left) || !std::isfinite(top) || !std::isfinite(right) || !std::isfinite(bottom))
        return QRect();
    // Far outside the widget nothing is repainted; clamping keeps the conversion to int sound.
    const double limit = 1e9;
    const int l = int(std::floor(std::clamp(left, -limit, limit)));
    const int t = int(std::floor(std::clamp(top, -limit, limit)));
    const int rr = int(std::ceil(std::clamp(right, -limit, limit)));
    const int b = int(std::ceil(std::clamp(bottom, -limit, limit)));
    return QRect(l, t, rr - l, b - t).translated(m_imageRect.topLeft());
}

QSize GmZoomWidget::scaledImageSize() const
{
    const GmModel* model = GmModel::existingInstance();
    const KsSourceImage* source = model ? model->source() : nullptr;
    if (!source)
        return QSize(0, 0);
    return QSize(int(source->width() * m_zoom), int(source->height() * m_zoom));
}

QSize GmZoomWidget::sizeHint() const
{
    const QSize scaled = scaledImageSize();
    const QWidget* parent = parentWidget();
    return parent ? scaled.expandedTo(parent->size()) : scaled;
}

void GmZoomWidget::recomputeImageRect()
{
    const GmModel* model = GmModel::existingInstance();
    if (!model || !model->source()) {
        m_imageRect = QRect();
        return;
    }
    const QSize hint = sizeHint();
    const QSize scaled = scaledImageSize().boundedTo(hint);
    const int left = hint.width() > scaled.width() ? (hint.width() - scaled.width()) / 2 : 0;
    const int top = hint.height() > scaled.height() ? (hint.height() - scaled.height()) / 2 : 0;
    m_imageRect = QRect(QPoint(left, top), scaled);
}

void GmZoomWidget::setZoom(bool absolute, double value)
{
    const double zoom = std::min(absolute ? value : m_zoom * value, maximumZoom);
    if (!(zoom > 0.0))
        return;
    m_zoom = zoom;
    m_fitFollowsView = false;
    // In screen coordinates the pointer survives the change of the image's placement.
    if (m_pointer.known && !m_pointer.global) {
        m_pointer.pos = mapToGlobal(m_pointer.pos + m_imageRect.topLeft());
        m_pointer.global = true;
    }
    if (sizeHint() == size()) {
        recomputeImageRect();
        update();
    }
    emit zoomChanged(m_zoom);
    updateGeometry();
    resize(sizeHint());
}

void GmZoomWidget::zoomToFit(const QSize& size)
{
    const GmModel* model = GmModel::existingInstance();
    const KsSourceImage* source = model ? model->source() : nullptr;
    if (!source || source->width() <= 0 || source->height() <= 0) {
        setZoom(true, 1.0);
        return;
    }
    const QSize image(source->width(), source->height());
    const QSize fitted = image.scaled(size, Qt::KeepAspectRatio);
    setZoom(true, double(fitted.width()) / image.width());
}

void GmZoomWidget::fitImage()
{
    const QWidget* parent = parentWidget();
    const QSize room = parent ? parent->size() : size();
    zoomToFit(QSize(int(std::lround(room.width() * fitShare)), int(std::lround(room.height() * fitShare))));
    m_fitFollowsView = true;
}

void GmZoomWidget::viewResized()
{
    if (m_fitFollowsView)
        fitImage();
}

void GmZoomWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    recomputeImageRect();
}

void GmZoomWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_imageChangePending) {
        m_imageChangePending = false;
        fitImage();
    }
}

void GmZoomWidget::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    update();
    if (m_pointer.known && !m_pointer.global) {
        // The pointer has not moved on the screen: it now lies elsewhere in the widget.
        m_pointer.pos -= event->pos() - event->oldPos();
        updateBrushOutline();
    } else if (m_brushOutlineRect.isValid()) {
        updateBrushOutline();
    }
}

void GmZoomWidget::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    m_pointer.known = false;
    updateBrushOutline();
}

namespace {

// Below this many widget pixels per working pixel the footprint would be a blur of dots.
constexpr double footprintScale = 5.0;
constexpr int footprintAlpha = 45;

// The cursor shown while the pointer is away from the canvas: four short strokes around the
// hot spot in the brush's colour.
QCursor brushCursor(const QColor& colour)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(colour);
    QBitmap mask(32, 32);
    mask.fill(Qt::color0);
    {
        QPainter painter(&mask);
        painter.setPen(Qt::color1);
        painter.drawLine(8, 0, 8, 4);
        painter.drawLine(8, 12, 8, 16);
        painter.drawLine(0, 8, 4, 8);
        painter.drawLine(12, 8, 16, 8);
    }
    pixmap.setMask(mask);
    return QCursor(pixmap, 8, 8);
}

} // namespace

bool GmZoomWidget::brushOutlineDue(QPoint* centre) const
{
    const GmTool* tool = GmTool::currentTool();
    const GmModel* model = GmModel::existingInstance();
    if (!tool || !tool->usesBrush() || m_viewMode != WorkspaceView || !model || !model->source())
        return false;
    if (m_brushPreviewShown && BrushingTool::sizeSliderDown()) {
        *centre = m_imageRect.topLeft() + m_brushPreview;
        return true;
    }
    if (!m_pointer.known)
        return false;
    *centre = m_pointer.global ? mapFromGlobal(m_pointer.pos) : m_imageRect.topLeft() + m_pointer.pos;
    return true;
}

QRect GmZoomWidget::brushOutlineArea(const QPoint& centre) const
{
    const GmModel* model = GmModel::existingInstance();
    const double scale = m_zoom * (model ? model->resolution() : 1);
    const double radius = BrushingTool::brushSize() * scale / 2.0;
    // The footprint reaches a working pixel beyond the radius, the marker 12 widget pixels.
    const int reach = int(std::ceil(std::max(radius + scale + 12.0, 8.0)));
    return QRect(centre - QPoint(reach, reach), centre + QPoint(reach, reach));
}

void GmZoomWidget::updateBrushOutline()
{
    const GmTool* tool = GmTool::currentTool();
    const QRect old = m_brushOutlineRect;
    QPoint centre;
    if (brushOutlineDue(&centre)) {
        const Qt::CursorShape shape = tool->cursor().shape();
        if (cursor().shape() != shape)
            setCursor(QCursor(shape));
        const QRect area = brushOutlineArea(centre);
        if (!old.isValid() || old == area)
            update(area);
        else if (old.intersects(area))
            update(old.united(area));
        else {
            update(old);
            update(area);
        }
        m_brushOutlineRect = area;
    } else if (old.isValid()) {
        update(old);
        m_brushOutlineRect = QRect(-1, -1, -1, -1);
    }
    if (!m_pointer.known && tool && tool->usesBrush())
        setCursor(brushCursor(tool->outlineColour()));
}

void GmZoomWidget::showBrushPreviewAt(const QPoint& pos)
{
    m_brushPreview = pos;
    m_brushPreviewShown = true;
    updateBrushOutline();
}

const QImage& GmZoomWidget::brushFootprint(const ImagePointF& point, int diameter, QPoint* offset) const
{
    const GmModel* model = GmModel::existingInstance();
    const double divisor = model ? model->resolution() : 1;
    const QPointF working = point / divisor;
    const QPointF whole(std::floor(working.x()), std::floor(working.y()));
    const QPointF phase = working - whole;
    const int side = int(std::lround((diameter + 3) * 1.414));
    if (m_footprint.isNull() || m_footprint.width() < side) {
        m_footprint = QImage(side, side, QImage::Format_Mono);
        m_footprintDiameter = -1;
    }
    const int half = m_footprint.width() / 2;
    if (diameter != m_footprintDiameter || phase != m_footprintPhase) {
        // The stroke's own rasteriser, at the same position within a pixel: the same pixels.
        m_footprint.fill(0);
        const QPointF local = phase + QPointF(half, half);
        Brushing::paintLine(m_footprint, local, local, diameter);
        m_footprintDiameter = diameter;
        m_footprintPhase = phase;
    }
    *offset = QPoint(int(whole.x()) - half, int(whole.y()) - half);
    return m_footprint;
}

// --- model slots -----------------------------------------------------------------------------

void GmZoomWidget::imageChangedSlot()
{
    if (isVisible()) {
        m_imageChangePending = false;
        fitImage();
    } else {
        m_imageChangePending = true;
    }
}

void GmZoomWidget::rectDirtySlot(const ImageRectF& rect, DirtyHint hint, PatchPreviewWanted preview)
{
    if (preview == ClearPatchPreview)
        clearPatchPreview();
    const double margin = hint == DirtyHintOutline ? 2.0 : hint == DirtyHintHandles ? 4.5 : 0.0;
    const QRect area = widgetRect(rect, margin);
    if (!area.isEmpty())
        update(area);
}

void GmZoomWidget::toolChangedSlot(const GmTool* tool)
{
    setCursor(tool ? tool->cursor() : QCursor(Qt::ArrowCursor));
    update();
}

void GmZoomWidget::cursorChangedSlot(const QCursor* cursor)
{
    if (cursor)
        setCursor(*cursor);
    updateBrushOutline();
}

void GmZoomWidget::viewTabChangedSlot(ImageView::ViewTab tab)
{
    const int mode = tab == ImageView::Source ? SourceView
                     : tab == ImageView::Workspace ? WorkspaceView
                     : tab == ImageView::CutOut ? CutoutView
                                                : NoView;
    if (mode == m_viewMode)
        return;
    m_viewMode = mode;
    const GmTool* tool = GmTool::currentTool();
    setCursor(tool && (tool->usableViewTabs() & tab) ? tool->cursor() : QCursor(Qt::ArrowCursor));
    update();
}

void GmZoomWidget::resolutionChangedSlot(int, int) {}

void GmZoomWidget::patchPreviewAvailableSlot(const GmRegion* patch)
{
    if (!patch)
        return;
    const PixelState* state = patch->shape() ? patch->shape()->pixelState() : nullptr;
    if (!state || !state->hasMask())
        return;
    m_previewPatch = const_cast<GmRegion*>(patch);
    // A copy with its own table: the mask's value 1 becomes a set bit of the bitmap, and the
    // patch's mask is left as it was.
    QImage mask = state->mask();
    mask.setColorCount(std::max(mask.colorCount(), 2));
    mask.setColor(0, qRgb(255, 255, 255));
    mask.setColor(1, qRgb(0, 0, 0));
    QRegion region(QBitmap::fromImage(mask.convertToFormat(QImage::Format_MonoLSB, Qt::ThresholdDither)));
    // The mask and its offset are in working pixels; the preview is kept in image pixels.
    const GmModel* model = GmModel::existingInstance();
    const int divisor = model ? model->resolution() : 1;
    if (divisor > 1)
        region = QTransform::fromScale(divisor, divisor).map(region);
    region.translate(state->offset() * divisor);
    m_previewRegion = region;
    update(widgetRect(m_previewRegion.boundingRect()));
}

void GmZoomWidget::clearPatchPreview()
{
    GmModel* model = GmModel::existingInstance();
    if (!model)
        return;
    if (m_previewPatch) {
        rectDirtySlot(m_previewPatch->shape()->boundingRect());
        m_previewPatch = nullptr;
        model->clearTestRenderRect();
    }
    if (!m_previewRegion.isEmpty()) {
        update(widgetRect(m_previewRegion.boundingRect()));
        m_previewRegion = QRegion();
        model->clearTestRenderRect();
    }
}

void GmZoomWidget::hintOpacityChangedSlot()
{
    update();
}

void GmZoomWidget::showOriginalSlot()
{
    update();
}

void GmZoomWidget::changeBackgroundColourSlot()
{
    const QColor colour = Prompt::getColor(m_backgroundColour, this, QString());
    if (colour.isValid())
        setBackgroundColour(colour);
}

void GmZoomWidget::setBackgroundColour(const QColor& colour)
{
    if (colour == m_backgroundColour)
        return;
    m_backgroundColour = colour;
    setStyleSheet(QStringLiteral("background-color: ") + colour.name() + QStringLiteral(" ;"));
    update();
}

// --- input -----------------------------------------------------------------------------------

void GmZoomWidget::handleMouse(QMouseEvent* event)
{
    m_pointer.pos = event->pos() - m_imageRect.topLeft();
    m_pointer.known = true;
    m_pointer.global = false;
    m_brushPreviewShown = false;
    updateBrushOutline();

    const bool press = event->type() == QEvent::MouseButtonPress;
    const bool leftRelease = event->type() == QEvent::MouseButtonRelease && event->button() == Qt::LeftButton;
    if (press || event->type() == QEvent::MouseButtonDblClick) {
        m_pressEnded = false;
    } else if (leftRelease && m_pressEnded) {
        // That press was ended already, when a wait took the input.
        m_pressEnded = false;
        return;
    }
    GmTool* tool = GmTool::currentTool();
    if (!tool || !tool->isAvailable() || !tool->isUsableInCurrentTab()) {
        if (press)
            QApplication::beep();
        return;
    }
    tool->trackButtons(event);
    followHeldPress(tool, event);
    if (press && tool->clearsPreviewOnPress())
        clearPatchPreview();
    const ImagePointF point = imagePoint(event->localPos());
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        tool->mousePressed(point, event);
        break;
    case QEvent::MouseMove:
        tool->mouseMoved(point, event);
        break;
    case QEvent::MouseButtonRelease:
        tool->mouseReleased(point, event);
        break;
    case QEvent::MouseButtonDblClick:
        tool->mouseDoubleClicked(point, event);
        break;
    default:
        break;
    }
}

void GmZoomWidget::followHeldPress(GmTool* tool, const QMouseEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (event->button() == Qt::LeftButton)
            m_heldPress.tool = tool;
        break;
    case QEvent::MouseMove:
        if (!(event->buttons() & Qt::LeftButton))
            return;
        break;
    case QEvent::MouseButtonRelease:
        if (event->button() == Qt::LeftButton)
            m_heldPress.tool = nullptr;
        return;
    default:
        return;
    }
    if (m_heldPress.tool != tool)
        return;
    m_heldPress.localPos = event->localPos();
    m_heldPress.windowPos = event->windowPos();
    m_heldPress.screenPos = event->screenPos();
    m_heldPress.modifiers = event->modifiers();
}

void GmZoomWidget::endHeldPressSlot()
{
    GmTool* tool = m_heldPress.tool;
    if (!tool || tool != GmTool::currentTool() || tool->buttonState() == 0) {
        m_heldPress.tool = nullptr;
        return;
    }
    QMouseEvent release(QEvent::MouseButtonRelease, m_heldPress.localPos, m_heldPress.windowPos,
                        m_heldPress.screenPos, Qt::LeftButton, Qt::NoButton, m_heldPress.modifiers);
    handleMouse(&release);
    m_heldPress.tool = nullptr;
    m_pressEnded = true;
}

void GmZoomWidget::mousePressEvent(QMouseEvent* event)
{
    handleMouse(event);
}

void GmZoomWidget::mouseMoveEvent(QMouseEvent* event)
{
    handleMouse(event);
}

void GmZoomWidget::mouseReleaseEvent(QMouseEvent* event)
{
    handleMouse(event);
}

void GmZoomWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    handleMouse(event);
}

void GmZoomWidget::tabletEvent(QTabletEvent* event)
{
    const KsAppPreferences* preferences = KsAppPreferences::instance();
    const bool wanted = preferences ? preferences->useTabletPressure() : true;
    const GmTool* tool = GmTool::currentTool();
    if (wanted && tool && tool->usesBrush() && event->pointerType() == QTabletEvent::Pen) {
        const double pressure = event->pressure();
        if (pressure != g_tabletPressure) {
            g_tabletPressure = pressure;
            if (pressure != 0.0)
                g_tabletPressureInEffect = true;
        }
    }
    // The mouse events made from the pen event carry the stroke.
    event->ignore();
}

void GmZoomWidget::contextMenuEvent(QContextMenuEvent* event)
{
    GmModel* model = GmModel::existingInstance();
    if (!model || !model->source() || m_viewMode != WorkspaceView)
        return;
    event->accept();
    emit activateArrowTargetAt(imagePoint(event->pos()));
    const ShowActions show = g_showActionsHook ? g_showActionsHook() : ShowActions();
    // Without a parent the menu keeps the application's look, not the canvas's background.
    QMenu menu;
    if (model->activeRegion()) {
        menu.addAction(model->autoFillPatchWithKeepAction());
        menu.addAction(model->autoFillPatchWithDeleteAction());
        menu.addAction(model->previewPatchAction());
        menu.addSeparator();
        menu.addAction(model->deletePatchAction());
        menu.addAction(model->clearMaskInPatchAction());
        menu.addAction(model->protectPatchAction());
        if (show.patchProperties || show.colourWorkspace)
            menu.addSeparator();
        if (show.patchProperties)
            menu.addAction(show.patchProperties);
        if (show.colourWorkspace)
            menu.addAction(show.colourWorkspace);
        menu.exec(event->globalPos());
        // The menu's command may have deleted the patch, or made another one active.
        GmModel* after = GmModel::existingInstance();
        if (after && after->activeRegion())
            after->emitActiveRegionReady();
        return;
    }
    if (model->activeForcedEdge()) {
        menu.addAction(model->deleteForcedEdgeAction());
        menu.exec(event->globalPos());
        return;
    }
    const QList<QAction*> actions = g_imageMenuActionsHook ? g_imageMenuActionsHook() : QList<QAction*>();
    for (QAction* action : actions) {
        if (action)
            menu.addAction(action);
    }
    if (show.colourWorkspace) {
        menu.addSeparator();
        menu.addAction(show.colourWorkspace);
    }
    if (!menu.isEmpty())
        menu.exec(event->globalPos());
}

void GmZoomWidget::dragEnterEvent(QDragEnterEvent* event)
{
    const QMimeData* data = event->mimeData();
    if (data && (data->hasUrls() || data->hasImage() || data->hasText())) {
        event->acceptProposedAction();
        if (QWidget* window = CommandHooks::mainWindow())
            window->raise();
    }
}

void GmZoomWidget::dragMoveEvent(QDragMoveEvent* event)
{
    event->accept();
}

void GmZoomWidget::dropEvent(QDropEvent* event)
{
    if (g_dropSinkHook)
        g_dropSinkHook(event);
    else
        event->ignore();
}

// --- painting --------------------------------------------------------------------------------

void GmZoomWidget::paintEvent(QPaintEvent* event)
{
    if (m_viewMode == NoView)
        return;
    QPainter painter(this);
    const QRegion& region = event->region();
    const QBrush window = palette().brush(QPalette::Window);
    GmModel* model = GmModel::existingInstance();
    if (!model || !model->source() || m_imageRect.isNull()) {
        for (const QRect& r : region)
            painter.fillRect(r, window);
        paintWash(painter, region);
        return;
    }
    for (const QRect& r : region.subtracted(m_imageRect))
        painter.fillRect(r, window);

    painter.save();
    painter.translate(m_imageRect.topLeft());
    painter.scale(m_zoom, m_zoom);
    const QRect exposedWidget = event->rect().translated(-m_imageRect.topLeft());
    const QRectF exposed(exposedWidget.x() / m_zoom, exposedWidget.y() / m_zoom, exposedWidget.width() / m_zoom,
                         exposedWidget.height() / m_zoom);
    paintImageLayer(painter, model, exposed);
    if (m_viewMode == CutoutView) {
        paintArrowTargets(painter, model, exposed);
        paintZoomRect(painter, model, exposed);
    } else if (m_viewMode == WorkspaceView) {
        paintOverlays(painter, model, exposed);
        paintPatchPreview(painter, model, exposed);
        paintArrowTargets(painter, model, exposed);
        paintForcedEdges(painter, model, exposed);
        paintBrushings(painter, model, exposed);
        paintBrushOutline(painter, model);
        paintZoomRect(painter, model, exposed);
        paintPreviewRect(painter, model, exposed);
    }
    painter.restore();
    paintWash(painter, region);
}

void GmZoomWidget::paintBrushings(QPainter& painter, GmModel* model, const QRectF& exposed)
{
    if (model->brushings().isEmpty())
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    // The strokes in progress, half transparent over the marks they will change.
    painter.setPen(QColor(0, 0, 0, 128));
    for (GmBrushing* brushing : model->brushings()) {
        if (brushing && brushing->brushing())
            brushing->brushing()->draw(&painter, Shape::DrawPlain, exposed, 5.0 / m_zoom);
    }
    painter.restore();
}

void GmZoomWidget::paintBrushOutline(QPainter& painter, GmModel* model)
{
    QPoint centre;
    if (!m_brushOutlineRect.isValid() || !brushOutlineDue(&centre))
        return;
    const GmTool* tool = GmTool::currentTool();
    const int divisor = model->resolution();
    const double scale = m_zoom * divisor;
    const int diameter = BrushingTool::brushSize();
    const ImagePointF point = imagePoint(centre);
    const KsSourceImage* source = model->source();
    QColor colour = tool->outlineColour();
    painter.save();
    painter.setClipRect(QRectF(0, 0, source->width(), source->height()), Qt::IntersectClip);
    if (scale >= footprintScale) {
        QPoint offset;
        QImage& footprint = const_cast<QImage&>(brushFootprint(point, diameter, &offset));
        const int half = footprint.width() / 2;
        const int reach = diameter / 2 + 2;
        const QRect part = QRect(half - reach, half - reach, 2 * reach + 1, 2 * reach + 1) & footprint.rect();
        QColor tint = colour;
        tint.setAlpha(footprintAlpha);
        footprint.setColorTable({qRgba(0, 0, 0, 0), tint.rgba()});
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.drawImage(QRectF((offset.x() + part.x()) * double(divisor), (offset.y() + part.y()) * double(divisor),
                                 part.width() * double(divisor), part.height() * double(divisor)),
                          footprint, part);
    }
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setBrush(Qt::NoBrush);
    const double u = 1.0 / m_zoom;
    const double radius = diameter * divisor / 2.0;
    const GmRegion* patch = model->activeRegion();
    colour.setAlpha(255);
    if (patch && patch->shape() && patch->shape()->contains(point)) {
        // Inside the active patch: a square, so that the brush reads as working in the patch.
        const double h = std::max(radius, 4.0 * u);
        const auto square = [&point](double half) {
            return QRectF(point.x() - half, point.y() - half, 2 * half, 2 * half);
        };
        painter.setPen(cosmeticPen(Qt::white));
        painter.drawRect(square(h + 4.0 * u));
        if (h > 4.0 * u)
            painter.drawRect(square(h - 4.0 * u));
        painter.setPen(cosmeticPen(colour));
        painter.drawRect(square(h));
    } else {
        painter.setPen(cosmeticPen(Qt::white));
        for (int k = 0; k < 16; ++k) {
            const double angle = k * M_PI / 8.0;
            const QPointF direction(std::cos(angle), std::sin(angle));
            const double length = (k % 2 == 0 ? 8.0 : 4.0) * u;
            painter.drawLine(point + direction * radius, point + direction * (radius + length));
        }
    }
    painter.restore();
}

void GmZoomWidget::paintImageLayer(QPainter& painter, GmModel* model, const QRectF& exposed)
{
    KsSourceImage* source = model->source();
    const QRectF image(0, 0, source->width(), source->height());
    const QRectF area = exposed & image;
    if (area.isEmpty())
        return;
    const QRectF pixels = scaledBy(coveringPixels(area, 1, image.size().toSize()), 1);
    painter.save();
    // The last working pixel may reach past the image's edge.
    painter.setClipRect(image, Qt::IntersectClip);
    switch (m_viewMode) {
    case SourceView:
        drawCovering(painter, source->pixmap(), 1, area);
        break;
    case WorkspaceView:
        // Filled in image coordinates, a pattern stays with the image as it is zoomed and
        // scrolled.
        fillBackground(painter, pixels);
        drawCovering(painter, source->workingPixmap(), model->resolution(), area);
        break;
    case CutoutView:
        fillBackground(painter, pixels);
        if (KsSourceImage* output = model->output())
            drawCovering(painter, output->pixmap(), 1, area);
        break;
    default:
        break;
    }
    painter.restore();
}

void GmZoomWidget::paintOverlays(QPainter& painter, GmModel* model, const QRectF& exposed)
{
    KsSourceImage* source = model->source();
    const QRectF image(0, 0, source->width(), source->height());
    const QRectF area = exposed & image;
    if (area.isEmpty())
        return;
    const int divisor = model->resolution();
    const QSize workingSize = source->workingImage().size();
    const GmStatusArray* status = model->statusArray();
    painter.save();
    painter.setClipRect(image, Qt::IntersectClip);
    // During a change of resolution the status image may still have the old divisor's size.
    if (const QImage* statusImage = status->statusImage()) {
        if (statusImage->size() == workingSize)
            drawCovering(painter, *statusImage, divisor, area);
    }
    if (g_colourHighlightShownHook && g_colourHighlightShownHook()) {
        if (const QImage* highlight = status->highlightImage()) {
            if (highlight->size() == workingSize)
                drawCovering(painter, *highlight, divisor, area);
        }
    }
    painter.restore();

    const ViewOptions* options = ViewOptions::instance();
    const QCheckBox* showEdges = options ? options->showEdgesBox() : nullptr;
    if (showEdges && showEdges->isChecked()) {
        // The edges the brushes follow: a patch's own analysis only while it is switched on.
        const GmRegion* patch = model->activeRegion();
        const bool patchOwn = patch && patch->segmentation().isChecked() && patch->hasOwnSegmentation();
        const SegmentationStuff* segmentation = patchOwn ? &patch->segmentation() : model->segmentation();
        if (const Shape* edges = segmentation ? segmentation->edgeOutline() : nullptr) {
            painter.save();
            painter.setRenderHint(QPainter::Antialiasing, false);
            painter.setPen(cosmeticPen(Qt::blue));
            painter.setBrush(Qt::NoBrush);
            edges->drawOutlines(&painter, exposed);
            painter.restore();
        }
    }
}

void GmZoomWidget::paintPatchPreview(QPainter& painter, GmModel* model, const QRectF& exposed)
{
    if (!model->testRenderRect() || m_previewRegion.isEmpty() || !m_previewPatch)
        return;
    const QRectF bounds = m_previewPatch->shape()->boundingRect();
    if (!bounds.intersects(exposed))
        return;
    KsSourceImage* output = model->output();
    const QRectF area = exposed & QRectF(m_previewRegion.boundingRect());
    if (!output || area.isEmpty())
        return;
    painter.save();
    painter.setClipRegion(m_previewRegion, Qt::IntersectClip);
    painter.setPen(cosmeticPen(Qt::white));
    fillBackground(painter, area);
    drawCovering(painter, output->pixmap(), 1, area);
    painter.restore();
}

void GmZoomWidget::paintArrowTargets(QPainter& painter, GmModel* model, const QRectF& exposed)
{
    const QList<ArrowTarget*> targets = model->arrowTargets();
    if (targets.isEmpty())
        return;
    const GmTool* tool = GmTool::currentTool();
    const double handleLength = 5.0 / m_zoom;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setBrush(Qt::NoBrush);
    for (ArrowTarget* target : targets) {
        const int state = tool ? tool->arrowTargetDisplayState(target) : Shape::DrawNormal;
        if (m_viewMode != WorkspaceView && state != Shape::DrawEditing)
            continue;
        painter.setPen(cosmeticPen(target->outlineColour()));
        target->shape()->draw(&painter, state, exposed, handleLength);
    }
    painter.restore();
}

void GmZoomWidget::paintForcedEdges(QPainter& painter, GmModel* model, const QRectF& exposed)
{
    const QList<ForcedEdge*>& edges = model->forcedEdges();
    if (exposed.isEmpty() || edges.isEmpty())
        return;
    QColor colour = namedColour(KsAppPreferences::PatchOrForcedEdgeColor, Qt::darkYellow);
    const QImage* status = model->statusArray()->statusImage();
    colour.setAlpha(status && status->colorCount() > 0 ? std::max(30, qAlpha(status->color(0))) : 128);
    painter.save();
    painter.setBrush(Qt::NoBrush);
    for (ForcedEdge* edge : edges) {
        const QPolygonF& line = edge->polygon().vertices();
        const double width = edge->width();
        if (line.isEmpty() || !line.boundingRect().adjusted(-width, -width, width, width).intersects(exposed))
            continue;
        // The band the cut-out blends across: the line at its feather width, in image pixels.
        QPen pen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        pen.setCosmetic(width <= 0);
        painter.setPen(pen);
        if (line.size() == 1)
            painter.drawPoint(line.first());
        else
            painter.drawPolyline(line);
    }
    painter.restore();
}

void GmZoomWidget::paintZoomRect(QPainter& painter, GmModel* model, const QRectF& exposed)
{
    const ks::Rectangle* band = model->zoomRect();
    if (!band)
        return;
    const QRectF r = band->rect().normalized();
    if (!r.adjusted(-1, -1, 1, 1).intersects(exposed))
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(cosmeticPen(Qt::white));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(r);
    painter.restore();
}

void GmZoomWidget::paintPreviewRect(QPainter& painter, GmModel* model, const QRectF& exposed)
{
    const ks::Rectangle* band = model->testRenderRect();
    if (!band || (m_previewPatch && !m_previewRegion.isEmpty()))
        return;
    const QRectF bounds = band->rect().normalized();
    if (!bounds.adjusted(-1, -1, 1, 1).intersects(exposed))
        return;
    painter.save();
    painter.setPen(cosmeticPen(Qt::white));
    const QRectF area = bounds & exposed;
    KsSourceImage* output = model->output();
    if (!area.isEmpty() && output) {
        painter.save();
        painter.setClipRect(bounds, Qt::IntersectClip);
        fillBackground(painter, area);
        drawCovering(painter, output->pixmap(), 1, area);
        painter.restore();
    }
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(bounds);
    painter.restore();
}

void GmZoomWidget::paintWash(QPainter& painter, const QRegion& region)
{
    if (!g_washAction || !g_washAction->isChecked())
        return;
    painter.resetTransform();
    g_washIntensity += g_washStep;
    if (g_washIntensity >= 255) {
        g_washIntensity = 255;
        g_washStep = -std::abs(g_washStep);
    } else if (g_washIntensity <= 0) {
        g_washIntensity = 0;
        g_washStep = std::abs(g_washStep);
    }
    const QColor tint(g_washIntensity, g_washIntensity, 0, 70);
    for (const QRect& r : region)
        painter.fillRect(r, tint);
}
