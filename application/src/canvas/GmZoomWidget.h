#pragma once
// The canvas: shows the document's image at a zoom factor in one of three views (the source,
// the workspace with the status overlay, patches and forced edges, or the cut-out), turns
// every mouse position into image coordinates for the current tool, offers the patch and
// image commands in a context menu and takes dropped images. It lives in the workspace scroll
// area, which resizes and scrolls it.
//
// Image coordinates are full-resolution source pixels: a widget point p shows the image point
// (p - imageRect().topLeft()) / zoom(). The working and status images are smaller by the
// model's resolution divisor and are scaled by it when drawn.
//
// What the main window provides (background brush, colour-workspace state, drop handling,
// menu actions) comes through process-wide hooks; without them the defaults below hold.

#include "canvas/ImageView.h"
#include "document/ImageCoordinates.h"

#include <QBrush>
#include <QColor>
#include <QList>
#include <QPointer>
#include <QRegion>
#include <QWidget>

#include <functional>

class GmModel;
class GmRegion;
class GmTool;
class KsSourceImage;
class QAction;
class QDropEvent;
class TabFilter;

class GmZoomWidget : public QWidget {
    Q_OBJECT
public:
    // The brush for areas that show the background (workspace fill, cut-out); solid white
    // without a hook.
    using BackgroundBrushHook = std::function<QBrush()>;
    // Whether the colour workspace exists, is shown and lets its highlight be drawn; false
    // without a hook.
    using ColourHighlightShownHook = std::function<bool()>;
    // Takes every drop on the canvas; without a hook drops are ignored.
    using DropSinkHook = std::function<void(QDropEvent* event)>;
    // The whole-image commands of the context menu; none without a hook.
    using ImageMenuActionsHook = std::function<QList<QAction*>()>;
    // The show actions of the patch properties panel and of the colour workspace; either may
    // be null (both without a hook).
    struct ShowActions {
        QAction* patchProperties = nullptr;
        QAction* colourWorkspace = nullptr;
    };
    using ShowActionsHook = std::function<ShowActions()>;

    static constexpr double maximumZoom = 16.0;
    // The share of the viewport a newly opened image is fitted into.
    static constexpr double fitShare = 0.85;

    // Built without a parent: the scroll area adopts it.
    GmZoomWidget();
    // Writes the background colour back to the settings.
    ~GmZoomWidget() override;

    static void setBackgroundBrushHook(BackgroundBrushHook hook);
    static void setColourHighlightShownHook(ColourHighlightShownHook hook);
    static void setDropSinkHook(DropSinkHook hook);
    static void setImageMenuActionsHook(ImageMenuActionsHook hook);
    static void setShowActionsHook(ShowActionsHook hook);
    static QBrush backgroundBrush();

    // The last pen pressure (0..1; 1 before any pen was seen) and whether a pen has reported
    // pressure, for the brushes' size.
    static double tabletPressure();
    static bool tabletPressureInEffect();
    // A stroke has ended: the next one starts at the spin box's size again.
    static void clearTabletPressureInEffect();
    // The checkable "wash" action (Shift+F6) that tints every view, shared by all canvases.
    static QAction* washAction();

    double zoom() const { return m_zoom; }
    // Where the scaled image lies in the widget; null without an image.
    const QRect& imageRect() const { return m_imageRect; }
    // -1 before the first view-tab change, then 0 Source, 1 Workspace, 2 Cut-out.
    int viewMode() const { return m_viewMode; }
    const QColor& backgroundColour() const { return m_backgroundColour; }
    TabFilter* tabFilter() const { return m_tabFilter; }
    // The patch whose cut-out is shown inside its outline, or null.
    const GmRegion* previewPatch() const;
    // The area of that preview, in image coordinates.
    const QRegion& previewRegion() const { return m_previewRegion; }

    // absolute: the zoom becomes value; else it is multiplied by value. At most maximumZoom; a
    // result that is not above 0 changes nothing. Resizes the widget to its new size hint.
    void setZoom(bool absolute, double value);
    // Zooms so that the whole image fits the size, keeping its aspect ratio (1.0 without an
    // image).
    void zoomToFit(const QSize& size);
    // The view the canvas lies in has its new size: an image fitted on opening, and not zoomed
    // since, is fitted to it again, so that it does not stay as small as the view was when the
    // image arrived (a window still growing to its final size).
    void viewResized();
    // The image's size at the current zoom, each side truncated; zero without an image.
    QSize scaledImageSize() const;
    // The scaled image, at least as large as the viewport it lies in.
    QSize sizeHint() const override;
    void setBackgroundColour(const QColor& colour);
    // Shows, moves or removes the brush outline under the pointer.
    void updateBrushOutline();
    // Shows the brush outline at a point (widget pixels from the image's top-left) while the
    // brush-size slider is held, so that the new size can be seen.
    void showBrushPreviewAt(const QPoint& pos);
    // The widget area the brush outline covers; invalid while none is shown.
    const QRect& brushOutlineRect() const { return m_brushOutlineRect; }
    // The pixels one dab of the brush paints at an image point, in working pixels: a one-bit
    // image (index 1 painted) whose top-left lies at offset. Shares the outline's cache.
    const QImage& brushFootprint(const ImagePointF& point, int diameter, QPoint* offset) const;

    ImagePointF imagePoint(const QPointF& widgetPoint) const;
    // The widget pixels an image rectangle covers, grown by the margin and rounded outward.
    QRect widgetRect(const ImageRectF& rect, double margin = 0.0) const;

signals:
    void activateArrowTargetAt(ImagePointF point);
    void zoomChanged(double zoom);

public slots:
    // Fits the new image, or (while hidden) at the next show.
    void imageChangedSlot();
    void rectDirtySlot(const ImageRectF& rect, DirtyHint hint = DirtyHintNone,
                       PatchPreviewWanted preview = KeepPatchPreview);
    void toolChangedSlot(const GmTool* tool);
    // A null cursor keeps the current one.
    void cursorChangedSlot(const QCursor* cursor);
    void viewTabChangedSlot(ImageView::ViewTab tab);
    void resolutionChangedSlot(int oldDivisor, int newDivisor);
    // Shows the cut-out inside the patch's shape.
    void patchPreviewAvailableSlot(const GmRegion* patch);
    void hintOpacityChangedSlot();
    void showOriginalSlot();
    // Asks for a new background colour (through the prompt seam).
    void changeBackgroundColourSlot();
    // A wait for the engine takes the input: a left-button press that the current tool still
    // follows ends as its release would, where the pointer last was. The user's own release,
    // should it still arrive, then ends nothing a second time.
    void endHeldPressSlot();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void tabletEvent(QTabletEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // The last mouse position relative to the image's top-left corner. Once made global (in
    // screen coordinates) it survives a zoom or a move of the widget.
    struct PointerPosition {
        QPoint pos;
        bool known = false;
        bool global = false;
    };

    // The left-button press that a tool follows, as the last event of it left it.
    struct HeldPress {
        QPointer<GmTool> tool;
        QPointF localPos;
        QPointF windowPos;
        QPointF screenPos;
        Qt::KeyboardModifiers modifiers;
    };

    void handleMouse(QMouseEvent* event);
    void followHeldPress(GmTool* tool, const QMouseEvent* event);
    // Whether the outline is to be shown, and where (widget pixels).
    bool brushOutlineDue(QPoint* centre) const;
    QRect brushOutlineArea(const QPoint& centre) const;
    void paintBrushings(QPainter& painter, GmModel* model, const QRectF& exposed);
    void paintBrushOutline(QPainter& painter, GmModel* model);
    void fitImage();
    void recomputeImageRect();
    void clearPatchPreview();

    // The layers, painted in image coordinates; exposed is the repainted area there.
    void paintImageLayer(QPainter& painter, GmModel* model, const QRectF& exposed);
    void paintOverlays(QPainter& painter, GmModel* model, const QRectF& exposed);
    void paintPatchPreview(QPainter& painter, GmModel* model, const QRectF& exposed);
    void paintArrowTargets(QPainter& painter, GmModel* model, const QRectF& exposed);
    void paintForcedEdges(QPainter& painter, GmModel* model, const QRectF& exposed);
    void paintZoomRect(QPainter& painter, GmModel* model, const QRectF& exposed);
    void paintPreviewRect(QPainter& painter, GmModel* model, const QRectF& exposed);
    void paintWash(QPainter& painter, const QRegion& region);

    double m_zoom = 1.0;
    QRect m_imageRect;
    PointerPosition m_pointer;
    HeldPress m_heldPress;
    // The last press was ended here, not by its release.
    bool m_pressEnded = false;
    // The widget area the brush outline last covered; invalid while none is shown.
    QRect m_brushOutlineRect{-1, -1, -1, -1};
    // The point the slider's preview is shown at, and whether it was asked for since the
    // pointer last moved over the canvas.
    QPoint m_brushPreview;
    bool m_brushPreviewShown = false;
    // One dab's footprint: replaced by a larger image only when the brush outgrows it, and
    // repainted only when the diameter or the point's position within its pixel changes.
    mutable QImage m_footprint;
    mutable int m_footprintDiameter = -1;
    mutable QPointF m_footprintPhase{-1.0, -1.0};
    int m_viewMode = -1;
    QRegion m_previewRegion;
    QPointer<GmRegion> m_previewPatch;
    QColor m_backgroundColour;
    bool m_imageChangePending = true;
    // The zoom is still the fit made when the image arrived: nothing has zoomed since.
    bool m_fitFollowsView = false;
    TabFilter* m_tabFilter;
};
