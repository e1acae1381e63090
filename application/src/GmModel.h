#pragma once
// The one document of the process: the open image and its cut-out, the workspace resolution
// and everything made on the image. Created on first use; every view, tool and panel reaches
// it through instance() and follows it through its signals. It never calls the engine itself.

#include "ImageCoordinates.h"

#include <QList>
#include <QObject>
#include <QtGlobal>

class GmBrushing;
class GmRegion;
class GmTool;
class KsSourceImage;
class QImage;

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

    KsSourceImage* source() const { return m_source; }
    KsSourceImage* output() const { return m_output; }

    // Workspace resolution divisor: 1, 2, 4 or 8.
    int resolution() const { return m_resolution; }
    // Picks the smallest divisor that brings the pixel count to at most 4,000,000 (at most 8),
    // stores it and emits resolutionChanged(old, new), also when it is unchanged.
    void chooseResolutionForPixelCount(qint64 pixelCount);

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
    void cursorChanged();
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

private:
    friend struct GmModelTestAccess;  // tests place an image without starting the engine

    GmModel();
    ~GmModel() override;

    KsSourceImage* m_source = nullptr;
    KsSourceImage* m_output = nullptr;
    int m_resolution = 1;
    QList<GmBrushing*> m_brushings;
};
