#pragma once
// The one document of the process: the open image and its cut-out, the workspace resolution
// and everything made on the image. Created on first use; every view, tool and panel reaches
// it through instance() and follows it through its signals. It never calls the engine itself.

#include "document/EDOs.h"
#include "document/ImageCoordinates.h"
#include "document/ProjectStreamCheck.h"

#include "dravik.h"

#include <QColor>
#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QVariantMap>
#include <QtGlobal>

#include <functional>

class ArrowTarget;
class BlendingStuff;
class DravikCommand;
class ForcedEdge;
class GmAction;
class GmBrushing;
class GmStatusArray;
class SegmentationStuff;
class GmRegion;
class GmTool;
class KsSourceImage;
class QAction;
class QCursor;
class QImage;

namespace imagememory {
struct Shortage;
}

namespace ks {
class Rectangle;
}

class GmModel : public QObject {
    Q_OBJECT
public:
    static GmModel* instance();
    // Deletes the instance and clears the process-wide pointer (application exit, tests); the
    // next instance() builds a new model.
    static void destroy();
    // The model when one exists, else null: for code that runs late (destructors at exit) and
    // must not build a new one.
    static GmModel* existingInstance();

    // The edge-detection values a new engine session suggests.
    struct SessionSuggestion {
        float tolerance = float(EDOs::defaultSensitivity - 1) / 99.0f;
        int width = EDOs::defaultWidth;
        int contrast = EDOs::defaultContrast;
        int texture = EDOs::defaultTexture;
    };

    // Lets the brush and clean tools fit their size limits to a newly installed image.
    using ImageInstalledHook = std::function<void(const KsSourceImage* image)>;
    static void setImageInstalledHook(ImageInstalledHook hook);
    // Makes the select tool let go of an object it is dragging (one being deleted).
    using ForgetDragHook = std::function<void(ArrowTarget* target)>;
    static void setForgetDragHook(ForgetDragHook hook);
    // Whether the edge-finding panel is shown (false while there is none).
    using EdgePanelVisibleHook = std::function<bool()>;
    static void setEdgePanelVisibleHook(EdgePanelVisibleHook hook);

    KsSourceImage* source() const { return m_source; }
    KsSourceImage* output() const { return m_output; }

    // Installs an image: (1, 1, source, output) for an opened file, (0, 2, none, none) for a
    // loaded project onto the images already held. Takes ownership of the images, also when
    // it refuses them or keeps the ones it holds (a host launch's, kept across closeImage),
    // and deletes what it does not keep; a host launch's own images stay the launch's. Output
    // may be null (a copy of the source is made). Starts the engine and opens a session.
    // False, with no image held, when the source or the output is not valid.
    bool setImage(int flag, int loadState, KsSourceImage* source, KsSourceImage* output);
    // Ends the session and the engine library. Stand-alone the images go with the session;
    // launched by a host or to edit a file in place they stay for the hand-back.
    bool closeImage();
    // Ends the image's sessions and deletes the status image; the two images (either may be
    // null) are deleted once the engine no longer reads them.
    void closeSession(KsSourceImage* oldSource, KsSourceImage* oldOutput);
    // From the session command: the suggestion becomes the options' defaults (and, with flag 1
    // and the options not kept, their values); all are applied and stored.
    void sessionBegun(const SessionSuggestion& suggestion, int flag);
    void setStatusImage(DvImage* record);
    // Nothing the user made would be lost by discarding the document.
    bool isUnmodified() const;
    // A cut-out command runs or waits: the engine writes, or is about to write, the output
    // image's pixels on its worker.
    bool cutoutPending() const;
    // The one wait of everything that reads the cut-out: runs the event loop, with the wait
    // cursor and a modal progress dialog whose Cancel stops the cut-outs, until no cut-out
    // command runs or waits. True only when every cut-out that left the worker meanwhile
    // completed; false when one was cancelled, discarded or failed, when the loop ended from
    // outside with a cut-out still pending, or when this would wait inside another such wait.
    bool waitForCutout();
    // Picks the commands a wait is for besides the cut-outs.
    using CommandFilter = std::function<bool(const DravikCommand* command)>;
    enum EngineWait {
        WaitCompleted,
        // A cut-out was cancelled, discarded or failed, or is still pending.
        WaitCutoutUnfinished,
        // The user's Cancel gave up waiting (or the loop ended from outside) before the other
        // commands had left the worker.
        WaitGivenUp,
    };
    // The same wait, also for the commands that run or wait as it begins and that the filter
    // picks (those submitted by input ended as it begins included); those submitted meanwhile
    // are not waited for. Cancel gives up waiting for them but leaves them to run: they are the
    // user's work.
    EngineWait waitForEngine(const CommandFilter& alsoFor);
    // 0 no image, 1 image opened, 2 project loaded onto the image.
    int loadState() const { return m_loadState; }

    // Asks first when marks would be lost; "No" keeps everything and announces the old
    // divisor again, so that a selector snaps back.
    void changeResolution(int divisor);
    // The working image's colour under an image point; black outside it or without an image.
    QColor colourAt(const ImagePointF& point) const;

    DvLibrary* library() const { return m_library; }
    void setLibrary(DvLibrary* library) { m_library = library; }
    GmStatusArray* statusArray() const { return m_statusArray; }
    SegmentationStuff* segmentation() const { return m_segmentation; }
    // The image's edge-blending settings.
    BlendingStuff* blending() const { return m_blending; }
    // The source's working image as the engine reads it (all zero without one).
    DvImageDesc workingPixels() const;
    // The flag the last openSession was called with, read by the session command.
    int sessionFlag() const { return m_sessionFlag; }

    int undoCount() const { return m_undoCount; }
    int redoCount() const { return m_redoCount; }
    // Stores the counts and emits dvUndoStackChanged.
    void setUndoRedoCounts(int undo, int redo);

    // After a command changed statuses: the status array's refresh, then the whole image dirty.
    void statusRefresh();

    // Cleans the given status classes (1, 2, 4, 8 combined) as one undo step.
    void cleanSelection(int classes);

    // One rectDirty over the union when the two valid rectangles meet, else one for each.
    void markRectsDirty(const QRectF& a, const QRectF& b);
    // The active patch's outline bounds, or the whole image.
    void signalDirtyHighlightArea();

    // The rubber bands of the zoom and preview tools.
    void beginZoomRect(const ImagePointF& point);
    void clearZoomRect();
    void beginTestRenderRect(const ImagePointF& point);
    void clearTestRenderRect();
    ks::Rectangle* zoomRect() const { return m_zoomRect; }
    ks::Rectangle* testRenderRect() const { return m_testRenderRect; }

    // Workspace resolution divisor: 1, 2, 4 or 8.
    int resolution() const { return m_resolution; }
    // Picks the smallest divisor that brings the pixel count to at most 4,000,000 (at most 8),
    // stores it and emits resolutionChanged(old, new), also when it is unchanged.
    void chooseResolutionForPixelCount(qint64 pixelCount);
    // The divisor that choice picks for the pixel count.
    static int divisorForPixelCount(qint64 pixelCount);

    // Patches (drawing order: the last is on top) and forced edges. The model owns them until
    // it deletes them or hands a patch to the command that ends its sessions.
    const QList<GmRegion*>& patches() const { return m_patches; }
    const QList<ForcedEdge*>& forcedEdges() const { return m_forcedEdges; }
    // The patches followed by the forced edges.
    QList<ArrowTarget*> arrowTargets() const;
    // A new patch or forced edge joins its list (their constructors call these).
    void addRegion(GmRegion* patch);
    void addForcedEdge(ForcedEdge* edge);
    // An object being destroyed leaves its list and stops being the active one, quietly.
    void forgetArrowTarget(ArrowTarget* target);

    GmRegion* activeRegion() const { return m_activeRegion; }
    ForcedEdge* activeForcedEdge() const { return m_activeForcedEdge; }
    // Makes the patch (or none) active, clearing the active forced edge for a patch. A change
    // moves the patch to the top, emits activeRegionChanged, updates the patch actions and the
    // Delete shortcut and repaints both outlines; the same patch again only emits
    // activeRegionChanged. No patch with emitReady 1 also emits activeRegionReady. Returns the
    // patch active before.
    GmRegion* setActiveRegion(GmRegion* patch, int emitReady = 1);
    void setActiveForcedEdge(ForcedEdge* edge);
    // Emits activeRegionReady for the active patch.
    void emitActiveRegionReady();

    // Deletes a patch of the list (the active one when none is given): its pending commands are
    // cancelled, it leaves the list, its area repaints and the command that ends its sessions
    // deletes it.
    void deleteRegion(GmRegion* patch = nullptr);
    void deleteForcedEdge(ForcedEdge* edge);
    void deleteAllArrowTargets();
    // Ends every patch's sessions (their shapes stay for the next session) and drops every
    // forced edge's mask; brushed patches are deleted.
    void resetArrowTargets();
    // Clears every protection in the engine and protects each protected patch again.
    void reapplyProtections();
    // Clears every forced edge in the engine and sends each one again.
    void resubmitForcedEdges();
    // A forced edge has moved since the edges were last sent.
    bool forcedEdgesChanged() const { return m_forcedEdgesChanged; }
    void setForcedEdgesChanged(bool changed) { m_forcedEdgesChanged = changed; }
    // Copies the source's pixels into the cut-out and forgets every patch's preview. Call it
    // between engine commands.
    void revertMask();
    // After a patch's preview: the patch keeps the classes the cut-out ran on inside it and the
    // blending it ran with; patches overlapping it take its result where it has one.
    void savePatchResult(GmRegion* patch);

    // The patch actions of the menus, owned by the model.
    GmAction* deletePatchAction() const { return m_deletePatchAction; }
    GmAction* deleteForcedEdgeAction() const { return m_deleteForcedEdgeAction; }
    GmAction* clearMaskInPatchAction() const { return m_clearMaskAction; }
    GmAction* protectPatchAction() const { return m_protectAction; }
    GmAction* autoFillPatchWithKeepAction() const { return m_autoFillKeepAction; }
    GmAction* autoFillPatchWithDeleteAction() const { return m_autoFillDeleteAction; }
    GmAction* previewPatchAction() const { return m_previewAction; }

    // The whole document as a map: images, resolution, statuses, settings, patches and forced
    // edges.
    QVariantMap saveToVariant() const;
    // Replaces the document by a saved one. Everything is decoded and checked first: when
    // anything is unusable (no valid source image outside the launch modes that keep the
    // host's, images of different sizes, statuses of the wrong size, an unknown divisor, a
    // shape with coordinates that are not numbers) nothing changes and the answer is false.
    // Only then is the current image closed and the new document installed. The images'
    // sizes are read from their stored headers and checked, and what they take weighed against
    // the memory available, before any of their pixels are decoded; a document refused for
    // lack of memory says so in `shortage`.
    bool loadFromVariant(const QVariant& variant, imagememory::Shortage* shortage = nullptr);
    // Before a saved document is decoded at all: its pictures as the headers in its stream give
    // them (ProjectStreamCheck). False when they cannot belong to one document (source and
    // cut-out of different sizes, a status image that fits neither at any workspace resolution)
    // or when the pictures that reading it decodes, with the images the document then holds, do
    // not fit in the memory available; `shortage` says so in the second case.
    bool storedPicturesUsable(const QList<ProjectStreamCheck::Picture>& pictures,
                              imagememory::Shortage* shortage = nullptr) const;

    // The brush strokes that exist; each GmBrushing joins and leaves the list itself. The list
    // does not own them.
    const QList<GmBrushing*>& brushings() const { return m_brushings; }
    void addBrushing(GmBrushing* brushing);
    void removeBrushing(GmBrushing* brushing);

signals:
    void tellImageChanged(const KsSourceImage* image);
    void statusImageChanged(const QImage* statusImage);
    void rectDirty(const ImageRectF& rect, DirtyHint hint = DirtyHintNone,
                   PatchPreviewWanted preview = KeepPatchPreview);
    void toolChanged(const GmTool* tool);
    // A tool's new cursor for the canvas; null when only the brush outline needs a refresh.
    void cursorChanged(const QCursor* cursor = nullptr);
    void activeRegionChanged(GmRegion* region);
    void activeRegionReady(GmRegion* region);
    void resolutionChanged(int oldDivisor, int newDivisor);
    void smegChanged();
    void dvVariableChanged();
    void dvUndoStackChanged(int undoCount, int redoCount);
    void ownSmegStatusChanged(GmRegion* region);
    void sessionHasBegun();
    void imageBlendRatioChanged(float ratio);
    void protectionChanged(GmRegion* region);
    void imageAnalysisHasBegun();
    void brushSizeSliderMoved();
    void patchPreviewAvailable(const GmRegion* region);
    void cutoutChanged();
    void hintOpacityChanged();
    void showOriginal();
    void changeBackgroundColour();
    // A wait for the engine begins: from now on its dialog takes the input. Emitted before it
    // picks the commands it waits for, so that what input still in progress submits when it
    // ends is among them.
    void aboutToWaitForEngine();

public slots:
    void deleteActiveRegionSlot();
    // Deletes the active forced edge and sends the remaining edges again.
    void deleteActiveForcedEdgeSlot();
    // Shows the Workspace tab and erases every mark inside the active patch.
    void clearMaskInActiveRegionSlot();
    void protectActiveRegionSlot();
    void signalDirtyImageSlot(int hint = DirtyHintNone);
    // The engine wrote the cut-out: its display is rebuilt and the whole image repainted.
    void signalDirtyOutputImageSlot();
    // Auto-fill of the whole image: by the analysis (0), and the two fills the menus name
    // after Keep (4) and Delete (2); the patch forms fill inside the active patch.
    void autoFillImageSlot();
    void autoFillImageWithKeepSlot();
    void autoFillWithKeepSlot();
    void autoFillImageWithDeleteSlot();
    void autoFillWithDeleteSlot();
    void testRenderActiveRegionSlot();
    // Shows the Cut-out tab and makes the whole-image cut-out.
    void generateMaskSlot();
    void dirtyRectSlot(const ImageRectF& rect);
    // Opens a session on the source. When the engine is busy the main window is disabled
    // until the queue has drained; the working image is rebuilt only then, after the old
    // session's end.
    void openSession(int flag = 1);

private:
    friend struct GmModelTestAccess;  // tests place an image without starting the engine

    GmModel();
    ~GmModel() override;

    void submit(DravikCommand* command);
    void endWaitForClosure();
    // A cut-out runs without a cancel asked for, or waits, and may be cancelled.
    bool cutoutCancellable() const;
    void cancelCutouts();
    void clearRubberBand(ks::Rectangle*& band);
    void createPatchActions();
    void updatePatchActions(GmRegion* patch);
    void updateDeleteShortcut(ArrowTarget* target);

    KsSourceImage* m_source = nullptr;
    KsSourceImage* m_output = nullptr;
    int m_resolution = 1;
    QList<GmBrushing*> m_brushings;
    QList<GmRegion*> m_patches;
    QList<ForcedEdge*> m_forcedEdges;
    GmRegion* m_activeRegion = nullptr;
    ForcedEdge* m_activeForcedEdge = nullptr;
    bool m_forcedEdgesChanged = false;
    GmAction* m_deletePatchAction = nullptr;
    GmAction* m_deleteForcedEdgeAction = nullptr;
    GmAction* m_clearMaskAction = nullptr;
    GmAction* m_protectAction = nullptr;
    GmAction* m_autoFillKeepAction = nullptr;
    GmAction* m_autoFillDeleteAction = nullptr;
    GmAction* m_previewAction = nullptr;
    ks::Rectangle* m_testRenderRect = nullptr;
    ks::Rectangle* m_zoomRect = nullptr;
    GmStatusArray* m_statusArray = nullptr;
    DvLibrary* m_library = nullptr;
    SegmentationStuff* m_segmentation = nullptr;
    BlendingStuff* m_blending = nullptr;
    int m_loadState = 0;
    int m_undoCount = 0;
    int m_redoCount = 0;
    int m_sessionFlag = 1;
    QMetaObject::Connection m_closureConnection;
    // The main window is disabled and the wait cursor shown until the queue has drained.
    bool m_waitingForClosure = false;
    bool m_waitingForEngine = false;
    // Commands whose results arrive after they are submitted: a close in between must still
    // end what they make.
    QPointer<DravikCommand> m_pendingInit;
    QPointer<DravikCommand> m_pendingBeginSession;
    QPointer<DravikCommand> m_pendingNewStatusImage;
};
