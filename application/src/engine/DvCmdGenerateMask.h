#pragma once
// Makes the cut-out: the engine writes the mask generated from the statuses into the output
// image's alpha, over the whole image, over a test-render rectangle, or inside one patch (its
// preview). Every patch and forced edge travels with it; patches whose earlier preview still
// holds are marked decided so that the engine keeps their pixels. A Complex Hair patch the
// engine could not solve (no Keep or no Delete inside it) is cut out as if it were not there,
// and the user is told which patch it was: in a message after a cut-out of the whole image or
// of the patch, in the Tip panel after a test render.

#include "engine/DravikCommand.h"

#include "dravik.h"

#include <QImage>
#include <QList>
#include <QPointer>
#include <QRect>

#include <atomic>
#include <vector>

class GmRegion;

class DvCmdGenerateMask : public DravikCommand {
    Q_OBJECT
public:
    // area: a rectangle in working coordinates (a test render), or an empty one for the whole
    // image.
    explicit DvCmdGenerateMask(GmModel* model, const QRect& area = QRect());
    // The preview of one patch.
    DvCmdGenerateMask(GmModel* model, GmRegion* patch);
    // The test-render rectangle in working coordinates; empty for the whole image or a patch.
    const QRect& area() const { return m_area; }
    // The patch of the preview form; null for the other forms or once the patch is gone.
    GmRegion* patch() const;

    bool prepare() override;
    void execute() override;
    void finish() override;
    bool refreshesUndoRedo() const override { return true; }

    // The change count that the last whole-image cut-out was made from: every change asked for
    // before it, and itself; a change asked for while it waited or ran is not in it. Cleared as
    // any cut-out starts writing the output. Written on the worker, read on the GUI thread,
    // which regenerates the cut-out when the counter differs, and which marks this count saved
    // when it writes the cut-out to a file.
    static int cutoutStamp() { return s_cutoutStamp.load(); }
    static void setCutoutStamp(int stamp) { s_cutoutStamp.store(stamp); }

    bool isWholeImage() const { return !m_forPatch && m_area.isEmpty(); }

    // The records handed to the engine, as prepare built them.
    const std::vector<DvForcedEdge>& edgeRecords() const { return m_edges; }
    const std::vector<DvMaskPatch>& patchRecords() const { return m_patches; }

    // What the user reads about the patches that could not be solved, each named by its place
    // in the image (x, y, width, height in image pixels).
    static QString unsolvedPatchesText(const QList<QRect>& places);

public slots:
    void refreshOutputTab();

private:
    void clearDecidedBits();
    void buildRecords();
    // The places of the patches the engine could not solve, in image pixels.
    QList<QRect> unsolvedPlaces() const;
    static void tellUnsolved(const QList<QRect>& places, bool testRender);

    static std::atomic<int> s_cutoutStamp;

    QRect m_area;
    QPointer<GmRegion> m_patch;
    bool m_forPatch = false;
    DvArea m_engineArea{};
    float m_bandFactor = 0.0f;
    float m_level = 0.0f;
    DvSession* m_session = nullptr;
    DvImage* m_image = nullptr;
    DvImageDesc m_cutout{};
    DvImageDesc m_source{};
    // The change count as this command starts: what the cut-out is made from.
    int m_madeFrom = 0;
    // The records and the memory they point into, held while the engine reads them.
    std::vector<std::vector<DvOutlinePoint>> m_edgePoints;
    std::vector<DvForcedEdge> m_edges;
    QList<QImage> m_patchMasks;
    std::vector<DvMaskPatch> m_patches;
    // Beside each record: its patch, and the byte where the engine says it could not solve it.
    QList<QPointer<GmRegion>> m_recordPatches;
    std::vector<unsigned char> m_unsolved;
};
